// INI file contents -> the reader, its lookups and the application walk of
// start-up over the fake port.
#include "app/apply_settings.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "fake_port.h"
#include "require.h"
#include "reset_for_testing.h"
#include "supervisor/app_table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string path;

void RemoveFile() {
    std::remove(path.c_str());
}

bool HasOuterBlank(const std::string& text) {
    const std::string blanks = " \r\n\t";
    return !text.empty() && (blanks.find(text.front()) != std::string::npos ||
                             blanks.find(text.back()) != std::string::npos);
}

void WriteFile(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "the input file can be written");
    if (size > 0)
        Require(std::fwrite(data, 1, size, file) == size, "the input file takes the data");
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* directory = std::getenv("TMPDIR");
    path = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
           "/zelk-fuzz-ini-" + std::to_string(::getpid()) + ".ini";
    std::atexit(RemoveFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteFile(data, size);
    IniFile ini(path);
    Require(ini.IsOpen(), "an existing file opens");

    std::size_t lines = 0;
    for (std::size_t i = 0; i < size; ++i)
        lines += data[i] == '\n';
    int previous = 0;
    for (int line : ini.MalformedHeaderLines()) {
        Require(line > previous, "malformed header lines ascend");
        Require(static_cast<std::size_t>(line) <= lines + 1, "malformed header lines exist");
        previous = line;
    }

    std::size_t entries = 0;
    for (const auto& section : ini.Sections()) {
        Require(section->name.find(']') == std::string::npos, "a section name holds no ']'");
        Require(section->name.find('\n') == std::string::npos, "a section name is one line");
        for (const auto& entry : section->entries) {
            ++entries;
            Require(!HasOuterBlank(entry->key) && !HasOuterBlank(entry->value),
                    "keys and values are trimmed");
            Require(entry->key.find('=') == std::string::npos, "a key holds no '='");
            std::string value = "unset";
            Require(ini.GetString(section->name, entry->key, value), "every entry is found");
            bool flag = false;
            Require(ini.GetBool(section->name, entry->key, flag), "every entry reads as a bool");
        }
    }
    Require(entries <= lines + 1, "at most one entry per line");

    std::string value = "default";
    if (!ini.GetString("Parameters", "", value))
        Require(value == "default", "a failed lookup keeps the default");
    bool flag = true;
    if (!ini.GetBool("General", "DisableCloseButton", flag))
        Require(flag, "a failed lookup keeps the default");

    Settings settings;
    Require(ReadSettings(path, &settings), "the settings of an existing file are read");
    Require(settings.malformedHeaderLines == ini.MalformedHeaderLines(),
            "the settings report the malformed headers");
    fake::Reset(80, 25);
    ResetManagerForTesting();
    AddApplications(settings.apps);
    Require(appTable.count <= kMaxApplications, "the application table keeps its capacity");
    Require(fake::Get().launches.size() <= static_cast<std::size_t>(appTable.count),
            "at most one launch per application");
    return 0;
}
