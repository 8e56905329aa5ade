// The text rules every layer shares: control bytes, exit codes and the
// names of system objects made from display names.
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Text, ControlBytesBecomeThePlaceholderAndNothingElseChanges) {
    const std::string all = std::string("a\0b", 3) + "\x01\x1f \x7e\x7f\x80\xff";
    EXPECT_EQ(std::string("a?b??") + " \x7e?\x80\xff", WithoutControlBytes(all));
    EXPECT_EQ("", WithoutControlBytes(""));
}

TEST(Text, ExitCodesFromTheStatusRangeOnAreHexadecimal) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0"},
        {3, "3"},
        {0x7FFFFFFFu, "2147483647"},
        {0x80000000u, "0x80000000"},
        {0xC0000005u, "0xC0000005"},
        {0xFFFFFFFFu, "0xFFFFFFFF"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(text, ExitCodeText(code)) << code;
}

// Two display names never give one object name: only the bytes that are
// safe in every system's names stay as they are.
TEST(Text, NamesKeepOnlyTheirSafeBytes) {
    const std::pair<std::string, const char*> cases[] = {
        {"web-1.v2_a", "web-1.v2_a"},
        {"a b/c", "a%20b%2Fc"},
        {"50%", "50%25"},
        {"..\\x", "..%5Cx"},
        {std::string("\xff\0", 2), "%FF%00"},
        {"", ""},
    };
    for (const auto& [name, escaped] : cases)
        EXPECT_EQ(escaped, EscapedName(name)) << name;
}

} // namespace
