#include "console/line_editor.h"

#include "console/arg_reader.h"
#include "console/command_table.h"
#include "console/console.h"
#include "console/input_line.h"
#include "port/console.h"
#include "port/keys.h"
#include "port/system.h"

#include <cstring>

namespace {

// Words are made of the bytes that do not separate command tokens (33 to 127).
bool IsWordByte(char c) {
    return !IsSeparatorByte(c);
}

int WordLeft(const char* text, int p) {
    while (p > 0 && !IsWordByte(text[p - 1]))
        --p;
    while (p > 0 && IsWordByte(text[p - 1]))
        --p;
    return p;
}

int WordRight(const char* text, int n, int p) {
    while (p < n && IsWordByte(text[p]))
        ++p;
    while (p < n && !IsWordByte(text[p]))
        ++p;
    return p;
}

// Removes the bytes [from, to) of the current line.
void RemoveSpan(int from, int to) {
    char* text = InputText();
    int n = InputLength();
    std::memmove(text + from, text + to, static_cast<std::size_t>(n - to));
    InputLength() = n - (to - from);
    text[InputLength()] = '\0';
}

void EmptyCurrentLine() {
    InputText()[0] = '\0';
    InputLength() = 0;
    InputCursor() = 0;
}

void CopySlotToCurrent(int slot) {
    if (slot == console.currentSlot)
        return;
    std::memcpy(InputText(), console.historyText[slot], static_cast<std::size_t>(kMaxLineLength));
    InputText()[kMaxLineLength - 1] = '\0';
    InputLength() = console.historyLength[slot];
    InputCursor() = console.historyCursor[slot];
    // A line entered on a wider screen is cut to what this one holds.
    FitInputLine();
}

void EnterLine() {
    ExecuteLine(InputText());
    if (console.usedSlots < console.historySize)
        ++console.usedSlots;
    console.currentSlot = (console.currentSlot + 1) % console.historySize;
    console.browseSlot = console.currentSlot;
    EmptyCurrentLine();
    RedrawInputLine();
}

void RecallPrevious() {
    console.browseSlot = (console.usedSlots + console.browseSlot - 1) % console.usedSlots;
    CopySlotToCurrent(console.browseSlot);
    RedrawInputLine();
}

void RecallNext() {
    if (console.browseSlot == console.usedSlots - 1) {
        EmptyCurrentLine();
    } else {
        console.browseSlot = (console.browseSlot + 1) % console.usedSlots;
        CopySlotToCurrent(console.browseSlot);
    }
    RedrawInputLine();
}

void ToggleInsertMode() {
    console.insertMode = !console.insertMode;
    port::CursorInfo info{0, true};
    port::GetCursorInfo(console.outputHandle, &info);
    info.size = console.insertMode ? kInsertCursorSize : kOverwriteCursorSize;
    port::SetCursorInfo(console.outputHandle, info);
}

void TypeCharacter(char c) {
    char* text = InputText();
    int n = InputLength();
    int p = InputCursor();
    if (n >= InputLineLimit())
        return;
    if (p < n && console.insertMode) {
        std::memmove(text + p + 1, text + p, static_cast<std::size_t>(n - p));
        ++n;
    } else if (p == n) {
        ++n;
    }
    text[p] = c;
    InputCursor() = p + 1;
    InputLength() = n;
    text[n] = '\0';
    RedrawInputLine();
}

} // namespace

void FollowScreenSize() {
    if (!LayOutScreen())
        return;
    FitInputLine();
    RedrawInputLine();
}

namespace {

// Backspace and Delete: the character before or after the cursor, with Ctrl
// the word. Nothing at the line's start (Backspace) or end (Delete).
void Erase(bool forward, bool ctrl) {
    const int n = InputLength();
    const int p = InputCursor();
    if (forward) {
        if (p == n)
            return;
        RemoveSpan(p, ctrl ? WordRight(InputText(), n, p) : p + 1);
        DrawInputText();
        return;
    }
    if (p == 0)
        return;
    const int target = ctrl ? WordLeft(InputText(), p) : p - 1;
    RemoveSpan(target, p);
    InputCursor() = target;
    RedrawInputLine();
}

// Home, End, Left and Right (with Ctrl by words): the cursor alone moves.
void MoveCursor(std::uint16_t code, bool ctrl) {
    const int n = InputLength();
    const int p = InputCursor();
    int target = p;
    if (code == port::kVkHome)
        target = 0;
    else if (code == port::kVkEnd)
        target = n;
    else if (code == port::kVkLeft && p > 0)
        target = ctrl ? WordLeft(InputText(), p) : p - 1;
    else if (code == port::kVkRight && p < n)
        target = ctrl ? WordRight(InputText(), n, p) : p + 1;
    if (target == p)
        return;
    InputCursor() = target;
    PlaceInputCursor();
}

} // namespace

void HandleKey(const port::KeyEvent& key) {
    const bool ctrl =
        (key.controlKeyState & (port::kLeftCtrlPressed | port::kRightCtrlPressed)) != 0;
    switch (key.virtualKeyCode) {
    case port::kVkBack:
        Erase(false, ctrl);
        return;
    case port::kVkDelete:
        Erase(true, ctrl);
        return;
    case port::kVkTab:
        CompleteCommand();
        return;
    case port::kVkReturn:
        if (InputLength() != 0)
            EnterLine();
        return;
    case port::kVkEscape:
        if (InputLength() == 0)
            return;
        EmptyCurrentLine();
        RedrawInputLine();
        return;
    case port::kVkPrior:
    case port::kVkUp:
        RecallPrevious();
        return;
    case port::kVkNext:
    case port::kVkDown:
        RecallNext();
        return;
    case port::kVkEnd:
    case port::kVkHome:
    case port::kVkLeft:
    case port::kVkRight:
        MoveCursor(key.virtualKeyCode, ctrl);
        return;
    case port::kVkInsert:
        ToggleInsertMode();
        return;
    default:
        if (!ctrl && key.asciiChar != '\0')
            TypeCharacter(key.asciiChar);
        return;
    }
}

void OnConsoleInput(WaitTable*, std::int32_t, void*) {
    if (port::CountInputEvents(console.inputHandle, &console.pendingEvents)) {
        while (console.pendingEvents != 0) {
            if (!port::ReadInputRecord(console.inputHandle, &console.inputRecord,
                                       &console.pendingEvents) ||
                console.pendingEvents == 0)
                return;
            if (console.inputRecord.eventType == port::kKeyEventType &&
                console.inputRecord.key.keyDown)
                HandleKey(console.inputRecord.key);
            else if (console.inputRecord.eventType == port::kWindowBufferSizeEventType)
                FollowScreenSize();
            if (!port::CountInputEvents(console.inputHandle, &console.pendingEvents))
                break;
        }
    }
    port::SleepMs(kInputPauseMs);
}
