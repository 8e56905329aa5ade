// The record of the processes the manager supervises, kept where a later
// manager finds it (port/identity.h): for each application its process id,
// that process's start time and the container that holds it. A manager
// reads it once as it starts, so that, among the copies of an executable,
// each entry attaches to the process started for it; it rewrites it
// whenever an application's process changes. One line per application:
// id, start time, container ("-" for none), its place among applications
// listed under the same name (0 for the first), display name, separated by
// tabs.
#pragma once

#include "loop/timers.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A record larger than this is none this manager wrote (15 rows take a few
// KiB): it is ignored rather than read.
inline constexpr std::uint32_t kMaxStartRecordBytes = 64 * 1024;

struct RecordedProcess {
    std::uint32_t processId = 0;
    std::uint64_t startTime = 0;
    std::string container; // empty: none
    int place = 0;
    std::string name;
};

std::string FormatStartRecord(const std::vector<RecordedProcess>& rows);

// The rows of a record; lines that are not rows are left out.
std::vector<RecordedProcess> ParseStartRecord(std::string_view text);

// What this manager knows of the record: the rows the earlier manager left,
// the rows of what it supervises itself, and whether those were changed
// since they were last written.
struct StartRecord {
    std::vector<RecordedProcess> loaded;
    std::vector<RecordedProcess> current;
    ScopedTimer write; // the write of changed rows, once the loop comes round
};

// Reads the record that an earlier manager left: a plain file of at most
// kMaxStartRecordBytes; anything else there is ignored, and that is said.
void LoadStartRecord(StartRecord& record);

// What that record says of the application listed as `name` (exactly) at
// `place` among those of that name; null when it says nothing.
const RecordedProcess* RecordedProcessOf(const StartRecord& record, std::string_view name,
                                         int place);

// The process of the application `row.name` at `row.place` is now the one
// with the id `row.processId` (its start time is read when the row is
// written). The record is written anew once the event loop comes round, so
// that the starts of one pass cost one write and none of them waits for it.
void RecordProcess(StartRecord& record, const RecordedProcess& row);

// Writes the changed rows now, if any (the manager's end).
void WriteStartRecord(StartRecord& record);
