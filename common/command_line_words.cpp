#include "common/command_line_words.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitCommandLineWords(std::string_view text, bool programFirst) {
    std::vector<std::string> words;
    std::size_t at = 0;
    if (programFirst) {
        std::string program;
        if (at < text.size() && text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at)
                program += text[at];
            if (at < text.size())
                ++at;
        } else {
            for (; at < text.size() && !IsBlank(text[at]); ++at)
                program += text[at];
        }
        words.push_back(program);
    }
    for (;;) {
        while (at < text.size() && IsBlank(text[at]))
            ++at;
        if (at == text.size())
            return words;
        std::string word;
        int quotes = 0; // quotes seen in the current run, as CommandLineToArgvW counts them
        std::size_t backslashes = 0;
        while (at < text.size() && !(IsBlank(text[at]) && quotes == 0)) {
            const char c = text[at++];
            if (c == '\\') {
                ++backslashes;
                word += c;
                continue;
            }
            if (c != '"') {
                backslashes = 0;
                word += c;
                continue;
            }
            if (backslashes % 2 == 0) {
                word.resize(word.size() - backslashes / 2);
                ++quotes;
            } else {
                word.resize(word.size() - backslashes / 2 - 1);
                word += '"';
            }
            backslashes = 0;
            for (; at < text.size() && text[at] == '"'; ++at) {
                if (++quotes == 3) {
                    word += '"';
                    quotes = 0;
                }
            }
            if (quotes == 2)
                quotes = 0;
        }
        words.push_back(word);
    }
}
