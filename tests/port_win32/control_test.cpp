// The control channel of the Windows back end: a request and its reply
// travel, and the pipe admits the current user alone.
#include "port/control.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>

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
    ASSERT_EQ(port::ControlIo::Done, port::WriteControl(client, "status\n", 7, 1000, &written));
    EXPECT_EQ(7u, written);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event, 2000));
    char buffer[64];
    std::uint32_t read = 0;
    ASSERT_EQ(port::ControlIo::Done, port::ReadControl(served, buffer, sizeof buffer, 0, &read));
    EXPECT_EQ("status\n", std::string(buffer, read));
    EXPECT_EQ(port::ControlIo::TimedOut,
              port::ReadControl(served, buffer, sizeof buffer, 0, &read));

    // The DACL of the pipe names this user alone.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::GetSecurityInfo(reinterpret_cast<HANDLE>(client), SE_KERNEL_OBJECT,
                                               DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                               nullptr, &descriptor));
    ASSERT_NE(nullptr, dacl);
    EXPECT_EQ(1, dacl->AceCount);
    ::LocalFree(descriptor);

    ASSERT_EQ(port::ControlIo::Done, port::WriteControl(served, "ok 0\n", 5, 0, &written));
    ASSERT_EQ(port::ControlIo::Done, port::ReadControl(client, buffer, sizeof buffer, 1000, &read));
    EXPECT_EQ("ok 0\n", std::string(buffer, read));
    // The client's close signals the connection and reads as the end.
    port::CloseControl(client);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event, 2000));
    EXPECT_EQ(port::ControlIo::Closed, port::ReadControl(served, buffer, sizeof buffer, 0, &read));
    port::CloseControl(served);
    port::CloseControl(endpoint);
}

} // namespace
