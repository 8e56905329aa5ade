// Starting programs on Windows: the shell's "open" verb, minimised, with the
// process handle kept; or, when the output is captured, CreateProcessA with
// the standard handles set; and copies of this program without a console
// window; and the commands of health checks, through cmd /c.
#include "port/probe.h"
#include "port/process.h"

#include "port/win32/command_line.h"
#include "port/win32/native.h"
#include "port/win32/scoped_handle.h"

#include <shellapi.h>

#include <cstring>
#include <string>

namespace port {

using win32::FromNative;
using win32::QuoteArgument;
using win32::ToNative;

namespace {

// Start the file with its process handle kept for us, and let the shell show
// no error dialog: failures come back as error codes.
constexpr ULONG kShellExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
static_assert(kShellExecuteMask == 0x440);

// Puts a process that was just started into the job `job` (when given).
// One that cannot be put there is ended: it must not run outside. The
// caller keeps (and closes) the process handle.
bool Assign(HANDLE job, HANDLE process) {
    if (job == nullptr || ::AssignProcessToJobObject(job, process))
        return true;
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process, 0xFFFFFFFFu);
    ::SetLastError(error);
    return false;
}

// Starts `file` with the command line `commandLine` and the standard handles
// given (made inheritable for the start only), in the job `job` when given
// (started suspended, put there, then let run). On success *process is its
// handle, or it is closed when `process` is null.
bool Create(const char* file, std::string commandLine, const char* directory, DWORD flags,
            WORD show, HANDLE input, HANDLE output, char* environment, Handle* process,
            HANDLE job = nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    win32::ScopedHandle nulOwner(::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                               OPEN_EXISTING, 0, nullptr));
    if (!nulOwner)
        return false;
    const HANDLE nul = nulOwner.Get();
    if (input == nullptr)
        input = nul;
    if (output == nullptr)
        output = nul;
    ::SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    const BOOL started = ::CreateProcessA(file, commandLine.data(), nullptr, nullptr, TRUE,
                                          flags | (job != nullptr ? CREATE_SUSPENDED : 0),
                                          environment, directory, &startup, &info);
    const DWORD error = started ? 0 : ::GetLastError();
    if (input != nul)
        ::SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    if (output != nul)
        ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    nulOwner.Reset();
    if (!started) {
        ::SetLastError(error);
        return false;
    }
    win32::ScopedHandle startedProcess(info.hProcess);
    const win32::ScopedHandle thread(info.hThread);
    if (!Assign(job, startedProcess.Get()))
        return false;
    if (job != nullptr)
        ::ResumeThread(thread.Get());
    if (process != nullptr)
        *process = FromNative(startedProcess.Release());
    return true;
}

// This process's environment block with `added` (NAME=VALUE) in the place
// of the variables of the same names (compared ignoring case, as Windows
// does): strings ending in a NUL each, the block in one more.
std::string EnvironmentBlock(const char* const* added) {
    auto named = [](const char* variable, const char* name) {
        const char* end = std::strchr(name, '=');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - name) : 0;
        return ::_strnicmp(variable, name, length) == 0 && variable[length] == '=';
    };
    std::string block;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* variable = strings; *variable != '\0';
             variable += std::strlen(variable) + 1) {
            bool replaced = false;
            for (const char* const* name = added; *name != nullptr && !replaced; ++name)
                replaced = named(variable, *name);
            if (!replaced)
                block.append(variable, std::strlen(variable) + 1);
        }
        ::FreeEnvironmentStringsA(strings);
    }
    for (const char* const* variable = added; *variable != nullptr; ++variable)
        block.append(*variable, std::strlen(*variable) + 1);
    block += '\0';
    return block;
}

} // namespace

bool StartProgram(const char* file, const char* parameters, const char* directory, Handle* process,
                  Handle output, const char* const* environment, Handle container,
                  const char* user) {
    *process = kNullHandle;
    // Programs run as the manager's user here (kStartsAsOtherUsers).
    if (user != nullptr && *user != '\0') {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    // The shell's "open" takes neither standard handles nor an environment.
    if (output != kNullHandle || environment != nullptr) {
        std::string block;
        if (environment != nullptr)
            block = EnvironmentBlock(environment);
        std::string commandLine = QuoteArgument(file);
        if (parameters != nullptr && *parameters != '\0') {
            commandLine += ' ';
            commandLine += parameters;
        }
        return Create(file, commandLine, directory, 0, SW_SHOWMINNOACTIVE, nullptr,
                      ToNative(output), environment != nullptr ? block.data() : nullptr, process,
                      ToNative(container));
    }
    SHELLEXECUTEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = kShellExecuteMask;
    info.lpVerb = "open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_MINIMIZE;
    if (!::ShellExecuteExA(&info))
        return false;
    // The shell starts a program only as it is: it goes into the job right
    // after its start. Null when the shell handed the file to a program that
    // was already running.
    win32::ScopedHandle started(info.hProcess);
    if (started && !Assign(ToNative(container), started.Get()))
        return false;
    *process = FromNative(started.Release());
    return true;
}

Handle StartDetachedCopy(const char* const* arguments, Handle input) {
    char self[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) {
        if (length != 0)
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return kNullHandle;
    }
    std::string commandLine = QuoteArgument(self);
    for (const char* const* argument = arguments; *argument != nullptr; ++argument) {
        commandLine += ' ';
        commandLine += QuoteArgument(*argument);
    }
    Handle process = kNullHandle;
    if (!Create(self, commandLine, nullptr, CREATE_NO_WINDOW, SW_HIDE, ToNative(input), nullptr,
                nullptr, &process))
        return kNullHandle;
    return process;
}

bool StartShellCommand(const char* line, const char* directory, Handle* process,
                       const char* const* environment, Handle container, const char* user) {
    *process = kNullHandle;
    if (user != nullptr && *user != '\0') {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    char shell[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(shell, MAX_PATH);
    if (length == 0 || length + sizeof "\\cmd.exe" > MAX_PATH)
        return false;
    std::string path = std::string(shell, length) + "\\cmd.exe";
    std::string block;
    if (environment != nullptr)
        block = EnvironmentBlock(environment);
    return Create(path.c_str(), "cmd.exe /c " + std::string(line), directory, CREATE_NO_WINDOW,
                  SW_HIDE, nullptr, nullptr, environment != nullptr ? block.data() : nullptr,
                  process, ToNative(container));
}

} // namespace port
