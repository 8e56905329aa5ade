#include "config/ini_file.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

const char kBlanks[] = " \r\n\t";

// Read-only, text mode, shared with other programs; never inherited by the
// applications the manager starts.
#if defined(_WIN32)
const char kOpenMode[] = "rN";
#else
const char kOpenMode[] = "re";
#endif

// The UTF-8 byte-order mark some editors write at the start of a file.
const char kByteOrderMark[] = "\xEF\xBB\xBF";

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
    if (file != nullptr)
        std::fclose(file);
}

bool IniFile::Load(const std::string& fileName) {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    // A directory is no configuration file, even where the system lets a
    // file be opened on it.
    std::error_code error;
    if (std::filesystem::is_directory(fileName, error))
        return false;
    file = std::fopen(fileName.c_str(), kOpenMode);
    bufferStart = bufferEnd = 0;
    if (file == nullptr)
        return false;
    Parse();
    return true;
}

bool IniFile::ReadLine(std::string& line) {
    line.clear();
    if (file == nullptr)
        return false;
    for (;;) {
        if (bufferStart == bufferEnd) {
            bufferStart = 0;
            bufferEnd = std::fread(buffer, 1, sizeof buffer, file);
            // The end of the file or a read error: the last line needs no
            // line feed.
            if (bufferEnd == 0)
                return !line.empty();
        }
        const char* begin = buffer + bufferStart;
        const std::size_t available = bufferEnd - bufferStart;
        const void* feed = std::memchr(begin, '\n', available);
        if (feed != nullptr) {
            const std::size_t length =
                static_cast<std::size_t>(static_cast<const char*>(feed) - begin);
            line.append(begin, length);
            bufferStart += length + 1;
            return true;
        }
        line.append(begin, available);
        bufferStart = bufferEnd;
    }
}

void IniFile::Parse() {
    Clear();
    IniSection* current = nullptr;
    std::string line;
    int number = 0;
    while (ReadLine(line)) {
        ++number;
        if (number == 1 && line.compare(0, 3, kByteOrderMark) == 0)
            line.erase(0, 3);
        line = Trim(line, kBlanks);
        if (!line.empty() && (line[0] == '#' || line[0] == ';'))
            continue;
        if (!line.empty() && line[0] == '[') {
            std::string::size_type close = line.find(']');
            if (close == std::string::npos) {
                // What follows was meant for another section: it must not
                // land in the one above.
                malformedHeaders.push_back(number);
                current = nullptr;
                continue;
            }
            auto section = std::make_unique<IniSection>();
            section->name = line.substr(1, close - 1);
            section->line = number;
            current = section.get();
            sections.push_back(std::move(section));
            continue;
        }
        if (current == nullptr) {
            if (!line.empty())
                strayLines.push_back(number);
            continue;
        }
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
    malformedHeaders.clear();
    strayLines.clear();
}

bool IniFile::IsOpen() const {
    return file != nullptr;
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

void ReadSeconds(const IniFile& ini, const char* section, const std::string& key,
                 std::uint32_t most, std::uint32_t* seconds) {
    std::string value;
    if (!ini.GetString(section, key, value))
        return;
    const int read = ParseLeadingInt(value.c_str());
    *seconds = read <= 0 ? 0 : std::min(static_cast<std::uint32_t>(read), most);
}
