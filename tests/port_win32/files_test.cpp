// The Windows back end's output files, listeners and health commands,
// against the real system (Wine): files named in a directory held open, the
// owner of a listening socket, and a shell command with the environment
// and job it is given.
#include "port/containment.h"
#include "port/file.h"
#include "port/probe.h"
#include "port/process.h"
#include "port/system.h"
#include "tests/port_win32/test_support.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After the socket headers.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace port_win32_test;

namespace {

std::string MakeTempDirectory(const char* name) {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    const std::string path = std::string(base) + name + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(OutputFiles, AreNamedInTheDirectoryHeldOpen) {
    const std::string dir = MakeTempDirectory("zelk-files-");
    const port::UniqueDirectory held(port::OpenDirectory(dir.c_str()));
    ASSERT_TRUE(held);
    EXPECT_TRUE(port::DirectoryStillAtPath(held.Get(), dir.c_str()));
    port::UniqueFile out(port::OpenOutputFile(held.Get(), "w.log"));
    ASSERT_TRUE(out);
    ASSERT_TRUE(port::AppendToFile(out.Get(), "line\n", 5));
    EXPECT_TRUE(port::OutputFileStillThere(out.Get(), held.Get(), "w.log"));
    EXPECT_EQ("line\n", ReadText(dir + "\\w.log"));
    ASSERT_TRUE(port::RenameFile(held.Get(), "w.log", "w.log.1"));
    EXPECT_FALSE(port::OutputFileStillThere(out.Get(), held.Get(), "w.log"));
    port::PathInfo info{};
    ASSERT_TRUE(port::ReadPathInfo("w.log.1", false, &info, held.Get()));
    EXPECT_TRUE(info.regularFile);
    out.Reset();
    EXPECT_TRUE(port::RemoveFile(held.Get(), "w.log.1"));
    EXPECT_FALSE(port::ReadPathInfo("w.log.1", false, &info, held.Get()));
    EXPECT_FALSE(port::OpenDirectory((dir + "\\none").c_str()));
    std::vector<port::PathComponent> components;
    bool partial = false;
    ASSERT_TRUE(port::ReadPathComponents((dir + "\\new").c_str(), &components, &partial));
    EXPECT_TRUE(partial);
    ::RemoveDirectoryA(dir.c_str());
}

TEST(Listeners, TheOwnerOfAListeningSocketIsItsProcess) {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 2), &data));
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), length));
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    const std::uint16_t port = ::ntohs(address.sin_port);
    const std::uint32_t self = port::CurrentProcessId();
    const port::Listener found = port::FindListener("127.0.0.1", port, {self});
    if (found == port::Listener::Unknown) {
        // The table tells no owners (Wine's): nothing is claimed either way.
        EXPECT_EQ(port::Listener::Unknown, port::FindListener("127.0.0.1", port, {self + 4}));
    } else {
        EXPECT_EQ(port::Listener::Own, found);
        EXPECT_EQ(port::Listener::Other, port::FindListener("127.0.0.1", port, {self + 4}));
    }
    ::closesocket(listener);
    EXPECT_EQ(port::Listener::None, port::FindListener("127.0.0.1", port, {self}));
    ::WSACleanup();
}

TEST(ShellCommand, RunsWithTheEnvironmentAndInTheJobGiven) {
    const std::string dir = MakeTempDirectory("zelk-command-");
    const std::string job = "ZelkAppMgr-test-check-" + std::to_string(::GetCurrentProcessId());
    const port::UniqueContainer container(port::OpenContainer(job.c_str(), true));
    ASSERT_TRUE(container);
    const char* const environment[] = {"ZELK_GREETING=hello", nullptr};
    port::Handle process = port::kNullHandle;
    ASSERT_TRUE(port::StartShellCommand("echo %ZELK_GREETING%> said.txt", dir.c_str(), &process,
                                        environment, container.Get()));
    std::vector<std::uint32_t> held;
    EXPECT_TRUE(port::ContainerProcessIds(container.Get(), &held));
    EXPECT_TRUE(held.empty() ||
                std::find(held.begin(), held.end(), port::ProcessIdOf(process)) != held.end());
    ASSERT_EQ(0u, port::WaitAny(1, &process, 10000));
    port::Close(process);
    EXPECT_EQ("hello\n", ReadText(dir + "\\said.txt").substr(0, 6));
    EXPECT_FALSE(port::StartShellCommand("exit 0", dir.c_str(), &process, nullptr,
                                         port::kNullHandle, "someone"));
    ::DeleteFileA((dir + "\\said.txt").c_str());
    ::RemoveDirectoryA(dir.c_str());
}

} // namespace
