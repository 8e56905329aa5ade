// The output files on the POSIX back end, against the real system: no link
// is opened, renamed or read through, nothing waits on a FIFO or reads a
// device, and the lock keeps a second holder out.
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

namespace {

TEST(OutputFilePort, NoLinkFifoOrDeviceIsUsedAndTheLockHasOneHolder) {
    char pattern[] = "/tmp/zelk-port-output-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    const std::string dir = pattern;
    const std::string file = dir + "/w.log", link = dir + "/link", fifo = dir + "/fifo";
    ASSERT_EQ(0, ::symlink(file.c_str(), link.c_str()));
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const port::UniqueFile out(port::OpenOutputFile(file.c_str()));
    ASSERT_TRUE(out);
    ASSERT_TRUE(port::AppendToFile(out.Get(), "0123456789", 10));

    EXPECT_FALSE(port::OpenOutputFile(link.c_str()));
    EXPECT_EQ(static_cast<std::uint32_t>(ELOOP), port::LastError());
    EXPECT_FALSE(port::RenameFile(link.c_str(), (dir + "/moved").c_str()));
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
    std::filesystem::remove_all(dir);
}

} // namespace
