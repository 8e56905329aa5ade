#include "console/input_line.h"

#include "console/console.h"
#include "port/console.h"

#include <algorithm>
#include <cstring>

char* InputText() {
    return console.historyText[console.currentSlot];
}

std::int32_t& InputLength() {
    return console.historyLength[console.currentSlot];
}

std::int32_t& InputCursor() {
    return console.historyCursor[console.currentSlot];
}

int InputLineLimit() {
    return std::min(console.maxLineLength - 1, static_cast<int>(console.logRect.Right) - 1);
}

void ReplaceInputLine(const char* text, std::size_t length) {
    if (length > static_cast<std::size_t>(console.maxLineLength - 1))
        length = static_cast<std::size_t>(console.maxLineLength - 1);
    std::memcpy(InputText(), text, length);
    InputText()[length] = '\0';
    InputLength() = static_cast<std::int32_t>(length);
    InputCursor() = static_cast<std::int32_t>(length);
    RedrawInputLine();
}

void FitInputLine() {
    const std::int32_t limit = std::max(InputLineLimit(), 0);
    if (InputLength() > limit) {
        InputLength() = limit;
        InputText()[limit] = '\0';
    }
    InputCursor() = std::min(InputCursor(), InputLength());
}

void DrawInputText() {
    if (!ScreenShown())
        return;
    port::FillCellCharacters(console.outputHandle, ' ',
                             static_cast<std::uint32_t>(console.logRect.Right), console.inputOrigin,
                             &console.pendingEvents);
    port::WriteCells(console.outputHandle, InputText(), static_cast<std::uint32_t>(InputLength()),
                     console.inputOrigin, &console.pendingEvents);
}

void PlaceInputCursor() {
    if (!ScreenShown())
        return;
    console.inputCursor.X = static_cast<std::int16_t>(InputCursor());
    port::SetCursorPosition(console.outputHandle, console.inputCursor);
}

void RedrawInputLine() {
    DrawInputText();
    PlaceInputCursor();
}
