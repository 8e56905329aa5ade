// Owners of port handles: a handle is closed when its owner goes, and an
// owner can only be moved, never copied.
#pragma once

#include "port/types.h"

#include <utility>

namespace port {

// Owns one handle that `CloseFunction` closes.
template <void (*CloseFunction)(Handle)> class BasicUniqueHandle {
  public:
    BasicUniqueHandle() = default;
    explicit BasicUniqueHandle(Handle handle) : handle_(handle) {}
    ~BasicUniqueHandle() { Reset(); }

    BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle_(other.Release()) {}
    BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    BasicUniqueHandle(const BasicUniqueHandle&) = delete;
    BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNullHandle; }

    // Gives the handle up without closing it.
    Handle Release() { return std::exchange(handle_, kNullHandle); }

    // Closes the handle held, if any, and holds `handle` instead.
    void Reset(Handle handle = kNullHandle) {
        const Handle old = std::exchange(handle_, handle);
        if (old != kNullHandle)
            CloseFunction(old);
    }

  private:
    Handle handle_ = kNullHandle;
};

} // namespace port
