#include "common/shell_words.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool EscapableInDoubleQuotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

} // namespace

std::vector<std::string> SplitShellWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false; // a word has begun (it may still be empty: '' or "")
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (IsBlank(c)) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
            ++i;
            continue;
        }
        if (c == '\\') {
            if (i + 1 >= n) { // a lone trailing backslash
                word.push_back('\\');
                inWord = true;
                ++i;
            } else if (text[i + 1] == '\n') { // line continuation
                i += 2;
            } else {
                word.push_back(text[i + 1]);
                inWord = true;
                i += 2;
            }
            continue;
        }
        if (c == '\'') {
            inWord = true;
            ++i;
            while (i < n && text[i] != '\'')
                word.push_back(text[i++]);
            if (i < n)
                ++i; // the closing quote
            continue;
        }
        if (c == '"') {
            inWord = true;
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n && EscapableInDoubleQuotes(text[i + 1])) {
                    if (text[i + 1] != '\n')
                        word.push_back(text[i + 1]);
                    i += 2;
                } else {
                    word.push_back(text[i++]);
                }
            }
            if (i < n)
                ++i; // the closing quote
            continue;
        }
        word.push_back(c);
        inWord = true;
        ++i;
    }
    if (inWord)
        words.push_back(word);
    return words;
}
