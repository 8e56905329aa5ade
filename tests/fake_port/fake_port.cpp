#include "fake_port.h"

#include "common/command_line_words.h"
#include "common/text.h"
#include "fake_control.h"
#include "port/console.h"
#include "port/containment.h"
#include "port/file.h"
#include "port/identity.h"
#include "port/probe.h"
#include "port/process.h"
#include "port/service.h"
#include "port/service_control.h"
#include "port/system.h"
#include "port/usage.h"
#include "port/user.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fake {
namespace {

constexpr port::Handle kInput = 11;
constexpr port::Handle kOutput = 12;
constexpr port::Handle kShutdown = 13;
constexpr port::Handle kContainerWatch = 15;
constexpr std::uint32_t kManagerPid = 1;

enum class Kind { Process, Termination, Container };

struct OpenHandle {
    Kind kind;
    std::uint32_t pid;
    std::string container; // the name of a container's handle
};

struct Internals {
    std::map<port::Handle, OpenHandle> handles;
    port::Handle nextHandle = 100;
    std::uint32_t lastError = 0;
    std::string lastErrorText;
    int badCloses = 0;
    std::vector<std::string> filePaths; // by file handle, from 1000000 on
};

Internals& In() {
    static Internals internals;
    return internals;
}

State& Fresh() {
    static State* state = [] {
        auto* s = new State();
        s->screen.Reset(80, 25);
        return s;
    }();
    return *state;
}

port::Handle NewHandle(Kind kind, std::uint32_t pid, const std::string& container = "") {
    port::Handle h = In().nextHandle++;
    In().handles[h] = OpenHandle{kind, pid, container};
    return h;
}

// The name of the container behind a handle, or null.
const std::string* ContainerOf(port::Handle handle) {
    auto it = In().handles.find(handle);
    return it == In().handles.end() || it->second.kind != Kind::Container ? nullptr
                                                                          : &it->second.container;
}

bool IsOutput(port::Handle h) {
    return Get().consoleAvailable && h == kOutput;
}
bool IsInput(port::Handle h) {
    return Get().consoleAvailable && h == kInput;
}

// Probe handles, from 2000000 on: whether the connection was made.
std::map<port::Handle, bool>& Probes() {
    static std::map<port::Handle, bool> probes;
    return probes;
}
port::Handle nextProbe = 2000000;

// Exchange handles (numbered as probes): their port.
std::map<port::Handle, std::uint16_t>& Exchanges() {
    static std::map<port::Handle, std::uint16_t> exchanges;
    return exchanges;
}

bool Listening(std::uint16_t port) {
    const std::vector<std::uint16_t>& listening = Get().listening;
    return std::find(listening.begin(), listening.end(), port) != listening.end();
}

// Directory handles, from 3000000 on: their paths.
std::vector<std::string>& DirectoryPaths() {
    static std::vector<std::string> paths;
    return paths;
}
constexpr port::Handle kNotifySocket = 14;

bool Signalled(port::Handle h) {
    State& s = Get();
    if (Probes().count(h) != 0)
        return true; // decided at once
    if (auto exchange = Exchanges().find(h); exchange != Exchanges().end())
        return !Listening(exchange->second) || s.answers.count(exchange->second) != 0;
    if (h == kNotifySocket)
        return !s.notifications_in.empty();
    if (std::find(s.signalled.begin(), s.signalled.end(), h) != s.signalled.end())
        return true;
    if (h == kInput)
        return !s.input.empty();
    if (h == kShutdown)
        return s.shutdownRequested;
    if (h == kContainerWatch)
        return s.containerNotice;
    bool control = false;
    const bool signalled = ControlSignalled(h, &control);
    if (control)
        return signalled;
    auto it = In().handles.find(h);
    if (it == In().handles.end())
        return false;
    const Process* p = FindProcess(it->second.pid);
    return p == nullptr || !p->alive;
}

} // namespace

bool Fail(std::uint32_t error) {
    In().lastError = error;
    In().lastErrorText.clear();
    return false;
}

State& Get() {
    return Fresh();
}

void Reset(int width, int height) {
    Probes().clear();
    Exchanges().clear();
    fake::DirectoryPaths().clear();
    State& s = Get();
    s = State();
    s.screen.Reset(width, height);
    In() = Internals();
    Control() = ControlState();
}

port::Handle InputHandle() {
    return kInput;
}

port::Handle ShutdownHandle() {
    return kShutdown;
}

int OpenProcessHandles() {
    return static_cast<int>(In().handles.size());
}

int BadCloses() {
    return In().badCloses;
}

std::uint32_t PidOf(port::Handle handle) {
    auto it = In().handles.find(handle);
    return it == In().handles.end() ? 0 : it->second.pid;
}

void PushRecord(const port::InputRecord& record) {
    Get().input.push_back(record);
}

void ResizeScreen(int width, int height, bool pushRecord, char leftover,
                  std::uint16_t leftoverAttribute) {
    State& s = Get();
    s.screen.Reset(width, height);
    s.screen.FillCharacters(leftover, static_cast<std::uint32_t>(width * height), port::Coord{0, 0},
                            nullptr);
    s.screen.FillAttributes(leftoverAttribute, static_cast<std::uint32_t>(width * height),
                            port::Coord{0, 0}, nullptr);
    if (!s.screen.Contains(s.cursor))
        s.cursor = port::Coord{0, 0};
    if (!pushRecord)
        return;
    port::InputRecord r{};
    r.eventType = port::kWindowBufferSizeEventType;
    r.bufferSize.size =
        port::Coord{static_cast<std::int16_t>(width), static_cast<std::int16_t>(height)};
    PushRecord(r);
}

void PushKey(std::uint16_t virtualKey, char character, std::uint32_t controlState) {
    port::InputRecord r{};
    r.eventType = port::kKeyEventType;
    r.key = port::KeyEvent{true, 1, virtualKey, character, controlState};
    PushRecord(r);
}

void PushText(const std::string& text) {
    for (char c : text) {
        std::uint16_t vk = 0;
        if (c >= 'a' && c <= 'z')
            vk = static_cast<std::uint16_t>(c - 'a' + 'A');
        else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ')
            vk = static_cast<std::uint16_t>(c);
        else
            vk = 190; // a punctuation key: never an editing key
        PushKey(vk, c);
    }
}

Process& AddProcess(std::uint32_t pid, std::uint32_t parentPid, const std::string& image) {
    Process p;
    p.pid = pid;
    p.parentPid = parentPid;
    p.image = image;
    Get().processes.push_back(p);
    return Get().processes.back();
}

Process* FindProcess(std::uint32_t pid) {
    for (Process& p : Get().processes)
        if (p.pid == pid)
            return &p;
    return nullptr;
}

void EndProcess(std::uint32_t pid) {
    if (Process* p = FindProcess(pid))
        p->alive = false;
}

void EndContainedProcess(std::uint32_t pid) {
    EndProcess(pid);
    Get().containerNotice = true;
}

void AddFile(const std::string& path, const std::string& canonical) {
    Get().shortNames[path] = canonical;
}

std::string Row(int y) {
    return Get().screen.RowText(y);
}

void EndManagerProcess() {
    State& s = Get();
    In().handles.clear();
    Probes().clear();
    s.guardTaken = false;
    s.containerNotice = false;
    s.notifications_in.clear();
    s.shutdownRequested = false;
    s.signalled.clear();
    Control() = ControlState();
    for (Process& p : s.processes)
        if (p.parentPid == kManagerPid)
            p.parentPid = 0;
}

bool HeldByHandle(std::uint32_t pid) {
    for (const auto& [handle, open] : In().handles)
        if (open.pid == pid)
            return true;
    return false;
}

void ForgetReapedProcesses() {
    std::vector<std::uint32_t> held;
    for (const auto& [handle, open] : In().handles)
        held.push_back(open.pid);
    auto& processes = Get().processes;
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [&](const Process& p) {
                                       return !p.alive && std::find(held.begin(), held.end(),
                                                                    p.pid) == held.end();
                                   }),
                    processes.end());
}

} // namespace fake

// ---------------------------------------------------------------------------
// The port functions over the fake state.

namespace port {

using fake::Get;

const char kPathSeparator = '\\';

bool ConsoleAvailable() {
    return Get().consoleAvailable;
}
Handle StdOutput() {
    return fake::kOutput;
}
Handle StdInput() {
    return fake::kInput;
}
void RestoreConsole() {
    Get().consoleRestored = true;
}
std::uint32_t LastError() {
    return fake::In().lastError;
}

// The codes as Windows has them.
const std::uint32_t kErrorAlreadyExists = 183;
const std::uint32_t kErrorTimeout = 258;
const std::uint32_t kErrorNoProcess = 87;
const std::uint32_t kErrorFileNotFound = 2;

std::string ErrorText(std::uint32_t error) {
    return "error " + std::to_string(error);
}

std::string LastErrorText() {
    return fake::In().lastErrorText.empty() ? ErrorText(LastError()) : fake::In().lastErrorText;
}

bool GetScreenSize(Handle output, Coord* size) {
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    size->X = static_cast<std::int16_t>(Get().screen.Width());
    size->Y = static_cast<std::int16_t>(Get().screen.Height());
    return true;
}

bool SetInputMode(Handle input, std::uint32_t mode) {
    if (!fake::IsInput(input))
        return fake::Fail(6);
    Get().inputMode = mode;
    return true;
}

bool SetCursorPosition(Handle output, Coord position) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output) || !Get().screen.Contains(position))
        return fake::Fail(87);
    Get().cursor = position;
    return true;
}

bool GetCursorInfo(Handle output, CursorInfo* info) {
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    *info = Get().cursorInfo;
    return true;
}

bool SetCursorInfo(Handle output, const CursorInfo& info) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    Get().cursorInfo = info;
    return true;
}

bool ScrollScreen(Handle output, const Rect& scroll, const Rect* clip, Coord destination,
                  const CharInfo& fill) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output) || Get().scrollFails)
        return fake::Fail(87);
    if (Get().scrollsBeforeFailure == 0)
        return fake::Fail(87);
    if (Get().scrollsBeforeFailure > 0)
        --Get().scrollsBeforeFailure;
    return Get().screen.Scroll(scroll, clip, destination, fill) || fake::Fail(87);
}

bool WriteCells(Handle output, const char* text, std::uint32_t length, Coord start,
                std::uint32_t* written) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    return Get().screen.Write(text, length, start, written) || fake::Fail(87);
}

bool FillCellCharacters(Handle output, char character, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    return Get().screen.FillCharacters(character, length, start, written) || fake::Fail(87);
}

bool FillCellAttributes(Handle output, std::uint16_t attribute, std::uint32_t length, Coord start,
                        std::uint32_t* written) {
    ++Get().outputCalls;
    if (!fake::IsOutput(output))
        return fake::Fail(6);
    return Get().screen.FillAttributes(attribute, length, start, written) || fake::Fail(87);
}

bool CountInputEvents(Handle input, std::uint32_t* count) {
    if (!fake::IsInput(input))
        return fake::Fail(6);
    ++Get().countInputCalls;
    *count = static_cast<std::uint32_t>(Get().input.size());
    return true;
}

bool ReadInputRecord(Handle input, InputRecord* record, std::uint32_t* read) {
    if (!fake::IsInput(input) || Get().input.empty() || Get().readFails)
        return fake::Fail(6);
    *record = Get().input.front();
    Get().input.erase(Get().input.begin());
    *read = 1;
    return true;
}

std::uint32_t WaitAny(std::uint32_t count, const Handle* handles, std::uint32_t timeoutMs,
                      bool* ready) {
    fake::State& s = Get();
    ++s.waits;
    s.waitLimits.push_back(timeoutMs);
    if (s.onWait)
        s.onWait(s.waits);
    std::uint32_t lowest = kWaitFailed;
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool signalled = fake::Signalled(handles[i]);
        if (ready != nullptr)
            ready[i] = signalled;
        if (signalled && lowest == kWaitFailed)
            lowest = i;
    }
    if (lowest != kWaitFailed)
        return lowest;
    if (timeoutMs != kWaitForever) {
        s.nowMs += timeoutMs;
        return kWaitTimedOut;
    }
    // Nothing can ever be signalled now: a test that gets here too often
    // would otherwise spin for good.
    if (++s.failedWaits > 10000) {
        std::fprintf(stderr, "fake port: the event loop waits on nothing that can happen\n");
        std::abort();
    }
    return kWaitFailed;
}

void SleepMs(std::uint32_t milliseconds) {
    Get().sleeps.push_back(milliseconds);
    Get().nowMs += milliseconds;
}

std::uint64_t NowMs() {
    return Get().nowMs;
}

void Close(Handle handle) {
    if (fake::In().handles.erase(handle) == 0)
        ++fake::In().badCloses;
}

bool CreateInstanceGuard(const char*) {
    if (!Get().guardRefusal.empty()) {
        fake::Fail(5);
        fake::In().lastErrorText = Get().guardRefusal;
        return false;
    }
    if (Get().guardTaken)
        return fake::Fail(kErrorAlreadyExists);
    Get().guardTaken = true;
    return true;
}

void SetWindowTitle(const char* title) {
    Get().windowTitle = title;
}
void RemoveCloseItem() {
    Get().closeItemRemoved = true;
}

bool CanonicalPath(const char* path, std::string* canonical) {
    auto it = Get().shortNames.find(path);
    if (it == Get().shortNames.end())
        return fake::Fail(2);
    *canonical = it->second;
    return true;
}

std::uint32_t CurrentProcessId() {
    return fake::kManagerPid;
}

bool ProcessImageById(std::uint32_t processId, std::string* image) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive || !p->openable || p->image.empty())
        return fake::Fail(5);
    return CanonicalPath(p->image.c_str(), image);
}

Handle OpenProcessFull(std::uint32_t processId) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive || !p->openable) {
        fake::Fail(p == nullptr || !p->alive ? kErrorNoProcess : 5);
        return kNullHandle;
    }
    return fake::NewHandle(fake::Kind::Process, processId);
}

bool ProcessImageName(Handle process, std::string* image) {
    const fake::Process* p = fake::FindProcess(fake::PidOf(process));
    if (p == nullptr || p->image.empty())
        return fake::Fail(6);
    *image = p->image;
    return true;
}

bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  Handle output, const char* const* environment, Handle container,
                  const char* user) {
    fake::State& s = Get();
    if (s.onLaunch)
        s.onLaunch();
    const std::string* held = fake::ContainerOf(container);
    fake::Launch launch{file,
                        parameters,
                        directory ? directory : "<none>",
                        0,
                        output != kNullHandle,
                        {},
                        held != nullptr ? *held : "",
                        user != nullptr ? user : ""};
    std::uint32_t userId = 0;
    if (!launch.user.empty() && !UserIdByName(user, &userId)) {
        s.launches.push_back(launch);
        return false;
    }
    for (; environment != nullptr && *environment != nullptr; ++environment)
        launch.environment.push_back(*environment);
    if (s.launchError != 0) {
        s.launches.push_back(launch);
        return fake::Fail(s.launchError);
    }
    if (s.launchWithoutHandle) {
        s.launches.push_back(launch);
        *process = kNullHandle;
        return true;
    }
    launch.pid = s.nextPid++;
    s.launches.push_back(launch);
    fake::Process& p = fake::AddProcess(launch.pid, fake::kManagerPid, file);
    p.alive = !s.launchedEndsAtOnce;
    p.arguments = SplitParameters(parameters);
    p.container = launch.container;
    p.userId = userId;
    *process = fake::NewHandle(fake::Kind::Process, launch.pid);
    return true;
}

std::uint32_t ProcessIdOf(Handle process) {
    return Get().processIdFails ? 0 : fake::PidOf(process);
}

Handle OpenProcessForTermination(std::uint32_t processId) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive) {
        fake::Fail(kErrorNoProcess);
        return kNullHandle;
    }
    if (!p->killable) {
        fake::Fail(5);
        return kNullHandle;
    }
    return fake::NewHandle(fake::Kind::Termination, processId);
}

bool TerminateProcessHandle(Handle process, std::uint32_t) {
    fake::Process* p = fake::FindProcess(fake::PidOf(process));
    if (p == nullptr || p->terminateFails)
        return fake::Fail(5);
    p->alive = false;
    Get().killed.push_back(p->pid);
    if (Get().onTerminate)
        Get().onTerminate(p->pid);
    return true;
}

bool SuspendProcess(std::uint32_t processId) {
    Get().suspended.push_back(processId);
    return true;
}

bool ProcessStopped(std::uint32_t processId) {
    const fake::Process* p = fake::FindProcess(processId);
    return p != nullptr && p->stopped;
}

bool ResumeIfStopped(std::uint32_t processId) {
    fake::Process* p = fake::FindProcess(processId);
    const bool stopped = p != nullptr && p->stopped;
    if (stopped)
        p->stopped = false;
    return stopped;
}

// The group a session leader leads: the leader and the processes whose
// group it is, each ended (and listed as killed) at once.
bool EndProcessGroup(std::uint32_t processId) {
    const fake::Process* leader = fake::FindProcess(processId);
    const fake::Process* manager = fake::FindProcess(fake::kManagerPid);
    if (processId == 0 || leader == nullptr || leader->sessionId != processId ||
        (manager != nullptr && manager->sessionId == processId))
        return false;
    Get().endedGroups.push_back(processId);
    for (fake::Process& p : Get().processes) {
        if ((p.pid == processId || p.groupId == processId) && p.alive) {
            p.alive = false;
            Get().killed.push_back(p.pid);
        }
    }
    return true;
}

bool AskProcessToEnd(std::uint32_t processId, int signal) {
    fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive || processId == fake::kManagerPid)
        return false;
    Get().asked.push_back(processId);
    Get().askSignals.push_back(signal);
    if (p->endsWhenAsked)
        p->alive = false;
    return true;
}

bool AskProcessGroupToEnd(std::uint32_t processId, int) {
    const fake::Process* leader = fake::FindProcess(processId);
    const fake::Process* manager = fake::FindProcess(fake::kManagerPid);
    if (leader == nullptr || leader->groupId != processId ||
        (manager != nullptr && manager->groupId == processId))
        return false;
    Get().askedGroups.push_back(processId);
    for (fake::Process& p : Get().processes)
        if (p.alive && p.groupId == processId && p.endsWhenAsked)
            p.alive = false;
    return true;
}

// The signals of a system that has them, numbered as on Linux.
bool SignalNumber(const char* name, int* number) {
    static const std::map<std::string, int> kSignals = {
        {"TERM", 15}, {"INT", 2},    {"QUIT", 3}, {"HUP", 1},   {"USR1", 10},
        {"USR2", 12}, {"WINCH", 28}, {"KILL", 9}, {"STOP", 19}, {"CONT", 18}};
    std::string key = name;
    for (char& c : key)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (key.rfind("SIG", 0) == 0)
        key = key.substr(3);
    const auto it = kSignals.find(key);
    if (it == kSignals.end())
        return false;
    *number = it->second;
    return true;
}

bool SendSignal(Handle process, int signal) {
    const fake::Process* p = fake::FindProcess(fake::PidOf(process));
    if (p == nullptr || !p->alive)
        return fake::Fail(kErrorNoProcess);
    Get().signalsSent.emplace_back(p->pid, signal);
    return true;
}

bool ListProcesses(std::vector<ProcessRecord>* rows, bool images) {
    fake::State& s = Get();
    rows->clear();
    if (s.listFails)
        return fake::Fail(5);
    ++s.listsRead;
    if (s.listGivesNoRows) {
        fake::Fail(18);
        return true;
    }
    // The manager runs, so a list never lacks it, even with no row for it.
    if (fake::FindProcess(fake::kManagerPid) == nullptr)
        rows->push_back(ProcessRecord{fake::kManagerPid, 0, 0});
    // An ended process that a handle still holds stays listed, as ended,
    // the way a zombie does until it is reaped.
    for (const fake::Process& p : s.processes) {
        const bool held = std::any_of(fake::In().handles.begin(), fake::In().handles.end(),
                                      [&](const auto& h) { return h.second.pid == p.pid; });
        if (!p.alive && !held)
            continue;
        rows->push_back(ProcessRecord{p.pid, p.parentPid, p.sessionId, p.groupId, !p.alive});
        if (images && !ProcessImageById(p.pid, &rows->back().image))
            rows->back().image.clear();
    }
    return true;
}

bool ReadExitStatus(Handle process, ExitStatus* status) {
    const fake::Process* p = fake::FindProcess(fake::PidOf(process));
    if (p == nullptr || p->alive || !p->statusReadable)
        return fake::Fail(10);
    *status = ExitStatus{p->endedBySignal, p->exitValue, p->endedBySignal ? "SIGTEST" : nullptr};
    return true;
}

// Files are kept apart from process handles: their handles start at 1000000.
Handle OpenAppendFile(const char* path) {
    fake::State& s = Get();
    if (std::find(s.unopenable.begin(), s.unopenable.end(), path) != s.unopenable.end()) {
        fake::Fail(21);
        return kNullHandle;
    }
    s.files[path];
    fake::In().filePaths.push_back(path);
    return static_cast<Handle>(1000000 + fake::In().filePaths.size() - 1);
}

namespace {

// The path of an open file handle, or null.
const std::string* PathOf(Handle file) {
    const std::size_t index = static_cast<std::size_t>(file - 1000000);
    if (file < 1000000 || index >= fake::In().filePaths.size() ||
        fake::In().filePaths[index].empty())
        return nullptr;
    return &fake::In().filePaths[index];
}

} // namespace

namespace {

// `name` in the open `directory`; a name in the working directory (".") is
// the name alone.
std::string Within(Handle directory, const char* name) {
    const std::size_t index = static_cast<std::size_t>(directory - 3000000);
    if (directory < 3000000 || index >= fake::DirectoryPaths().size() ||
        fake::DirectoryPaths()[index] == ".")
        return name;
    return fake::DirectoryPaths()[index] + "/" + name;
}

bool IsDirectory(const std::string& path) {
    const fake::State& s = Get();
    const auto given = s.pathInfo.find(path);
    if (given != s.pathInfo.end())
        return given->second.directory;
    return path == "." ||
           std::find(s.directories.begin(), s.directories.end(), path) != s.directories.end();
}

} // namespace

Handle OpenDirectory(const char* path) {
    if (!IsDirectory(path)) {
        fake::Fail(2);
        return kNullHandle;
    }
    fake::DirectoryPaths().push_back(path);
    return static_cast<Handle>(3000000 + fake::DirectoryPaths().size() - 1);
}

void CloseDirectory(Handle) {}

bool DirectoryStillAtPath(Handle directory, const char* path) {
    const std::size_t index = static_cast<std::size_t>(directory - 3000000);
    return index < fake::DirectoryPaths().size() && fake::DirectoryPaths()[index] == path &&
           IsDirectory(path);
}

Handle OpenOutputFile(Handle directory, const char* name) {
    return OpenAppendFile(Within(directory, name).c_str());
}

bool LockFile(Handle) {
    return true;
}

void UnlockFile(Handle) {}

bool FileStillAtPath(Handle file, const char* path, std::uint64_t* size) {
    const std::string* open = PathOf(file);
    if (open == nullptr || *open != path || Get().files.count(path) == 0)
        return false;
    if (size != nullptr)
        *size = Get().files[path].size();
    return true;
}

bool OutputFileStillThere(Handle file, Handle directory, const char* name, std::uint64_t* size) {
    return FileStillAtPath(file, Within(directory, name).c_str(), size);
}

bool AppendToFile(Handle file, const char* bytes, std::uint32_t length, std::uint32_t* written) {
    fake::State& s = Get();
    if (written != nullptr)
        *written = 0;
    const std::string* path = PathOf(file);
    if (path == nullptr)
        return fake::Fail(6);
    ++s.fileWrites;
    if (s.fileWriteFails)
        return fake::Fail(112);
    s.files[*path].append(bytes, length);
    if (written != nullptr)
        *written = length;
    return true;
}

void CloseFile(Handle file) {
    if (file == kNullHandle)
        return;
    const std::size_t index = static_cast<std::size_t>(file - 1000000);
    if (PathOf(file) != nullptr)
        fake::In().filePaths[index].clear();
    else if (fake::In().handles.erase(file) == 0)
        ++fake::In().badCloses;
}

bool FileSize(Handle file, std::uint64_t* size) {
    const std::string* path = PathOf(file);
    if (path == nullptr)
        return fake::Fail(6);
    *size = Get().files[*path].size();
    return true;
}

bool RenameFile(Handle directory, const char* fromName, const char* toName) {
    ++Get().renames;
    if (Get().renameError != 0)
        return fake::Fail(Get().renameError);
    const std::string from = Within(directory, fromName);
    auto& files = Get().files;
    auto it = files.find(from);
    if (it == files.end())
        return fake::Fail(2);
    files[Within(directory, toName)] = std::move(it->second);
    files.erase(from);
    return true;
}

bool RemoveFile(Handle directory, const char* name) {
    Get().files.erase(Within(directory, name));
    return true;
}

bool MakeDirectory(const char* path) {
    if (Get().files.count(path) != 0)
        return fake::Fail(267);
    Get().directories.push_back(path);
    return true;
}

bool ReadPathInfo(const char* name, bool, PathInfo* info, Handle in) {
    const fake::State& s = Get();
    const std::string path = Within(in, name);
    const auto given = s.pathInfo.find(path);
    if (given != s.pathInfo.end()) {
        *info = given->second;
        return true;
    }
    const bool directory =
        std::find(s.directories.begin(), s.directories.end(), path) != s.directories.end();
    if (s.files.count(path) == 0 && !directory)
        return fake::Fail(2);
    *info = PathInfo{!directory, directory, false, false};
    return true;
}

bool ReadPathComponents(const char* path, std::vector<PathComponent>* components, bool* partial) {
    const fake::State& s = Get();
    const auto given = s.pathComponents.find(path);
    if (given != s.pathComponents.end()) {
        *components = given->second;
        *partial = false;
        return true;
    }
    components->clear();
    *partial = !IsDirectory(path) && s.files.count(path) == 0;
    if (!*partial)
        components->push_back(PathComponent{path, false, true, false, false});
    return true;
}

bool ReadFileEnd(const char* path, char* buffer, std::uint32_t size, std::uint32_t* length) {
    const auto file = Get().files.find(path);
    if (file == Get().files.end())
        return fake::Fail(2);
    const std::string& text = file->second;
    *length = static_cast<std::uint32_t>(std::min<std::size_t>(size, text.size()));
    std::memcpy(buffer, text.data() + text.size() - *length, *length);
    return true;
}

// The manager's working directory.
std::string CurrentDirectory() {
    return "C:\\work";
}

// A file's identity is its path: the fake renames by copying.
bool ReadFileAt(const char* path, std::uint64_t offset, char* buffer, std::uint32_t size,
                std::uint32_t* length, FileIdentity* identity, std::uint64_t* fileSize) {
    const auto file = Get().files.find(path);
    if (file == Get().files.end())
        return fake::Fail(2);
    const std::string& text = file->second;
    const std::size_t start = std::min<std::size_t>(offset, text.size());
    *length = static_cast<std::uint32_t>(std::min<std::size_t>(size, text.size() - start));
    std::memcpy(buffer, text.data() + start, *length);
    *identity = FileIdentity{0, std::hash<std::string>{}(path)};
    *fileSize = text.size();
    return true;
}

bool OutputPipeEnded(Handle) {
    return Get().pipesEnded;
}

bool WaitForInput(Handle, std::uint32_t) {
    return true;
}

bool CreateOutputPipe(Handle* readEnd, Handle* writeEnd) {
    if (Get().pipeFails)
        return fake::Fail(24);
    *readEnd = fake::NewHandle(fake::Kind::Process, 0);
    *writeEnd = fake::NewHandle(fake::Kind::Process, 0);
    return true;
}

Handle StandardInputStream() {
    return kNullHandle;
}

bool ReadStream(Handle, char*, std::uint32_t, std::uint32_t* read) {
    *read = 0;
    return true;
}

void TrimMemory() {}

bool WriteStandardOutput(const char* data, std::uint32_t length) {
    Get().standardOutput.append(data, length);
    return true;
}

Handle WatchShutdownRequests() {
    return fake::kShutdown;
}

void TakeShutdownRequests() {
    Get().shutdownRequested = false;
}

Handle WatchReloadRequests() {
    return kNullHandle;
}

void TakeReloadRequests() {}

Handle BecomeOrphanReaper() {
    return kNullHandle;
}

void ReapOrphans() {}

void KeepNotifySocket() {}

void NotifyServiceManager(const char* state) {
    Get().notifications.push_back(state);
}

Handle StartDetachedCopy(const char* const* arguments, Handle) {
    fake::State& s = Get();
    if (s.detachError != 0) {
        fake::Fail(s.detachError);
        return kNullHandle;
    }
    std::vector<std::string> copy;
    for (const char* const* argument = arguments; *argument != nullptr; ++argument)
        copy.push_back(*argument);
    s.detached.push_back(copy);
    const std::uint32_t pid = s.nextPid++;
    s.detachedPids.push_back(pid);
    fake::AddProcess(pid, fake::kManagerPid, "<capture>");
    return fake::NewHandle(fake::Kind::Process, pid);
}

bool ProcessEnded(Handle process) {
    const fake::Process* p = fake::FindProcess(fake::PidOf(process));
    return p == nullptr || !p->alive;
}

// --- identity ----------------------------------------------------------------

bool ProcessArguments(std::uint32_t processId, std::vector<std::string>* arguments) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive || !p->argumentsReadable)
        return fake::Fail(5);
    *arguments = p->arguments;
    return true;
}

// The fake system is a Windows one: the rules of CommandLineToArgvW.
std::vector<std::string> SplitParameters(const char* parameters) {
    return SplitCommandLineWords(parameters != nullptr ? parameters : "", false);
}

bool ProcessStartTime(std::uint32_t processId, std::uint64_t* startTime) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive)
        return fake::Fail(87);
    *startTime = p->startTime != 0 ? p->startTime : 5000000u + processId;
    return true;
}

// --- users -------------------------------------------------------------------

const bool kStartsAsOtherUsers = true;

bool UserIdByName(const char* name, std::uint32_t* userId) {
    for (const auto& [user, id] : Get().users) {
        if (user == name) {
            *userId = id;
            return true;
        }
    }
    return fake::Fail(1332); // no such account
}

bool ProcessUserId(std::uint32_t processId, std::uint32_t* userId) {
    const fake::Process* p = fake::FindProcess(processId);
    if (p == nullptr || !p->alive)
        return fake::Fail(87);
    *userId = p->userId;
    return true;
}

constexpr char kStartRecordPath[] = "C:\\run\\ZelkAppMgr.started";

bool StartRecordPath(std::string* path) {
    *path = kStartRecordPath;
    return true;
}

bool ReadPlainFile(const char* path, std::uint32_t limit, std::string* text) {
    const fake::State& s = Get();
    const bool record = std::string(path) == kStartRecordPath;
    if (record && s.startRecordIsNoFile)
        return fake::Fail(13);
    const auto file = s.files.find(path);
    if (record ? !s.hasStartRecord : file == s.files.end())
        return fake::Fail(kErrorFileNotFound);
    const std::string& content = record ? s.startRecord : file->second;
    if (content.size() > limit)
        return fake::Fail(223);
    *text = content;
    return true;
}

bool ReplaceFile(const char* path, const std::string& text) {
    fake::State& s = Get();
    if (std::string(path) != kStartRecordPath) {
        s.files[path] = text;
        return true;
    }
    s.hasStartRecord = true;
    s.startRecordIsNoFile = false;
    s.startRecord = text;
    ++s.startRecordWrites;
    return true;
}

// --- containers -----------------------------------------------------------------

const char* const kContainerKind = "job";

bool PrepareContainers() {
    return Get().containersRefused == 0 || fake::Fail(Get().containersRefused);
}

void ReleaseContainers() {}

std::string ContainerName(const char* displayName, int place) {
    return std::string("C:\\jobs\\") + displayName + ContainerPlaceSuffix(place);
}

std::string CheckContainerName(const char* displayName) {
    return std::string("C:\\checks\\") + displayName;
}

Handle OpenContainer(const char* name, bool create) {
    auto& containers = Get().containers;
    const bool exists = std::find(containers.begin(), containers.end(), name) != containers.end();
    if (!exists && !create) {
        fake::Fail(2);
        return kNullHandle;
    }
    if (!exists)
        containers.push_back(name);
    return fake::NewHandle(fake::Kind::Container, 0, name);
}

void CloseContainer(Handle container) {
    if (fake::ContainerOf(container) == nullptr)
        ++fake::In().badCloses;
    fake::In().handles.erase(container);
}

bool ContainerProcessIds(Handle container, std::vector<std::uint32_t>* ids) {
    const std::string* name = fake::ContainerOf(container);
    if (name == nullptr)
        return fake::Fail(6);
    ids->clear();
    for (const fake::Process& p : Get().processes)
        if (p.alive && p.container == *name)
            ids->push_back(p.pid);
    return true;
}

bool ContainerPopulated(Handle container, bool* populated) {
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return false;
    *populated = !ids.empty();
    return true;
}

bool RemoveContainer(Handle container) {
    bool populated = true;
    const bool empty = ContainerPopulated(container, &populated) && !populated;
    if (empty) // gone already when another handle removed it
        std::erase(Get().containers, *fake::ContainerOf(container));
    CloseContainer(container);
    return empty || fake::Fail(170);
}

bool AskContainerToEnd(Handle container, std::uint32_t groupAsked, int signal) {
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return false;
    Get().askedContainers.push_back(*fake::ContainerOf(container));
    for (std::uint32_t id : ids)
        if (groupAsked == 0 || fake::FindProcess(id)->groupId != groupAsked)
            AskProcessToEnd(id, signal);
    return true;
}

bool EndContainer(Handle container) {
    std::vector<std::uint32_t> ids;
    if (!ContainerProcessIds(container, &ids))
        return false;
    Get().endedContainers.push_back(*fake::ContainerOf(container));
    for (std::uint32_t id : ids) {
        fake::FindProcess(id)->alive = false;
        Get().killed.push_back(id);
    }
    Get().containerNotice = true;
    return true;
}

Handle ContainerWatch() {
    return fake::kContainerWatch;
}

void TakeContainerNotices() {
    Get().containerNotice = false;
}

std::uint64_t ProcessAgeMs(Handle process) {
    const fake::Process* p = fake::FindProcess(fake::PidOf(process));
    return p == nullptr ? 0 : p->ageMs;
}

Listener FindListener(const char*, std::uint16_t port,
                      const std::vector<std::uint32_t>& processIds) {
    const fake::State& s = Get();
    if (std::find(s.listening.begin(), s.listening.end(), port) == s.listening.end())
        return Listener::None;
    const auto holder = s.listenerHolders.find(port);
    if (holder == s.listenerHolders.end())
        return Listener::Unknown;
    return std::find(processIds.begin(), processIds.end(), holder->second) != processIds.end()
               ? Listener::Own
               : Listener::Other;
}

Handle BeginConnection(const char*, std::uint16_t port) {
    fake::State& s = Get();
    s.connections.push_back(port);
    const Handle probe = fake::nextProbe++;
    fake::Probes()[probe] =
        std::find(s.listening.begin(), s.listening.end(), port) != s.listening.end();
    return probe;
}

bool ConnectionMade(Handle probe) {
    auto it = fake::Probes().find(probe);
    return it != fake::Probes().end() && it->second ? true : fake::Fail(111);
}

bool AddProcessUsage(std::uint32_t processId, Usage* usage) {
    const auto it = Get().processUsage.find(processId);
    const fake::Process* process = fake::FindProcess(processId);
    if (it == Get().processUsage.end() || process == nullptr || !process->alive)
        return fake::Fail(3);
    usage->cpuKnown = usage->cpuKnown || it->second.cpuKnown;
    usage->cpuMs += it->second.cpuMs;
    usage->memoryKnown = usage->memoryKnown || it->second.memoryKnown;
    usage->memoryBytes += it->second.memoryBytes;
    return true;
}

void ReadContainerUsage(Handle container, Usage* usage) {
    const std::string* name = fake::ContainerOf(container);
    if (name == nullptr)
        return;
    const auto it = Get().containerUsage.find(*name);
    if (it != Get().containerUsage.end())
        *usage = it->second;
}

bool SetContainerMemoryHigh(Handle container, std::uint64_t bytes) {
    const std::string* name = fake::ContainerOf(container);
    if (name == nullptr || Get().memoryHighRefused)
        return fake::Fail(2);
    Get().memoryHigh.emplace_back(*name, bytes);
    return true;
}

Handle BeginExchange(const char*, std::uint16_t port, const std::string& request) {
    Get().requests.emplace_back(port, request);
    const Handle exchange = fake::nextProbe++;
    fake::Exchanges()[exchange] = port;
    return exchange;
}

Exchange AdvanceExchange(Handle exchange, std::string* answer) {
    const auto it = fake::Exchanges().find(exchange);
    if (it == fake::Exchanges().end() || !fake::Listening(it->second)) {
        fake::Fail(111);
        return Exchange::Failed;
    }
    const auto given = Get().answers.find(it->second);
    if (given == Get().answers.end())
        return Exchange::Pending;
    answer->append(given->second);
    return Exchange::Closed;
}

void CloseProbe(Handle probe) {
    fake::Probes().erase(probe);
    fake::Exchanges().erase(probe);
}

const bool kNotifySocketSupported = true;

Handle OpenNotifySocket(std::string* address) {
    *address = "/fake/notify.sock";
    return fake::kNotifySocket;
}

bool ReceiveNotification(Handle, std::string* text, std::uint32_t* senderId) {
    fake::State& s = Get();
    if (s.notifications_in.empty())
        return fake::Fail(11);
    *text = s.notifications_in.front().first;
    *senderId = s.notifications_in.front().second;
    s.notifications_in.erase(s.notifications_in.begin());
    return true;
}

bool StartShellCommand(const char* line, const char* directory, Handle* process,
                       const char* const* environment, Handle container, const char* user) {
    fake::State& s = Get();
    s.commands.push_back(line);
    fake::Launch command;
    command.file = "/bin/sh";
    command.parameters = line;
    command.directory = directory != nullptr ? directory : "<none>";
    for (; environment != nullptr && *environment != nullptr; ++environment)
        command.environment.push_back(*environment);
    if (const std::string* name = fake::ContainerOf(container))
        command.container = *name;
    command.user = user != nullptr ? user : "";
    command.pid = s.nextPid;
    s.commandStarts.push_back(command);
    const std::uint32_t pid = s.nextPid++;
    // It leads a session (and group) of its own, as on POSIX.
    fake::Process& p = fake::AddProcess(pid, fake::kManagerPid, "/bin/sh");
    p.sessionId = p.groupId = pid;
    p.alive = s.commandsRunOn;
    p.exitValue = s.commandExitCode;
    *process = fake::NewHandle(fake::Kind::Process, pid);
    return true;
}

} // namespace port
