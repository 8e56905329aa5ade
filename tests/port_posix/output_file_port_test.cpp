// The output files on the POSIX back end, against the real system: no link
// is opened, renamed or read through, nothing waits on a FIFO or reads a
// device, the lock keeps a second holder out, files are named in the
// directory held open whatever is put at its path later, and a path is
// read component by component, links and all.
#include "capture/output_directory.h"
#include "port/file.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class OutputFilePort : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-port-output-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    static bool Exists(const std::string& path) {
        struct stat status {};
        return ::lstat(path.c_str(), &status) == 0;
    }
    std::string dir;
};

TEST_F(OutputFilePort, NoLinkFifoOrDeviceIsUsedAndTheLockHasOneHolder) {
    const std::string file = dir + "/w.log", link = dir + "/link", fifo = dir + "/fifo";
    ASSERT_EQ(0, ::symlink(file.c_str(), link.c_str()));
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const port::UniqueDirectory held(port::OpenDirectory(dir.c_str()));
    ASSERT_TRUE(held);
    const port::UniqueFile out(port::OpenOutputFile(held.Get(), "w.log"));
    ASSERT_TRUE(out);
    ASSERT_TRUE(port::AppendToFile(out.Get(), "0123456789", 10));

    EXPECT_FALSE(port::OpenOutputFile(held.Get(), "link"));
    EXPECT_EQ(static_cast<std::uint32_t>(ELOOP), port::LastError());
    EXPECT_FALSE(port::RenameFile(held.Get(), "link", "moved"));
    EXPECT_FALSE(port::OutputFileStillThere(out.Get(), held.Get(), "link"));
    char end[4];
    std::uint32_t length = 0;
    for (const std::string& path : {link, fifo, std::string("/dev/zero")})
        EXPECT_FALSE(port::ReadFileEnd(path.c_str(), end, sizeof end, &length)) << path;
    ASSERT_TRUE(port::ReadFileEnd(file.c_str(), end, sizeof end, &length));
    EXPECT_EQ("6789", std::string(end, length));

    const int other = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_TRUE(port::LockFile(out.Get()));
    EXPECT_EQ(-1, ::flock(other, LOCK_EX | LOCK_NB));
    port::UnlockFile(out.Get());
    EXPECT_EQ(0, ::flock(other, LOCK_EX | LOCK_NB));
    ::close(other);
}

// A link put in the directory's place after it was opened leads nowhere:
// the files are made, rotated and removed in the directory held.
TEST_F(OutputFilePort, ALinkSwappedInAfterTheOpenIsNotFollowed) {
    const std::string logs = dir + "/logs", moved = dir + "/moved", elsewhere = dir + "/elsewhere";
    ASSERT_EQ(0, ::mkdir(logs.c_str(), 0750));
    ASSERT_EQ(0, ::mkdir(elsewhere.c_str(), 0750));
    std::string problem;
    const port::UniqueDirectory held(OpenOutputDirectory(logs, &problem));
    ASSERT_TRUE(held) << problem;
    ASSERT_EQ(0, ::rename(logs.c_str(), moved.c_str()));
    ASSERT_EQ(0, ::symlink(elsewhere.c_str(), logs.c_str()));
    EXPECT_FALSE(port::DirectoryStillAtPath(held.Get(), logs.c_str()));

    port::UniqueFile out(port::OpenOutputFile(held.Get(), "w.log"));
    ASSERT_TRUE(out);
    EXPECT_TRUE(port::OutputFileStillThere(out.Get(), held.Get(), "w.log"));
    EXPECT_TRUE(port::RenameFile(held.Get(), "w.log", "w.log.1"));
    EXPECT_TRUE(port::RemoveFile(held.Get(), "w.log.1"));
    out.Reset(port::OpenOutputFile(held.Get(), "w.log"));
    EXPECT_TRUE(Exists(moved + "/w.log"));
    EXPECT_FALSE(Exists(elsewhere + "/w.log"));
    EXPECT_FALSE(Exists(elsewhere + "/w.log.1"));
}

// Each component as it is, a link followed by its target's, ".." taken
// back over the path walked, the last one missing or not.
TEST_F(OutputFilePort, APathIsReadComponentByComponent) {
    ASSERT_EQ(0, ::mkdir((dir + "/real").c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((dir + "/open").c_str(), 01777));
    ASSERT_EQ(0, ::chmod((dir + "/open").c_str(), 01777));
    ASSERT_EQ(0, ::symlink("./../real", (dir + "/open/link").c_str()));
    std::vector<port::PathComponent> components;
    bool missing = true;
    ASSERT_TRUE(port::ReadPathComponents((dir + "/open/link/new").c_str(), &components, &missing))
        << port::LastError();
    EXPECT_TRUE(missing);
    std::vector<std::string> paths;
    for (const port::PathComponent& component : components)
        paths.push_back(component.path + (component.link ? " link" : "") +
                        (component.sticky && component.othersMayWrite ? " sticky" : ""));
    ASSERT_GE(paths.size(), 4u);
    EXPECT_EQ("/", paths.front());
    EXPECT_EQ(
        (std::vector<std::string>{dir + "/open sticky", dir + "/open/link link", dir + "/real"}),
        std::vector<std::string>(paths.end() - 3, paths.end()));
    for (const port::PathComponent& component : components)
        EXPECT_TRUE(component.trustedOwner) << component.path;

    // Relative to the working directory; a missing component before the
    // last is no path.
    char before[4096];
    ASSERT_NE(nullptr, ::getcwd(before, sizeof before));
    ASSERT_EQ(0, ::chdir(dir.c_str()));
    const bool read = port::ReadPathComponents("real", &components, &missing);
    std::vector<port::PathComponent> none;
    const bool gone = port::ReadPathComponents("gone/new", &none, &missing);
    ASSERT_EQ(0, ::chdir(before));
    ASSERT_TRUE(read);
    EXPECT_EQ(dir + "/real", components.back().path);
    EXPECT_FALSE(gone);
}

} // namespace
