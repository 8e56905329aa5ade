// The one reader of /proc/<pid>/stat: its fields after a name that may hold
// anything, and this process's own file.
#include "port/posix/proc_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using port::posix::ParseProcStat;
using port::posix::ProcStat;

TEST(ProcStatFile, FieldsAfterTheLastParenthesis) {
    // Fields 7 to 21 carry their own numbers; field 22 is the start time.
    const char* const tail = " 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 4242 23 24";
    struct Case {
        std::string text;
        bool parsed;
    };
    const Case cases[] = {
        {"17 (sleep) S 1 17 17" + std::string(tail), true},
        {"17 (a) b (c) S 1 17 17" + std::string(tail), true}, // ')' and blanks in the name
        {"17 ()) S 1 17 17" + std::string(tail), true},
        {"17 (x) S 1 17 17 0 0", false},                   // cut before the start time
        {"17 sleep S 1 17 17" + std::string(tail), false}, // no name
    };
    for (const Case& c : cases) {
        ProcStat stat{};
        ASSERT_EQ(c.parsed, ParseProcStat(c.text.c_str(), &stat)) << c.text;
        if (!c.parsed)
            continue;
        EXPECT_EQ('S', stat.state) << c.text;
        EXPECT_EQ(1u, stat.parent);
        EXPECT_EQ(17u, stat.group);
        EXPECT_EQ(17u, stat.session);
        EXPECT_EQ(4242u, stat.startTicks);
    }
}

TEST(ProcStatFile, ThisProcessIsReadFromProc) {
    ProcStat stat{};
    ASSERT_EQ(1,
              port::posix::ReadProcStat(AT_FDCWD, static_cast<std::uint32_t>(::getpid()), &stat));
    EXPECT_EQ(static_cast<std::uint32_t>(::getppid()), stat.parent);
    EXPECT_EQ(static_cast<std::uint32_t>(::getsid(0)), stat.session);
    EXPECT_EQ('R', stat.state);
    EXPECT_EQ(-1, port::posix::ReadProcStat(AT_FDCWD, 0x7FFFFFF0u, &stat));
}

} // namespace
