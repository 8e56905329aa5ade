// The TCP exchange of the POSIX back end against a real listener on the
// loopback: the request goes out once the connection is made, the answer is
// read as it comes, the peer's close ends it, and a refused connection
// fails.
#include "port/probe.h"
#include "port/system.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A listener on 127.0.0.1 at a port the system chose.
int Listen(std::uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    EXPECT_EQ(0, ::listen(fd, 4));
    EXPECT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
    *port = ntohs(address.sin_port);
    return fd;
}

// Waits for the exchange and moves it on, until it is no longer pending or
// `until` has come of the answer.
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
    const int listener = Listen(&port);
    const std::string request = "GET /ready HTTP/1.1\r\nHost: x\r\n\r\n";
    port::UniqueProbe exchange(port::BeginExchange("127.0.0.1", port, request));
    ASSERT_TRUE(exchange);
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    std::string answer;
    // The request is sent; nothing has come yet.
    EXPECT_EQ(port::Exchange::Pending, port::AdvanceExchange(exchange.Get(), &answer));
    std::string received(request.size(), '\0');
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              ::recv(peer, received.data(), received.size(), MSG_WAITALL));
    EXPECT_EQ(request, received);

    ASSERT_EQ(6, ::send(peer, "HTTP/1", 6, 0));
    EXPECT_EQ(port::Exchange::Pending, Drive(exchange.Get(), &answer, "HTTP/1"));
    const std::string rest = ".1 204 No Content\r\n\r\n";
    ASSERT_EQ(static_cast<ssize_t>(rest.size()), ::send(peer, rest.data(), rest.size(), 0));
    ::close(peer);
    EXPECT_EQ(port::Exchange::Closed, Drive(exchange.Get(), &answer));
    EXPECT_EQ("HTTP/1" + rest, answer);
    ::close(listener);
}

TEST(Exchange, ARefusedConnectionFails) {
    std::uint16_t port = 0;
    ::close(Listen(&port)); // nothing listens there any more
    port::UniqueProbe exchange(port::BeginExchange("127.0.0.1", port, "GET / HTTP/1.1\r\n\r\n"));
    std::string answer;
    if (exchange) { // else refused at once, which says so too
        EXPECT_EQ(port::Exchange::Failed, Drive(exchange.Get(), &answer));
    }
    EXPECT_NE(0u, port::LastError());
    EXPECT_TRUE(answer.empty());
}

} // namespace
