// Reader of INI files: ordered sections of ordered key/value entries, with
// string and boolean lookups. It never writes the file and reports nothing:
// what it skipped is recorded for the caller to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct IniEntry {
    std::string key;
    std::string value;
};

struct IniSection {
    std::string name;
    int line = 0; // of its header, counted from 1
    std::vector<std::unique_ptr<IniEntry>> entries;
};

class IniFile {
  public:
    explicit IniFile(const std::string& fileName);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Opens the file and parses it. False, changing nothing, when it cannot be opened.
    bool Load(const std::string& fileName);
    // Rebuilds the sections from the rest of the open file.
    void Parse();
    void Clear();
    bool IsOpen() const;

    const std::vector<std::unique_ptr<IniSection>>& Sections() const { return sections; }

    // The lines (counted from 1) that began with '[' but had no ']': each
    // one ends the section before it, and the lines after it belong to no
    // section until the next valid header.
    const std::vector<int>& MalformedHeaderLines() const { return malformedHeaders; }

    // The lines (counted from 1) outside any section that are neither blank
    // nor comments: before the first header, or after a malformed one.
    const std::vector<int>& StrayLines() const { return strayLines; }

    // The first value of `key` in any section named `section`, in file order.
    // `out` keeps its value when nothing is found.
    bool GetString(const std::string& section, const std::string& key, std::string& out) const;
    // True for a value beginning with 'y' or holding a non-zero leading integer.
    bool GetBool(const std::string& section, const std::string& key, bool& out) const;

  private:
    // Reads the next line without its line feed; false at the end of the
    // file or on a read error.
    bool ReadLine(std::string& line);

    std::FILE* file = nullptr;
    // Bytes read ahead of the current line: buffer[bufferStart, bufferEnd).
    char buffer[4096];
    std::size_t bufferStart = 0;
    std::size_t bufferEnd = 0;
    std::vector<std::unique_ptr<IniSection>> sections;
    std::vector<int> malformedHeaders;
    std::vector<int> strayLines;
};

// `text` without the leading and trailing bytes found in `blanks`.
std::string Trim(const std::string& text, const std::string& blanks);

// Reads `key` of `section` as a whole number of seconds: 0 (off) for
// anything below 1, held at `most`. Leaves *seconds as it is when the
// section has no such key.
void ReadSeconds(const IniFile& ini, const char* section, const std::string& key,
                 std::uint32_t most, std::uint32_t* seconds);
