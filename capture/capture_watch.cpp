#include "capture/capture_watch.h"

#include "console/console.h"
#include "loop/wait_table.h"
#include "port/process.h"

CaptureTable captureTable;

namespace {

port::Handle StartCopy(const std::vector<std::string>& words, port::Handle readEnd) {
    std::vector<const char*> arguments;
    for (const std::string& word : words)
        arguments.push_back(word.c_str());
    arguments.push_back(nullptr);
    return port::StartDetachedCopy(arguments.data(), readEnd);
}

void Forget(WatchedCapture& capture) {
    capture = WatchedCapture{};
}

void OnCaptureEnded(WaitTable*, std::int32_t, void* context);
void Restart(WatchedCapture& capture);

void OnRestartDue(void* context) {
    Restart(*static_cast<WatchedCapture*>(context));
}

// Starts a new capture process after the pause; false when no timer is
// free.
bool RestartAfterPause(WatchedCapture& capture) {
    return capture.restart.Start(kCaptureRestartPauseMs, OnRestartDue, &capture);
}

// Watches the running capture process; false, leaving it unwatched, when
// the wait table is full.
bool Watch(WatchedCapture& capture, port::Handle process) {
    capture.startedMs = port::NowMs();
    capture.process.Reset(process);
    if (capture.row.Add(process, OnCaptureEnded, &capture))
        return true;
    Forget(capture); // it runs on, unwatched
    return false;
}

void Restart(WatchedCapture& capture) {
    if (port::OutputPipeEnded(capture.readEnd.Get())) {
        Forget(capture); // every writer has gone meanwhile, and nothing is left
        return;
    }
    const port::Handle process = StartCopy(capture.arguments, capture.readEnd.Get());
    if (process == port::kNullHandle) {
        // Said once; tried again after a pause for as long as the pipe lives.
        if (!capture.failureReported)
            PrintMessage("Could not capture the output of %s. Error: %d.", capture.name.c_str(),
                         static_cast<int>(port::LastError()));
        capture.failureReported = true;
        if (!RestartAfterPause(capture))
            Forget(capture);
        return;
    }
    capture.failureReported = false;
    const std::string name = capture.name;
    Watch(capture, process);
    PrintMessage("Restarted the output capture of %s.", name.c_str());
}

void OnCaptureEnded(WaitTable*, std::int32_t, void* context) {
    auto& capture = *static_cast<WatchedCapture*>(context);
    capture.row.Remove();
    capture.process.Reset();
    if (port::OutputPipeEnded(capture.readEnd.Get())) {
        Forget(capture); // the end of the output: its job is done
        return;
    }
    if (port::NowMs() - capture.startedMs < kCaptureRestartPauseMs && RestartAfterPause(capture))
        return;
    Restart(capture);
}

} // namespace

bool StartWatchedCapture(const std::string& name, const std::vector<std::string>& arguments,
                         port::UniqueFile readEnd) {
    const port::Handle process = StartCopy(arguments, readEnd.Get());
    if (process == port::kNullHandle)
        return false;
    for (WatchedCapture& capture : captureTable.captures) {
        if (capture.used)
            continue;
        capture.used = true;
        capture.name = name;
        capture.arguments = arguments;
        capture.readEnd = std::move(readEnd);
        Watch(capture, process);
        return true;
    }
    // No room: it runs on unwatched, and the read end is let go.
    port::Close(process);
    return true;
}
