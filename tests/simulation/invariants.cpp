#include "invariants.h"

#include "common/text.h"
#include "console/command_table.h"
#include "control/control_server.h"
#include "fake_port.h"
#include "loop/wait_table.h"
#include "port/user.h"
#include "supervisor/app_entry.h"
#include "supervisor/app_state.h"
#include "supervisor/app_table.h"
#include "world_state.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace sim {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool Contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::uint32_t PidOf(const AppEntry& entry) {
    return entry.process ? fake::PidOf(entry.process.Get()) : 0;
}

// Every application the configuration gives is listed once, under the
// number and name the README promises; removed numbers stay empty.
const char* CheckTable(const World& w, std::string* detail) {
    if (appTable.count != static_cast<int>(w.table.size())) {
        *detail = Format("the table has %d numbers, %zu expected", appTable.count, w.table.size());
        return "each application is listed once under its number";
    }
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const Slot& slot = w.table[static_cast<std::size_t>(i)];
        if (entry.settings.name != slot.name || IsRemoved(entry.state) != slot.removed) {
            *detail = Format("number %d is %s%s, expected %s%s", i, entry.settings.name.c_str(),
                             IsRemoved(entry.state) ? " (removed)" : "", slot.name.c_str(),
                             slot.removed ? " (removed)" : "");
            return "each application is listed once under its number";
        }
        const AppEntry* found = slot.removed ? nullptr : FindApplication(slot.name);
        if (!slot.removed &&
            (found == nullptr ||
             !AsciiEqualNoCase(std::string_view(found->settings.name), slot.name))) {
            *detail = Format("%s cannot be reached by its name", slot.name.c_str());
            return "each application is listed once under its number";
        }
    }
    return nullptr;
}

// "list" and --status show the table as it is.
const char* CheckShown(std::string* detail) {
    std::string& log = fake::Get().files["sim.log"];
    log.clear();
    ExecuteLine("list");
    std::vector<std::string> rows;
    int rules = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = std::min(log.find('\n', start), log.size());
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        const std::string text = line.size() > 20 ? line.substr(20) : "";
        if (text.rfind("====", 0) == 0)
            ++rules;
        else if (rules == 1)
            rows.push_back(text);
    }
    log.clear();
    const std::vector<AppStatus> status = CollectStatus();
    if (rows.size() != static_cast<std::size_t>(appTable.count) ||
        status.size() != static_cast<std::size_t>(appTable.count)) {
        *detail = Format("list shows %zu, --status %zu, the table has %d", rows.size(),
                         status.size(), appTable.count);
        return "list and --status show every number";
    }
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        char expected[300];
        std::snprintf(expected, sizeof expected, "%4d: %s %s", i, entry.settings.name.c_str(),
                      StateMark(entry.state));
        const AppStatus& row = status[static_cast<std::size_t>(i)];
        if (rows[static_cast<std::size_t>(i)] != expected || row.number != i ||
            row.name != entry.settings.name || row.processId != PidOf(entry)) {
            *detail = Format("number %d: list shows \"%s\", --status %d %s %u", i,
                             rows[static_cast<std::size_t>(i)].c_str(), row.number,
                             row.name.c_str(), row.processId);
            return "list and --status show every number";
        }
    }
    return nullptr;
}

// No two entries hold one process or one container; an entry holds a
// process of its own program, or one its own container holds, run by its
// user; a state agrees with the process.
const char* CheckProcesses(World& w, std::string* detail) {
    std::vector<std::uint32_t> held;
    std::vector<bool> sharers; // by held process: its entry may not share it
    std::vector<std::uint32_t> endedNow;
    std::vector<int> owners; // by held process: the entry that holds it
    std::vector<std::string> containers;
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const char* name = entry.settings.name.c_str();
        const std::uint32_t pid = PidOf(entry);
        const bool up = entry.state == AppState::Running || entry.state == AppState::Starting;
        const bool idle = entry.state == AppState::Stopped || entry.state == AppState::Waiting ||
                          entry.state == AppState::Failed || entry.state == AppState::Removed ||
                          entry.state == AppState::GaveUp;
        const fake::Process* p = fake::FindProcess(pid);
        // A process that ended after the loop's wait looked (ended by a
        // timer of the same pass) is noticed at the next wait: its row
        // must be there, and it must not be seen ended twice.
        const bool ended = p == nullptr || !p->alive;
        const bool watched =
            entry.process && std::find(waitTable.handles, waitTable.handles + waitTable.count,
                                       entry.process.Get()) != waitTable.handles + waitTable.count;
        if ((up && (!watched || (ended && Contains(w.endedSeen, pid)))) ||
            (idle && entry.process)) {
            *detail =
                Format("%d %s is %s with process %u (%s, %s)", i, name, StateWord(entry.state), pid,
                       p == nullptr ? "none"
                       : p->alive   ? "alive"
                                    : "ended",
                       watched ? "watched" : "not watched");
            return "a state agrees with its process";
        }
        if (up && ended)
            endedNow.push_back(pid);
        if (!entry.containerName.empty()) {
            if (entry.containerName == kForeignContainer) {
                *detail = Format("%d %s holds the foreign container", i, name);
                return "an entry holds only a container made for it";
            }
            if (std::find(containers.begin(), containers.end(), entry.containerName) !=
                containers.end()) {
                *detail = Format("%d %s holds container %s, as another entry does", i, name,
                                 entry.containerName.c_str());
                return "no two entries hold one container";
            }
            containers.push_back(entry.containerName);
        }
        if (pid == 0)
            continue;
        const bool ownProgram = p != nullptr && p->image == entry.settings.path;
        // As specified, two entries of one program attach to one running
        // copy (which one of them may then stop for a changed program),
        // unless the command line tells the copies apart (as it has done
        // since this manager started), or a container holds it.
        const auto other = std::find(held.begin(), held.end(), pid);
        if (other != held.end() && (!w.sharedCopies || entry.contained ||
                                    sharers[static_cast<std::size_t>(other - held.begin())])) {
            const int owner = owners[static_cast<std::size_t>(other - held.begin())];
            const AppEntry& first = *appTable.entries[owner];
            *detail = Format("%d %s (%s, %s '%s'%s) holds process %u of %s, as %d %s (%s, %s "
                             "'%s'%s) does",
                             i, name, entry.settings.path.c_str(),
                             entry.contained ? "in" : "beside", entry.containerName.c_str(),
                             entry.settings.attachByCommandLine ? ", by command line" : "", pid,
                             p == nullptr ? "?" : p->image.c_str(), owner,
                             first.settings.name.c_str(), first.settings.path.c_str(),
                             first.contained ? "in" : "beside", first.containerName.c_str(),
                             first.settings.attachByCommandLine ? ", by command line" : "");
            return "no two entries hold one process";
        }
        held.push_back(pid);
        owners.push_back(i);
        sharers.push_back(entry.contained);
        if (p == nullptr)
            continue;
        const bool ownContainer = !p->container.empty() && p->container == entry.containerName &&
                                  p->container != kForeignContainer;
        std::uint32_t userId = 0;
        const bool userKnown =
            entry.settings.user.empty() || port::UserIdByName(entry.settings.user.c_str(), &userId);
        // One that stops (for a restart with a changed program, say) may
        // still hold the process of its settings before.
        if (Contains(w.bystanders, pid) ||
            (up && ((!ownProgram && !ownContainer) ||
                    (!entry.settings.user.empty() && (!userKnown || p->userId != userId))))) {
            *detail = Format("%d %s (%s) holds process %u of %s in container '%s', user %u", i,
                             name, entry.settings.path.c_str(), pid, p->image.c_str(),
                             p->container.c_str(), p->userId);
            return "an entry holds only its own processes";
        }
    }
    w.endedSeen = endedNow;
    return nullptr;
}

// What the manager ended, asked or signalled was never a bystander, and
// no container it did not make.
const char* CheckBystanders(World& w, std::string* detail) {
    const fake::State& s = fake::Get();
    auto touched = [&](const std::vector<std::uint32_t>& list, std::size_t* seen,
                       const char* what) -> const char* {
        for (; *seen < list.size(); ++*seen) {
            if (Contains(w.bystanders, list[*seen])) {
                *detail = Format("bystander %u was %s", list[*seen], what);
                return "only an entry's own processes are signalled";
            }
        }
        return nullptr;
    };
    const char* broken = touched(s.killed, &w.killedSeen, "ended");
    if (broken == nullptr)
        broken = touched(s.asked, &w.askedSeen, "asked to end");
    if (broken == nullptr)
        broken = touched(s.endedGroups, &w.groupsSeen, "ended with its group");
    if (broken == nullptr)
        broken = touched(s.askedGroups, &w.askedGroupsSeen, "asked with its group");
    if (broken != nullptr)
        return broken;
    for (; w.signalsSeen < s.signalsSent.size(); ++w.signalsSeen) {
        if (Contains(w.bystanders, s.signalsSent[w.signalsSeen].first)) {
            *detail = Format("bystander %u was signalled", s.signalsSent[w.signalsSeen].first);
            return "only an entry's own processes are signalled";
        }
    }
    auto foreign = [&](const std::vector<std::string>& list, std::size_t* seen) {
        for (; *seen < list.size(); ++*seen)
            if (list[*seen] == kForeignContainer)
                return true;
        return false;
    };
    if (foreign(s.endedContainers, &w.endedContainersSeen) ||
        foreign(s.askedContainers, &w.askedContainersSeen)) {
        *detail = "the foreign container was ended or asked";
        return "only an entry's own processes are signalled";
    }
    for (std::uint32_t pid : w.bystanders) {
        const fake::Process* p = fake::FindProcess(pid);
        if (p == nullptr || !p->alive) {
            *detail = Format("bystander %u has ended", pid);
            return "only an entry's own processes are signalled";
        }
    }
    return nullptr;
}

// What the operator stopped stays stopped (across reloads too) until an
// operator starts it.
const char* CheckOperatorStops(World& w, std::string* detail) {
    for (auto& [number, pid] : w.stopped) {
        if (number >= appTable.count)
            continue;
        const AppEntry& entry = *appTable.entries[number];
        const std::uint32_t now = PidOf(entry);
        if (pid == kPidUnknown) {
            pid = now;
            continue;
        }
        if (now != 0 && now != pid) {
            *detail = Format("%d %s was stopped with process %u and now runs %u", number,
                             entry.settings.name.c_str(), pid, now);
            return "what the operator stopped stays stopped";
        }
    }
    return nullptr;
}

} // namespace

// What reads memory and asks over HTTP runs only while it should: a memory
// timer only for an application that is up and has a limit, a GET only
// while its rule or check is watched.
const char* CheckWatches(std::string* detail) {
    for (int i = 0; i < appTable.count; ++i) {
        const AppEntry& entry = *appTable.entries[i];
        const char* name = entry.settings.name.c_str();
        if (entry.memory.next.Pending() && (entry.settings.maxMemoryBytes == 0 || !IsUp(entry))) {
            *detail =
                Format("%s reads its memory while %s, limit %llu", name, StateWord(entry.state),
                       static_cast<unsigned long long>(entry.settings.maxMemoryBytes));
            return "memory is read only while a limit applies";
        }
        if ((entry.readiness.get.exchange && entry.state != AppState::Starting) ||
            (entry.health.get.exchange && entry.state != AppState::Running)) {
            *detail = Format("%s has a GET under way while %s", name, StateWord(entry.state));
            return "an http check runs only while it is watched";
        }
    }
    return nullptr;
}

const char* CheckInvariants(World& w, std::string* detail) {
    if (w.trace) {
        std::fputs(fake::Get().files["sim.log"].c_str(), stderr);
        for (int i = 0; i < appTable.count; ++i)
            std::fprintf(stderr, "    %d %s %s pid %u%s%s\n", i,
                         appTable.entries[i]->settings.name.c_str(),
                         StateWord(appTable.entries[i]->state), PidOf(*appTable.entries[i]),
                         appTable.entries[i]->contained ? " in " : "",
                         appTable.entries[i]->containerName.c_str());
    }
    const char* broken = CheckTable(w, detail);
    if (broken == nullptr)
        broken = CheckShown(detail);
    if (broken == nullptr)
        broken = CheckProcesses(w, detail);
    if (broken == nullptr)
        broken = CheckBystanders(w, detail);
    if (broken == nullptr)
        broken = CheckOperatorStops(w, detail);
    if (broken == nullptr)
        broken = CheckWatches(detail);
    if (broken == nullptr && !w.answerBroken.empty()) {
        *detail = w.answerBroken;
        broken = "a sent stop or restart answers once done, with its own lines";
    }
    if (broken == nullptr && fake::BadCloses() != 0) {
        *detail = Format("%d handles closed that were not open", fake::BadCloses());
        broken = "every handle is closed once";
    }
    return broken;
}

} // namespace sim
