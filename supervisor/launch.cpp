#include "supervisor/launch.h"

#include "console/console.h"
#include "port/identity.h"
#include "supervisor/containment.h"
#include "supervisor/readiness.h"
#include "supervisor/start_record.h"
#include "supervisor/supervision.h"

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
    if (!entry.processRow.Add(process.Get(), onExit, &entry)) {
        PrintMessage("Too many processes to watch, %s is not supervised!",
                     entry.settings.name.c_str());
        return false;
    }
    entry.process = std::move(process);
    entry.startedMs = port::NowMs();
    if (entry.supervisedOnce)
        ++entry.restarts;
    entry.supervisedOnce = true;
    // A later manager finds it by the record (written once the loop comes
    // round, with the process's start time).
    RecordedProcess row;
    row.processId = port::ProcessIdOf(entry.process.Get());
    row.name = entry.settings.name;
    row.place = entry.place;
    if (entry.contained)
        row.container = entry.containerName;
    if (row.processId != 0)
        RecordProcess(supervision.record, row);
    return true;
}

std::optional<std::string> LaunchDirectory(const AppSettings& settings) {
    if (!settings.directory.empty())
        return settings.directory;
    const std::string::size_type cut = settings.path.rfind(port::kPathSeparator);
    if (cut == std::string::npos)
        return std::nullopt;
    return settings.path.substr(0, cut);
}

std::vector<std::string> LaunchEnvironment(AppEntry& entry) {
    std::vector<std::string> environment = entry.settings.environment;
    // With the "notify" rule: where to say that it is ready.
    std::string notify = NotifySocketVariable(supervision.notify, entry);
    if (!notify.empty())
        environment.push_back(std::move(notify));
    return environment;
}

std::vector<const char*> VariableList(const std::vector<std::string>& variables) {
    std::vector<const char*> list;
    for (const std::string& variable : variables)
        list.push_back(variable.c_str());
    list.push_back(nullptr);
    return list;
}

LaunchResult Launch(AppEntry& entry, WaitCallback onExit) {
    const AppSettings& settings = entry.settings;
    PrintMessage("Starting process %s.", settings.name.c_str());
    if (PathTooLong(entry))
        return LaunchResult::NotStarted;

    const std::optional<std::string> directory = LaunchDirectory(settings);
    const char* workingDirectory = directory ? directory->c_str() : nullptr;
    const std::vector<std::string> variables = LaunchEnvironment(entry);
    const std::vector<const char*> environment = VariableList(variables);

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
