// What the file says of an application's place among the others and of its
// readiness: [After] (the applications it starts after), [Ready] (what makes
// it ready once started), [ReadyTimeout], [Health] (the check that runs
// while it is ready) and [HealthFailures]. Without these sections an
// application is ready as soon as it is launched and is never checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A TCP endpoint: "N" (127.0.0.1:N) or "HOST:N", where HOST is a numeric
// IPv4 address, an IPv6 address in brackets, or "localhost". Names are never
// resolved: a look-up could wait on the network.
struct TcpAddress {
    std::string host = "127.0.0.1"; // numeric; IPv6 without its brackets
    std::uint16_t port = 0;

    bool operator==(const TcpAddress&) const = default;
};

// An http:// address: "http://HOST[:PORT][/PATH]", HOST as in TcpAddress
// (an IPv6 address in brackets), PORT 80 when not given, PATH "/" when not
// given. The path is sent as written, so it may hold no blanks or controls;
// a "#fragment" is not part of it.
struct HttpUrl {
    TcpAddress address;
    std::string path = "/";
    std::string hostHeader; // the HOST[:PORT] as written, for the Host: line

    bool operator==(const HttpUrl&) const = default;
};

struct ReadyRule {
    enum class Kind : std::uint8_t {
        Launched, // ready once launched: no rule
        Port,     // "port N": a TCP connection to it succeeds
        Delay,    // "delay S": S seconds after the launch
        Output,   // "output TEXT": a line of its captured output holds TEXT
        Notify,   // "notify": READY=1 on the manager's notify socket
        Http,     // "http://...": a GET is answered with a 2xx or 3xx status
    };
    Kind kind = Kind::Launched;
    TcpAddress address;        // Port
    HttpUrl url;               // Http
    std::uint32_t delayMs = 0; // Delay
    std::string text;          // Output

    bool operator==(const ReadyRule&) const = default;
};

struct HealthCheck {
    enum class Kind : std::uint8_t {
        None,
        Port,    // "port N every S": a TCP connection succeeds
        Command, // "command "LINE" every S": LINE run through the shell ends with 0
        Http,    // "http://... every S": a GET is answered with a 2xx or 3xx status
    };
    Kind kind = Kind::None;
    TcpAddress address;             // Port
    HttpUrl url;                    // Http
    std::string command;            // Command
    std::uint32_t everySeconds = 0; // also the time limit of one check

    bool operator==(const HealthCheck&) const = default;
};

inline constexpr std::uint32_t kDefaultReadyTimeoutSeconds = 60;
inline constexpr std::uint32_t kDefaultHealthFailures = 3;

struct ReadinessSettings {
    std::vector<std::string> after; // [After]: display names, as written
    ReadyRule ready;
    // [ReadyTimeout]: seconds a start may take to become ready; 0: no limit.
    std::uint32_t readyTimeoutSeconds = kDefaultReadyTimeoutSeconds;
    HealthCheck health;
    std::uint32_t healthFailures = kDefaultHealthFailures; // in a row, at least 1
    // Entries that could not be read, as written, to be reported:
    // "ready rule TEXT", "health check TEXT".
    std::vector<std::string> ignored;

    bool operator==(const ReadinessSettings&) const = default;
};

// Reads one [Ready] value. False for one that is none of the rules.
bool ParseReadyRule(std::string_view text, ReadyRule* rule);

// Reads one [Health] value. False for one that is none of the checks.
bool ParseHealthCheck(std::string_view text, HealthCheck* check);

// Reads "N" or "HOST:N". False for anything else.
bool ParseTcpAddress(std::string_view text, TcpAddress* address);

// Reads "http://HOST[:PORT][/PATH]" (the scheme in any case). False for
// anything else, a name other than localhost among them.
bool ParseHttpUrl(std::string_view text, HttpUrl* url);

class IniFile;

// The five sections' entries for the application `name`.
ReadinessSettings ReadReadiness(const IniFile& ini, const std::string& name);
