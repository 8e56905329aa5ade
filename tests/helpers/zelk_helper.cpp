// zelk_helper: a stand-in application for the end-to-end tests of the
// manager. It records what happens to it in a log file, runs for a chosen
// time and can start a tree of copies of itself.
//
// Usage: zelk_helper [options]
//   --log PATH       append one record per event to PATH (opened, written with
//                    a single write and closed again for every record, so that
//                    the helper holds no descriptor between records and many
//                    processes can share one log)
//   --tag NAME       a name written into every record (default "-")
//   --run-ms N       end normally after N milliseconds; 0 ends at once.
//                    Without it the helper runs until it is killed.
//   --exit-code N    the exit code when the run time is over (default 0)
//   --tree D W       start W children, each a copy of this program with the
//                    same options and --tree D-1 W, so that D levels of
//                    descendants run below this process (D = 0: no children).
//                    D is at most 8 and W at most 1000, for at most 1000
//                    descendants in all.
//                    A child's tag is its parent's tag with ".<index>" added.
//   --record-args    also record every argument and the working directory
//   --record-env NAME  also record the value of the environment variable NAME
//   --fork-every N   start a new child (a copy of this program with the same
//                    --log and a tag of its own, running until killed) every
//                    N milliseconds, for ever
//   --keep-worker    (POSIX) start one such child as a worker and start it
//                    again whenever it ends
//   --daemon         (POSIX) leave a daemon behind, as `( daemon & )` does: a
//                    child starts a copy of this program and ends at once, so
//                    that the copy is orphaned but stays in this session
//   --daemon-ms MS   with --daemon or --detach: the daemon ends after MS milliseconds
//   --daemon-lines N (POSIX) with --daemon: the daemon, which keeps this
//                    program's output, first writes N numbered lines tagged
//                    "<tag>.d<this program's id>" (as --print-lines does)
//   --detach         leave a copy of this program behind the classic way
//                    (tag "<tag>.detached", with --on-term and --ignore-term
//                    when given): on POSIX fork, setsid, start it and exit,
//                    so that it runs in a session of its own and its parent is
//                    gone; on Windows a child ("<tag>.mid") starts it and ends
//   --stubborn-children  the children of --tree ignore SIGTERM; this one does not
//   --kill PID...    end the processes PID... at once (the tests use it where
//                    the process ids are the system's own, e.g. under Wine),
//                    then exit with the number of them that could not be
//                    ended; nothing else runs
//   --alive PID...   print the ids among PID... whose process still runs, one
//                    per line, then exit with the number of them; nothing else
//                    runs
//   --on-term MS     when asked to end (SIGTERM; on Windows a console close,
//                    Ctrl+C or Ctrl+Break), record "term", and MS
//                    milliseconds later "exit", then exit
//   --ignore-term    (POSIX) ignore SIGTERM, as the children of --tree do too
//   --ask-signal NAME  (POSIX) with --on-term: the signal that asks it to end
//                    (TERM, INT, QUIT, HUP, USR1, USR2 or WINCH; default TERM)
//   --print-lines N  write N numbered lines ("<tag> <number>"), the even ones
//                    to standard output, the odd ones to standard error
//   --print-every MS then go on writing a numbered line every MS milliseconds
//   --write-bytes N  write N bytes to standard output, 4 KiB at a time
//   --child-listens PORT
//                    (POSIX) start one child that listens on 127.0.0.1:PORT
//                    and records "listen" with the value "ok" or the errno
//   --listen PORT    listen on 127.0.0.1:PORT and record "listen" (value "ok"
//                    or the error number), then run on
//   --wait-for PATH  before --say-after, --notify-after and --listen: wait
//                    until the file PATH exists
//   --listen-until PATH  with --listen: close the port again once the file
//                    PATH exists (record "unlisten") and run on
//   --say-after MS TEXT  write the line TEXT to standard output MS
//                    milliseconds after the start
//   --notify-after MS  (Linux) send READY=1 (and STATUS=up) to the socket that
//                    $NOTIFY_SOCKET names MS milliseconds after the start,
//                    recording "notify" with the value "ok" or the errno
//   --hold-mb N      hold N MiB of memory, every page written, from the start
//   --grow-mb N      then, at the end of the other options, take N MiB more
//                    every second, every page written, until killed
//   --http PORT      (POSIX) after --wait-for and --http-after MS: serve
//                    HTTP/1.1 on 127.0.0.1:PORT (record "listen"): each GET is
//                    answered with the status the file of --http-status PATH
//                    holds (200 when it is missing); "hang" takes the
//                    connection and never answers, "close" stops listening
//   --retitle TEXT   (POSIX) after the start record, overwrite the argument
//                    strings in place with TEXT (cut to their room), as servers
//                    set their process titles: /proc/<pid>/cmdline then shows it
//   --next-pid N     (Linux, in a PID namespace of its own) the children of
//                    --tree get the ids after N: they start after N is
//                    written to /proc/sys/kernel/ns_last_pid
//
// Records are lines of tab-separated key=value fields, the first field being
// "event=<name>":
//   event=start  t=<ms since 1970> us=<µs since 1970> pid=<id> ppid=<parent id> tag=<tag>
//                depth=<D>
//   event=arg    pid=<id> index=<i> value=<argv[i]>        (with --record-args)
//   event=cwd    pid=<id> value=<working directory>        (with --record-args)
//   event=env    pid=<id> name=<NAME> value=<value, or "<unset>"> (with --record-env)
//   event=child  pid=<id> child=<child id> tag=<child tag> (one per child started)
//   event=exit   t=<ms since 1970> us=<µs since 1970> pid=<id> ppid=<parent id> tag=<tag>
//   event=term   t=... us=... pid=<id> value=<what asked: SIGTERM, close, ...>
//   event=listen pid=<id> value=<ok or errno>
// "start" is written first, before any child is started; "exit" when the run
// time is over. A killed helper writes no "exit".

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winsock2.h>
// windows.h first: tlhelp32.h needs its types.
#include <tlhelp32.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
extern char** environ;
#endif

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string log;
    std::string tag = "-";
    long long runMs = -1; // -1: until killed
    long long exitCode = 0;
    int depth = 0;
    int width = 0;
    bool recordArgs = false;
    std::vector<std::string> recordEnv;
    long long forkEveryMs = -1;
    bool keepWorker = false;
    bool daemon = false;
    long long daemonMs = -1;
    long long daemonLines = 0;
    bool detach = false;
    bool detachChild = false; // (Windows) the child that starts the detached copy
    bool stubbornChildren = false;
    long long onTermMs = -1; // -1: the system's default when asked to end
    bool ignoreTerm = false;
    std::string askSignal = "TERM";
    long long childListens = -1;
    long long nextPid = -1;
    long long listen = -1;
    std::string waitFor;
    std::string listenUntil;
    long long sayAfterMs = -1;
    std::string sayText;
    long long notifyAfterMs = -1;
    std::string retitle;
    long long printLines = 0;
    long long printEveryMs = -1;
    long long writeBytes = 0;
    long long holdMb = 0;
    long long growMb = 0;
    long long http = -1;
    long long httpAfterMs = 0;
    std::string httpStatus;
};

// Memory taken and written, so that it is resident.
void TakeMemory(long long mebibytes) {
    static std::vector<std::vector<char>>* held = new std::vector<std::vector<char>>;
    held->emplace_back(static_cast<std::size_t>(mebibytes) << 20, '\1');
}

// The number of descendants a tree of the given depth and width has.
long long TreeSize(long long depth, long long width) {
    long long total = 0;
    long long level = 1;
    for (long long d = 0; d < depth; ++d) {
        level *= width;
        total += level;
        if (total > 1000000)
            break;
    }
    return total;
}

constexpr long long kMaxTreeSize = 1000;

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

[[noreturn]] void Usage(const char* problem) {
    std::fprintf(stderr, "zelk_helper: %s\n", problem);
    std::exit(2);
}

bool ParseNumber(const char* text, long long* value) {
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *value = parsed;
    return true;
}

// ---------------------------------------------------------------------------
// Operating-system services.

#ifdef _WIN32

std::uint32_t OwnId() {
    return GetCurrentProcessId();
}

std::uint32_t ParentId() {
    std::uint32_t self = GetCurrentProcessId();
    std::uint32_t parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

void AppendToFile(const std::string& path, const std::string& line) {
    // Wine appends in two steps (it finds the end, then writes there), so
    // two helpers appending at one moment can write over each other's
    // record. The helpers of one log take turns through a mutex named after
    // it; one that is killed holding it leaves it abandoned, which the next
    // takes as its turn.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : path)
        hash = (hash ^ c) * 16777619u;
    const std::string name = "Local\\zelk_helper_log_" + std::to_string(hash);
    HANDLE turn = CreateMutexA(nullptr, FALSE, name.c_str());
    if (turn != nullptr)
        WaitForSingleObject(turn, INFINITE);
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    if (turn != nullptr) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
}

std::string WorkingDirectory() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer)
        return "?";
    return std::string(buffer, length);
}

std::string OwnExecutable() {
    char buffer[MAX_PATH * 4];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return {};
    return std::string(buffer, length);
}

// One argument quoted so that the C runtime's command-line parser gives it
// back unchanged.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// Starts a copy of this program; returns its process id, or 0.
std::uint32_t StartChild(const std::vector<std::string>& arguments) {
    std::string executable = OwnExecutable();
    if (executable.empty())
        return 0;
    std::string commandLine = QuoteArgument(executable);
    for (const std::string& argument : arguments) {
        commandLine += ' ';
        commandLine += QuoteArgument(argument);
    }
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!CreateProcessA(executable.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return 0;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return info.dwProcessId;
}

void SleepFor(long long milliseconds) {
    while (milliseconds > 0) {
        DWORD step = milliseconds > 1000000 ? 1000000 : static_cast<DWORD>(milliseconds);
        Sleep(step);
        milliseconds -= step;
    }
}

[[noreturn]] void SleepForever() {
    for (;;)
        Sleep(INFINITE);
}

bool KillProcess(std::uint32_t id) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (process == nullptr)
        return false;
    BOOL done = TerminateProcess(process, 1);
    CloseHandle(process);
    return done != FALSE;
}

bool IsAlive(std::uint32_t id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr)
        return false;
    // A helper never ends with the code STILL_ACTIVE (259) itself.
    DWORD code = 0;
    bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return alive;
}

void PrepareChildren() {}

#else

std::uint32_t OwnId() {
    return static_cast<std::uint32_t>(getpid());
}
std::uint32_t ParentId() {
    return static_cast<std::uint32_t>(getppid());
}

void AppendToFile(const std::string& path, const std::string& line) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t done = write(fd, data, left);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            break;
        data += done;
        left -= static_cast<std::size_t>(done);
    }
    close(fd);
}

std::string WorkingDirectory() {
    std::vector<char> buffer(4096);
    if (getcwd(buffer.data(), buffer.size()) == nullptr)
        return "?";
    return std::string(buffer.data());
}

std::string OwnExecutable() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::uint32_t StartChild(const std::vector<std::string>& arguments) {
    std::string executable = OwnExecutable();
    if (executable.empty())
        return 0;
    std::vector<char*> argv;
    argv.push_back(executable.data());
    std::vector<std::string> copies(arguments);
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, executable.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return 0;
    return static_cast<std::uint32_t>(child);
}

void SleepFor(long long milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>((milliseconds % 1000) * 1000000)};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

[[noreturn]] void SleepForever() {
    for (;;)
        pause();
}

bool KillProcess(std::uint32_t id) {
    return kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

// A zombie has ended; only its entry is left.
bool IsAlive(std::uint32_t id) {
    std::string path = "/proc/" + std::to_string(id) + "/stat";
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return false;
    char buffer[512];
    std::size_t length = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    buffer[length] = '\0';
    const char* close = std::strrchr(buffer, ')');
    if (close == nullptr || close[1] != ' ')
        return false;
    return close[2] != 'Z' && close[2] != 'X';
}

// Children that end are reaped by the kernel, so that a helper with ended
// children never holds zombies.
void PrepareChildren() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    action.sa_flags = SA_NOCLDWAIT;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
}

#endif

// ---------------------------------------------------------------------------

// Writes all of `text` to standard output (1) or error (2).
void WriteOut(int stream, const char* data, std::size_t length) {
    std::FILE* file = stream == 1 ? stdout : stderr;
    std::fwrite(data, 1, length, file);
    std::fflush(file);
}

void PrintLine(const std::string& tag, long long number) {
    const std::string line = tag + " " + std::to_string(number) + "\n";
    WriteOut(number % 2 == 0 ? 1 : 2, line.data(), line.size());
}

// The output options: numbered lines, then more of them for ever, or a
// stream of bytes.
void Print(const Options& options) {
    long long number = 0;
    for (; number < options.printLines; ++number)
        PrintLine(options.tag, number);
    if (options.writeBytes > 0) {
        const std::string block(4096, 'x');
        for (long long left = options.writeBytes; left > 0; left -= 4096)
            WriteOut(1, block.data(), static_cast<std::size_t>(std::min<long long>(left, 4096)));
    }
    if (options.printEveryMs < 0)
        return;
    for (;; ++number) {
        PrintLine(options.tag, number);
        SleepFor(options.printEveryMs);
    }
}

bool FileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file != nullptr)
        std::fclose(file);
    return file != nullptr;
}

// Waits until the file `path` exists, looking every 20 ms.
void WaitForFile(const std::string& path) {
    while (!FileExists(path))
        SleepFor(20);
}

struct Recorder {
    std::string path;
    std::string tag;

    void Write(const std::string& fields) const {
        if (path.empty())
            return;
        AppendToFile(path, fields + "\n");
    }

    std::string Common(const char* event, bool withTime) const {
        std::string line = std::string("event=") + event;
        if (withTime)
            line += "\tt=" + std::to_string(NowMs()) + "\tus=" + std::to_string(NowUs());
        line += "\tpid=" + std::to_string(OwnId());
        return line;
    }
};

// Text stored in a tab-separated record: tabs and line ends would break the
// record, so they are written as \t, \r and \n, and a backslash as \\.
std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

int RunKill(int argc, char** argv, int at) {
    int failed = 0;
    for (int i = at + 1; i < argc; ++i) {
        long long id = 0;
        if (!ParseNumber(argv[i], &id) || id <= 0)
            Usage("--kill needs process ids");
        if (!KillProcess(static_cast<std::uint32_t>(id)))
            ++failed;
    }
    return failed;
}

int RunAlive(int argc, char** argv, int at) {
    int alive = 0;
    for (int i = at + 1; i < argc; ++i) {
        long long id = 0;
        if (!ParseNumber(argv[i], &id) || id <= 0)
            Usage("--alive needs process ids");
        if (IsAlive(static_cast<std::uint32_t>(id))) {
            std::printf("%lld\n", id);
            ++alive;
        }
    }
    std::fflush(stdout);
    return alive;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc)
                Usage(what);
            return argv[++i];
        };
        if (option == "--log") {
            options.log = value("--log needs a path");
        } else if (option == "--tag") {
            options.tag = value("--tag needs a name");
        } else if (option == "--run-ms") {
            if (!ParseNumber(value("--run-ms needs a number"), &options.runMs) || options.runMs < 0)
                Usage("--run-ms needs a number of milliseconds");
        } else if (option == "--exit-code") {
            if (!ParseNumber(value("--exit-code needs a number"), &options.exitCode) ||
                options.exitCode < 0 || options.exitCode > 255)
                Usage("--exit-code needs a number from 0 to 255");
        } else if (option == "--tree") {
            long long depth = 0;
            long long width = 0;
            if (!ParseNumber(value("--tree needs a depth"), &depth) ||
                !ParseNumber(value("--tree needs a width"), &width) || depth < 0 || width < 0 ||
                depth > 8 || width > 1000 || TreeSize(depth, width) > kMaxTreeSize)
                Usage("--tree needs a depth from 0 to 8 and a width from 0 to 1000, "
                      "for at most 1000 descendants");
            options.depth = static_cast<int>(depth);
            options.width = static_cast<int>(width);
        } else if (option == "--record-args") {
            options.recordArgs = true;
        } else if (option == "--record-env") {
            options.recordEnv.push_back(value("--record-env needs a name"));
        } else if (option == "--fork-every") {
            if (!ParseNumber(value("--fork-every needs a number"), &options.forkEveryMs) ||
                options.forkEveryMs < 1)
                Usage("--fork-every needs a number of milliseconds");
        } else if (option == "--keep-worker") {
            options.keepWorker = true;
        } else if (option == "--daemon") {
            options.daemon = true;
        } else if (option == "--detach" || option == "--detach-child") {
            (option == "--detach" ? options.detach : options.detachChild) = true;
        } else if (option == "--stubborn-children") {
            options.stubbornChildren = true;
        } else if (option == "--daemon-ms") {
            if (!ParseNumber(value("--daemon-ms needs a number"), &options.daemonMs) ||
                options.daemonMs < 0)
                Usage("--daemon-ms needs a number of milliseconds");
        } else if (option == "--daemon-lines") {
            if (!ParseNumber(value("--daemon-lines needs a number"), &options.daemonLines) ||
                options.daemonLines < 0)
                Usage("--daemon-lines needs a number of lines");
        } else if (option == "--on-term") {
            if (!ParseNumber(value("--on-term needs a number"), &options.onTermMs) ||
                options.onTermMs < 0)
                Usage("--on-term needs a number of milliseconds");
        } else if (option == "--ask-signal") {
            options.askSignal = value("--ask-signal needs a signal name");
        } else if (option == "--ignore-term") {
            options.ignoreTerm = true;
        } else if (option == "--print-lines" || option == "--print-every" ||
                   option == "--write-bytes") {
            long long number = 0;
            if (!ParseNumber(value("a number is needed"), &number) || number < 0)
                Usage((option + " needs a number").c_str());
            (option == "--print-lines"   ? options.printLines
             : option == "--print-every" ? options.printEveryMs
                                         : options.writeBytes) = number;
        } else if (option == "--wait-for") {
            options.waitFor = value("--wait-for needs a path");
        } else if (option == "--listen-until") {
            options.listenUntil = value("--listen-until needs a path");
        } else if (option == "--notify-after") {
            if (!ParseNumber(value("--notify-after needs a number"), &options.notifyAfterMs) ||
                options.notifyAfterMs < 0)
                Usage("--notify-after needs a number of milliseconds");
        } else if (option == "--say-after") {
            if (!ParseNumber(value("--say-after needs milliseconds"), &options.sayAfterMs) ||
                options.sayAfterMs < 0)
                Usage("--say-after needs milliseconds and a text");
            options.sayText = value("--say-after needs a text");
        } else if (option == "--hold-mb" || option == "--grow-mb" || option == "--http" ||
                   option == "--http-after") {
            long long& number = option == "--hold-mb"   ? options.holdMb
                                : option == "--grow-mb" ? options.growMb
                                : option == "--http"    ? options.http
                                                        : options.httpAfterMs;
            if (!ParseNumber(value("a number is needed"), &number) || number < 0)
                Usage("--hold-mb, --grow-mb, --http and --http-after need a number");
        } else if (option == "--http-status") {
            options.httpStatus = value("--http-status needs a path");
        } else if (option == "--retitle") {
            options.retitle = value("--retitle needs a text");
        } else if (option == "--next-pid") {
            if (!ParseNumber(value("--next-pid needs a number"), &options.nextPid) ||
                options.nextPid < 1)
                Usage("--next-pid needs a process id");
        } else if (option == "--child-listens" || option == "--listen") {
            long long port = 0;
            if (!ParseNumber(value("--listen needs a port"), &port) || port < 1 || port > 65535)
                Usage("--child-listens and --listen need a port number");
            (option == "--listen" ? options.listen : options.childListens) = port;
        } else {
            Usage(("unknown option " + option).c_str());
        }
    }
    return options;
}

// The options of one child: the same as ours, one level less deep.
std::vector<std::string> ChildArguments(const Options& options, int index) {
    std::vector<std::string> arguments;
    if (!options.log.empty()) {
        arguments.push_back("--log");
        arguments.push_back(options.log);
    }
    arguments.push_back("--tag");
    arguments.push_back(options.tag + "." + std::to_string(index));
    if (options.runMs >= 0) {
        arguments.push_back("--run-ms");
        arguments.push_back(std::to_string(options.runMs));
    }
    arguments.push_back("--tree");
    arguments.push_back(std::to_string(options.depth - 1));
    arguments.push_back(std::to_string(options.width));
    if (options.recordArgs)
        arguments.push_back("--record-args");
    if (options.ignoreTerm || options.stubbornChildren)
        arguments.push_back("--ignore-term");
    if (options.onTermMs >= 0) {
        arguments.push_back("--on-term");
        arguments.push_back(std::to_string(options.onTermMs));
    }
    if (options.askSignal != "TERM") {
        arguments.push_back("--ask-signal");
        arguments.push_back(options.askSignal);
    }
    return arguments;
}

// The options of a child that only records its start and runs until killed.
std::vector<std::string> PlainChildArguments(const Options& options, const std::string& tag) {
    std::vector<std::string> arguments;
    if (!options.log.empty()) {
        arguments.push_back("--log");
        arguments.push_back(options.log);
    }
    arguments.push_back("--tag");
    arguments.push_back(tag);
    return arguments;
}

// The options of a detached copy: it records its start, hears SIGTERM as
// this one does (--on-term, --ignore-term) and ends after --daemon-ms.
std::vector<std::string> DetachedArguments(const Options& options, const std::string& tag) {
    std::vector<std::string> arguments = PlainChildArguments(options, tag);
    if (options.ignoreTerm)
        arguments.push_back("--ignore-term");
    if (options.onTermMs >= 0) {
        arguments.push_back("--on-term");
        arguments.push_back(std::to_string(options.onTermMs));
    }
    if (options.daemonMs >= 0) {
        arguments.push_back("--run-ms");
        arguments.push_back(std::to_string(options.daemonMs));
    }
    return arguments;
}

[[noreturn]] void ForkForever(const Options& options) {
    for (long long i = 0;; ++i) {
        StartChild(PlainChildArguments(options, options.tag + ".f" + std::to_string(i)));
        SleepFor(options.forkEveryMs);
    }
}

#ifdef _WIN32

volatile LONG askedToEnd = 0;
const char* askedHow = "";

BOOL WINAPI OnConsoleEvent(DWORD event) {
    static const char* const names[] = {"Ctrl+C", "Ctrl+Break", "close",   "?",
                                        "?",      "logoff",     "shutdown"};
    askedHow = event < 7 ? names[event] : "?";
    InterlockedExchange(&askedToEnd, 1);
    // A close must not return before the helper is done: the system ends
    // the process when the handler returns.
    for (;;)
        Sleep(INFINITE);
}

void PrepareForTerm(const Options& options) {
    if (options.onTermMs >= 0)
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const char* WaitUntilAskedToEnd() {
    while (!askedToEnd)
        Sleep(10);
    return askedHow;
}

void Listen(const Options& options, const Recorder& recorder) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options.listen));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (fd == INVALID_SOCKET ||
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0)
        error = WSAGetLastError();
    recorder.Write(recorder.Common("listen", false) +
                   "\tvalue=" + (error == 0 ? std::string("ok") : std::to_string(error)));
    // Every connection is taken and closed at once, as a server answers a
    // probe; until the file of --listen-until appears.
    u_long nonBlocking = 1;
    ioctlsocket(fd, FIONBIO, &nonBlocking);
    while (options.listenUntil.empty() || !FileExists(options.listenUntil)) {
        for (SOCKET client; (client = accept(fd, nullptr, nullptr)) != INVALID_SOCKET;)
            closesocket(client);
        SleepFor(20);
    }
    closesocket(fd);
    recorder.Write(recorder.Common("unlisten", false));
    SleepForever();
}

void Notify(const Options&, const Recorder&) {
    Usage("--notify-after is not available on Windows");
}

void ServeHttp(const Options&, const Recorder&) {
    Usage("--http is not available on Windows");
}

[[noreturn]] void KeepWorker(const Options&) {
    Usage("--keep-worker is not available on Windows");
}

void LeaveDaemon(const Options&) {
    Usage("--daemon is not available on Windows");
}

void Retitle(int, char**, const std::string&) {
    Usage("--retitle is not available on Windows");
}

void LeaveDetached(const Options& options) {
    std::vector<std::string> arguments = DetachedArguments(options, options.tag + ".mid");
    arguments.push_back("--detach-child");
    StartChild(arguments);
}

#else

// The argument strings lie one after the other, each ended by a NUL; the
// title goes over them from argv[0] on and NULs fill the rest, the last
// byte staying NUL, so that the kernel shows exactly that room.
void Retitle(int argc, char** argv, const std::string& title) {
    char* begin = argv[0];
    char* last = argv[argc - 1] + std::strlen(argv[argc - 1]);
    const std::size_t length = std::min(title.size(), static_cast<std::size_t>(last - begin));
    std::memcpy(begin, title.data(), length);
    std::memset(begin + length, 0, static_cast<std::size_t>(last - begin) + 1 - length);
}

volatile sig_atomic_t askedToEnd = 0;

// The signal that asks the helper to end, and its name.
int askSignal = SIGTERM;
std::string askName = "SIGTERM";

void OnTerm(int) {
    askedToEnd = 1;
}

void PrepareForTerm(const Options& options) {
    static const std::pair<const char*, int> kSignals[] = {
        {"TERM", SIGTERM}, {"INT", SIGINT},   {"QUIT", SIGQUIT},  {"HUP", SIGHUP},
        {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"WINCH", SIGWINCH}};
    bool known = false;
    for (const auto& [name, number] : kSignals) {
        if (options.askSignal == name) {
            askSignal = number;
            askName = std::string("SIG") + name;
            known = true;
        }
    }
    if (!known)
        Usage("--ask-signal needs TERM, INT, QUIT, HUP, USR1, USR2 or WINCH");
    if (options.ignoreTerm)
        std::signal(SIGTERM, SIG_IGN);
    else if (options.onTermMs >= 0)
        std::signal(askSignal, OnTerm);
}

const char* WaitUntilAskedToEnd() {
    sigset_t term;
    sigset_t old;
    sigemptyset(&term);
    sigaddset(&term, askSignal);
    sigprocmask(SIG_BLOCK, &term, &old);
    while (!askedToEnd)
        sigsuspend(&old);
    return askName.c_str();
}

void Listen(const Options& options, const Recorder& recorder) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options.listen));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0)
        error = errno;
    recorder.Write(recorder.Common("listen", false) +
                   "\tvalue=" + (error == 0 ? std::string("ok") : std::to_string(error)));
    // Every connection is taken and closed at once, as a server answers a
    // probe; until the file of --listen-until appears.
    fcntl(fd, F_SETFL, O_NONBLOCK);
    while (options.listenUntil.empty() || !FileExists(options.listenUntil)) {
        for (int client; (client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            close(client);
        SleepFor(20);
    }
    close(fd);
    recorder.Write(recorder.Common("unlisten", false));
    SleepForever();
}

// The status the file of --http-status holds: a number, "hang" or "close".
std::string HttpStatus(const Options& options) {
    std::ifstream file(options.httpStatus);
    std::string word;
    if (options.httpStatus.empty() || !(file >> word))
        return "200";
    return word;
}

// One connection at a time: its request read up to the empty line, then the
// status sent and the connection closed.
void ServeHttp(const Options& options, const Recorder& recorder) {
    SleepFor(options.httpAfterMs);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options.http));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0)
        error = errno;
    recorder.Write(recorder.Common("listen", false) +
                   "\tvalue=" + (error == 0 ? std::string("ok") : std::to_string(error)));
    std::vector<int> hanging;
    for (;;) {
        const int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = read(client, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string status = HttpStatus(options);
        if (status == "hang") {
            hanging.push_back(client);
            continue;
        }
        if (status == "close") {
            close(client);
            close(fd);
            recorder.Write(recorder.Common("unlisten", false));
            SleepForever();
        }
        const std::string answer =
            "HTTP/1.1 " + status + " Status\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
    }
}

// The service manager's readiness message, as an application sends it.
void Notify(const Options& options, const Recorder& recorder) {
    SleepFor(options.notifyAfterMs);
    const char* name = std::getenv("NOTIFY_SOCKET");
    int error = 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socklen_t length = 0;
    if (name == nullptr || std::strlen(name) >= sizeof address.sun_path) {
        error = EINVAL;
    } else {
        std::memcpy(address.sun_path, name, std::strlen(name));
        if (name[0] == '@')
            address.sun_path[0] = '\0';
        length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + std::strlen(name));
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const char message[] = "STATUS=up\nREADY=1";
        if (fd < 0 || sendto(fd, message, sizeof message - 1, 0,
                             reinterpret_cast<sockaddr*>(&address), length) < 0)
            error = errno;
        if (fd >= 0)
            close(fd);
    }
    recorder.Write(recorder.Common("notify", false) +
                   "\tvalue=" + (error == 0 ? std::string("ok") : std::to_string(error)));
}

[[noreturn]] void KeepWorker(const Options& options) {
    for (long long i = 0;; ++i) {
        const std::uint32_t worker =
            StartChild(PlainChildArguments(options, options.tag + ".w" + std::to_string(i)));
        if (worker == 0)
            std::exit(3);
        while (waitpid(static_cast<pid_t>(worker), nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void LeaveDaemon(const Options& options) {
    const pid_t child = fork();
    if (child == 0) {
        const std::string tag = options.daemonLines > 0
                                    ? options.tag + ".d" + std::to_string(getppid())
                                    : options.tag + ".daemon";
        std::vector<std::string> arguments = PlainChildArguments(options, tag);
        if (options.daemonLines > 0) {
            arguments.push_back("--print-lines");
            arguments.push_back(std::to_string(options.daemonLines));
        }
        if (options.daemonMs >= 0) {
            arguments.push_back("--run-ms");
            arguments.push_back(std::to_string(options.daemonMs));
        }
        StartChild(arguments);
        _exit(0);
    }
    if (child > 0)
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
}

void LeaveDetached(const Options& options) {
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        StartChild(DetachedArguments(options, options.tag + ".detached"));
        _exit(0);
    }
    if (child > 0)
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
}

#endif

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // A SIGSEGV sent from outside ends the helper by that signal, as it ends
    // any program, also in a sanitizer build, whose handler would turn it
    // into an exit with code 1.
    std::signal(SIGSEGV, SIG_DFL);
#endif
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--kill") == 0)
            return RunKill(argc, argv, i);
        if (std::strcmp(argv[i], "--alive") == 0)
            return RunAlive(argc, argv, i);
    }

    Options options = ParseOptions(argc, argv);
    Recorder recorder{options.log, options.tag};
    const std::string parent = "\tppid=" + std::to_string(ParentId());
    const std::string tag = "\ttag=" + Escape(options.tag);

    recorder.Write(recorder.Common("start", true) + parent + tag +
                   "\tdepth=" + std::to_string(options.depth));
    if (options.recordArgs) {
        for (int i = 0; i < argc; ++i)
            recorder.Write(recorder.Common("arg", false) + "\tindex=" + std::to_string(i) +
                           "\tvalue=" + Escape(argv[i]));
        recorder.Write(recorder.Common("cwd", false) + "\tvalue=" + Escape(WorkingDirectory()));
    }
    for (const std::string& name : options.recordEnv) {
        const char* value = std::getenv(name.c_str());
        recorder.Write(recorder.Common("env", false) + "\tname=" + Escape(name) +
                       "\tvalue=" + Escape(value != nullptr ? value : "<unset>"));
    }

    if (!options.retitle.empty())
        Retitle(argc, argv, options.retitle);
    PrepareForTerm(options);
    if (options.holdMb > 0)
        TakeMemory(options.holdMb);
    Print(options);
    if (!options.waitFor.empty())
        WaitForFile(options.waitFor);
    if (options.sayAfterMs >= 0) {
        SleepFor(options.sayAfterMs);
        const std::string line = options.sayText + "\n";
        WriteOut(1, line.data(), line.size());
    }
    if (options.notifyAfterMs >= 0)
        Notify(options, recorder);
    if (options.listen > 0)
        Listen(options, recorder);
    if (options.http > 0)
        ServeHttp(options, recorder);
    if (options.childListens > 0) {
        std::vector<std::string> arguments = PlainChildArguments(options, options.tag + ".l");
        arguments.push_back("--listen");
        arguments.push_back(std::to_string(options.childListens));
        StartChild(arguments);
    }
    if (options.depth > 0) {
        if (options.nextPid > 0) {
            std::ofstream next("/proc/sys/kernel/ns_last_pid");
            next << options.nextPid << std::flush;
            if (!next)
                Usage("cannot write /proc/sys/kernel/ns_last_pid");
        }
        PrepareChildren();
        for (int i = 0; i < options.width; ++i) {
            std::uint32_t child = StartChild(ChildArguments(options, i));
            recorder.Write(recorder.Common("child", false) + "\tchild=" + std::to_string(child) +
                           "\ttag=" + Escape(options.tag + "." + std::to_string(i)));
        }
    }

    if (options.detachChild) {
        StartChild(DetachedArguments(options, options.tag + ".detached"));
        return 0;
    }
    if (options.daemon)
        LeaveDaemon(options);
    if (options.detach)
        LeaveDetached(options);
    if (options.keepWorker)
        KeepWorker(options);
    if (options.forkEveryMs > 0)
        ForkForever(options);
    while (options.growMb > 0) {
        TakeMemory(options.growMb);
        SleepFor(1000);
    }

    if (options.onTermMs >= 0) {
        const char* how = WaitUntilAskedToEnd();
        recorder.Write(recorder.Common("term", true) + "\tvalue=" + how);
        SleepFor(options.onTermMs);
        recorder.Write(recorder.Common("exit", true) + parent + tag);
        return 0;
    }
    if (options.runMs < 0)
        SleepForever();
    SleepFor(options.runMs);
    recorder.Write(recorder.Common("exit", true) + parent + tag);
    return static_cast<int>(options.exitCode);
}
