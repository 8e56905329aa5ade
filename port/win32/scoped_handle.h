// The owner of a Windows HANDLE: closed when its owner goes, and an owner
// can only be moved. Both of the values Windows uses for "no handle" (null
// and INVALID_HANDLE_VALUE) are none. Closing never changes the thread's
// last error, so that an owner may go between a failing call and the
// caller's GetLastError. This is the one place in the back end that closes
// a handle.
#pragma once

#include "port/win32/native.h"

#include <utility>

namespace port::win32 {

class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }

    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return Valid(handle_); }

    // Gives the handle up without closing it.
    HANDLE Release() { return std::exchange(handle_, nullptr); }

    // Closes the handle held, if any, and holds `handle` instead.
    void Reset(HANDLE handle = nullptr) {
        const HANDLE old = std::exchange(handle_, handle);
        if (!Valid(old))
            return;
        const DWORD saved = ::GetLastError();
        ::CloseHandle(old);
        ::SetLastError(saved);
    }

    static bool Valid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_ = nullptr;
};

} // namespace port::win32
