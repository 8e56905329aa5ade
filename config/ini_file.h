// Reader of INI files: ordered sections of ordered key/value entries, with
// string and boolean lookups. It never writes the file and reports nothing.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

struct IniEntry {
    std::string key;
    std::string value;
};

struct IniSection {
    std::string name;
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
    // Rebuilds the sections from the open stream.
    void Parse();
    void Clear();
    bool IsOpen() const;

    const std::vector<std::unique_ptr<IniSection>>& Sections() const { return sections; }

    // The first value of `key` in any section named `section`, in file order.
    // `out` keeps its value when nothing is found.
    bool GetString(const std::string& section, const std::string& key, std::string& out) const;
    // True for a value beginning with 'y' or holding a non-zero leading integer.
    bool GetBool(const std::string& section, const std::string& key, bool& out) const;

  private:
    std::ifstream stream;
    std::vector<std::unique_ptr<IniSection>> sections;
};

// `text` without the leading and trailing bytes found in `blanks`.
std::string Trim(const std::string& text, const std::string& blanks);
