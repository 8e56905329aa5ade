// Tokenizer over a private copy of one entered line. Tokens are maximal runs
// of the bytes 33 to 127; every other byte but the terminator separates them.
#pragma once

#include <memory>

class ArgReader {
  public:
    explicit ArgReader(const char* line);

    // The next token, or null once the line is used up.
    char* NextToken();

    // The next token read as a number like atoi: 0 for a token that does not
    // begin with one, -1 when no token is left.
    int NextIndex();

    // True while a token is left to read.
    bool HasToken() const;

  private:
    std::unique_ptr<char[]> buffer;
    char* position;
};

// True for the bytes that separate tokens: 1 to 32 and 128 to 255 (and the
// terminator, which also ends the line).
inline bool IsSeparatorByte(char c) {
    return static_cast<signed char>(c) <= 32;
}
