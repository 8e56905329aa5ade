#include "app/systemd_unit.h"

namespace {

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text)
        if (c < 32 || c == 127)
            return true;
    return false;
}

bool EndsInBlank(const std::string& text) {
    return !text.empty() && (text.back() == ' ' || text.back() == '\t');
}

// `text` with every '%' written twice.
std::string PercentDoubled(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '%')
            out += c;
        out += c;
    }
    return out;
}

// Why the facts cannot stand in a unit; null when they can.
const char* Unfit(const UnitFacts& facts) {
    if (HasControlByte(facts.program))
        return "the program's path holds a control byte, which a unit cannot carry";
    if (facts.program.find_first_of("\"'\\") != std::string::npos)
        return "the program's path holds a quote or a backslash, which systemd refuses in the "
               "name of an executable";
    if (HasControlByte(facts.directory))
        return "the working directory holds a control byte, which a unit cannot carry";
    if (EndsInBlank(facts.directory))
        return "the working directory ends in a blank, which systemd would drop";
    if (HasControlByte(facts.user) || HasControlByte(facts.runtimeDirectory))
        return "the user name or ZELKAPPMGR_RUNTIME_DIR holds a control byte, which a unit "
               "cannot carry";
    return nullptr;
}

} // namespace

std::string UnitExecutable(const std::string& path) {
    const bool blank = path.find(' ') != std::string::npos;
    return PercentDoubled(blank ? '"' + path + '"' : path);
}

std::string UnitValue(const std::string& text) {
    return PercentDoubled(text);
}

bool WriteSystemdUnit(const UnitFacts& facts, std::string* unit, std::string* problem) {
    if (const char* why = Unfit(facts)) {
        *problem = why;
        return false;
    }
    std::string& u = *unit;
    u = "# The Zelk Application Manager for " + facts.directory + ", as\n";
    u += "# `zelkappmgr --print-service` wrote it. Save it as\n"
         "# /etc/systemd/system/zelkappmgr.service, then:\n"
         "#   systemctl daemon-reload && systemctl enable --now zelkappmgr\n"
         "#   journalctl -u zelkappmgr -f          the manager's log\n"
         "#   zelkappmgr --status                   as the user it runs as\n"
         "[Unit]\n"
         "Description=Zelk Application Manager\n"
         "After=network.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "# The manager reads zelkappmgr.ini from its working directory.\n";
    u += "WorkingDirectory=" + UnitValue(facts.directory) + "\n";
    u += "ExecStart=" + UnitExecutable(facts.program) + " --headless\n";
    u += "# systemctl reload: SIGHUP, on which the manager reads zelkappmgr.ini again.\n"
         "ExecReload=/bin/kill -HUP $MAINPID\n";
    if (!facts.user.empty())
        u += "User=" + UnitValue(facts.user) + "\n";
    u += "# The lock and the control socket live in /run/zelkappmgr (root),\n"
         "# /run/user/<uid>/zelkappmgr or /tmp/zelkappmgr-<uid>. With a private /tmp\n"
         "# and a user without /run/user/<uid>, give them a place that managers and\n"
         "# clients outside the service share (and set the same variable for them):\n"
         "#PrivateTmp=yes\n"
         "#RuntimeDirectory=zelkappmgr\n"
         "#RuntimeDirectoryMode=0700\n";
    if (facts.runtimeDirectory.empty()) {
        u += "#Environment=ZELKAPPMGR_RUNTIME_DIR=/run/zelkappmgr\n";
    } else {
        // Quoted, with C escapes for a quote and a backslash.
        std::string variable = "\"ZELKAPPMGR_RUNTIME_DIR=";
        for (char c : facts.runtimeDirectory)
            variable += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        u += "# Set where this unit was written: the clients there meet the service.\n";
        u += "Environment=" + UnitValue(variable + '"') + "\n";
    }
    u += "# SIGTERM to the manager alone: it stops every application itself (with\n"
         "# StopTimeout, politely), then ends; whatever is left then gets SIGKILL.\n"
         "KillMode=mixed\n";
    if (facts.longestReadySeconds == kUnlimitedStartSeconds) {
        u += "# READY=1 comes once every application is ready ([Ready]): a [ReadyTimeout]\n"
             "# of 0 in zelkappmgr.ini lets that take any time.\n";
    } else if (facts.longestReadySeconds > 0) {
        u += "# READY=1 comes once every application is ready ([Ready]): by the\n"
             "# [ReadyTimeout]s of zelkappmgr.ini, added up along a chain of [After],\n";
        u += "# within " + std::to_string(facts.longestReadySeconds) + " s.\n";
    } else {
        u += "# READY=1 comes once every application is ready ([Ready]).\n";
    }
    u += "TimeoutStartSec=" +
         (facts.startSeconds == kUnlimitedStartSeconds ? std::string("infinity")
                                                       : std::to_string(facts.startSeconds)) +
         "\n";
    if (facts.longestStopSeconds > 0) {
        u += "# Longer than the longest StopTimeout of zelkappmgr.ini (" +
             std::to_string(facts.longestStopSeconds) + " s), so that the\n";
        u += "# manager's own stops finish first.\n";
    }
    u += "TimeoutStopSec=" + std::to_string(facts.stopSeconds) + "\n";
    u += "Restart=on-failure\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
    return true;
}
