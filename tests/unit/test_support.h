// Reading the fake console screen back as log messages.
#pragma once

#include "console/command_table.h"
#include "fake_port.h"
#include "reset_for_testing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace test {

// A fresh fake system with a blank screen of the given size, and the
// manager's state rebuilt over it as at start.
inline void Reset(int width = 80, int height = 25) {
    fake::Reset(width, height);
    ResetManagerForTesting();
}

// An empty directory of the running test's own, made the working directory
// for as long as it lives; zelkappmgr.ini is written there.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::string& prefix)
        : original(std::filesystem::current_path()),
          dir(std::filesystem::temp_directory_path() /
              (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    ~ScratchDirectory() {
        std::filesystem::current_path(original);
        std::filesystem::remove_all(dir);
    }
    void Config(const std::string& text) const {
        std::ofstream(dir / "zelkappmgr.ini", std::ios::binary) << text;
    }

    const std::filesystem::path original;
    const std::filesystem::path dir;
};

inline std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// The messages in the log area, oldest first: a row that starts with a time
// stamp begins a message, rows blank in their first 20 columns continue it.
// The text of each row is cut after its last non-blank.
inline std::vector<std::string> LogMessages() {
    std::vector<std::string> messages;
    const int height = fake::Get().screen.Height();
    for (int y = 0; y < height - 1; ++y) {
        std::string row = fake::Row(y);
        if (row.size() < 20)
            continue;
        std::string head = row.substr(0, 20);
        std::string text = row.substr(20);
        if (head[0] == '[') {
            messages.push_back(TrimRight(text));
        } else if (TrimRight(head).empty() && !TrimRight(text).empty() && !messages.empty()) {
            messages.back() += TrimRight(text);
        }
    }
    return messages;
}

// The messages that entering `line` adds to the log.
inline std::vector<std::string> Typed(const std::string& line) {
    const std::size_t before = LogMessages().size();
    ExecuteLine(line.c_str());
    std::vector<std::string> all = LogMessages();
    return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
}

// The last message written, or "<none>".
inline std::string LastMessage() {
    auto messages = LogMessages();
    return messages.empty() ? std::string("<none>") : messages.back();
}

inline bool IsTimeStamp(const std::string& text) {
    static const std::regex stamp(R"(\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\])");
    return std::regex_match(text, stamp);
}

} // namespace test
