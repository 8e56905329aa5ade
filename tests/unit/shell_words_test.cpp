// Splitting StartProgram's parameter string into words, as a POSIX shell does
// (quotes and backslashes; no expansion, no shell).
#include "common/shell_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Words = std::vector<std::string>;

TEST(ShellWords, EmptyAndBlank) {
    EXPECT_EQ(SplitShellWords(""), Words{});
    EXPECT_EQ(SplitShellWords("   \t\n "), Words{});
}

TEST(ShellWords, BlanksSeparate) {
    EXPECT_EQ(SplitShellWords("1000"), (Words{"1000"}));
    EXPECT_EQ(SplitShellWords("  -a  b\tc\nd  "), (Words{"-a", "b", "c", "d"}));
}

TEST(ShellWords, SingleQuotesAreLiteral) {
    EXPECT_EQ(SplitShellWords("'a b'  c"), (Words{"a b", "c"}));
    EXPECT_EQ(SplitShellWords(R"('a\b "c" $x')"), (Words{R"(a\b "c" $x)"}));
    EXPECT_EQ(SplitShellWords("''"), (Words{""}));
    EXPECT_EQ(SplitShellWords("x '' y"), (Words{"x", "", "y"}));
}

TEST(ShellWords, DoubleQuotesWithEscapes) {
    EXPECT_EQ(SplitShellWords(R"("a b" c)"), (Words{"a b", "c"}));
    EXPECT_EQ(SplitShellWords(R"("say \"hi\"")"), (Words{R"(say "hi")"}));
    EXPECT_EQ(SplitShellWords(R"("back\\slash")"), (Words{R"(back\slash)"}));
    EXPECT_EQ(SplitShellWords(R"("\$HOME \`x\`")"), (Words{"$HOME `x`"}));
    // Other backslashes stay inside double quotes.
    EXPECT_EQ(SplitShellWords(R"("a\nb\q")"), (Words{R"(a\nb\q)"}));
    EXPECT_EQ(SplitShellWords("\"\""), (Words{""}));
    EXPECT_EQ(SplitShellWords("\"it's\""), (Words{"it's"}));
}

TEST(ShellWords, BackslashOutsideQuotes) {
    EXPECT_EQ(SplitShellWords(R"(a\ b c)"), (Words{"a b", "c"}));
    EXPECT_EQ(SplitShellWords(R"(\'x\')"), (Words{"'x'"}));
    EXPECT_EQ(SplitShellWords(R"(\\)"), (Words{"\\"}));
    EXPECT_EQ(SplitShellWords("a\\\nb"), (Words{"ab"}));
    EXPECT_EQ(SplitShellWords("end\\"), (Words{"end\\"}));
}

TEST(ShellWords, QuotedPartsJoinOneWord) {
    EXPECT_EQ(SplitShellWords(R"(--name='John Smith'"'s" x)"), (Words{"--name=John Smith's", "x"}));
    EXPECT_EQ(SplitShellWords(R"(a"b"'c'\d)"), (Words{"abcd"}));
}

TEST(ShellWords, NothingIsExpanded) {
    EXPECT_EQ(SplitShellWords("$HOME * ~ ; | && `ls` $(ls)"),
              (Words{"$HOME", "*", "~", ";", "|", "&&", "`ls`", "$(ls)"}));
}

TEST(ShellWords, UnterminatedQuoteRunsToTheEnd) {
    EXPECT_EQ(SplitShellWords("a 'b c"), (Words{"a", "b c"}));
    EXPECT_EQ(SplitShellWords("a \"b c"), (Words{"a", "b c"}));
}
