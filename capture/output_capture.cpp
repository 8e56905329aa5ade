#include "capture/output_capture.h"

#include "capture/capture_arguments.h"
#include "capture/capture_watch.h"
#include "common/text.h"
#include "console/console.h"
#include "port/system.h"
#include "supervisor/app_table.h"

const AppEntry* SharedOutputFile(const AppSettings& settings) {
    if (settings.output.directory.empty())
        return nullptr;
    const std::string file = OutputFileName(settings.name);
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry* other = appTable.entries[i];
        if (!IsRemoved(other->state) &&
            AsciiEqualNoCase(std::string_view(OutputFileName(other->settings.name)), file))
            return other;
    }
    return nullptr;
}

void KeepOutputApart(AppEntry& entry) {
    AppSettings& settings = entry.settings;
    if (settings.output.directory.empty())
        return;
    const std::string file = OutputFileName(settings.name);
    for (int i = 0; i < appTable.count && appTable.entries[i] != &entry; ++i) {
        const AppEntry* other = appTable.entries[i];
        if (IsRemoved(other->state) ||
            !AsciiEqualNoCase(std::string_view(OutputFileName(other->settings.name)), file))
            continue;
        PrintMessage("Output of %s is not captured: it would go to %s, as that of %s.",
                     settings.name.c_str(), file.c_str(), other->settings.name.c_str());
        settings.output.directory.clear();
        return;
    }
}

port::UniqueFile StartOutputCapture(AppEntry& entry) {
    const AppSettings& settings = entry.settings;
    if (settings.output.directory.empty())
        return port::UniqueFile();
    port::Handle readEnd = port::kNullHandle;
    port::Handle writeEnd = port::kNullHandle;
    if (port::CreateOutputPipe(&readEnd, &writeEnd)) {
        port::UniqueFile output(writeEnd);
        CaptureSettings capture{OutputPath(settings.output, settings.name),
                                settings.output.maxBytes, settings.output.backups,
                                settings.output.timestamps};
        if (settings.readiness.ready.kind == ReadyRule::Kind::Output)
            capture.readyLine = ReadyLine{settings.name, settings.readiness.ready.text};
        if (StartWatchedCapture(settings.name, CaptureArguments(capture),
                                port::UniqueFile(readEnd)))
            return output;
    }
    PrintMessage("Could not capture the output of %s. Error: %d.", settings.name.c_str(),
                 static_cast<int>(port::LastError()));
    return port::UniqueFile();
}
