#include "console/arg_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Tokens(const char* line) {
    ArgReader reader(line);
    std::vector<std::string> tokens;
    while (const char* token = reader.NextToken())
        tokens.push_back(token);
    EXPECT_EQ(nullptr, reader.NextToken()) << "stays exhausted";
    return tokens;
}

TEST(ArgReader, TokensAreRunsOfBytes33To127) {
    EXPECT_EQ((std::vector<std::string>{"start", "3"}), Tokens("start 3"));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Tokens(" \t a\x01"
                                                                "b\x1f"
                                                                "c  "));
    EXPECT_EQ((std::vector<std::string>{"stop", "1"}), Tokens("stop\xE9"
                                                              "1"));
    EXPECT_EQ((std::vector<std::string>{"x\x7f"
                                        "y"}),
              Tokens("x\x7f"
                     "y"));
    EXPECT_EQ((std::vector<std::string>{"w"}), Tokens("\x80\xff w \xa0"));
    EXPECT_TRUE(Tokens("").empty());
    EXPECT_TRUE(Tokens("   \t").empty());
}

TEST(ArgReader, TheReaderWorksOnItsOwnCopy) {
    char line[] = "start 3";
    ArgReader reader(line);
    line[6] = '9';
    EXPECT_STREQ("start", reader.NextToken());
    EXPECT_STREQ("3", reader.NextToken());
    EXPECT_STREQ("start 9", line);
}

TEST(ArgReader, NextIndexReadsLikeAtoi) {
    const struct {
        const char* line;
        int index;
    } cases[] = {
        {"3", 3},
        {"1x", 1},
        {"word", 0},
        {"", -1},
        {"   ", -1},
        {"-2", -2},
        {"+4", 4},
        {"007", 7},
        {"-", 0},
        {"x1", 0},
        {"12 34", 12},
        {"\xE9"
         "5",
         5},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) {
        ArgReader reader(c.line);
        EXPECT_EQ(c.index, reader.NextIndex()) << "'" << c.line << "'";
    }
}

TEST(ArgReader, NextIndexLeavesTheReaderAfterItsToken) {
    ArgReader reader("restart 2 extra words");
    EXPECT_STREQ("restart", reader.NextToken());
    EXPECT_EQ(2, reader.NextIndex());
    EXPECT_STREQ("extra", reader.NextToken());
    EXPECT_EQ(0, reader.NextIndex());
    EXPECT_EQ(-1, reader.NextIndex());
}

} // namespace
