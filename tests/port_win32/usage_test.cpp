// What a process uses, as the back end reads it: this process's CPU time
// and resident memory are known and plausible; an ended process's are not.
#include "port/usage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Usage, ThisProcessUsesCpuAndMemory) {
    // Memory written is resident; a little work takes CPU time.
    std::vector<char> held(8u << 20, 1);
    volatile unsigned sum = 0;
    for (int round = 0; round < 20; ++round)
        for (char c : held)
            sum = sum + static_cast<unsigned>(c);
    port::Usage usage;
    ASSERT_TRUE(port::AddProcessUsage(static_cast<std::uint32_t>(::GetCurrentProcessId()), &usage));
    EXPECT_TRUE(usage.cpuKnown);
    EXPECT_TRUE(usage.memoryKnown);
    EXPECT_GE(usage.memoryBytes, std::uint64_t{8} << 20);
    EXPECT_GT(usage.cpuMs, 0u);
    // Added to what was there.
    port::Usage twice = usage;
    ASSERT_TRUE(port::AddProcessUsage(static_cast<std::uint32_t>(::GetCurrentProcessId()), &twice));
    EXPECT_GE(twice.memoryBytes, 2 * usage.memoryBytes - (std::uint64_t{1} << 20));
}

TEST(Usage, NoProcessTellsNothing) {
    port::Usage usage;
    EXPECT_FALSE(port::AddProcessUsage(0x7FFFFFF0u, &usage));
    EXPECT_FALSE(usage.cpuKnown || usage.memoryKnown);
}

} // namespace
