// The Windows system headers, as the Windows back end uses them: the narrow
// (ANSI) form of every call, and the conversion between port::Handle and HANDLE.
#pragma once

#ifdef UNICODE
#error "The Windows back end calls the narrow (A) functions; build without UNICODE."
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "port/types.h"

namespace port::win32 {

inline HANDLE ToNative(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
inline Handle FromNative(HANDLE handle) {
    return reinterpret_cast<Handle>(handle);
}

inline COORD ToNative(Coord coord) {
    return COORD{coord.X, coord.Y};
}

inline Coord FromNative(COORD coord) {
    return Coord{coord.X, coord.Y};
}

inline SMALL_RECT ToNative(const Rect& rect) {
    return SMALL_RECT{rect.Left, rect.Top, rect.Right, rect.Bottom};
}

} // namespace port::win32
