// Parameter strings -> the word splitter. Quoting every word it returns and
// splitting the result again must give the same words back.
#include "common/shell_words.h"
#include "require.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string Quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = SplitShellWords(text);

    std::size_t total = 0;
    for (const std::string& word : words)
        total += word.size();
    Require(total <= size, "the words are no longer than the text");

    std::string joined;
    for (const std::string& word : words)
        joined += (joined.empty() ? "" : " ") + Quoted(word);
    Require(SplitShellWords(joined) == words, "quoted words split back alike");

    if (text.find_first_of("'\"\\") == std::string_view::npos) {
        std::vector<std::string> plain;
        std::string current;
        bool inWord = false;
        for (char c : text) {
            if (IsBlank(c)) {
                if (inWord)
                    plain.push_back(current);
                current.clear();
                inWord = false;
            } else {
                current += c;
                inWord = true;
            }
        }
        if (inWord)
            plain.push_back(current);
        Require(plain == words, "without quotes the blanks alone separate words");
    }
    return 0;
}
