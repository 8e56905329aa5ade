#include "supervisor/http_get.h"

#include <algorithm>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void Decide(HttpGet& get, bool success) {
    AppEntry& entry = *get.entry;
    const HttpDone done = get.done;
    DropHttpGet(get);
    done(entry, success);
}

void OnExchange(WaitTable*, std::int32_t, void* context) {
    HttpGet& get = *static_cast<HttpGet*>(context);
    const port::Exchange step = port::AdvanceExchange(get.exchange.Get(), &get.answer);
    if (step == port::Exchange::Failed) {
        Decide(get, false);
        return;
    }
    int status = 0;
    const StatusLine line = ReadStatusLine(get.answer, step == port::Exchange::Closed, &status);
    if (line != StatusLine::Incomplete)
        Decide(get, line == StatusLine::Success);
}

void OnLimit(void* context) {
    Decide(*static_cast<HttpGet*>(context), false);
}

} // namespace

StatusLine ReadStatusLine(std::string_view received, bool ended, int* status) {
    *status = 0;
    const std::size_t end = received.find('\n');
    if (end == std::string_view::npos && !ended)
        return received.size() >= kStatusLineMost ? StatusLine::Failure : StatusLine::Incomplete;
    std::string_view line = received.substr(0, std::min(end, kStatusLineMost));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    // "HTTP/" DIGIT "." DIGIT SP DIGIT DIGIT DIGIT, then a blank and a reason or nothing.
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || !IsDigit(line[5]) || line[6] != '.' ||
        !IsDigit(line[7]) || line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) ||
        !IsDigit(line[11]) || (line.size() > 12 && line[12] != ' '))
        return StatusLine::Failure;
    *status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    return *status >= 200 && *status <= 399 ? StatusLine::Success : StatusLine::Failure;
}

std::string HttpRequest(const HttpUrl& url) {
    return "GET " + url.path + " HTTP/1.1\r\nHost: " + url.hostHeader +
           "\r\nUser-Agent: zelkappmgr\r\nAccept: */*\r\nConnection: close\r\n\r\n";
}

bool StartHttpGet(HttpGet& get, AppEntry& entry, const HttpUrl& url, std::uint32_t limitMs,
                  HttpDone done) {
    DropHttpGet(get);
    get.entry = &entry;
    get.done = done;
    get.exchange.Reset(
        port::BeginExchange(url.address.host.c_str(), url.address.port, HttpRequest(url)));
    if (!get.exchange || !get.row.Add(get.exchange.Get(), OnExchange, &get) ||
        !get.limit.Start(std::min(limitMs, kHttpLimitMostMs), OnLimit, &get)) {
        DropHttpGet(get);
        return false;
    }
    return true;
}

void DropHttpGet(HttpGet& get) {
    get.limit.Cancel();
    get.row.Remove();
    get.exchange.Reset();
    get.answer.clear();
}
