// The console on Windows: the standard handles, the screen buffer's cells and
// cursor, and the input queue, through the console API.
#include "port/console.h"

#include "common/text.h"
#include "port/win32/console_guard.h"
#include "port/win32/native.h"

#include <string>

namespace port {

using win32::FromNative;
using win32::RefuseWithoutConsole;
using win32::ToNative;

namespace {

// Without processed input Windows delivers Ctrl+C as a key, but some consoles
// (Wine's among them) still raise it as a signal, which by default ends the
// process: swallowing it keeps Ctrl+C a plain key. Ctrl+Break, closing the
// window and logging off keep their default handling and end the manager
// (the applications run on, as after "quit").
BOOL WINAPI IgnoreCtrlC(DWORD event) {
    return event == CTRL_C_EVENT ? TRUE : FALSE;
}

// A standard handle, or null when the process has none.
Handle StandardHandle(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle == INVALID_HANDLE_VALUE ? kNullHandle : FromNative(handle);
}

void Report(std::uint32_t* out, DWORD value) {
    if (out != nullptr)
        *out = value;
}

} // namespace

bool ConsoleAvailable() {
    static const bool available = [] {
        DWORD mode = 0;
        CONSOLE_SCREEN_BUFFER_INFO info;
        return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
               ::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0;
    }();
    return available;
}

Handle StdOutput() {
    if (RefuseWithoutConsole())
        return kNullHandle;
    return StandardHandle(STD_OUTPUT_HANDLE);
}

Handle StdInput() {
    if (RefuseWithoutConsole())
        return kNullHandle;
    return StandardHandle(STD_INPUT_HANDLE);
}

void RestoreConsole() {
    // Nothing of the console hides what is written to it afterwards.
}

bool GetScreenSize(Handle output, Coord* size) {
    if (RefuseWithoutConsole())
        return false;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(ToNative(output), &info))
        return false;
    *size = Coord{info.dwSize.X, info.dwSize.Y};
    return true;
}

bool SetInputMode(Handle input, std::uint32_t mode) {
    if (RefuseWithoutConsole())
        return false;
    static bool handlerInstalled = false;
    if (!handlerInstalled)
        handlerInstalled = ::SetConsoleCtrlHandler(IgnoreCtrlC, TRUE) != 0;
    return ::SetConsoleMode(ToNative(input), mode) != 0;
}

bool SetCursorPosition(Handle output, Coord position) {
    if (RefuseWithoutConsole())
        return false;
    return ::SetConsoleCursorPosition(ToNative(output), ToNative(position)) != 0;
}

bool GetCursorInfo(Handle output, CursorInfo* info) {
    if (RefuseWithoutConsole())
        return false;
    CONSOLE_CURSOR_INFO native;
    if (!::GetConsoleCursorInfo(ToNative(output), &native))
        return false;
    *info = CursorInfo{native.dwSize, native.bVisible != 0};
    return true;
}

bool SetCursorInfo(Handle output, const CursorInfo& info) {
    if (RefuseWithoutConsole())
        return false;
    CONSOLE_CURSOR_INFO native;
    native.dwSize = info.size;
    native.bVisible = info.visible ? TRUE : FALSE;
    return ::SetConsoleCursorInfo(ToNative(output), &native) != 0;
}

bool WriteCells(Handle output, const char* text, std::uint32_t length, Coord start,
                std::uint32_t* written) {
    if (RefuseWithoutConsole())
        return false;
    // Written as characters, control bytes would reach some terminals raw
    // (Wine passes them through to its tty).
    const std::string cells = WithoutControlBytes(std::string_view(text, length));
    DWORD done = 0;
    const BOOL ok = ::WriteConsoleOutputCharacterA(ToNative(output), cells.data(), length,
                                                   ToNative(start), &done);
    Report(written, done);
    return ok != 0;
}

bool FillCellCharacters(Handle output, char character, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    if (RefuseWithoutConsole())
        return false;
    DWORD done = 0;
    const BOOL ok =
        ::FillConsoleOutputCharacterA(ToNative(output), character, length, ToNative(start), &done);
    Report(written, done);
    return ok != 0;
}

bool FillCellAttributes(Handle output, std::uint16_t attribute, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    if (RefuseWithoutConsole())
        return false;
    DWORD done = 0;
    const BOOL ok =
        ::FillConsoleOutputAttribute(ToNative(output), attribute, length, ToNative(start), &done);
    Report(written, done);
    return ok != 0;
}

bool CountInputEvents(Handle input, std::uint32_t* count) {
    if (RefuseWithoutConsole())
        return false;
    DWORD events = 0;
    if (!::GetNumberOfConsoleInputEvents(ToNative(input), &events))
        return false;
    *count = events;
    return true;
}

bool ReadInputRecord(Handle input, InputRecord* record, std::uint32_t* read) {
    *read = 0;
    if (RefuseWithoutConsole())
        return false;
    INPUT_RECORD native;
    DWORD count = 0;
    if (!::ReadConsoleInputA(ToNative(input), &native, 1, &count))
        return false;
    *read = count;
    *record = InputRecord{};
    if (count == 0)
        return true;
    record->eventType = native.EventType;
    if (native.EventType == KEY_EVENT) {
        const KEY_EVENT_RECORD& key = native.Event.KeyEvent;
        record->key.keyDown = key.bKeyDown != 0;
        record->key.repeatCount = key.wRepeatCount;
        record->key.virtualKeyCode = key.wVirtualKeyCode;
        record->key.asciiChar = key.uChar.AsciiChar;
        record->key.controlKeyState = key.dwControlKeyState;
    } else if (native.EventType == WINDOW_BUFFER_SIZE_EVENT) {
        record->bufferSize.size = FromNative(native.Event.WindowBufferSizeEvent.dwSize);
    }
    return true;
}

} // namespace port
