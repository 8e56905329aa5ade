// Owners of the POSIX back end's descriptors: a file descriptor (or an open
// directory stream) is closed when its owner goes, and an owner can only be
// moved. Closing never changes errno, so that an owner may go between a
// failing call and the SetError(errno) that reports it. These are the only
// places in the back end that close what it opened, besides a child between
// fork and exec (spawn_fork.cpp).
#pragma once

#include <cerrno>
#include <dirent.h>
#include <unistd.h>
#include <utility>

namespace port::posix {

// Owns one file descriptor; -1 is none.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held, if any, and holds `fd` instead. On Linux
    // the descriptor is released even when close reports EINTR, so close is
    // never made again.
    void Reset(int fd = -1) {
        const int old = std::exchange(fd_, fd);
        if (old < 0)
            return;
        const int saved = errno;
        ::close(old);
        errno = saved;
    }

  private:
    int fd_ = -1;
};

// Owns one directory stream that opendir gave.
class UniqueDir {
  public:
    explicit UniqueDir(DIR* directory) : directory_(directory) {}
    ~UniqueDir() {
        if (directory_ == nullptr)
            return;
        const int saved = errno;
        ::closedir(directory_);
        errno = saved;
    }
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;

    DIR* Get() const { return directory_; }
    explicit operator bool() const { return directory_ != nullptr; }

  private:
    DIR* directory_ = nullptr;
};

} // namespace port::posix
