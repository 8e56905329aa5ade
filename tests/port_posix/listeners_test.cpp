// Who listens on a TCP port: the rule that picks the listening sockets a
// connection would reach, and the Linux tables against real sockets.
#include "port/probe.h"
#include "port/process.h"
#include "port/tcp_listeners.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

port::AddressBytes Address(const char* text) {
    port::AddressBytes address{};
    std::uint8_t v4[4];
    if (::inet_pton(AF_INET, text, v4) == 1)
        return port::Ipv4Address(v4);
    EXPECT_EQ(1, ::inet_pton(AF_INET6, text, address.data())) << text;
    return address;
}

TEST(TcpListeners, AConnectionGoesToItsOwnAddressElseToAWildcardThatCoversIt) {
    const std::vector<port::TcpListenerRow> rows = {
        {Address("0.0.0.0"), 80},   {Address("127.0.0.1"), 80}, {Address("::"), 443},
        {Address("127.0.0.2"), 22}, {Address("::1"), 22},       {Address("0.0.0.0"), 8080},
    };
    const struct {
        const char* host;
        std::uint16_t port;
        std::vector<std::size_t> rows;
    } cases[] = {
        {"127.0.0.1", 80, {1}},  // the address itself, not the wildcard beside it
        {"10.0.0.5", 80, {0}},   // only the wildcard covers it
        {"127.0.0.1", 443, {2}}, // a dual-stack :: takes IPv4 too
        {"::1", 443, {2}},       // and IPv6
        {"::1", 8080, {}},       // 0.0.0.0 takes no IPv6
        {"127.0.0.1", 22, {}},   // another address of the same port
        {"::1", 22, {4}},        // that address itself
        {"127.0.0.1", 9999, {}}, // nobody listens
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.rows, port::ListenersTaking(rows, Address(c.host), c.port))
            << c.host << " " << c.port;
}

// A socket listening on 127.0.0.1, and its port.
int Listen(std::uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    *port = ntohs(address.sin_port);
    return fd;
}

TEST(TcpListeners, TheHolderOfAListeningSocketIsFoundByItsDescriptors) {
    std::uint16_t port = 0;
    const int fd = Listen(&port);
    ASSERT_GE(fd, 0);
    const std::uint32_t self = port::CurrentProcessId();
    const auto parent = static_cast<std::uint32_t>(::getppid());
    EXPECT_EQ(port::Listener::Own, port::FindListener("127.0.0.1", port, {parent, self}));
    EXPECT_EQ(port::Listener::Other, port::FindListener("127.0.0.1", port, {parent}));
    EXPECT_EQ(port::Listener::None, port::FindListener("::1", port, {self}));
    EXPECT_EQ(port::Listener::Unknown, port::FindListener("no.such.host", port, {self}));
    ::close(fd);
    EXPECT_EQ(port::Listener::None, port::FindListener("127.0.0.1", port, {self}));
}

} // namespace
