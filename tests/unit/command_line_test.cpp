// The comparison of a running process's arguments with an entry's
// parameters, split as each system's launch splits them: a shell's words on
// POSIX, CommandLineToArgvW's rules on Windows.
#include "common/command_line_words.h"
#include "common/shell_words.h"
#include "supervisor/attach.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

struct Split {
    const char* text;
    bool programFirst;
    Words words;
};

// As CommandLineToArgvW splits them.
const Split kWindowsSplits[] = {
    {"", false, {}},
    {" \t ", false, {}},
    {"a  b\tc", false, {"a", "b", "c"}},
    {R"("a b" c)", false, {"a b", "c"}},
    {R"(a\\b c\)", false, {R"(a\\b)", R"(c\)"}},
    {R"("a\"b")", false, {R"(a"b)"}},
    {R"(a\\"b c")", false, {R"(a\b c)"}},
    {R"(a\\\"b)", false, {R"(a\"b)"}},
    {R"("")", false, {""}},
    {R"(x "" y)", false, {"x", "", "y"}},
    {R"("a""b")", false, {R"(a"b)"}},
    {R"(a""b)", false, {"ab"}},
    {R"("open)", false, {"open"}},
    {R"("C:\Program Files\x.exe" -a)", true, {R"(C:\Program Files\x.exe)", "-a"}},
    {R"(C:\x.exe "a b")", true, {R"(C:\x.exe)", "a b"}},
    {R"("C:\dir\" x)", true, {R"(C:\dir\)", "x"}},
    {"x.exe", true, {"x.exe"}},
};

TEST(CommandLineWords, SplitAsCommandLineToArgvW) {
    for (const Split& split : kWindowsSplits)
        EXPECT_EQ(split.words, SplitCommandLineWords(split.text, split.programFirst)) << split.text;
}

struct Comparison {
    bool windows;           // the parameters are split by Windows' rules, else a shell's
    const char* parameters; // as configured
    Words running;          // a process's arguments after its program's name
    bool same;
};

const Comparison kComparisons[] = {
    {false, "-m http.server 18091", {"-m", "http.server", "18091"}, true},
    {false, "-m http.server 18091", {"-m", "http.server", "18092"}, false},
    {false, "-m http.server 18091", {"script.py"}, false},
    {false, R"(--root "/srv/my site")", {"--root", "/srv/my site"}, true},
    {false, "--root /srv/my site", {"--root", "/srv/my site"}, false},
    {false, R"(--name='a b' x\ y)", {"--name=a b", "x y"}, true},
    {false, "", {}, true},
    {false, "  ", {}, true},
    {false, "", {"-x"}, false},
    {false, "a", {"a", ""}, false},
    {false, "A", {"a"}, false},
    {true, R"(--root "C:\my site\\")", {"--root", R"(C:\my site\)"}, true},
    {true, R"(--root "C:\my site")", {"--root", "C:\\my", "site"}, false},
    {true, "", {}, true},
    {true, R"(say \"hi\")", {"say", R"("hi")"}, true},
};

TEST(CommandLineWords, ArgumentsAreTheParametersSplitAsTheLaunchSplitsThem) {
    for (const Comparison& row : kComparisons) {
        const Words wanted = row.windows ? SplitCommandLineWords(row.parameters, false)
                                         : SplitShellWords(row.parameters);
        EXPECT_EQ(row.same, SameArguments(wanted, row.running))
            << (row.windows ? "windows: " : "shell: ") << row.parameters;
    }
}

} // namespace
