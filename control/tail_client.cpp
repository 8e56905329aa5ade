#include "control/tail_client.h"

#include "capture/output_file.h"
#include "control/control_client.h"
#include "control/control_protocol.h"
#include "port/file.h"
#include "port/system.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kFollowPollMs = 200;
constexpr std::uint32_t kManagerCheckMs = 1000;
// How much of a file's end the first lines are taken from.
constexpr std::uint32_t kTailWindow = 64 * 1024;
// Rotations that may pass between two looks and still be read whole.
constexpr std::uint32_t kBackupsLookedAt = 3;

enum class Asked { Path, Refused, NoManager };

// Asks where the output is: *path, and the name as the manager spells it.
Asked AskOutput(const std::string& name, bool quiet, std::string* path, std::string* shown) {
    ControlReply reply;
    bool noManager = false;
    if (!AskManager(EncodeOutputRequest(name), &reply, &noManager, quiet))
        return Asked::NoManager;
    if (reply.failed || reply.lines.size() != 2) {
        for (const std::string& line : reply.lines)
            std::fprintf(stderr, "%s\n", line.c_str());
        return Asked::Refused;
    }
    *path = reply.lines[0];
    *shown = reply.lines[1];
    return Asked::Path;
}

// The file followed: which one, how far it was read, and the start of a
// line whose end has not come yet.
struct Followed {
    std::string path;
    bool known = false;
    port::FileIdentity identity;
    std::uint64_t offset = 0;
    std::string partial;
};

void PrintLines(Followed& followed, const char* bytes, std::size_t length) {
    followed.partial.append(bytes, length);
    std::size_t start = 0;
    for (std::size_t end; (end = followed.partial.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::size_t cut = end;
        if (cut > start && followed.partial[cut - 1] == '\r')
            --cut;
        std::fwrite(followed.partial.data() + start, 1, cut - start, stdout);
        std::fputc('\n', stdout);
    }
    followed.partial.erase(0, start);
}

// Reads `path` on from the followed offset while it is the followed file.
void ReadOn(Followed& followed, const std::string& path) {
    std::vector<char> buffer(kTailWindow);
    for (;;) {
        std::uint32_t length = 0;
        port::FileIdentity identity;
        std::uint64_t size = 0;
        if (!port::ReadFileAt(path.c_str(), followed.offset, buffer.data(), kTailWindow, &length,
                              &identity, &size) ||
            identity != followed.identity)
            return;
        PrintLines(followed, buffer.data(), length);
        followed.offset += length;
        if (length < kTailWindow)
            return;
    }
}

// One look at the file: what was added, or, when another file has its
// name, the rest of the one followed (now a backup) and then the new one.
void Look(Followed& followed) {
    char none[1];
    std::uint32_t length = 0;
    port::FileIdentity identity;
    std::uint64_t size = 0;
    if (!port::ReadFileAt(followed.path.c_str(), 0, none, 0, &length, &identity, &size))
        return; // not there yet, or between the renames of a rotation
    if (followed.known && identity != followed.identity) {
        for (std::uint32_t n = 1; n <= kBackupsLookedAt; ++n)
            ReadOn(followed, BackupPath(followed.path, n));
        followed.offset = 0;
    }
    followed.known = true;
    followed.identity = identity;
    if (size < followed.offset)
        followed.offset = 0; // emptied
    ReadOn(followed, followed.path);
    std::fflush(stdout);
}

// The lines of the last kTailWindow bytes before `end` of `path`; the first
// is dropped when it may be cut short.
std::vector<std::string> LinesBefore(const std::string& path, std::uint64_t end) {
    std::vector<std::string> lines;
    const std::uint64_t start = end > kTailWindow ? end - kTailWindow : 0;
    std::vector<char> buffer(kTailWindow);
    std::uint32_t length = 0;
    port::FileIdentity identity;
    std::uint64_t size = 0;
    if (!port::ReadFileAt(path.c_str(), start, buffer.data(),
                          static_cast<std::uint32_t>(end - start), &length, &identity, &size))
        return lines;
    std::string text(buffer.data(), length);
    std::size_t from = 0;
    if (start > 0)
        from = text.find('\n') == std::string::npos ? text.size() : text.find('\n') + 1;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos)
            to = text.size();
        std::size_t cut = to;
        if (cut > from && text[cut - 1] == '\r')
            --cut;
        lines.push_back(text.substr(from, cut - from));
        from = to + 1;
    }
    return lines;
}

// The last `count` complete lines up to the followed offset, from the file
// and, when it holds fewer, its first backup; a line still being written
// is kept back for the follow (printed at once when not following).
void PrintLastLines(Followed& followed, int count, bool follow) {
    std::vector<std::string> lines = LinesBefore(followed.path, followed.offset);
    if (!lines.empty() && followed.offset > 0) {
        // Whether the file ends in the middle of a line: its end is kept back.
        char last = '\n';
        std::uint32_t length = 0;
        port::FileIdentity identity;
        std::uint64_t size = 0;
        if (port::ReadFileAt(followed.path.c_str(), followed.offset - 1, &last, 1, &length,
                             &identity, &size) &&
            length == 1 && last != '\n' && follow) {
            followed.partial = lines.back();
            lines.pop_back();
        }
    }
    if (lines.size() < static_cast<std::size_t>(count)) {
        const std::string backup = BackupPath(followed.path, 1);
        char none[1];
        std::uint32_t length = 0;
        port::FileIdentity identity;
        std::uint64_t size = 0;
        if (port::ReadFileAt(backup.c_str(), 0, none, 0, &length, &identity, &size)) {
            std::vector<std::string> before = LinesBefore(backup, size);
            before.insert(before.end(), lines.begin(), lines.end());
            lines.swap(before);
        }
    }
    const std::size_t first =
        lines.size() > static_cast<std::size_t>(count) ? lines.size() - count : 0;
    for (std::size_t i = first; i < lines.size(); ++i)
        std::printf("%s\n", lines[i].c_str());
    std::fflush(stdout);
}

} // namespace

int TailMain(const TailRequest& request) {
    Followed followed;
    std::string shown;
    if (AskOutput(request.name, false, &followed.path, &shown) != Asked::Path)
        return 1;
    char none[1];
    std::uint32_t length = 0;
    std::uint64_t size = 0;
    followed.known =
        port::ReadFileAt(followed.path.c_str(), 0, none, 0, &length, &followed.identity, &size);
    if (followed.known) {
        followed.offset = size;
        PrintLastLines(followed, request.lines, request.follow);
    } else if (!request.follow) {
        std::fprintf(stderr, "No output of %s yet.\n", shown.c_str());
        return 1;
    }
    if (!request.follow)
        return 0;
    std::uint64_t nextCheck = port::NowMs() + kManagerCheckMs;
    for (;;) {
        port::SleepMs(kFollowPollMs);
        Look(followed);
        if (port::NowMs() < nextCheck)
            continue;
        nextCheck = port::NowMs() + kManagerCheckMs;
        std::string path;
        switch (AskOutput(request.name, true, &path, &shown)) {
        case Asked::Path:
            break;
        case Asked::NoManager:
            Look(followed); // what it wrote last
            return 0;
        case Asked::Refused:
            return 1;
        }
    }
}
