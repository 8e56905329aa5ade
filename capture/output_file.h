// The output file of one application as its capture process writes it:
// appended to; rotated by renaming before it would pass its size limit, at a
// line end where one is at hand, so that no byte is lost or written twice;
// lines stamped on request. What cannot be written (a full disk, a removed
// directory) is counted, and once writing works again one line says how many
// bytes were lost.
#pragma once

#include "capture/capture_arguments.h"
#include "port/file.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The n-th older file of `path`: "<path>.<n>"; the path itself for 0.
std::string BackupPath(const std::string& path, std::uint32_t n);

class OutputFile {
  public:
    explicit OutputFile(CaptureSettings settings);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Takes what the program wrote.
    void Write(const char* data, std::size_t length);

    // At the end of the output: writes a loss note still owed, if it can.
    void Finish();

  private:
    bool Open();
    void Rotate();
    // Appends bytes, rotating where the limit asks for it; false (and the
    // rest counted as lost) when the file cannot be written.
    bool Put(const char* data, std::size_t length);
    bool PutLossNote();

    CaptureSettings settings_;
    port::UniqueFile file_;
    std::uint64_t size_ = 0;
    bool endsWithLine_ = true; // the file ends at a line end (or is empty)
    bool atLineStart_ = true;  // the program's next byte begins a line
    std::uint64_t lost_ = 0;   // bytes not written since the last success
    std::uint32_t lostError_ = 0;
};
