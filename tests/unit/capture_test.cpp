// Output capture: the file names, the size setting, the output directory's
// check, the output file's rotation, holding, loss notes and stamps over the
// fake port's files, and the manager's watch over its capture processes.
#include "app/apply_settings.h"
#include "app/reload.h"
#include "capture/capture_watch.h"
#include "capture/output_capture.h"
#include "capture/output_directory.h"
#include "capture/output_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Lines = std::vector<std::string>;

TEST(Capture, FileNamesKeepPortableBytesOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"web", "web.log"},
        {"Web-1.2_x", "Web-1.2_x.log"},
        {"my app/../x", "my_app_.._x.log"},
        {"caf\xc3\xa9", "caf__.log"},
        {"", ".log"},
    };
    for (const auto& [name, file] : cases)
        EXPECT_EQ(file, OutputFileName(name)) << name;
}

TEST(Capture, SizesAreNumbersOfBytesOrOfKMAndG) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"4096", 4096}, {" 2 g ", std::uint64_t{2} << 30},
        {"1k", 1024},   {"1024G", kMaxOutputMaxBytes},
        {"1025G", 0},   {"-1", 0},
        {"1.5M", 0},    {"10MB", 0},
        {"M", 0},       {"", 0},
    };
    for (const auto& [text, bytes] : cases) {
        std::uint64_t read = 0;
        EXPECT_EQ(bytes != 0, ParseByteSize(text, &read)) << text;
        EXPECT_EQ(bytes, read) << text;
    }
}

class OutputSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { test::ResetManager(); }

    // Reads `general` as the [General] keys and prepares the output as
    // start-up does; returns what that logged.
    Lines Prepare(const std::string& general, Settings* settings) {
        scratch.Config("[General]\nOutputDirectory = out\n" + general +
                       "\n[Applications]\nw = C:\\w.exe\n");
        EXPECT_TRUE(ReadSettings(kConfigFileName, settings));
        const std::size_t before = test::LogMessages().size();
        PrepareOutputDirectory(settings);
        const Lines all = test::LogMessages();
        return Lines(all.begin() + static_cast<long>(before), all.end());
    }

    test::ScratchDirectory scratch{"zelk-output-"};
};

TEST_F(OutputSettingsTest, AnUnreadableSizeAndADirectoryOthersCouldPlantFilesInAreNotUsed) {
    Settings settings;
    EXPECT_EQ(Lines{"Ignored OutputMaxBytes = 10X."}, Prepare("OutputMaxBytes = 10X", &settings));
    EXPECT_EQ(OutputSettings{}.maxBytes, settings.apps[0].output.maxBytes);
    EXPECT_EQ("out", settings.apps[0].output.directory);
    fake::Get().pathComponents["out"] = {{"/", false, true, false, false},
                                         {"/here/out", false, true, true, false}};
    EXPECT_EQ(Lines{"Could not use output directory out: others may write to it."},
              Prepare("OutputMaxBytes = 1K", &settings));
    EXPECT_EQ(kMinOutputMaxBytes, settings.apps[0].output.maxBytes);
    EXPECT_TRUE(settings.apps[0].output.directory.empty());
}

// The whole path of the output directory: who owns each component, who may
// write to it, and links, which lead on to their target's components.
TEST(OutputDirectoryPath, EveryComponentIsRootsOrTheManagersAndClosedToOthers) {
    enum Owner { kOurs, kTheirs };
    enum Mode { kClosed, kOpen, kSticky };
    struct Part {
        const char* path;
        Owner owner;
        Mode mode;
        bool link;
    };
    struct Case {
        const char* what;
        std::vector<Part> parts;
        bool more; // the path goes on below the last part
        const char* problem;
    };
    const Case cases[] = {
        {"root's and ours, closed",
         {{"/", kOurs, kClosed, false}, {"/srv/logs", kOurs, kClosed, false}},
         false,
         ""},
        {"another's directory",
         {{"/", kOurs, kClosed, false}, {"/srv/logs", kTheirs, kClosed, false}},
         false,
         "another user owns it"},
        {"another's directory above it",
         {{"/", kOurs, kClosed, false}, {"/home/w", kTheirs, kClosed, false}},
         true,
         "another user owns /home/w"},
        {"open to others",
         {{"/", kOurs, kClosed, false}, {"/srv/logs", kOurs, kOpen, false}},
         false,
         "others may write to it"},
        {"open to others above it",
         {{"/", kOurs, kClosed, false},
          {"/srv", kOurs, kOpen, false},
          {"/srv/logs", kOurs, kClosed, false}},
         false,
         "others may write to /srv"},
        {"sticky above one of ours",
         {{"/", kOurs, kClosed, false},
          {"/tmp", kOurs, kSticky, false},
          {"/tmp/logs", kOurs, kClosed, false}},
         false,
         ""},
        {"sticky above one yet to be made",
         {{"/", kOurs, kClosed, false}, {"/tmp", kOurs, kSticky, false}},
         true,
         ""},
        {"sticky as the directory itself",
         {{"/", kOurs, kClosed, false}, {"/tmp", kOurs, kSticky, false}},
         false,
         "others may write to it"},
        {"sticky above another's",
         {{"/", kOurs, kClosed, false},
          {"/tmp", kOurs, kSticky, false},
          {"/tmp/logs", kTheirs, kClosed, false}},
         false,
         "another user owns it"},
        {"another's link as its last part",
         {{"/", kOurs, kClosed, false},
          {"/tmp", kOurs, kSticky, false},
          {"/tmp/logs", kTheirs, kOpen, true}},
         true,
         "another user owns /tmp/logs"},
        {"another's link in the middle",
         {{"/", kOurs, kClosed, false},
          {"/tmp", kOurs, kSticky, false},
          {"/tmp/site", kTheirs, kOpen, true}},
         true,
         "another user owns /tmp/site"},
        {"our link in the middle, to ours",
         {{"/", kOurs, kClosed, false},
          {"/var/run", kOurs, kOpen, true},
          {"/", kOurs, kClosed, false},
          {"/run", kOurs, kClosed, false},
          {"/run/app", kOurs, kClosed, false}},
         false,
         ""},
        {"our link in the middle, to another's",
         {{"/", kOurs, kClosed, false},
          {"/srv/site", kOurs, kOpen, true},
          {"/home/w", kTheirs, kClosed, false}},
         true,
         "another user owns /home/w"},
        {"our link to an open directory",
         {{"/", kOurs, kClosed, false},
          {"/srv/logs", kOurs, kOpen, true},
          {"/var/tmp", kOurs, kOpen, false}},
         false,
         "others may write to it"},
    };
    for (const Case& c : cases) {
        std::vector<port::PathComponent> components;
        for (const Part& part : c.parts)
            components.push_back(port::PathComponent{part.path, part.link, part.owner == kOurs,
                                                     part.mode != kClosed, part.mode == kSticky});
        EXPECT_EQ(c.problem, PathProblem(components, c.more)) << c.what;
    }
}

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
    static const std::string& File(const std::string& path) { return fake::Get().files[path]; }
    static std::string Numbered(int from, int to) {
        std::string text;
        for (int i = from; i < to; ++i) {
            char line[24];
            std::snprintf(line, sizeof line, "line %04d\n", i);
            text += line;
        }
        return text;
    }
};

// (That no line shorter than the limit is split, whatever the reads, is
// output_file_fuzz's to show.)
TEST_F(OutputFileTest, RotationKeepsEveryByteOnceCutsOnlyAtLineEndsAndDropsTheOldest) {
    OutputFile out(CaptureSettings{"o.log", 4096, 2, false});
    // 1500 lines of 10 bytes, written in pieces that split lines.
    const std::string all = Numbered(0, 1500);
    for (std::size_t at = 0; at < all.size(); at += 777)
        out.Write(all.data() + at, std::min<std::size_t>(777, all.size() - at));
    out.Finish();
    const std::string kept = File("o.log.2") + File("o.log.1") + File("o.log");
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept) << "the newest files, gap-free";
    EXPECT_EQ(0u, fake::Get().files.count("o.log.3"));
    for (const char* path : {"o.log.2", "o.log.1", "o.log"}) {
        EXPECT_LE(File(path).size(), 4096u);
        EXPECT_EQ('\n', File(path).back()) << path;
    }

    // A line longer than the limit is cut where the file is full.
    OutputFile longLine(CaptureSettings{"long.log", 4096, 1, false});
    longLine.Write(std::string(5000, 'z').data(), 5000);
    longLine.Finish();
    EXPECT_EQ(std::string(4096, 'z'), File("long.log.1"));
    EXPECT_EQ(std::string(904, 'z'), File("long.log"));
}

TEST_F(OutputFileTest, AnUnfinishedLineIsHeldUntilItsEndOrAFlush) {
    OutputFile out(CaptureSettings{"o.log", 1 << 20, 1, false});
    out.Write("one\nprompt: ", 12);
    EXPECT_EQ("one\n", File("o.log"));
    EXPECT_TRUE(out.Holding());
    out.Flush();
    EXPECT_EQ("one\nprompt: ", File("o.log"));
    EXPECT_FALSE(out.Holding());
}

TEST_F(OutputFileTest, ARotationThatFailsIsRetriedEverySecondAndTheFileStopsAtTwiceItsLimit) {
    OutputFile out(CaptureSettings{"o.log", 4096, 1, false});
    fake::Get().renameError = 13;
    const std::string all = Numbered(0, 1000); // 10,000 bytes
    for (std::size_t at = 0; at < all.size(); at += 100)
        out.Write(all.data() + at, 100);
    EXPECT_EQ(1, fake::Get().renames) << "one attempt within the second";
    const std::string note =
        "zelkappmgr: could not rotate o.log (error 13); it grows on, to twice its limit\n";
    const std::string& file = File("o.log");
    ASSERT_LE(file.size(), 2 * 4096u);
    const std::size_t kept = file.size() - note.size();
    EXPECT_EQ(all.substr(0, 4090) + note + all.substr(4090, kept - 4090), file);

    // A second later the rotation works: the dropped lines are counted.
    fake::Get().renameError = 0;
    fake::Get().nowMs += kRotateRetryMs;
    out.Write("after\n", 6);
    EXPECT_EQ(2, fake::Get().renames);
    EXPECT_EQ("zelkappmgr: " + std::to_string(all.size() - kept) +
                  " bytes of output were lost (error 13)\nafter\n",
              File("o.log"));
}

TEST_F(OutputFileTest, WhatCannotBeWrittenIsCountedAndNotedOnceWritingWorks) {
    OutputFile out(CaptureSettings{"o.log", 1 << 20, 1, false});
    out.Write("before\n", 7);
    fake::Get().fileWriteFails = true;
    out.Write("lost 12 byte", 12);
    out.Write("s\n", 2);
    fake::Get().fileWriteFails = false;
    out.Write("after\n", 6);
    EXPECT_EQ("before\nzelkappmgr: 14 bytes of output were lost (error 112)\nafter\n",
              File("o.log"));

    // A file removed while the lock was given back is made anew.
    out.Release();
    fake::Get().files.erase("o.log");
    out.Write("new\n", 4);
    EXPECT_EQ("new\n", File("o.log"));
}

TEST_F(OutputFileTest, StampsBeginEveryLineAlsoAcrossWrites) {
    OutputFile out(CaptureSettings{"o.log", 1 << 20, 1, true});
    out.Write("one\ntw", 6);
    out.Write("o\nthree", 7);
    out.Finish();
    const std::string& text = File("o.log");
    // "[dd/mm/yy hh:mm:ss] " before each line: 20 bytes.
    ASSERT_EQ(3 * 20 + 13u, text.size()) << text;
    EXPECT_EQ("one\n", text.substr(20, 4));
    EXPECT_EQ("two\n", text.substr(44, 4));
    EXPECT_EQ("three", text.substr(68));
    EXPECT_TRUE(test::IsTimeStamp(text.substr(48, 19)));
}

class CaptureWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ResetManager(100, 60, true);
        fake::AddFile("C:\\w.exe", "C:\\w.exe");
    }
    void TearDown() override { EXPECT_EQ(0, fake::BadCloses()); }

    AppSettings Captured(const std::string& name) {
        AppSettings app = test::App(name, "C:\\w.exe");
        app.output.directory = "out";
        return app;
    }
    // Runs the loop until it has logged `count` more messages (or 20
    // passes), and returns them.
    static Lines RunUntilLogged(std::size_t count) {
        const std::size_t before = test::LogMessages().size();
        test::RunLoop(
            [&](int wait) { return wait < 20 && test::LogMessages().size() < before + count; });
        const Lines all = test::LogMessages();
        return Lines(all.begin() + static_cast<long>(before), all.end());
    }
};

TEST_F(CaptureWatchTest, AKilledCaptureProcessIsReplacedOnTheSamePipeAndAFinishedOneLetGo) {
    AddApplications({Captured("w")});
    ASSERT_EQ(1u, fake::Get().detached.size());
    const std::vector<std::string> arguments = fake::Get().detached[0];
    const int handles = fake::OpenProcessHandles();

    // Killed at once: replaced after a pause, and said.
    fake::EndProcess(fake::Get().detachedPids[0]);
    const std::uint64_t endedMs = fake::Get().nowMs;
    EXPECT_EQ(Lines{"Restarted the output capture of w."}, RunUntilLogged(1));
    EXPECT_GE(fake::Get().nowMs, endedMs + kCaptureRestartPauseMs);
    ASSERT_EQ(2u, fake::Get().detached.size());
    EXPECT_EQ(arguments, fake::Get().detached[1]);

    // One that cannot be started is said once and tried again.
    fake::Get().nowMs += kCaptureRestartPauseMs;
    fake::Get().detachError = 24;
    fake::EndProcess(fake::Get().detachedPids[1]);
    EXPECT_EQ(Lines{"Could not capture the output of w. Error: 24."}, RunUntilLogged(1));
    fake::Get().detachError = 0;
    EXPECT_EQ(Lines{"Restarted the output capture of w."}, RunUntilLogged(1));

    // At the end of the output it is let go with its read end.
    fake::Get().pipesEnded = true;
    fake::EndProcess(fake::Get().detachedPids[2]);
    EXPECT_EQ(Lines{}, RunUntilLogged(1));
    EXPECT_EQ(3u, fake::Get().detached.size());
    EXPECT_EQ(handles - 2, fake::OpenProcessHandles()) << "the process and the read end";
    EXPECT_FALSE(captureTable.captures[0].used);
}

TEST_F(CaptureWatchTest, AReloadThatTurnsCaptureOnKeepsTwoApplicationsOffOneFile) {
    test::ScratchDirectory scratch("zelk-capture-reload-");
    const std::string apps = "[Applications]\nx y = C:\\w.exe\nx_y = C:\\w.exe\n";
    scratch.Config(apps);
    ReloadConfiguration();
    scratch.Config("[General]\nOutputDirectory = out\n" + apps);
    const Lines said = test::Typed("reload");
    ASSERT_FALSE(said.empty());
    EXPECT_EQ("Output of x_y is not captured: it would go to x_y.log, as that of x y.", said[0]);
    EXPECT_EQ("out", appTable.entries[0]->settings.output.directory);
    EXPECT_TRUE(appTable.entries[1]->settings.output.directory.empty());
}

} // namespace
