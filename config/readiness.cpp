#include "config/readiness.h"

#include "common/shell_words.h"
#include "common/text.h"
#include "config/ini_file.h"

#include <algorithm>

namespace {

// The first word (up to a blank) and the rest after the blanks that follow it.
std::string_view FirstWord(std::string_view text, std::string_view* rest) {
    text = TrimBlanks(text);
    const std::size_t end = text.find_first_of(kSpaceAndTab);
    *rest = end == std::string_view::npos ? std::string_view() : TrimBlanks(text.substr(end));
    return text.substr(0, end);
}

// Seconds with up to three decimals ("1", "1.5", "0.25") in milliseconds.
bool ReadSecondsMs(std::string_view text, std::uint32_t* ms) {
    const std::size_t dot = text.find('.');
    std::uint64_t whole = 0;
    if (!ParseWholeNumber(text.substr(0, dot), 86400, &whole))
        return false;
    std::uint64_t fraction = 0;
    if (dot != std::string_view::npos) {
        std::string_view decimals = text.substr(dot + 1);
        if (decimals.empty() || decimals.size() > 3 || !ParseWholeNumber(decimals, 999, &fraction))
            return false;
        for (std::size_t i = decimals.size(); i < 3; ++i)
            fraction *= 10;
    }
    *ms = static_cast<std::uint32_t>(whole * 1000 + fraction);
    return true;
}

bool IsIpv4(std::string_view text) {
    int parts = 0;
    while (parts < 4) {
        const std::size_t dot = text.find('.');
        std::uint64_t value = 0;
        if (!ParseWholeNumber(text.substr(0, dot), 255, &value) || text.substr(0, dot).size() > 3)
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        text.remove_prefix(dot + 1);
    }
    return parts == 4;
}

bool IsIpv6(std::string_view text) {
    return text.size() >= 2 && text.find(':') != std::string_view::npos &&
           text.find_first_not_of("0123456789abcdefABCDEF:.") == std::string_view::npos;
}

// "... every S": the part before it and S (whole seconds, at least 1).
bool SplitEvery(std::string_view text, std::string_view* before, std::uint32_t* seconds) {
    text = TrimBlanks(text);
    const std::size_t blank = text.find_last_of(kSpaceAndTab);
    std::uint64_t value = 0;
    if (blank == std::string_view::npos ||
        !ParseWholeNumber(text.substr(blank + 1), 86400, &value) || value == 0)
        return false;
    text = TrimBlanks(text.substr(0, blank));
    const std::size_t wordStart = text.find_last_of(kSpaceAndTab);
    const std::size_t start = wordStart == std::string_view::npos ? 0 : wordStart + 1;
    if (!AsciiEqualNoCase(text.substr(start), "every"))
        return false;
    *before = TrimBlanks(text.substr(0, start));
    *seconds = static_cast<std::uint32_t>(value);
    return true;
}

} // namespace

bool ParseTcpAddress(std::string_view text, TcpAddress* address) {
    text = TrimBlanks(text);
    TcpAddress read;
    const std::size_t colon = text.rfind(':');
    std::string_view port = text;
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (AsciiEqualNoCase(host, "localhost"))
            read.host = "127.0.0.1";
        else if (IsIpv4(host))
            read.host = std::string(host);
        else if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
                 IsIpv6(host.substr(1, host.size() - 2)))
            read.host = std::string(host.substr(1, host.size() - 2));
        else
            return false;
    }
    std::uint64_t number = 0;
    if (!ParseWholeNumber(port, 65535, &number) || number == 0)
        return false;
    read.port = static_cast<std::uint16_t>(number);
    *address = read;
    return true;
}

bool ParseHttpUrl(std::string_view text, HttpUrl* url) {
    text = TrimBlanks(text);
    constexpr std::string_view kScheme = "http://";
    if (text.size() < kScheme.size() || !AsciiEqualNoCase(text.substr(0, kScheme.size()), kScheme))
        return false;
    text.remove_prefix(kScheme.size());
    text = text.substr(0, text.find('#'));
    const std::size_t slash = text.find_first_of("/?");
    const std::string_view authority = text.substr(0, slash);
    HttpUrl read;
    if (slash != std::string_view::npos) {
        // A query straight after the host asks for the root.
        read.path.assign(text[slash] == '/' ? "" : "/");
        read.path.append(text.substr(slash));
    }
    for (const char c : read.path)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
            return false;
    // Without a port after the host (an IPv6 address ends with its bracket): 80.
    const std::size_t colon = authority.rfind(':');
    const bool hasPort = colon != std::string_view::npos &&
                         (authority.front() != '[' || colon > authority.rfind(']'));
    if (authority.empty() || (hasPort && colon == 0))
        return false;
    std::string written(authority);
    if (!hasPort)
        written.append(":80");
    if (!ParseTcpAddress(written, &read.address))
        return false;
    read.hostHeader = std::string(authority);
    *url = read;
    return true;
}

bool ParseReadyRule(std::string_view text, ReadyRule* rule) {
    std::string_view rest;
    const std::string_view word = FirstWord(text, &rest);
    ReadyRule read;
    if (rest.empty() && ParseHttpUrl(word, &read.url)) {
        read.kind = ReadyRule::Kind::Http;
    } else if (AsciiEqualNoCase(word, "port")) {
        read.kind = ReadyRule::Kind::Port;
        if (!ParseTcpAddress(rest, &read.address))
            return false;
    } else if (AsciiEqualNoCase(word, "delay")) {
        read.kind = ReadyRule::Kind::Delay;
        if (!ReadSecondsMs(rest, &read.delayMs))
            return false;
    } else if (AsciiEqualNoCase(word, "output")) {
        read.kind = ReadyRule::Kind::Output;
        read.text = std::string(rest);
        if (read.text.empty())
            return false;
    } else if (AsciiEqualNoCase(word, "notify") && rest.empty()) {
        read.kind = ReadyRule::Kind::Notify;
    } else {
        return false;
    }
    *rule = read;
    return true;
}

bool ParseHealthCheck(std::string_view text, HealthCheck* check) {
    std::string_view rest;
    const std::string_view word = FirstWord(text, &rest);
    HealthCheck read;
    std::string_view target;
    if (ParseHttpUrl(word, &read.url)) {
        read.kind = HealthCheck::Kind::Http;
        if (!SplitEvery(rest, &target, &read.everySeconds) || !target.empty())
            return false;
        *check = read;
        return true;
    }
    if (!SplitEvery(rest, &target, &read.everySeconds))
        return false;
    if (AsciiEqualNoCase(word, "port")) {
        read.kind = HealthCheck::Kind::Port;
        if (!ParseTcpAddress(target, &read.address))
            return false;
    } else if (AsciiEqualNoCase(word, "command")) {
        read.kind = HealthCheck::Kind::Command;
        if (target.size() < 3 || target.front() != '"' || target.back() != '"')
            return false;
        read.command = std::string(target.substr(1, target.size() - 2));
    } else {
        return false;
    }
    *check = read;
    return true;
}

ReadinessSettings ReadReadiness(const IniFile& ini, const std::string& name) {
    ReadinessSettings read;
    std::string value;
    if (ini.GetString("After", name, value))
        read.after = SplitShellWords(value);
    value.clear();
    if (ini.GetString("Ready", name, value) && !ParseReadyRule(value, &read.ready))
        read.ignored.push_back("ready rule " + value);
    ReadSeconds(ini, "ReadyTimeout", name, 86400, &read.readyTimeoutSeconds);
    value.clear();
    if (ini.GetString("Health", name, value) && !ParseHealthCheck(value, &read.health))
        read.ignored.push_back("health check " + value);
    value.clear();
    if (ini.GetString("HealthFailures", name, value)) {
        const int failures = ParseLeadingInt(value.c_str());
        read.healthFailures =
            failures <= 0 ? 1 : static_cast<std::uint32_t>(std::min(failures, 1000));
    }
    return read;
}
