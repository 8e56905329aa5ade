// The output file of one application as its capture process writes it.
//
// Every write is made holding the file's lock, which the capture processes
// writing one file take in turn (an application's child may keep the output
// of an earlier run, with the capture process of that run). Whenever it
// takes the lock, a capture process makes sure that the file open is still
// the one at the path: one that was renamed (rotated by another capture
// process, or by logrotate), removed, or whose directory was removed or
// replaced, is replaced by a new one, the directory made again. The
// directory's whole path is checked whenever a file is opened, and the
// files are opened, renamed and removed relative to the directory held
// open, only as regular files, never through a link: a link swapped into
// the path after the check is not followed either.
//
// Lines go into the file whole. An unfinished line is held back until its
// end comes (at most kHeldBytes of it, and only until the program pauses for
// kHoldMs), so that another capture process's lines never land inside it.
// The file is rotated by renaming before a line would take it past its size
// limit, so that a file ends at a line end; only a line longer than the
// limit is cut, where the file is full. A line of more than kHeldBytes, which is written as it
// comes, is finished in the file where it began, even past the limit.
//
// A rotation that fails is tried again at most once every kRotateRetryMs,
// and said once in the file; meanwhile the file grows on, to twice its limit.
// What cannot be written (a full disk, that limit) is counted, and once
// writing works again one line says how many bytes were lost. Lines are
// stamped on request.
#pragma once

#include "capture/capture_arguments.h"
#include "port/file.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The n-th older file of `path`: "<path>.<n>"; the path itself for 0.
std::string BackupPath(const std::string& path, std::uint32_t n);

// The most of an unfinished line held back, and the pause that ends the
// wait for its end.
inline constexpr std::size_t kHeldBytes = 8192;
inline constexpr std::uint32_t kHoldMs = 1000;
// The least time between two attempts at a rotation that failed.
inline constexpr std::uint64_t kRotateRetryMs = 1000;

class OutputFile {
  public:
    explicit OutputFile(CaptureSettings settings);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Makes the directory when it is missing, before the first output: the
    // code of that runs before a capture process gives back its start-up's
    // memory, and the port keeps what it learnt (the user).
    void Prepare();

    // Takes what the program wrote.
    void Write(const char* data, std::size_t length);

    // An unfinished line is held back, to be written when its end comes,
    // or by Flush once the program has paused for kHoldMs.
    bool Holding() const;

    // Writes the unfinished line held back, as far as it goes.
    void Flush();

    // At the end of the output: writes what is held and a loss note still
    // owed, if it can.
    void Finish();

    // The lock is kept from one write to the next while the program writes
    // on (for a few dozen writes at most); Release gives it back, for the
    // others to write while this one waits. Whether the file is still the
    // one at the path is looked at whenever the lock is taken.
    void Release();
    bool Locked() const;

  private:
    struct Piece {
        const char* data;
        std::size_t length;
    };

    void Close();
    bool Open();
    // Opens the file when needed and takes its lock, holding the file at
    // the path; false (the reason kept for the loss note) when it cannot.
    bool Acquire();
    // Writes the pieces in one hold of the lock, the loss note first.
    void Emit(const Piece* pieces, int count);
    // Appends bytes under the lock, rotating where the limit asks for it;
    // false (and the rest counted as lost) when the file cannot be written.
    bool Put(const char* data, std::size_t length);
    bool PutLossNote();
    // Writes a line of the capture process's own at a line start.
    void PutNote(const std::string& text);
    // Such a line: "zelkappmgr: TEXT" (stamped when lines are), after a line
    // end when the file's last line is unfinished.
    std::string NoteLine(const std::string& text) const;
    // Rotates the file held (the lock held); false when it cannot, now.
    bool Rotate();
    bool RenameBackups();
    const std::string& Stamped(const char* data, std::size_t length);

    // The directory's path: "." for the working directory.
    const char* DirectoryPath() const;

    CaptureSettings settings_;
    std::string directory_; // of the path; empty: the working directory
    std::string name_;      // the file's name in it
    port::UniqueDirectory directoryHeld_;
    port::UniqueFile file_;
    bool locked_ = false;
    int emitsLocked_ = 0;
    std::uint64_t size_ = 0;      // as read under the lock, and written since
    std::uint64_t lineSoFar_ = 0; // bytes of a line the file ends in, unfinished
    bool atLineStart_ = true;     // the program's next byte begins a line
    std::uint64_t lost_ = 0;      // bytes not written since the last success
    std::string lostWhy_;         // "error 28", or what was wrong
    bool rotateFailed_ = false;
    std::uint64_t rotateFailedMs_ = 0;
    std::string rotateWhy_;
    char held_[kHeldBytes];
    std::size_t heldLength_ = 0;
    std::string stamped_;
};
