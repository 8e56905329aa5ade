// The control channel of the Windows back end: a request and its reply
// travel, and the pipe admits the current user alone; a service's pipe
// admits its account and the Administrators group, and a client with no
// manager of its own reaches the one that runs as LocalSystem.
#include "port/control.h"
#include "port/service_control.h"
#include "port/system.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string EndpointName() {
    return "ZelkPortTest.control." + std::to_string(::GetCurrentProcessId());
}

TEST(ControlChannel, ARequestAndItsReplyTravelAndOnlyThisUserMayOpenThePipe) {
    const std::string name = EndpointName();
    const port::Handle endpoint = port::OpenControlEndpoint(name.c_str());
    ASSERT_NE(port::kNullHandle, endpoint);
    std::uint32_t user = 0;
    bool same = false;
    EXPECT_EQ(port::kNullHandle, port::AcceptControlClient(endpoint, &user, &same));

    bool timedOut = true;
    const port::Handle client = port::ConnectControlEndpoint(name.c_str(), 1000, &timedOut);
    ASSERT_NE(port::kNullHandle, client);
    EXPECT_FALSE(timedOut);
    // The endpoint's handle is signalled now, as the event loop waits on it.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(reinterpret_cast<HANDLE>(endpoint), 2000));
    const port::Handle served = port::AcceptControlClient(endpoint, &user, &same);
    ASSERT_NE(port::kNullHandle, served);
    EXPECT_TRUE(same);

    // The connection is signalled once the request is there, and read
    // without waiting.
    HANDLE event = reinterpret_cast<HANDLE>(served);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event, 0));
    std::uint32_t written = 0;
    ASSERT_TRUE(port::WriteControl(client, "status\n", 7, 1000, &written));
    EXPECT_EQ(7u, written);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event, 2000));
    char buffer[64];
    std::uint32_t read = 0;
    ASSERT_TRUE(port::ReadControl(served, buffer, sizeof buffer, 0, &read));
    EXPECT_EQ("status\n", std::string(buffer, read));
    EXPECT_FALSE(port::ReadControl(served, buffer, sizeof buffer, 0, &read));
    EXPECT_EQ(port::kErrorTimeout, port::LastError());

    // The DACL of the pipe names this user alone.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::GetSecurityInfo(reinterpret_cast<HANDLE>(client), SE_KERNEL_OBJECT,
                                               DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                               nullptr, &descriptor));
    ASSERT_NE(nullptr, dacl);
    EXPECT_EQ(1, dacl->AceCount);
    ::LocalFree(descriptor);

    ASSERT_TRUE(port::WriteControl(served, "ok 0\n", 5, 0, &written));
    ASSERT_TRUE(port::ReadControl(client, buffer, sizeof buffer, 1000, &read));
    EXPECT_EQ("ok 0\n", std::string(buffer, read));
    // The client's close signals the connection and reads as the end.
    port::CloseControl(client);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event, 2000));
    EXPECT_TRUE(port::ReadControl(served, buffer, sizeof buffer, 0, &read));
    EXPECT_EQ(0u, read);
    port::CloseControl(served);
    port::CloseControl(endpoint);
}

// The SID of this process's user.
std::vector<char> UserSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    EXPECT_TRUE(::GetTokenInformation(token, TokenUser, buffer.data(), size, &size));
    ::CloseHandle(token);
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    const char* start = static_cast<const char*>(sid);
    return std::vector<char>(start, start + ::GetLengthSid(sid));
}

TEST(ControlChannel, AServicesPipeAdmitsItsAccountAndTheAdministratorsAlone) {
    const std::string name = EndpointName() + ".service";
    port::AdmitAdministratorsToControl(true);
    const port::Handle endpoint = port::OpenControlEndpoint(name.c_str());
    port::AdmitAdministratorsToControl(false);
    ASSERT_NE(port::kNullHandle, endpoint);
    bool timedOut = true;
    const port::Handle client = port::ConnectControlEndpoint(name.c_str(), 1000, &timedOut);
    ASSERT_NE(port::kNullHandle, client);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::GetSecurityInfo(reinterpret_cast<HANDLE>(client), SE_KERNEL_OBJECT,
                                               DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                               nullptr, &descriptor));
    ASSERT_NE(nullptr, dacl);
    std::vector<char> user = UserSid();
    char administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    // Exactly two entries, both allowing: the account, then the group.
    ASSERT_EQ(2, dacl->AceCount);
    const PSID expected[] = {user.data(), administrators};
    for (DWORD i = 0; i < 2; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, static_cast<ACE_HEADER*>(ace)->AceType);
        EXPECT_TRUE(::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, expected[i]))
            << "entry " << i;
    }
    ::LocalFree(descriptor);
    port::CloseControl(client);
    port::CloseControl(endpoint);
}

TEST(ControlChannel, AClientWithoutAManagerOfItsOwnReachesTheLocalSystemService) {
    const std::string name = EndpointName() + ".fallback";
    // A pipe under the name a manager running as LocalSystem would listen on.
    HANDLE server = ::CreateNamedPipeA(("\\\\.\\pipe\\" + name + "-S-1-5-18").c_str(),
                                       PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    bool timedOut = true;
    const port::Handle client = port::ConnectControlEndpoint(name.c_str(), 1000, &timedOut);
    ASSERT_NE(port::kNullHandle, client);
    EXPECT_FALSE(::ConnectNamedPipe(server, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PIPE_CONNECTED), ::GetLastError());
    port::CloseControl(client);
    ::CloseHandle(server);
}

} // namespace
