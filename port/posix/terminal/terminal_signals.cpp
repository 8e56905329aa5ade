#include "port/posix/terminal/terminal_signals.h"

#include "port/posix/backend.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace port::posix {

RestoreData restoreData = {0, -1, false, {}, -1, {}, 0};

namespace {

bool handlersInstalled = false;

// The signals whose handlers read restoreData.
void BlockTerminatingSignals(sigset_t* old) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, old);
}

void WriteRestoreSequence(int lastRow) {
    const int row = lastRow > 0 ? lastRow : 1;
    const int n = std::snprintf(restoreData.sequence, sizeof restoreData.sequence,
                                "\x1b[0m\x1b[r\x1b[0 q\x1b[?25h\x1b[%d;1H\x1b[2K", row);
    restoreData.length = n > 0 ? static_cast<std::size_t>(n) : 0;
}

void RestoreAtExit() {
    RestoreTerminal();
}

void OnTerminatingSignal(int signal) {
    const int saved = errno;
    RestoreTerminal();
    errno = saved;
    // SA_RESETHAND gave the signal its default disposition again; it is
    // blocked while this handler runs and ends the process on return.
    ::raise(signal);
}

void InstallHandlers() {
    if (handlersInstalled)
        return;
    handlersInstalled = true;
    std::atexit(RestoreAtExit);
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue; // an ignored signal (nohup) stays ignored
        struct sigaction action {};
        action.sa_handler = OnTerminatingSignal;
        sigfillset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

// --- size changes ---

volatile std::sig_atomic_t sizeChanged = 0;
int sizePipe[2] = {-1, -1};

void OnSizeChange(int) {
    const int saved = errno;
    sizeChanged = 1;
    if (sizePipe[1] >= 0) {
        const char byte = 'w';
        // Full (a change already waits) or interrupted: either way the
        // descriptor is readable or the flag is seen.
        [[maybe_unused]] ssize_t n = ::write(sizePipe[1], &byte, 1);
    }
    errno = saved;
}

} // namespace

bool SaveTerminalMode(int terminal) {
    if (restoreData.haveTermios)
        return true;
    if (::tcgetattr(terminal, &restoreData.saved) != 0)
        return false;
    restoreData.haveTermios = true;
    return true;
}

const struct termios* SavedTerminalMode() {
    return restoreData.haveTermios ? &restoreData.saved : nullptr;
}

void ArmTerminalRestore(int terminal, int output, int lastRow) {
    if (restoreData.armed)
        return;
    restoreData.terminal = terminal;
    restoreData.output = output;
    WriteRestoreSequence(lastRow);
    InstallHandlers();
    restoreData.armed = 1;
}

bool TerminalRestoreArmed() {
    return restoreData.armed != 0;
}

void SetRestoreRow(int lastRow) {
    sigset_t old;
    BlockTerminatingSignals(&old);
    WriteRestoreSequence(lastRow);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
}

void RestoreTerminal() {
    if (!restoreData.armed)
        return;
    restoreData.armed = 0;
    if (restoreData.haveTermios && restoreData.terminal >= 0)
        ::tcsetattr(restoreData.terminal, TCSANOW, &restoreData.saved);
    if (restoreData.output >= 0 && restoreData.length > 0) {
        const char* p = restoreData.sequence;
        std::size_t left = restoreData.length;
        while (left > 0) {
            // A plain loop over write: safe in a signal handler.
            const ssize_t n = WriteNoIntr(restoreData.output, p, left);
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
}

void TerminalGone() {
    RestoreTerminal();
    ::signal(SIGHUP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(SIGHUP);
    ::_exit(0);
}

bool WatchSizeChanges() {
    if (sizePipe[0] >= 0)
        return true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    UniqueFd readEnd(AboveStandardDescriptors(ends[0]));
    UniqueFd writeEnd(AboveStandardDescriptors(ends[1]));
    if (!readEnd || !writeEnd)
        return false;
    sizePipe[0] = readEnd.Release();
    sizePipe[1] = writeEnd.Release();
    struct sigaction action {};
    action.sa_handler = OnSizeChange;
    sigemptyset(&action.sa_mask);
    // Calls that can be restarted are; poll and sleeps still return EINTR.
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGWINCH, &action, nullptr) == 0;
}

int SizeChangeFd() {
    return sizePipe[0];
}

bool SizeChangePending() {
    return sizeChanged != 0;
}

bool TakeSizeChange() {
    if (!sizeChanged)
        return false;
    sizeChanged = 0;
    if (sizePipe[0] >= 0) {
        char buffer[64];
        while (::read(sizePipe[0], buffer, sizeof buffer) > 0) {
        }
    }
    return true;
}

} // namespace port::posix
