// The configuration as the manager reads it from zelkappmgr.ini: the
// [General] keys, and the applications with everything the file says of
// each. Start-up and a reload read it the same way.
#pragma once

#include "supervisor/app_entry.h"

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

inline constexpr char kConfigFileName[] = "zelkappmgr.ini";

// [General] ExtraCommands, read at start-up only: the console commands
// beyond the nine ("reload", "tail").
extern bool ExtraCommandsFlag;

// One application of the configuration.
struct AppSettings {
    std::string name;
    std::string path;
    std::string parameters;
    AppPlace place;
    std::uint32_t stopTimeoutSeconds = 0;
};

// Says which section headers of the file are malformed (and so ignored).
void ReportMalformedHeaders(const IniFile& ini);

// [General] DisableCloseButton (on unless "no"): the console window's close
// item removed. Nothing without a console.
void ApplyCloseButtonOption(const IniFile& ini);

// Every [General] key back to its value without the key.
void ResetOperatorOptions();

// [General] LogFile: opens the log file, or closes it without the key;
// nothing when the path is the one open. Read before anything else is
// logged from the file, so that the file gets every entry.
void ReadLogFileOption(const IniFile& ini);

// Reads the optional [General] keys ReportExits, RetryFailedStarts,
// StopTimeout, EndLeftovers, RestartDelay, RestartDelayMax, MinUptime,
// GiveUpAfter and the Output keys, and makes the output directory.
void ReadOperatorOptions(const IniFile& ini);

// The applications of every [Applications] section, in file order, with
// their parameters, [WorkingDirectory], [Environment] (an entry that is no
// NAME=VALUE is reported and left out) and stop time limit ([StopTimeout],
// else [General] StopTimeout).
std::vector<AppSettings> ReadApplications(const IniFile& ini);

// Appends an application to the table: it attaches to a running copy or
// starts. Refused, with a message, beyond the table's 15 entries or when its
// output would share the file of another.
void CreateApplication(const AppSettings& settings);

// Creates the applications of the configuration, sharing one reading of the
// process list.
void CreateApplications(const IniFile& ini);
