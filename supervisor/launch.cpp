#include "supervisor/launch.h"

#include "console/console.h"
#include "port/identity.h"
#include "supervisor/containment.h"
#include "supervisor/readiness.h"
#include "supervisor/start_record.h"

#include <string>
#include <utility>
#include <vector>

bool PathTooLong(const AppEntry& entry) {
    if (entry.settings.path.size() <= kMaxPathLength)
        return false;
    PrintMessage("Path of %s is too long, it is not started!", entry.settings.name.c_str());
    return true;
}

bool Supervise(AppEntry& entry, port::UniqueHandle process, WaitCallback onExit) {
    if (!AddWaitHandle(process.Get(), onExit, &entry)) {
        PrintMessage("Too many processes to watch, %s is not supervised!",
                     entry.settings.name.c_str());
        return false;
    }
    entry.process = std::move(process);
    entry.startedMs = port::NowMs();
    if (entry.supervisedOnce)
        ++entry.restarts;
    entry.supervisedOnce = true;
    // A later manager finds it by the record.
    RecordedProcess row;
    row.processId = port::ProcessIdOf(entry.process.Get());
    row.name = entry.settings.name;
    row.place = entry.place;
    if (entry.contained)
        row.container = entry.containerName;
    if (row.processId != 0 && port::ProcessStartTime(row.processId, &row.startTime))
        RecordProcess(row);
    return true;
}

LaunchResult Launch(AppEntry& entry, WaitCallback onExit) {
    const AppSettings& settings = entry.settings;
    PrintMessage("Starting process %s.", settings.name.c_str());
    if (PathTooLong(entry))
        return LaunchResult::NotStarted;

    // The working directory is the configured one, else the executable's
    // directory; a bare file name gives none, so the system's default applies.
    std::string directory = settings.directory;
    const char* workingDirectory = directory.empty() ? nullptr : directory.c_str();
    const std::string::size_type cut = settings.path.rfind(port::kPathSeparator);
    if (workingDirectory == nullptr && cut != std::string::npos) {
        directory = settings.path.substr(0, cut);
        workingDirectory = directory.c_str();
    }
    std::vector<const char*> environment;
    for (const std::string& variable : settings.environment)
        environment.push_back(variable.c_str());
    // With the "notify" rule: where to say that it is ready.
    const std::string notify = NotifySocketVariable(entry);
    if (!notify.empty())
        environment.push_back(notify.c_str());
    environment.push_back(nullptr);

    // With output capture the capture process starts first, and the
    // manager keeps no end of the pipe once the application has its own.
    const port::UniqueFile output =
        entry.openOutput != nullptr ? entry.openOutput(entry) : port::UniqueFile();
    const port::Handle container = ContainerForLaunch(entry);
    port::Handle started = port::kNullHandle;
    if (!port::StartProgram(settings.path.c_str(), settings.parameters.c_str(), workingDirectory,
                            &started, output.Get(),
                            environment.size() == 1 ? nullptr : environment.data(), container,
                            settings.user.empty() ? nullptr : settings.user.c_str())) {
        const int error = static_cast<int>(port::LastError());
        if (settings.user.empty())
            PrintMessage("Could not start %s. Error: %d.", settings.name.c_str(), error);
        else
            PrintMessage("Could not start %s as user %s. Error: %d.", settings.name.c_str(),
                         settings.user.c_str(), error);
        return LaunchResult::Failed;
    }
    entry.retryDelay = DoublingDelay{};
    if (started == port::kNullHandle) {
        PrintMessage("Started %s without a process to watch, it is not supervised!",
                     settings.name.c_str());
        return LaunchResult::NotStarted;
    }
    entry.contained = container != port::kNullHandle;
    return Supervise(entry, port::UniqueHandle(started), onExit) ? LaunchResult::Started
                                                                 : LaunchResult::NotStarted;
}
