#include "control/control_protocol.h"

#include "common/text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kSendPrefix[] = "send ";
constexpr char kStatusWord[] = "status";
constexpr char kReloadWord[] = "reload";
constexpr char kReadyPrefix[] = "ready ";
constexpr char kOutputPrefix[] = "output ";
constexpr char kReplyOk[] = "ok ";         // and the number of payload lines
constexpr char kReplyFailed[] = "failed "; // the same, for a request that failed
constexpr char kWaitNotice[] = "wait ";    // and the most milliseconds the reply may take
constexpr char kReplyErrorPrefix[] = "error: ";

std::string Number(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

// A whole unsigned decimal number: digits only, within 64 bits.
bool ReadNumber(std::string_view text, std::uint64_t* value) {
    return ParseWholeNumber(text, ~std::uint64_t{0}, value);
}

std::string EncodeLastExit(const LastExit& exit) {
    switch (exit.kind) {
    case LastExit::Kind::Code:
        return "code:" + Number(exit.value);
    case LastExit::Kind::Signal:
        return "signal:" + Number(exit.value);
    case LastExit::Kind::None:
        break;
    }
    return "-";
}

bool DecodeLastExit(std::string_view text, LastExit* exit) {
    *exit = LastExit{};
    if (text == "-")
        return true;
    std::uint64_t value = 0;
    if (text.substr(0, 5) == "code:" && ReadNumber(text.substr(5), &value) &&
        value <= 0xFFFFFFFFu) {
        *exit = LastExit{LastExit::Kind::Code, static_cast<std::uint32_t>(value)};
        return true;
    }
    if (text.substr(0, 7) == "signal:" && ReadNumber(text.substr(7), &value) && value <= 255) {
        *exit = LastExit{LastExit::Kind::Signal, static_cast<std::uint32_t>(value)};
        return true;
    }
    return false;
}

// A JSON string: quotes, backslashes and control bytes escaped; bytes 128
// to 255 taken as the Latin-1 characters of the same number, so that the
// output is valid whatever the name's bytes.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 32 || byte >= 127) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

} // namespace

std::string EncodeSendRequest(std::string_view line) {
    return std::string(kSendPrefix) + std::string(line) + "\n";
}

std::string EncodeStatusRequest() {
    return std::string(kStatusWord) + "\n";
}

std::string EncodeReloadRequest() {
    return std::string(kReloadWord) + "\n";
}

std::string EncodeReadyRequest(std::string_view name) {
    return std::string(kReadyPrefix) + std::string(name) + "\n";
}

std::string EncodeOutputRequest(std::string_view name) {
    return std::string(kOutputPrefix) + std::string(name) + "\n";
}

ControlRequest DecodeRequest(std::string_view text) {
    ControlRequest request;
    if (text.substr(0, sizeof kSendPrefix - 1) == kSendPrefix) {
        request.kind = ControlRequest::Kind::Send;
        request.line = std::string(text.substr(sizeof kSendPrefix - 1));
    } else if (text == kStatusWord) {
        request.kind = ControlRequest::Kind::Status;
    } else if (text == kReloadWord) {
        request.kind = ControlRequest::Kind::Reload;
    } else if (text.substr(0, sizeof kReadyPrefix - 1) == kReadyPrefix) {
        request.kind = ControlRequest::Kind::Ready;
        request.line = std::string(text.substr(sizeof kReadyPrefix - 1));
    } else if (text.substr(0, sizeof kOutputPrefix - 1) == kOutputPrefix) {
        request.kind = ControlRequest::Kind::Output;
        request.line = std::string(text.substr(sizeof kOutputPrefix - 1));
    }
    return request;
}

RequestLine FindRequestLine(std::string_view received, bool ended, std::string* line) {
    const std::size_t end = received.find('\n');
    if (end == std::string_view::npos) {
        // A CR at the end may be the first byte of a CR LF still to come.
        const bool crLast = !ended && !received.empty() && received.back() == '\r';
        if (received.size() > kMaxRequestLength + (crLast ? 1 : 0))
            return RequestLine::TooLong;
        if (!ended)
            return RequestLine::Incomplete;
        *line = std::string(received);
        return RequestLine::Complete;
    }
    std::string_view text = received.substr(0, end);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (text.size() > kMaxRequestLength)
        return RequestLine::TooLong;
    *line = std::string(text);
    return RequestLine::Complete;
}

std::string EncodeOkReply(const std::vector<std::string>& lines, bool failed) {
    std::string reply = (failed ? kReplyFailed : kReplyOk) + Number(lines.size()) + "\n";
    for (const std::string& line : lines)
        reply += line + "\n";
    return reply;
}

std::string EncodeWaitNotice(std::uint32_t ms) {
    return kWaitNotice + Number(ms) + "\n";
}

std::string EncodeErrorReply(std::string_view why) {
    return std::string(kReplyErrorPrefix) + WithoutControlBytes(why) + "\n";
}

ReplyState DecodeReply(std::string_view received, ControlReply* reply) {
    *reply = ControlReply{};
    // A wait notice before the reply tells how long it may take.
    const std::string_view waitPrefix = kWaitNotice;
    while (received.substr(0, waitPrefix.size()) == waitPrefix) {
        const std::size_t end = received.find('\n');
        if (end == std::string_view::npos)
            return ReplyState::Incomplete;
        if (!ReadNumber(received.substr(waitPrefix.size(), end - waitPrefix.size()),
                        &reply->waitMs))
            return ReplyState::Malformed;
        received.remove_prefix(end + 1);
    }
    const std::size_t headEnd = received.find('\n');
    if (headEnd == std::string_view::npos)
        return ReplyState::Incomplete;
    const std::string_view head = received.substr(0, headEnd);
    std::string_view rest = received.substr(headEnd + 1);
    const std::string_view errorPrefix = kReplyErrorPrefix;
    if (head.substr(0, errorPrefix.size()) == errorPrefix) {
        reply->error = std::string(head.substr(errorPrefix.size()));
        return ReplyState::Complete;
    }
    const std::string_view okPrefix = kReplyOk;
    const std::string_view failedPrefix = kReplyFailed;
    reply->failed = head.substr(0, failedPrefix.size()) == failedPrefix;
    const std::size_t prefix = reply->failed ? failedPrefix.size() : okPrefix.size();
    std::uint64_t expected = 0;
    if ((!reply->failed && head.substr(0, okPrefix.size()) != okPrefix) ||
        !ReadNumber(head.substr(prefix), &expected))
        return ReplyState::Malformed;
    reply->ok = true;
    while (reply->lines.size() < expected) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            return ReplyState::Incomplete;
        reply->lines.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
    return ReplyState::Complete;
}

namespace {

// "-" without the notify rule, else "+" and the status text.
std::string NotifyField(const AppStatus& s) {
    if (!s.notifies)
        return "-";
    std::string field(1, '+');
    field.append(WithoutControlBytes(s.statusText));
    return field;
}

// A number, or "-" when it is not known.
std::string Known(bool known, std::uint64_t value) {
    return known ? Number(value) : std::string("-");
}

bool ReadKnown(std::string_view field, bool* known, std::uint64_t* value) {
    *known = field != "-";
    *value = 0;
    return !*known || ReadNumber(field, value);
}

} // namespace

std::string EncodeStatusRecord(const AppStatus& s) {
    return Number(static_cast<std::uint64_t>(s.number)) + '\t' + s.state + '\t' +
           Number(s.processId) + '\t' + Number(s.upSeconds) + '\t' + Number(s.restarts) + '\t' +
           EncodeLastExit(s.lastExit) + '\t' +
           (s.startPending ? Number(s.nextStartSeconds) : std::string("-")) + '\t' +
           Number(s.quickExits) + '\t' + (s.healthChecked ? s.health : std::string("none")) + '\t' +
           NotifyField(s) + '\t' + s.containment + '\t' + Known(s.cpuKnown, s.cpuMs) + '\t' +
           Known(s.memoryKnown, s.memoryBytes) + '\t' +
           Known(s.maxMemoryBytes != 0, s.maxMemoryBytes) + '\t' + WithoutControlBytes(s.name);
}

bool DecodeStatusRecord(std::string_view text, AppStatus* status) {
    std::vector<std::string_view> fields;
    for (int i = 0; i < 14; ++i) {
        const std::size_t tab = text.find('\t');
        if (tab == std::string_view::npos)
            return false;
        fields.push_back(text.substr(0, tab));
        text.remove_prefix(tab + 1);
    }
    AppStatus s;
    std::uint64_t number = 0, pid = 0, up = 0, restarts = 0, quick = 0;
    if (!ReadNumber(fields[0], &number) || number > 1000 || !ReadNumber(fields[2], &pid) ||
        pid > 0xFFFFFFFFu || !ReadNumber(fields[3], &up) || !ReadNumber(fields[4], &restarts) ||
        restarts > 0xFFFFFFFFu || !DecodeLastExit(fields[5], &s.lastExit) ||
        !ReadNumber(fields[7], &quick) || quick > 0xFFFFFFFFu)
        return false;
    s.startPending = fields[6] != "-";
    if (s.startPending && !ReadNumber(fields[6], &s.nextStartSeconds))
        return false;
    s.quickExits = static_cast<std::uint32_t>(quick);
    s.healthChecked = fields[8] != "none";
    if (s.healthChecked) {
        if (fields[8] != "-" && fields[8] != "healthy" && fields[8] != "unhealthy")
            return false;
        s.health = std::string(fields[8]);
    }
    s.notifies = fields[9] != "-";
    if (s.notifies) {
        if (fields[9].empty() || fields[9][0] != '+')
            return false;
        s.statusText = std::string(fields[9].substr(1));
    }
    if (fields[1].empty() ||
        fields[1].find_first_not_of("abcdefghijklmnopqrstuvwxyz-") != std::string_view::npos)
        return false;
    if (fields[10].empty() ||
        fields[10].find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string_view::npos)
        return false;
    s.containment = std::string(fields[10]);
    bool limited = false;
    if (!ReadKnown(fields[11], &s.cpuKnown, &s.cpuMs) ||
        !ReadKnown(fields[12], &s.memoryKnown, &s.memoryBytes) ||
        !ReadKnown(fields[13], &limited, &s.maxMemoryBytes))
        return false;
    s.state = std::string(fields[1]);
    s.number = static_cast<int>(number);
    s.processId = static_cast<std::uint32_t>(pid);
    s.upSeconds = up;
    s.restarts = static_cast<std::uint32_t>(restarts);
    s.name = std::string(text);
    *status = s;
    return true;
}

std::string LastExitText(const LastExit& exit) {
    switch (exit.kind) {
    case LastExit::Kind::Code:
        return ExitCodeText(exit.value);
    case LastExit::Kind::Signal:
        return "signal " + Number(exit.value);
    case LastExit::Kind::None:
        break;
    }
    return "-";
}

namespace {

// Some application has a health check or the "notify" rule: the status has
// the columns for them.
bool ShowsReadiness(const std::vector<AppStatus>& apps) {
    return std::any_of(apps.begin(), apps.end(),
                       [](const AppStatus& s) { return s.healthChecked || s.notifies; });
}

std::string HealthText(const AppStatus& s) {
    return s.healthChecked ? s.health : "-";
}

std::string StatusText(const AppStatus& s) {
    return s.notifies && !s.statusText.empty() ? WithoutControlBytes(s.statusText) : "-";
}

bool ShowsMemoryLimit(const std::vector<AppStatus>& apps) {
    return std::any_of(apps.begin(), apps.end(),
                       [](const AppStatus& s) { return s.maxMemoryBytes != 0; });
}

// Seconds with two decimals.
std::string CpuSeconds(std::uint64_t ms) {
    std::string hundredths = Number(ms / 10 % 100);
    return Number(ms / 1000) + "." + (hundredths.size() < 2 ? "0" : "") + hundredths;
}

std::vector<std::string> StatusUsageCells(const AppStatus& s, bool memoryLimit) {
    std::vector<std::string> cells{s.cpuKnown ? CpuSeconds(s.cpuMs) : "-",
                                   s.memoryKnown ? SizeText(s.memoryBytes) : "-"};
    if (memoryLimit)
        cells.push_back(s.maxMemoryBytes != 0 ? SizeText(s.maxMemoryBytes) : "-");
    return cells;
}

} // namespace

std::string FormatStatusTable(const std::vector<AppStatus>& apps) {
    const bool readiness = ShowsReadiness(apps);
    const bool memoryLimit = ShowsMemoryLimit(apps);
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"NUM", "NAME", "STATE", "PID", "UPTIME(S)", "RESTARTS", "LAST EXIT",
                    "NEXT START(S)", "QUICK EXITS", "CPU(S)", "MEM"});
    if (memoryLimit)
        rows.back().push_back("MAX MEM");
    if (readiness) {
        rows.back().push_back("HEALTH");
        rows.back().push_back("STATUS TEXT");
    }
    rows.back().push_back("CONTAINMENT");
    for (const AppStatus& s : apps) {
        rows.push_back({Number(static_cast<std::uint64_t>(s.number)), WithoutControlBytes(s.name),
                        s.state, s.processId != 0 ? Number(s.processId) : "-",
                        s.processId != 0 ? Number(s.upSeconds) : "-", Number(s.restarts),
                        LastExitText(s.lastExit), s.startPending ? Number(s.nextStartSeconds) : "-",
                        Number(s.quickExits)});
        for (std::string& cell : StatusUsageCells(s, memoryLimit))
            rows.back().push_back(std::move(cell));
        if (readiness) {
            rows.back().push_back(HealthText(s));
            rows.back().push_back(StatusText(s));
        }
        rows.back().push_back(s.containment);
    }
    // Numbers and sizes are right-aligned, the name, the state, the last
    // exit, the health, the status text and the containment left-aligned.
    std::vector<bool> right = {true, false, false, true, true, true, false, true, true, true, true};
    if (memoryLimit)
        right.push_back(true);
    right.resize(rows[0].size(), false);
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                line += "  ";
            const std::string pad(widths[i] - row[i].size(), ' ');
            line += right[i] ? pad + row[i] : row[i] + pad;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string FormatStatusJson(const std::vector<AppStatus>& apps) {
    std::string out = "[";
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const AppStatus& s = apps[i];
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"number\": " + Number(static_cast<std::uint64_t>(s.number));
        out += ", \"name\": ";
        AppendJsonString(out, s.name);
        out += ", \"state\": \"" + s.state + "\"";
        out += ", \"pid\": " + (s.processId != 0 ? Number(s.processId) : std::string("null"));
        out += ", \"uptime_seconds\": " +
               (s.processId != 0 ? Number(s.upSeconds) : std::string("null"));
        out += ", \"restarts\": " + Number(s.restarts);
        out += ", \"last_exit_code\": " +
               (s.lastExit.kind == LastExit::Kind::Code ? Number(s.lastExit.value) : "null");
        out += ", \"last_exit_signal\": " +
               (s.lastExit.kind == LastExit::Kind::Signal ? Number(s.lastExit.value) : "null");
        out += ", \"next_start_seconds\": " +
               (s.startPending ? Number(s.nextStartSeconds) : std::string("null"));
        out += ", \"quick_exits\": " + Number(s.quickExits);
        out += ", \"cpu_seconds\": " + (s.cpuKnown ? CpuSeconds(s.cpuMs) : std::string("null"));
        out +=
            ", \"memory_bytes\": " + (s.memoryKnown ? Number(s.memoryBytes) : std::string("null"));
        if (ShowsMemoryLimit(apps))
            out += ", \"max_memory_bytes\": " +
                   (s.maxMemoryBytes != 0 ? Number(s.maxMemoryBytes) : std::string("null"));
        if (ShowsReadiness(apps)) {
            out += ", \"health\": ";
            if (HealthText(s) == "-")
                out += "null";
            else
                AppendJsonString(out, HealthText(s));
            out += ", \"status_text\": ";
            if (StatusText(s) == "-")
                out += "null";
            else
                AppendJsonString(out, s.statusText);
        }
        out += ", \"containment\": \"" + s.containment + "\"";
        out += "}";
    }
    out += apps.empty() ? "]\n" : "\n]\n";
    return out;
}
