// The TCP exchange of the Windows back end against a real listener on the
// loopback: the request goes out once the connection is made, the answer is
// read as it comes, the peer's close ends it, and a refused connection
// fails.
#include "port/probe.h"
#include "port/system.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>

namespace {

SOCKET Listen(std::uint16_t* port) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    EXPECT_EQ(0, ::listen(fd, 4));
    EXPECT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
    *port = ::ntohs(address.sin_port);
    return fd;
}

port::Exchange Drive(port::Handle exchange, std::string* answer, const std::string& until = "") {
    for (int pass = 0; pass < 100; ++pass) {
        bool ready = false;
        EXPECT_NE(port::kWaitFailed, port::WaitAny(1, &exchange, 2000, &ready));
        const port::Exchange step = port::AdvanceExchange(exchange, answer);
        if (step != port::Exchange::Pending || (!until.empty() && *answer == until))
            return step;
    }
    return port::Exchange::Pending;
}

TEST(Exchange, TheRequestGoesOutAndTheAnswerIsReadToTheClose) {
    std::uint16_t port = 0;
    const SOCKET listener = Listen(&port);
    const std::string request = "GET /ready HTTP/1.1\r\nHost: x\r\n\r\n";
    port::UniqueProbe exchange(port::BeginExchange("127.0.0.1", port, request));
    ASSERT_TRUE(exchange);
    const SOCKET peer = ::accept(listener, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, peer);
    std::string answer;
    std::string received;
    for (int pass = 0; pass < 50 && received.size() < request.size(); ++pass) {
        // The exchange sends once it has seen its connection made.
        port::Handle handle = exchange.Get();
        bool ready = false;
        port::WaitAny(1, &handle, 100, &ready);
        EXPECT_EQ(port::Exchange::Pending, port::AdvanceExchange(handle, &answer));
        char buffer[256];
        u_long waiting = 0;
        ::ioctlsocket(peer, FIONREAD, &waiting);
        if (waiting == 0)
            continue;
        const int n = ::recv(peer, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        received.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(request, received);
    const std::string whole = "HTTP/1.1 204 No Content\r\n\r\n";
    ASSERT_EQ(static_cast<int>(whole.size()),
              ::send(peer, whole.data(), static_cast<int>(whole.size()), 0));
    ::closesocket(peer);
    EXPECT_EQ(port::Exchange::Closed, Drive(exchange.Get(), &answer));
    EXPECT_EQ(whole, answer);
    ::closesocket(listener);
}

TEST(Exchange, ARefusedConnectionFails) {
    std::uint16_t port = 0;
    ::closesocket(Listen(&port)); // nothing listens there any more
    port::UniqueProbe exchange(port::BeginExchange("127.0.0.1", port, "GET / HTTP/1.1\r\n\r\n"));
    std::string answer;
    if (exchange) { // else refused at once, which says so too
        EXPECT_EQ(port::Exchange::Failed, Drive(exchange.Get(), &answer));
    }
    EXPECT_NE(0u, port::LastError());
    EXPECT_TRUE(answer.empty());
}

} // namespace
