// The configuration as one value: zelkappmgr.ini read into the [General]
// keys, each with its default written once below, and the applications with
// everything the file says of each. Reading has no side effects: what the
// file holds that cannot be used is recorded in the value for the caller to
// report. Start-up and a reload build this value the same way and hand it
// down; nothing of it lives in a global.
#pragma once

#include "config/readiness.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr char kConfigFileName[] = "zelkappmgr.ini";

// The longest stop time limit the file may ask for (one hour).
inline constexpr std::uint32_t kMaxStopTimeoutSeconds = 3600;
// The longest first wait before a new attempt after a failed start (one day).
inline constexpr std::uint32_t kMaxRetrySeconds = 86400;
inline constexpr std::uint32_t kMaxRestartDelaySeconds = 3600;
inline constexpr std::uint32_t kMaxRestartDelayMaxSeconds = 86400;
inline constexpr std::uint64_t kMinOutputMaxBytes = 4096;
// The largest OutputMaxBytes that is read as a size (1 TiB).
inline constexpr std::uint64_t kMaxOutputMaxBytes = std::uint64_t{1} << 40;

// What happens when an application ends on its own or cannot be started
// ([General] ReportExits, EndLeftovers, RetryFailedStarts, RestartDelay,
// RestartDelayMax, MinUptime, GiveUpAfter); every key is off by default.
struct RestartPolicy {
    bool reportExits = false;                   // say how it ended
    bool endLeftovers = false;                  // end what is left of its tree first
    std::uint32_t retryFailedStartsSeconds = 0; // first wait after a failed start; 0: none
    std::uint32_t restartDelaySeconds = 0;      // first pause after a quick exit; 0: none
    std::uint32_t restartDelayMaxSeconds = 0;   // longest pause; 0: 60 x the first
    std::uint32_t minUptimeSeconds = 10;        // a shorter run is a quick exit
    std::uint32_t giveUpAfter = 0;              // quick exits in a row that end it; 0: never

    bool operator==(const RestartPolicy&) const = default;
};

// Where the applications' output goes ([General] OutputDirectory,
// OutputMaxBytes, OutputBackups, OutputTimestamps).
struct OutputSettings {
    std::string directory;              // empty: the output is not captured
    std::uint64_t maxBytes = 10u << 20; // a file is rotated before it would pass this
    std::uint32_t backups = 5;          // rotated files kept: <name>.log.1 and on
    bool timestamps = false;            // each line begins with the log's stamp

    bool operator==(const OutputSettings&) const = default;
};

// One application of the file.
struct AppSettings {
    std::string name;                     // its display name
    std::string path;                     // its executable
    std::string parameters;               // [Parameters]
    std::string directory;                // [WorkingDirectory]; empty: its executable's
    std::vector<std::string> environment; // [Environment]: NAME=VALUE added to what it inherits
    // Words of [Environment] that are no NAME=VALUE: left out, to be reported.
    std::vector<std::string> ignoredEnvironment;
    // [StopTimeout], else [General] StopTimeout: seconds a stop waits for
    // the tree after asking it to end; 0 ends the tree at once.
    std::uint32_t stopTimeoutSeconds = 0;
    // [StopSignal] (signal [main]): the signal a polite stop sends, 0 for the
    // system's own request (SIGTERM); with `main` only to the application's
    // own process, the rest of its tree ending with it or at the limit.
    int stopSignal = 0;
    bool stopMainOnly = false;
    std::string ignoredStopSignal; // a [StopSignal] that cannot be used, to be reported
    // [User]: the account it runs as, empty for the manager's own; where
    // programs cannot be run as another user, kept aside to be reported.
    std::string user;
    std::string ignoredUser;
    RestartPolicy restart; // the [General] keys, the same for every application
    OutputSettings output;
    // [After], [Ready], [ReadyTimeout], [Health], [HealthFailures].
    ReadinessSettings readiness;
    // [MaxMemory]: the memory (bytes) it may keep using; 0: no limit. A
    // value that is no size is kept aside to be reported.
    std::uint64_t maxMemoryBytes = 0;
    std::string ignoredMaxMemory;
    // [General] AttachByCommandLine: a running copy must have been started
    // with these parameters too, and each process is taken by one entry at most.
    bool attachByCommandLine = false;
    // [General] ContainProcesses: its processes are held in a cgroup (Linux)
    // or a job object (Windows) of its own.
    bool containProcesses = false;

    // The same program started the same way: executable, parameters,
    // directory, environment and user. A reload restarts an application only
    // when this changes.
    bool SameProgram(const AppSettings& other) const;
};

// The [General] keys of the manager itself.
struct GeneralSettings {
    bool disableCloseButton = true; // the console window's Close item removed
    bool extraCommands = false;     // "reload" and "tail" on the console
    std::string logFile;            // empty: no log file
    OutputSettings output;          // each application has a copy
    // The value of OutputMaxBytes when it was no size (and so ignored).
    std::string ignoredOutputMaxBytes;
};

struct Settings {
    GeneralSettings general;
    std::vector<AppSettings> apps; // every [Applications] entry, in file order
    // Lines (from 1) that began with '[' but had no ']'.
    std::vector<int> malformedHeaderLines;
    // What a reload refuses as a typo: a section the program does not read
    // (its name and line), and lines outside any section.
    std::vector<std::pair<std::string, int>> unknownSections;
    std::vector<int> strayLines;
};

// A size as a person writes it: a whole number of bytes, or of KiB, MiB or
// GiB with the letter K, M or G after it (either case, blanks allowed
// around). False for anything else, and beyond kMaxOutputMaxBytes.
bool ParseByteSize(std::string_view text, std::uint64_t* bytes);

// Reads the file at `path` into *settings. False, leaving *settings as
// it was, when the file cannot be opened.
bool ReadSettings(const std::string& path, Settings* settings);
