// Running as a service: systemd's notification address, and the orphan
// reaper's choice between children it may reap and those a handle holds.
#include "port/posix/backend.h"
#include "port/process.h"
#include "port/service.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Service, NotifyAddressesAreAbsolutePathsOrAbstractNames) {
    sockaddr_un address{};
    socklen_t length = 0;
    ASSERT_TRUE(port::posix::NotifyAddress("/run/systemd/notify", &address, &length));
    EXPECT_EQ(std::string("/run/systemd/notify"), address.sun_path);
    EXPECT_EQ(offsetof(sockaddr_un, sun_path) + 20, length);
    ASSERT_TRUE(port::posix::NotifyAddress("@zelk", &address, &length));
    EXPECT_EQ(std::string("\0zelk", 5), std::string(address.sun_path, 5));
    EXPECT_EQ(offsetof(sockaddr_un, sun_path) + 5, length) << "no terminator counts";
    for (const char* refused : {"", "relative", "@"})
        EXPECT_EQ(refused[0] == '@', port::posix::NotifyAddress(refused, &address, &length))
            << refused;
    EXPECT_FALSE(port::posix::NotifyAddress(nullptr, &address, &length));
    EXPECT_FALSE(
        port::posix::NotifyAddress(("/" + std::string(200, 'x')).c_str(), &address, &length));
}

bool IsZombie(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

TEST(Service, TheReaperTakesOrphansAndLeavesWhatAHandleHolds) {
    const pid_t orphan = ::fork();
    if (orphan == 0)
        ::_exit(0);
    port::Handle held = port::kNullHandle;
    ASSERT_TRUE(port::StartProgram("/bin/true", "", "/", &held));
    ASSERT_EQ(0u, port::WaitAny(1, &held, 10000));
    while (!IsZombie(orphan))
        ::usleep(1000);

    port::ReapOrphans();
    EXPECT_FALSE(IsZombie(orphan)) << "the orphan was reaped";
    port::ExitStatus status{};
    EXPECT_TRUE(port::ReadExitStatus(held, &status)) << "the held child's status is still there";
    port::Close(held);
}

} // namespace
