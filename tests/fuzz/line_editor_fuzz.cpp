// Key events -> the input line editor and the command interpreter, on
// screens 21 to 320 columns wide, with two applications to act on. The
// line, its cursor and the input row are checked after every key.
#include "app/startup.h"
#include "console/console.h"
#include "console/line_editor.h"
#include "fake_port.h"
#include "port/keys.h"
#include "require.h"
#include "reset_for_testing.h"
#include "supervisor/app_table.h"
#include "supervisor/take_over.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The keys the editor acts on, and some it must ignore.
constexpr std::uint16_t kKeys[] = {
    port::kVkBack,
    port::kVkTab,
    port::kVkReturn,
    port::kVkEscape,
    port::kVkPrior,
    port::kVkNext,
    port::kVkEnd,
    port::kVkHome,
    port::kVkLeft,
    port::kVkUp,
    port::kVkRight,
    port::kVkDown,
    port::kVkInsert,
    port::kVkDelete,
    port::kVkShift,
    port::kVkSpace,
    port::kVkOem1,
    'A',
    'S',
    '0',
};

// Words that make the interpreter do something.
const char* const kWords[] = {"start ",   "stop ",   "restart ",   "list", "help", "cls", "quit",
                              "startall", "stopall", "restartall", "0",    "1",    "15",  "-1"};

void CheckLine() {
    const int width = ScreenWidth();
    const int height = ScreenHeight();
    Require(console.currentSlot >= 0 && console.currentSlot < console.historySize,
            "the current slot is in the ring");
    Require(console.usedSlots >= 1 && console.usedSlots <= console.historySize,
            "the used slots are counted within the ring");
    Require(console.browseSlot >= 0 && console.browseSlot < console.usedSlots,
            "the browsed slot is a used one");
    const int length = console.historyLength[console.currentSlot];
    const int cursor = console.historyCursor[console.currentSlot];
    Require(length >= 0 && length <= std::min(width - 2, kMaxLineLength - 1),
            "the line fits the row and the buffer");
    Require(cursor >= 0 && cursor <= length, "the cursor stands within the line");
    const char* text = console.historyText[console.currentSlot];
    Require(text[length] == '\0', "the line is terminated at its length");
    const std::string row = fake::Row(height - 1);
    Require(row.compare(0, static_cast<std::size_t>(length), text,
                        static_cast<std::size_t>(length)) == 0,
            "the input row shows the line");
    const std::size_t after = row.find_first_not_of(' ', static_cast<std::size_t>(length));
    Require(after == std::string::npos || after >= static_cast<std::size_t>(width - 1),
            "the input row is blank after the line");
    Require(fake::Get().cursor.Y == height - 1 && fake::Get().cursor.X == cursor,
            "the screen cursor stands at the line's cursor");
}

} // namespace

// Byte 0 chooses the width, byte 1 the height; then each key takes two
// bytes: what to press, and a character or a modifier.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int width = 21 + (data[0] * 256 + data[1]) % 300;
    const int height = 2 + data[1] % 12;
    fake::Reset(width, height);
    ResetManagerForTesting();
    fake::AddFile("/apps/one", "/apps/one");
    fake::AddFile("/apps/two", "/apps/two");
    AttachBatch batch;
    for (const char* name : {"one", "two"}) {
        AppSettings app;
        app.name = name;
        app.path = std::string("/apps/") + name;
        CreateApplication(app, batch, nullptr);
    }
    RegisterCommands();
    RedrawInputLine();
    CheckLine();

    for (std::size_t i = 2; i + 1 < size; i += 2) {
        const std::uint8_t what = data[i];
        const std::uint8_t extra = data[i + 1];
        port::KeyEvent key{true, 1, 0, 0, 0};
        if (what < 96) {
            // A typed character, any byte.
            key.virtualKeyCode = 'A';
            key.asciiChar = static_cast<char>(extra);
        } else if (what < 112) {
            // A whole word, typed key by key.
            for (const char* p = kWords[extra % (sizeof kWords / sizeof kWords[0])]; *p; ++p) {
                HandleKey(port::KeyEvent{true, 1, 'A', *p, 0});
                CheckLine();
            }
            continue;
        } else {
            key.virtualKeyCode = kKeys[what % (sizeof kKeys / sizeof kKeys[0])];
            key.asciiChar = static_cast<char>(extra & 0x7F);
            if (extra & 0x80)
                key.controlKeyState = port::kLeftCtrlPressed;
        }
        HandleKey(key);
        CheckLine();
        // An application ended meanwhile: the table must cope on the next command.
        if (extra == 0xFF && !fake::Get().processes.empty())
            fake::EndProcess(fake::Get().processes.front().pid);
    }
    return 0;
}
