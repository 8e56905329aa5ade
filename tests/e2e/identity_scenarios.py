"""Which processes are an application's: the record of what the manager
started, the stricter attach rule of AttachByCommandLine, and containers
(ContainProcesses: a cgroup on Linux, a job object on Windows) that hold
what a program leaves behind."""

import json
import os
import pwd
import re
import shutil
import signal
import tempfile

from driver import check, scenario
from headless_scenarios import log_texts, wait_logged
from startup_scenarios import write_app_ini
from supervision_scenarios import App, start_with, wait_gone


class Copy:
    """One entry (or a process started by hand) running a shared executable,
    with a log of its own."""

    def __init__(self, d, base, exe, tag, extra=()):
        self.d = d
        self.exe = exe
        self.tag = tag
        self.log = d.track(os.path.join(base, tag + ".log"))
        self.args = ["--log", d.path(self.log.path), "--tag", tag] + list(extra)
        self.params = " ".join('"%s"' % a if " " in a else a for a in self.args)

    def start_by_hand(self, base):
        process = self.d.start_helper_outside(base, self.exe, self.args)
        return process, self.log_pid()

    def log_pid(self, index=0):
        return self.d.wait_until(lambda: len(self.log.starts()) > index and self.log.starts(),
                                 "start %d of %s" % (index + 1, self.tag))[index]["pid"]


def status(d):
    return d.wait_until(lambda: (lambda code, out, _: code == 0 and json.loads(out))(
        *d.client("--status", "--json")), "an answer to --status")


def shared_helper(d, base):
    return d.helper_copy(os.path.join(base, "shared"))


@scenario("record_tells_copies_apart")
def record_tells_copies_apart(d):
    """Two entries of one executable with different parameters, each with a
    process the manager started for it (as specified, the second attaches
    to the first's process until "restart 1" starts its own): after "quit"
    a new manager attaches each entry to the process it started (the
    record), not both to one, and "stop" of each ends only its own."""
    base = d.temp_dir("record")
    exe = shared_helper(d, base)
    one, two = Copy(d, base, exe, "one"), Copy(d, base, exe, "two")
    write_app_ini(d, base, [("one", exe, one.params), ("two", exe, two.params)])
    pane = d.start_manager(base)
    pane.wait_messages(["Starting process one.", "two already running, attached!"])
    pane.enter_line("restart 1")
    pids = [one.log_pid(1), two.log_pid()]
    pane.enter_line("quit")
    pane.wait_dead()

    pane = d.start_manager(base)
    pane.wait_messages(["one already running, attached!", "two already running, attached!"])
    check([a["pid"] for a in status(d)] == pids, "attached to %r, started %r"
          % ([a["pid"] for a in status(d)], pids))
    pane.command("stop 1", ["Terminating process two."])
    wait_gone(d, pids[1:], "two")
    check(d.alive(pids[:1]), "stop 1 ended one's process too")
    pane.command("stop 0", ["Terminating process one."])
    wait_gone(d, pids[:1], "one")


@scenario("other_parameters_are_adopted", modes=("native",))
def other_parameters_are_adopted(d):
    """Without AttachByCommandLine a copy started by hand with other
    parameters is the application's running copy, as specified."""
    base = d.temp_dir("adopt")
    exe = shared_helper(d, base)
    hand, mine = Copy(d, base, exe, "hand"), Copy(d, base, exe, "mine")
    outside, pid = hand.start_by_hand(base)
    try:
        write_app_ini(d, base, [("app", exe, mine.params)])
        pane = d.start_manager(base)
        pane.wait_messages(["app already running, attached!"])
        check(status(d)[0]["pid"] == pid, "not attached to the copy: %r" % status(d))
        check(not mine.log.starts(), "a copy with the configured parameters was started")
    finally:
        outside.kill()
        outside.wait()


@scenario("attach_by_command_line")
def attach_by_command_line(d):
    """With AttachByCommandLine = 1 and no record, among three processes of
    one executable started by hand each entry attaches to the one started
    with its parameters (one of them quoted, with a blank), a second entry
    with the same parameters starts a process of its own, an entry whose
    parameters no process has starts its own, and the third process is
    never attached to nor asked to end (natively the stops are polite)."""
    base = d.temp_dir("bycommand")
    exe = shared_helper(d, base)
    a = Copy(d, base, exe, "a")
    b = Copy(d, base, exe, "b", ["--record-env", "two words"])
    other = Copy(d, base, exe, "other", ["--on-term", "0"])
    c = Copy(d, base, exe, "c")
    outside = []
    try:
        hand = {}
        for copy in (a, b, other):
            process, hand[copy.tag] = copy.start_by_hand(base)
            outside.append(process)
        general = "AttachByCommandLine = 1" + ("\nStopTimeout = 5" if d.mode == "native" else "")
        write_app_ini(d, base, [("a", exe, a.params), ("b", exe, b.params),
                                ("twin", exe, a.params), ("c", exe, c.params)], general)
        pane = d.start_manager(base)
        pane.wait_messages(["a already running, attached!", "b already running, attached!",
                            "Starting process twin.", "Starting process c."])
        expected = [hand["a"], hand["b"], a.log_pid(1), c.log_pid()]
        check([s["pid"] for s in status(d)] == expected,
              "attached to %r, expected %r" % ([s["pid"] for s in status(d)], expected))
        pane.enter_line("stopall")
        wait_gone(d, expected, "the applications")
        check(d.alive([hand["other"]]), "the process started by hand was ended")
        check(not other.log.events("term"), "the process started by hand was asked to end")
    finally:
        for process in outside:
            process.kill()
            process.wait()


# -- containers (Linux: cgroups; these need root) ------------------------------
def cgroup_hierarchy():
    """Where the cgroup v2 hierarchy is mounted."""
    with open("/proc/self/mountinfo") as f:
        return [line.split()[4] for line in f if " - cgroup2 " in line][0]


def cgroup_of(pid):
    """The cgroup v2 directory that holds a process."""
    with open("/proc/%d/cgroup" % pid) as f:
        path = [line[3:].strip() for line in f if line.startswith("0::")][0]
    return cgroup_hierarchy() + path


def cgroup_pids(directory):
    with open(os.path.join(directory, "cgroup.procs")) as f:
        return [int(pid) for pid in f.read().split()]


def remove_cgroups(d, directories):
    """Ends what the test's cgroups still hold and removes them, deepest first."""
    for directory in sorted(set(directories), key=len, reverse=True):
        if os.path.isdir(directory):
            d.kill(*cgroup_pids(directory))
            d.wait_until(lambda: not cgroup_pids(directory), "%s to empty" % directory)
            os.rmdir(directory)


def detached_pid(app):
    return app.d.wait_until(lambda: [s["pid"] for s in app.starts()
                                     if s["tag"].endswith(".detached")],
                            "the detached copy of %s" % app.name)[0]


def contained_apps(d, base, apps, general):
    check(os.geteuid() == 0, "a cgroup of the test's own can only be made as root here")
    pane = start_with(d, apps, general="ContainProcesses = 1\n" + general)
    pids = [(app.wait_starts(1)[0]["pid"], detached_pid(app)) for app in apps]
    groups = [cgroup_of(root) for root, _ in pids]
    return pane, pids, groups + [os.path.dirname(g) for g in groups]


@scenario("contained_helper_is_stopped", modes=("native",))
def contained_helper_is_stopped(d):
    """With ContainProcesses = 1, a program that leaves a helper behind by
    fork, setsid, fork and exit runs in a cgroup of its own with it: "stop"
    with a stop limit asks the helper too (SIGTERM) and says when both have
    ended; after "quit" a new manager attaches to what the cgroup holds
    before it starts the stopped one, and "stop" ends the helper that
    ignores SIGTERM at once. --status says cgroup; a stopped application's
    cgroup is removed, and at the end the manager's own."""
    base = d.temp_dir("contain")
    polite = App(d, base, "polite", "--detach --on-term 0")
    stubborn = App(d, base, "stubborn", "--detach --ignore-term")
    pane, pids, groups = contained_apps(d, base, [polite, stubborn],
                                        "[StopTimeout]\npolite = 5")
    try:
        check(groups[0] != groups[1] and groups[2] == groups[3], "cgroups: %r" % groups)
        check([s["containment"] for s in status(d)] == ["cgroup", "cgroup"], "%r" % status(d))
        pane.enter_line("stop 0")
        pane.wait_messages_end(["Terminating process polite.", "polite stopped."])
        asked = {r["pid"] for r in polite.log.events("term")}
        check(asked == set(pids[0]), "asked to end: %r of %r" % (sorted(asked), pids[0]))
        check(not os.path.isdir(groups[0]), "the stopped application's cgroup stays")

        pane.enter_line("quit")
        pane.wait_dead()
        pane = d.start_manager(base)
        # What the containers hold is claimed before any entry starts.
        pane.wait_messages(["stubborn already running, attached!", "Starting process polite."])
        check(status(d)[1]["pid"] == pids[1][0], "attached to %r" % status(d)[1])
        pane.command("stop 1", ["Terminating process stubborn."])
        wait_gone(d, pids[1], "stubborn and its helper")
        d.wait_until(lambda: not os.path.isdir(groups[1]), "the emptied cgroup to be removed")
        pane.enter_line("stop 0")
        pane.wait_messages_end(["Terminating process polite.", "polite stopped."])
        pane.enter_line("quit")
        pane.wait_dead()
        d.wait_until(lambda: not os.path.isdir(groups[2]), "the manager's cgroup to go")
    finally:
        remove_cgroups(d, groups)


@scenario("contained_leftovers_end", modes=("native",))
def contained_leftovers_end(d):
    """With ContainProcesses = 1 and EndLeftovers = 1, the helper that a
    program left behind by fork, setsid, fork and exit is ended when the
    program ends on its own, before it starts again."""
    base = d.temp_dir("leftovers")
    quick = App(d, base, "quick", "--detach --run-ms 300")
    pane, pids, groups = contained_apps(d, base, [quick], "EndLeftovers = 1\nRestartDelay = 30")
    try:
        pane.wait_text(r"Ended 1 leftover processes of quick\.")
        wait_gone(d, pids[0], "the program and its helper")
        pane.command("stop 0", ["Will not restart quick."])
    finally:
        remove_cgroups(d, groups)


@scenario("containment_needs_rights", modes=("native",))
def containment_needs_rights(d):
    """A manager that may not make cgroups (another user, nothing delegated)
    says so once and follows process trees as without the key."""
    user = pwd.getpwnam("nobody")
    base = d.temp_dir("norights")
    runtime = tempfile.mkdtemp(prefix="zelk-e2e-nobody-")
    try:
        first, second = App(d, base, "first"), App(d, base, "second")
        write_app_ini(d, base, [first.ini(), second.ini()], "ContainProcesses = 1")
        for path in [base, runtime] + [os.path.dirname(app.exe) for app in (first, second)]:
            os.chown(path, user.pw_uid, user.pw_gid)
        manager, out = d.start_headless(
            base, {"ZELKAPPMGR_RUNTIME_DIR": runtime},
            wrapper=["setpriv", "--reuid", "nobody", "--regid", str(user.pw_gid),
                     "--clear-groups"])
        wait_logged(d, out, "Starting process second.")
        pids = [first.wait_starts(1)[0]["pid"], second.wait_starts(1)[0]["pid"]]
        texts = log_texts(out)
        refusals = [t for t in texts if t.startswith("Could not hold")]
        check(len(refusals) == 1 and re.fullmatch(
            r"Could not hold processes in a cgroup \(Error: \d+\); following process trees "
            r"instead\.", refusals[0]), "start-up said %r" % texts)
        manager.send_signal(signal.SIGTERM)
        check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")
        wait_gone(d, pids, "the applications")
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


@scenario("contained_orphan", modes=("wine",))
def contained_orphan(d):
    """Under Wine with ContainProcesses = 1: a program whose child starts a
    grandchild and ends (the grandchild's parent is gone) is in a job object
    with it, started by the shell or, with an environment entry, by
    CreateProcessA: "stop" ends the grandchild, which no walk of the tree
    would reach, and --status says job."""
    base = d.temp_dir("orphan")
    apps = [App(d, base, "shell", "--detach"), App(d, base, "created", "--detach")]
    pane = start_with(d, apps, general="ContainProcesses = 1\n[Environment]\ncreated = X=1")
    orphans = [detached_pid(app) for app in apps]
    middles = [[s["pid"] for s in app.starts() if s["tag"].endswith(".mid")][0] for app in apps]
    d.wait_until(lambda: not d.alive(middles), "the children that started the grandchildren")
    check([s["containment"] for s in status(d)] == ["job", "job"], "%r" % status(d))
    for index, app in enumerate(apps):
        pane.command("stop %d" % index, ["Terminating process %s." % app.name])
        wait_gone(d, [app.starts()[0]["pid"], orphans[index]], "%s and its grandchild" % app.name)
