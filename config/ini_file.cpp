#include "config/ini_file.h"

#include "common/text.h"

#include <filesystem>
#include <system_error>

namespace {

const char kBlanks[] = " \r\n\t";

} // namespace

std::string Trim(const std::string& text, const std::string& blanks) {
    std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    std::string::size_type last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

IniFile::IniFile(const std::string& fileName) {
    Load(fileName);
}

IniFile::~IniFile() {
    Clear();
    if (stream.is_open())
        stream.close();
}

bool IniFile::Load(const std::string& fileName) {
    if (stream.is_open())
        stream.close();
    stream.clear();
    // A directory is no configuration file, even where the system lets a
    // stream be opened on it.
    std::error_code error;
    if (std::filesystem::is_directory(fileName, error))
        return false;
    stream.open(fileName, std::ios::in);
    if (!stream.is_open())
        return false;
    Parse();
    return true;
}

void IniFile::Parse() {
    Clear();
    IniSection* current = nullptr;
    std::string line;
    while (std::getline(stream, line)) {
        line = Trim(line, kBlanks);
        if (!line.empty() && (line[0] == '#' || line[0] == ';'))
            continue;
        if (!line.empty() && line[0] == '[') {
            std::string::size_type close = line.find(']');
            if (close == std::string::npos)
                continue;
            auto section = std::make_unique<IniSection>();
            section->name = line.substr(1, close - 1);
            current = section.get();
            sections.push_back(std::move(section));
            continue;
        }
        if (current == nullptr)
            continue;
        std::string::size_type equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        auto entry = std::make_unique<IniEntry>();
        entry->key = Trim(line.substr(0, equals), kBlanks);
        entry->value = Trim(line.substr(equals + 1), kBlanks);
        current->entries.push_back(std::move(entry));
    }
}

void IniFile::Clear() {
    sections.clear();
}

bool IniFile::IsOpen() const {
    return stream.is_open();
}

bool IniFile::GetString(const std::string& section, const std::string& key,
                        std::string& out) const {
    for (const auto& s : sections) {
        if (!AsciiEqualNoCase(std::string_view(s->name), section))
            continue;
        for (const auto& e : s->entries) {
            if (AsciiEqualNoCase(std::string_view(e->key), key)) {
                out = e->value;
                return true;
            }
        }
    }
    return false;
}

bool IniFile::GetBool(const std::string& section, const std::string& key, bool& out) const {
    std::string value;
    if (!GetString(section, key, value))
        return false;
    if (!value.empty() && value[0] == 'y')
        out = true;
    else
        out = ParseLeadingInt(value.c_str()) != 0;
    return true;
}
