// The single-instance guard, sleeping and the error code.
#include "port/console.h"
#include "port/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A name of this test run's own, so that a running manager is not disturbed
// (a claim is held until the process ends, so every call gives a new name).
std::string UniqueName(const char* base) {
    static int serial = 0;
    return std::string(base) + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

} // namespace

TEST(InstanceGuard, SecondClaimFindsTheFirst) {
    const std::string name = UniqueName("ZelkPortGuardTest");
    EXPECT_EQ(port::CreateInstanceGuard(name.c_str()), port::GuardResult::Created);
    EXPECT_EQ(port::CreateInstanceGuard(name.c_str()), port::GuardResult::AlreadyExists);
    EXPECT_EQ(port::LastError(), static_cast<std::uint32_t>(EADDRINUSE));
    const std::string other = name + "-other";
    EXPECT_EQ(port::CreateInstanceGuard(other.c_str()), port::GuardResult::Created);
}

TEST(InstanceGuard, TheNameIsAnAbstractSocketOfTheUser) {
    const std::string name = UniqueName("ZelkPortGuardName");
    ASSERT_EQ(port::CreateInstanceGuard(name.c_str()), port::GuardResult::Created);
    // Binding the documented address ourselves must find it taken.
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const std::string abstract = name + "-" + std::to_string(::getuid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    abstract.copy(address.sun_path + 1, abstract.size());
    socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract.size());
    EXPECT_NE(::bind(fd, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(errno, EADDRINUSE);
    ::close(fd);
    // No file was made for it.
    EXPECT_NE(::access(name.c_str(), F_OK), 0);
}

TEST(System, SleepAndDecorations) {
    port::SleepMs(0);
    port::SleepMs(5);
    port::RemoveCloseItem();
    port::Close(port::kNullHandle); // ignored
    SUCCEED();
}
