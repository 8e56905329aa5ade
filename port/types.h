// Plain types shared by the portable core and the operating-system back ends.
#pragma once

#include <cstdint>
#include <string>

namespace port {

// An operating-system handle: a HANDLE on Windows, a file descriptor on POSIX.
// Zero is the null handle on every back end; the POSIX back end never hands out
// descriptors 0 to 2 as handles.
using Handle = std::intptr_t;
inline constexpr Handle kNullHandle = 0;

struct Coord {
    std::int16_t X;
    std::int16_t Y;
};

// Inclusive rectangle of screen cells.
struct Rect {
    std::int16_t Left;
    std::int16_t Top;
    std::int16_t Right;
    std::int16_t Bottom;
};

struct CharInfo {
    char character;
    std::uint16_t attributes;
};

struct CursorInfo {
    std::uint32_t size; // percent of the cell the cursor fills, 1 to 100
    bool visible;
};

// Console input records, with the event types Windows gives them. The
// manager reads key events and buffer-size events; every other type is
// dropped.
inline constexpr std::uint16_t kKeyEventType = 1;              // KEY_EVENT
inline constexpr std::uint16_t kWindowBufferSizeEventType = 4; // WINDOW_BUFFER_SIZE_EVENT

inline constexpr std::uint32_t kRightAltPressed = 0x0001;
inline constexpr std::uint32_t kLeftAltPressed = 0x0002;
inline constexpr std::uint32_t kRightCtrlPressed = 0x0004;
inline constexpr std::uint32_t kLeftCtrlPressed = 0x0008;
inline constexpr std::uint32_t kShiftPressed = 0x0010;

struct KeyEvent {
    bool keyDown;
    std::uint16_t repeatCount;
    std::uint16_t virtualKeyCode;
    char asciiChar;
    std::uint32_t controlKeyState;
};

// The screen buffer's new size (WINDOW_BUFFER_SIZE_RECORD), delivered when
// window input is enabled (input mode bit 8).
struct BufferSizeEvent {
    Coord size;
};

struct InputRecord {
    std::uint16_t eventType;    // which of the members below carries the record
    KeyEvent key;               // kKeyEventType
    BufferSizeEvent bufferSize; // kWindowBufferSizeEventType
};

// One row of the process list (port::ListProcesses).
struct ProcessRecord {
    std::uint32_t processId;
    std::uint32_t parentProcessId;
    // The id of the leader of the process's session (Linux); 0 where the
    // system has no sessions of this kind (Windows).
    std::uint32_t sessionId = 0;
    // The id of the leader of the process's group (Linux); 0 on Windows.
    std::uint32_t groupId = 0;
    // The process has ended and only waits to be reaped (a zombie, Linux).
    bool ended = false;
    // The canonical name (as CanonicalPath gives it) of the executable the
    // process runs, when the list was read with images; empty otherwise, or
    // when it cannot be read.
    std::string image{};
};

} // namespace port
