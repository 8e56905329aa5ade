// What the manager and its command-line client say to each other over the
// control endpoint: one request line, then a reply whose first line is "ok"
// or "error: <why>" and whose further lines are the payload; the manager
// closes the connection after the reply.
//
//   send <LINE>   runs LINE as if typed on the console; the payload is the
//                 text of every log entry the command wrote, one per line
//   status        the payload is one status record per application
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest command line a client may send, as the console's own line holds.
inline constexpr std::size_t kMaxSentLineLength = 255;
// The longest request line the manager reads: "send " and such a command line.
inline constexpr std::size_t kMaxRequestLength = 5 + kMaxSentLineLength;

inline constexpr char kReplyOk[] = "ok";
inline constexpr char kReplyErrorPrefix[] = "error: ";

struct ControlRequest {
    enum class Kind { Send, Status, Unknown } kind = Kind::Unknown;
    std::string line; // the command line of a Send request
};

std::string EncodeSendRequest(std::string_view line);
std::string EncodeStatusRequest();
// Reads one request line (without its line end).
ControlRequest DecodeRequest(std::string_view text);

// Text safe to put on one line of the stream: bytes below 32 and byte 127
// become '?', as in the log file.
std::string OneLine(std::string_view text);

// How an application's process last ended, as far as the manager knows.
struct LastExit {
    enum class Kind { None, Code, Signal } kind = Kind::None;
    std::uint32_t value = 0;
};

struct AppStatus {
    int number = 0;
    std::string name;
    bool running = false;
    std::uint32_t processId = 0; // 0 when stopped or unknown
    std::uint64_t upSeconds = 0; // since the current process started (when running)
    std::uint32_t restarts = 0;  // starts after the first since the manager began
    LastExit lastExit;
};

// One status record per line: fields separated by tabs, the name last.
std::string EncodeStatusRecord(const AppStatus& status);
bool DecodeStatusRecord(std::string_view text, AppStatus* status);

// The status as a table with a header row, columns padded to their widest cell.
std::string FormatStatusTable(const std::vector<AppStatus>& apps);
// The status as one JSON array of objects, with a line end.
std::string FormatStatusJson(const std::vector<AppStatus>& apps);

// The text of the last exit as the table shows it: "-", "3", "0xC0000005",
// "signal 11".
std::string LastExitText(const LastExit& exit);
