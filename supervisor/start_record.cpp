#include "supervisor/start_record.h"

#include "common/text.h"
#include "console/console.h"
#include "port/file.h"
#include "port/identity.h"
#include "port/system.h"

#include <cstdint>

namespace {

// The rows as they are now, each with its process's start time (a row whose
// process has ended meanwhile is left out), in place of the file.
void OnWriteDue(void* context) {
    WriteStartRecord(*static_cast<StartRecord*>(context));
}

} // namespace

std::string FormatStartRecord(const std::vector<RecordedProcess>& rows) {
    std::string text;
    for (const RecordedProcess& row : rows)
        text += std::to_string(row.processId) + '\t' + std::to_string(row.startTime) + '\t' +
                (row.container.empty() ? std::string("-") : row.container) + '\t' +
                std::to_string(row.place) + '\t' + row.name + '\n';
    return text;
}

std::vector<RecordedProcess> ParseStartRecord(std::string_view text) {
    std::vector<RecordedProcess> rows;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::string_view fields[4];
        bool whole = true;
        for (std::string_view& field : fields) {
            const std::size_t tab = line.find('\t');
            whole = whole && tab != std::string_view::npos;
            field = line.substr(0, tab);
            line.remove_prefix(whole ? tab + 1 : line.size());
        }
        RecordedProcess row;
        std::uint64_t id = 0;
        std::uint64_t place = 0;
        if (!whole || line.empty() || !ParseWholeNumber(fields[0], 0xFFFFFFFFu, &id) || id == 0 ||
            !ParseWholeNumber(fields[1], UINT64_MAX, &row.startTime) ||
            !ParseWholeNumber(fields[3], 1000, &place))
            continue;
        row.processId = static_cast<std::uint32_t>(id);
        row.place = static_cast<int>(place);
        row.container = fields[2] == "-" ? std::string() : std::string(fields[2]);
        row.name = std::string(line);
        rows.push_back(row);
    }
    return rows;
}

void LoadStartRecord(StartRecord& record) {
    std::string path;
    std::string text;
    if (!port::StartRecordPath(&path))
        return;
    if (port::ReadPlainFile(path.c_str(), kMaxStartRecordBytes, &text))
        record.loaded = ParseStartRecord(text);
    else if (port::LastError() != port::kErrorFileNotFound)
        PrintMessage("Ignored the record of started processes %s: %s.", path.c_str(),
                     port::LastErrorText().c_str());
}

const RecordedProcess* RecordedProcessOf(const StartRecord& record, std::string_view name,
                                         int place) {
    for (const RecordedProcess& row : record.loaded)
        if (row.name == name && row.place == place)
            return &row;
    return nullptr;
}

void RecordProcess(StartRecord& record, const RecordedProcess& row) {
    bool replaced = false;
    for (RecordedProcess& existing : record.current)
        if (existing.name == row.name && existing.place == row.place) {
            existing = row;
            replaced = true;
        }
    if (!replaced)
        record.current.push_back(row);
    // Written once the loop comes round; should no timer be left, now.
    if (!record.write.Pending() && !record.write.Start(0, OnWriteDue, &record))
        WriteStartRecord(record);
}

void WriteStartRecord(StartRecord& record) {
    record.write.Cancel();
    std::vector<RecordedProcess> rows;
    for (RecordedProcess& row : record.current)
        if (row.startTime != 0 || port::ProcessStartTime(row.processId, &row.startTime))
            rows.push_back(row);
    record.current = rows;
    // A record that cannot be written only costs a later manager its hint.
    std::string path;
    if (port::StartRecordPath(&path))
        port::ReplaceFile(path.c_str(), FormatStartRecord(rows));
}
