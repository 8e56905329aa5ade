// A plain HTTP/1.1 GET from the loop, for the http:// readiness rules and
// health checks: the request is sent and the status line read without
// waiting, within a time limit. A 2xx or 3xx status is a success; any other
// status, an answer that is not HTTP, a refused or reset connection or no
// status line in time is a failure.
#pragma once

#include "config/readiness.h"
#include "supervisor/watches.h"

#include <cstdint>
#include <string>
#include <string_view>

// The longest status line read; an answer without one by then is no HTTP.
inline constexpr std::size_t kStatusLineMost = 1024;

// The most time one GET is given.
inline constexpr std::uint32_t kHttpLimitMostMs = 10000;

enum class StatusLine : std::uint8_t {
    Incomplete, // more must come to tell
    Success,    // 2xx or 3xx
    Failure,    // another status, or not an HTTP status line
};

// Reads the status line ("HTTP/1.x DDD reason", ended by a line end, or by
// the end of the answer when `ended`) at the start of `received`. *status
// is its code, 0 when there is none.
StatusLine ReadStatusLine(std::string_view received, bool ended, int* status);

// The request for `url`: a GET of its path with its Host, asking the server
// to close the connection after its answer.
std::string HttpRequest(const HttpUrl& url);

// Starts a GET of `url` within `limitMs`: done(entry, success) once it is
// decided. A GET under way is dropped. False, calling nothing, when it
// could not be started.
bool StartHttpGet(HttpGet& get, AppEntry& entry, const HttpUrl& url, std::uint32_t limitMs,
                  HttpDone done);

// Drops the GET under way, if any, without calling its done.
void DropHttpGet(HttpGet& get);
