#include "capture/capture_main.h"

#include "capture/output_file.h"
#include "port/file.h"
#include "port/system.h"

int CaptureMain(const CaptureSettings& settings) {
    const port::UniqueFile input(port::StandardInputStream());
    OutputFile file(settings);
    ReadyLineWatch readyLine(settings.readyLine.text);
    // It runs as long as the application: only what the loop below needs
    // stays in memory.
    static char buffer[16384];
    port::TrimMemory();
    for (;;) {
        // It never stops reading while a writer is left: the application
        // must never wait for the disk, nor find the pipe gone.
        std::uint32_t read = 0;
        if (!port::ReadStream(input.Get(), buffer, sizeof buffer, &read) || read == 0)
            break;
        file.Write(buffer, static_cast<std::size_t>(read));
        if (readyLine.Feed(buffer, static_cast<std::size_t>(read)))
            TellManagerReady(settings.readyLine.name);
    }
    file.Finish();
    return 0;
}
