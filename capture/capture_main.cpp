#include "capture/capture_main.h"

#include "capture/output_file.h"
#include "port/file.h"
#include "port/system.h"

[[gnu::hot]] int CaptureMain(const CaptureSettings& settings) {
    const port::UniqueFile input(port::StandardInputStream());
    OutputFile file(settings);
    file.Prepare();
    ReadyLineWatch readyLine(settings.readyLine.text);
    // It runs as long as the application: only what the loop below needs
    // stays in memory.
    char buffer[32768];
    port::TrimMemory();
    bool failed = false;
    for (;;) {
        // Nothing to read now: the others may write while this one waits.
        if (file.Locked() && !port::WaitForInput(input.Get(), 0))
            file.Release();
        // An unfinished line waits for its end only while the program
        // goes on writing.
        if (file.Holding() && !port::WaitForInput(input.Get(), kHoldMs)) {
            file.Flush();
            file.Release();
            continue;
        }
        // It never stops reading while a writer is left: the application
        // must never wait for the disk, nor find the pipe gone.
        std::uint32_t count = 0;
        if (!port::ReadStream(input.Get(), buffer, sizeof buffer, &count)) {
            failed = true;
            break;
        }
        if (count == 0)
            break;
        file.Write(buffer, count);
        // (Without a ready line its code is not even run: it stays out of
        // memory.)
        if (!settings.readyLine.text.empty() && readyLine.Feed(buffer, count)) {
            file.Release(); // the others write while the manager is told
            TellManagerReady(settings.readyLine.name);
        }
    }
    file.Finish();
    return failed ? 1 : 0;
}
