// What the manager and its command-line client say to each other over the
// control endpoint, one exchange per connection. The client sends one
// request line; the manager answers with "ok <N>" and N payload lines, or
// with the one line "error: <why>", and closes the connection once the
// client has closed its end (or after its time limit). A request that ran
// but did not do what it was asked (an application that does not exist, a
// refused reload) is answered "failed <N>" with the same payload. Lines end
// in LF.
//
//   send <LINE>   runs LINE as if typed on the console; the payload is the
//                 text of every log entry the command wrote, one per line
//   status        the payload is one status record per application
//   reload        reads the configuration again; the payload is the text of
//                 every log entry the reload wrote
//   output <NAME> the path of the application's captured output, as the
//                 one payload line; "failed" with the reason as the console's
//                 tail gives it (no such application, output not captured)
//   ready <NAME>  from the capture process of an application whose [Ready]
//                 rule is a line of its output: the line came; no payload
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest command line a client may send, as the console's own line holds.
inline constexpr std::size_t kMaxSentLineLength = 255;
// The longest request line the manager reads: "send " and such a command line.
inline constexpr std::size_t kMaxRequestLength = 5 + kMaxSentLineLength;

struct ControlRequest {
    enum class Kind { Send, Status, Reload, Ready, Output, Unknown } kind = Kind::Unknown;
    std::string line; // the command line of a Send, the name of a Ready or Output request
};

std::string EncodeSendRequest(std::string_view line);
std::string EncodeStatusRequest();
std::string EncodeReloadRequest();
std::string EncodeReadyRequest(std::string_view name);
std::string EncodeOutputRequest(std::string_view name);
// Reads one request line (without its line end).
ControlRequest DecodeRequest(std::string_view text);

enum class RequestLine {
    Incomplete, // more bytes are needed
    Complete,   // *line holds the request line
    TooLong,    // longer than kMaxRequestLength: refused
};

// Finds the request line in the bytes a client has sent so far: up to its
// line end (LF or CR LF, not part of the line), or all of them when the
// client has closed (`ended`) without one.
RequestLine FindRequestLine(std::string_view received, bool ended, std::string* line);

// The reply: "ok <N>" (or, with `failed`, "failed <N>") and the N lines
// (none of which may hold a line feed); or "error: <why>".
std::string EncodeOkReply(const std::vector<std::string>& lines, bool failed = false);

// Told before a reply that comes later: "wait <ms>", the longest the
// manager may take to send it. The client waits that long on top of its
// own time limit.
std::string EncodeWaitNotice(std::uint32_t ms);
std::string EncodeErrorReply(std::string_view why);

struct ControlReply {
    bool ok = false;
    bool failed = false;            // ran, but did not do what was asked
    std::uint64_t waitMs = 0;       // a wait notice came first: how long the reply may take
    std::string error;              // why, when not ok
    std::vector<std::string> lines; // the payload, when ok
};

enum class ReplyState { Incomplete, Complete, Malformed };

// Reads the reply from the bytes received so far.
ReplyState DecodeReply(std::string_view received, ControlReply* reply);

// How an application's process last ended, as far as the manager knows.
struct LastExit {
    enum class Kind { None, Code, Signal } kind = Kind::None;
    std::uint32_t value = 0;
};

struct AppStatus {
    int number = 0;
    std::string name;
    // "running", "starting", "stopping", "waiting", "gave-up", "removed" or
    // "stopped"; one word of a-z and '-'.
    std::string state = "stopped";
    std::uint32_t processId = 0; // 0 when there is no process or it is unknown
    std::uint64_t upSeconds = 0; // since the current process started (with a process)
    std::uint32_t restarts = 0;  // starts after the first since the manager began
    LastExit lastExit;
    bool startPending = false;          // a relaunch or a new attempt is due in:
    std::uint64_t nextStartSeconds = 0; // seconds (rounded up)
    std::uint32_t quickExits = 0;       // exits in a row soon after a start
    // With a [Health] check: "healthy", "unhealthy" or "-" (not checked now).
    bool healthChecked = false;
    std::string health = "-";
    // With the [Ready] rule "notify": the last STATUS= text it sent.
    bool notifies = false;
    std::string statusText;
    // What holds its processes: "cgroup", "job" or "tree" (followed by
    // parent, group and session); one word of a-z.
    std::string containment = "tree";
    // What it uses now, read for the report (unknown without a process):
    // CPU time of its processes, those that ended included where the
    // system keeps it, and resident memory of its tree.
    bool cpuKnown = false;
    std::uint64_t cpuMs = 0;
    bool memoryKnown = false;
    std::uint64_t memoryBytes = 0;
    std::uint64_t maxMemoryBytes = 0; // its [MaxMemory]; 0: none
};

// One status record per line: fields separated by tabs, the name last.
std::string EncodeStatusRecord(const AppStatus& status);
bool DecodeStatusRecord(std::string_view text, AppStatus* status);

// The status as a table with a header row, columns padded to their widest
// cell. CPU(S) (seconds, two decimals) and MEM (SizeText) follow QUICK
// EXITS, then MAX MEM when an application has a memory limit; HEALTH and
// STATUS TEXT come last, when an application has a health check or the
// "notify" rule.
std::string FormatStatusTable(const std::vector<AppStatus>& apps);
// The status as one JSON array of objects, with a line end; "health" and
// "status_text" as the table has them (null for "-" and for none);
// "cpu_seconds" and "memory_bytes" (null when unknown), and
// "max_memory_bytes" when an application has a limit (null for none).
std::string FormatStatusJson(const std::vector<AppStatus>& apps);

// The text of the last exit as the table shows it: "-", "3", "0xC0000005",
// "signal 11".
std::string LastExitText(const LastExit& exit);
