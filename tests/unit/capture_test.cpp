// Output capture: the file names, and the output file's rotation, loss notes
// and stamps over the fake port's files.
#include "capture/output_capture.h"
#include "capture/output_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

class OutputFileTest : public ::testing::Test {
  protected:
    void SetUp() override { test::Reset(); }
    static const std::string& File(const std::string& path) { return fake::Get().files[path]; }
};

TEST_F(OutputFileTest, RotationKeepsEveryByteOnceAtLineEndsAndDropsTheOldest) {
    OutputFile out(CaptureSettings{"o.log", 4096, 2, false});
    // 1500 lines of 10 bytes, written in pieces that split lines.
    std::string all;
    for (int i = 0; i < 1500; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "line %04d\n", i);
        all += line;
    }
    for (std::size_t at = 0; at < all.size(); at += 777)
        out.Write(all.data() + at, std::min<std::size_t>(777, all.size() - at));
    const std::string kept = File("o.log.2") + File("o.log.1") + File("o.log");
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept) << "the newest files, gap-free";
    EXPECT_EQ(0u, fake::Get().files.count("o.log.3"));
    for (const char* path : {"o.log.2", "o.log.1"}) {
        EXPECT_LE(File(path).size(), 4096u);
        EXPECT_GT(File(path).size(), 4000u);
        EXPECT_EQ('\n', File(path).back()) << path;
    }

    // A line longer than the limit is cut where the file is full.
    OutputFile longLine(CaptureSettings{"long.log", 4096, 1, false});
    longLine.Write(std::string(5000, 'z').data(), 5000);
    EXPECT_EQ(std::string(4096, 'z'), File("long.log.1"));
    EXPECT_EQ(std::string(904, 'z'), File("long.log"));
}

TEST_F(OutputFileTest, WhatCannotBeWrittenIsCountedAndNotedOnceWritingWorks) {
    OutputFile out(CaptureSettings{"o.log", 1 << 20, 1, false});
    out.Write("before\nhalf", 11);
    fake::Get().fileWriteFails = true;
    out.Write("lost 12 byte", 12);
    out.Write("s\n", 2);
    fake::Get().fileWriteFails = false;
    out.Write("after\n", 6);
    EXPECT_EQ("before\nhalf\nzelkappmgr: 14 bytes of output were lost (error 112)\nafter\n",
              File("o.log"));
}

TEST_F(OutputFileTest, StampsBeginEveryLineAlsoAcrossWrites) {
    OutputFile out(CaptureSettings{"o.log", 1 << 20, 1, true});
    out.Write("one\ntw", 6);
    out.Write("o\nthree", 7);
    const std::string& text = File("o.log");
    // "[dd/mm/yy hh:mm:ss] " before each line: 20 bytes.
    ASSERT_EQ(3 * 20 + 13u, text.size()) << text;
    EXPECT_EQ("one\n", text.substr(20, 4));
    EXPECT_EQ("two\n", text.substr(44, 4));
    EXPECT_EQ("three", text.substr(68));
    EXPECT_TRUE(test::IsTimeStamp(text.substr(48, 19)));
}

} // namespace
