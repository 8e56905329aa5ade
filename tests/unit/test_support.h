// The fake system and the manager's state between tests, applications as
// start-up creates them, and the fake console screen read back as log
// messages.
#pragma once

#include "app/startup.h"
#include "config/settings.h"
#include "console/command_table.h"
#include "console/line_editor.h"
#include "fake_port.h"
#include "loop/event_loop.h"
#include "loop/wait_table.h"
#include "reset_for_testing.h"
#include "supervisor/app_events.h"
#include "supervisor/app_table.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"
#include "supervisor/take_over.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

// The manager as start-up leaves it before the applications come: console
// input as the first row of the wait table, and the commands.
inline void ResetManager(int width = 100, int height = 60, bool extraCommands = false) {
    Reset(width, height);
    AddWaitHandle(fake::InputHandle(), OnConsoleInput, nullptr);
    RegisterCommands(extraCommands);
}

// An application as the file would give it.
inline AppSettings App(const std::string& name, const std::string& path,
                       const std::string& parameters = "") {
    AppSettings settings;
    settings.name = name;
    settings.path = path;
    settings.parameters = parameters;
    return settings;
}

// Appends an application to the table as start-up does (it attaches to a
// running copy or starts) and returns it; in `batch` when given, else with
// a reading of the process list of its own.
// The record of started processes is written at once, not when the loop
// comes round, so that the passes a test runs are its own.
inline AppEntry& Add(const AppSettings& settings, AttachBatch* batch = nullptr) {
    AttachBatch own;
    AppEntry& entry = *CreateApplication(settings, batch != nullptr ? *batch : own, nullptr);
    WriteStartRecord(supervision.record);
    return entry;
}

// Runs passes of the event loop: `goOn(wait)` acts before each wait (counted
// from 1), and the loop ends after the pass of the wait where it returns
// false.
inline void RunLoop(std::function<bool(int wait)> goOn) {
    fake::Get().onWait = [goOn](int wait) { RunningFlag = goOn(wait); };
    RunEventLoop();
    fake::Get().onWait = nullptr;
    RunningFlag = true;
}

// Runs the event loop until the pass of its `passes`-th wait has ended.
inline void RunPasses(int passes) {
    RunLoop([passes](int wait) { return wait < passes; });
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
