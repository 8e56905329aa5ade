// Byte-string helpers shared by every layer: case-folding for ASCII A-Z
// only, atoi-style numbers, control bytes, and exit codes as text.
#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares at most `count` bytes, stopping after the first terminator,
// ignoring ASCII case. Returns 0 when equal.
inline int AsciiCompareNoCase(const char* a, const char* b, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char ca = static_cast<unsigned char>(AsciiLower(a[i]));
        unsigned char cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
    return 0;
}

inline int AsciiCompareNoCase(const char* a, const char* b) {
    return AsciiCompareNoCase(a, b, static_cast<std::size_t>(-1));
}

inline bool AsciiEqualNoCase(const char* a, const char* b) {
    return AsciiCompareNoCase(a, b) == 0;
}

// Whole-string comparison of two byte strings, embedded zero bytes included.
inline bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// The blanks a value of the file may have around its words.
inline constexpr std::string_view kSpaceAndTab = " \t";

// `text` without the blanks at its start and its end.
inline std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kSpaceAndTab);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kSpaceAndTab) - first + 1);
}

// Reads a decimal integer the way atoi does (leading white space, optional
// sign, digits up to the first other byte; 0 without digits), but a value
// beyond the range of int is held at the nearest limit instead of being
// undefined.
inline int ParseLeadingInt(const char* text) {
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// Reads a whole decimal number written with digits only (no sign, no
// blanks): false for anything else, or for a number above `most`.
inline bool ParseWholeNumber(std::string_view text, std::uint64_t most, std::uint64_t* value) {
    if (text.empty())
        return false;
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (result > (most - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

// Control bytes (below 32, and 127) never leave the manager as they are: on
// the screen, in the log file and towards a control client each one is
// shown as this, so that a name or a path cannot smuggle escape sequences
// into a terminal or break a line in two.
inline constexpr char kControlPlaceholder = '?';

inline bool IsControlByte(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte < 32 || byte == 127;
}

// `text` with every control byte replaced by kControlPlaceholder.
inline std::string WithoutControlBytes(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (IsControlByte(c))
            c = kControlPlaceholder;
    return out;
}

// `name` as a part of a system object's name (a cgroup, a job object):
// letters, digits, '.', '_' and '-' as they are, every other byte as %XX.
inline std::string EscapedName(std::string_view name) {
    std::string escaped;
    for (const char byte : name) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-') {
            escaped += byte;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            escaped += hex;
        }
    }
    return escaped;
}

// What follows an escaped name (above) in a system object's name for the
// application at `place` among those listed under one name: nothing for the
// first, else "+2", "+3", ...; '+' never stands in an escaped name, so no
// name gives the object of another's place.
inline std::string ContainerPlaceSuffix(int place) {
    std::string suffix;
    if (place > 0) {
        // Appended rather than built with operator+, which GCC 12 at -O2
        // flags with a false -Wrestrict.
        suffix.push_back('+');
        suffix.append(std::to_string(place + 1));
    }
    return suffix;
}

// An exit code as the manager writes it: from 0x80000000 on (Windows status
// codes such as 0xC0000005, an access violation) in hexadecimal, which reads
// best for those, else in decimal.
inline std::string ExitCodeText(std::uint32_t code) {
    char text[16];
    if (code >= 0x80000000u)
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    else
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(code));
    return text;
}

// The stamp of a log entry, in local time: 19 characters, such as
// "[05/03/26 14:07:09]". Lines of captured output carry the same on request.
inline constexpr char kTimeStampFormat[] = "[%d/%m/%y %H:%M:%S]";

// Now as a stamp of `format`; empty when the time cannot be read.
inline std::string TimeStamp(const char* format = kTimeStampFormat) {
    char stamp[256];
    std::size_t n = 0;
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now))
        n = std::strftime(stamp, sizeof stamp, format, local);
    return std::string(stamp, n);
}

// A size as the status and the log show it: bytes in K, M or G (1024
// based), with one decimal below 10 of the unit ("900K", "8.5M", "40M",
// "1.2G").
inline std::string SizeText(std::uint64_t bytes) {
    const char units[] = {'K', 'M', 'G'};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (unit < 2 && value >= 1023.95) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (value < 9.95 && unit > 0)
        std::snprintf(text, sizeof text, "%.1f%c", value, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f%c", value, units[unit]);
    return text;
}
