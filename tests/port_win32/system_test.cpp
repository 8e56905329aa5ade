// The single-instance guard of the Windows back end.
#include "port/system.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A name of this test run's own, so that no other program's guard interferes.
std::string GuardName(const char* which) {
    return std::string("ZelkPortTest.") + which + "." + std::to_string(::GetCurrentProcessId());
}

TEST(InstanceGuard, SecondClaimFindsTheNameTaken) {
    const std::string name = GuardName("twice");
    EXPECT_TRUE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastError(), port::kErrorAlreadyExists);
    // The refused claim did not release the name.
    EXPECT_FALSE(port::CreateInstanceGuard(name.c_str()));
    EXPECT_EQ(port::LastError(), port::kErrorAlreadyExists);
}

TEST(InstanceGuard, OtherNamesAreIndependent) {
    EXPECT_TRUE(port::CreateInstanceGuard(GuardName("one").c_str()));
    EXPECT_TRUE(port::CreateInstanceGuard(GuardName("two").c_str()));
}

} // namespace
