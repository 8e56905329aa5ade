// The input line: the current slot's text, length and cursor index, and the
// row that shows it. Its one owner: the line editor edits it through these
// functions and the command completion replaces it through them, so neither
// needs the other to draw it.
#pragma once

#include <cstddef>
#include <cstdint>

// The current slot (console.currentSlot) of the ring.
char* InputText();
std::int32_t& InputLength();
std::int32_t& InputCursor();

// The most characters the line may hold: W-2 (the screen's width less two),
// and 255 at most.
int InputLineLimit();

// Replaces the current line with `length` bytes of `text`, cut to what a
// slot holds, the cursor after its last character; then redraws it.
void ReplaceInputLine(const char* text, std::size_t length);

// Cuts the current line to InputLineLimit() (after the screen got narrower)
// and keeps the cursor inside it.
void FitInputLine();

// Blanks the input row (all but its last column) and writes the current
// text; the cursor is not placed.
void DrawInputText();

// Puts the console cursor at the current cursor index on the input row.
void PlaceInputCursor();

// Puts the current line on the input row and the cursor at its cursor index.
// While the screen is too small (ScreenShown() is false) nothing is drawn.
void RedrawInputLine();
