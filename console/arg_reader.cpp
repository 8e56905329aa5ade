#include "console/arg_reader.h"

#include "common/text.h"

#include <cstring>

ArgReader::ArgReader(const char* line) {
    std::size_t length = std::strlen(line);
    buffer = std::make_unique<char[]>(length + 1);
    std::memcpy(buffer.get(), line, length + 1);
    position = buffer.get();
}

char* ArgReader::NextToken() {
    while (IsSeparatorByte(*position)) {
        if (*position == '\0')
            return nullptr;
        ++position;
    }
    char* token = position;
    while (!IsSeparatorByte(*position))
        ++position;
    if (*position != '\0') {
        *position = '\0';
        ++position;
    }
    return token;
}

bool ArgReader::HasToken() const {
    const char* at = position;
    while (IsSeparatorByte(*at) && *at != '\0')
        ++at;
    return *at != '\0';
}

int ArgReader::NextIndex() {
    const char* token = NextToken();
    if (token == nullptr)
        return -1;
    return ParseLeadingInt(token);
}
