// Output capture: each application's standard output and error go through a
// pipe to a capture process of their own (a copy of this program in a mode of
// its own), which writes them to <OutputDirectory>/<name>.log and rotates
// that file. The manager starts the capture process with the application and
// never sees the output.
#pragma once

#include "port/file.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Set from the configuration: the directory of the output files; empty when
// the output is not captured.
extern std::string OutputDirectory;
extern std::uint64_t OutputMaxBytes; // a file is rotated before it would pass this
extern std::uint32_t OutputBackups;  // rotated files kept: <name>.log.1 and on
extern bool OutputTimestampsFlag;    // each line begins with the log's stamp

inline constexpr std::uint64_t kDefaultOutputMaxBytes = 10u << 20;
inline constexpr std::uint64_t kMinOutputMaxBytes = 4096;
inline constexpr std::uint32_t kDefaultOutputBackups = 5;

// The file of an application's output: its display name with every byte
// outside A-Z a-z 0-9 . _ - made '_', and ".log".
std::string OutputFileName(std::string_view name);

// Where the output of the application `name` goes: the output directory and
// its file.
std::string OutputPath(std::string_view name);

// The n-th older file of `path`: "<path>.<n>"; the path itself for 0.
std::string BackupPath(const std::string& path, std::uint32_t n);

// The last `count` lines (at most) of the output of the application `name`,
// oldest first, from its file and the rotated one before it. False when
// neither can be read.
bool ReadLastOutputLines(std::string_view name, std::size_t count, std::vector<std::string>* lines);

// Starts the capture process for the application `name`. Returns the write
// end of its pipe, for the application's output; null when the output is
// not captured, after saying why when it should have been.
port::UniqueFile StartOutputCapture(std::string_view name);

// The program's side: the arguments after "--capture" that StartOutputCapture
// gives a capture process.
struct CaptureSettings {
    std::string path;
    std::uint64_t maxBytes = kDefaultOutputMaxBytes;
    std::uint32_t backups = kDefaultOutputBackups;
    bool timestamps = false;
};
inline constexpr int kCaptureArguments = 4;
