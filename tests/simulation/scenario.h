// A simulated run of the manager: the configurations it is given and the
// operations that happen to it, drawn from a seed. A scenario is plain data,
// so that it can be replayed exactly and cut down to a shorter one that
// still fails.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

// The programs the simulated machine has. The last one is never there.
inline constexpr int kPrograms = 5;
inline constexpr int kMissingProgram = kPrograms;
std::string ProgramPath(int program);
// A program no configuration names: its processes are bystanders, which the
// manager must never touch.
inline constexpr char kBystanderPath[] = "C:\\other\\bystander.exe";
// A container the manager did not make.
inline constexpr char kForeignContainer[] = "C:\\jobs\\foreign";

// One application of a configuration, as its keys say it.
struct AppSpec {
    std::string name;
    int program = 0;
    std::string parameters;
    int stopTimeout = -1; // [StopTimeout]; -1: none
    std::string stopSignal;
    std::string after;
    std::string ready;
    int readyTimeout = -1;
    std::string health;
    int healthFailures = -1;
    std::string maxMemory; // [MaxMemory]
    std::string user;
    std::string environment;
};

// What makes a configuration one that a reload must refuse.
enum class Typo : std::uint8_t {
    None,
    UnknownSection, // [Parametres] for [Parameters]
    StrayLine,      // a line before the first section
    Malformed,      // a section header without its ']'
};

struct Config {
    bool containProcesses = false;
    bool attachByCommandLine = false;
    bool outputDirectory = false;
    bool extraCommands = false;
    bool endLeftovers = false;
    bool reportExits = false;
    int stopTimeout = 0;
    int restartDelay = 0;
    int minUptime = 0; // 0: the default
    int giveUpAfter = 0;
    int retryFailedStarts = 0;
    Typo typo = Typo::None;
    std::vector<AppSpec> apps;
};

// The text of zelkappmgr.ini for a configuration.
std::string ConfigText(const Config& config);

enum class OpKind : std::uint8_t {
    Command,       // a console line; `text` with %N for an application
    Send,          // the same line from a control client
    Reload,        // `config` becomes the file, read again
    Exit,          // an application's process ends (code `a`, by signal when `b` is odd)
    ChildExit,     // a process of an application's tree, not its main one, ends
    SpawnChildren, // an application's process starts `a` children
    Advance,       // `a` milliseconds pass
    Listen,        // port 8100 + `a` takes connections while `b` is odd; its HTTP
                   // answer is 200, 500 or none as (`b` / 2) % 3 is 0, 1 or 2
    CheckOutcome,  // health commands exit with `a`; they hang while `b` is odd
    Notify,        // READY=1 from the process of application `a` (or a bystander)
    ReadyLine,     // the capture process of application `a` saw its ready line
    CaptureDies,   // a capture process is killed
    Restart,       // the manager ends (`a`: 0 quit, 1 crash, 2 asked to end) and starts
                   // again, headless when `b` is odd
    Retitle,       // the process of application `a` rewrites its command line
    Stubborn,      // the process of application `a` ignores polite requests to end
    Bystander,     // a process of another program starts (in the foreign container when
                   // `b` is odd)
    HandStarted,   // a copy of program `a` is started by hand (with parameters `b`)
    Tamper,        // the start record is rewritten to name something else for application `a`
    Status,        // a --status request
    Memory,        // the process of the `b`-th application uses `a` x 8 MiB
};

struct Op {
    OpKind kind = OpKind::Advance;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::string text;
    Config config;
};

struct Scenario {
    std::uint64_t seed = 0;
    Config initial;
    std::vector<Op> ops;
};

// Draws a scenario of `steps` operations from `seed`.
Scenario DrawScenario(std::uint64_t seed, int steps);

// One line that says what an operation does, for the report of a failure.
std::string Describe(const Op& op);

} // namespace sim
