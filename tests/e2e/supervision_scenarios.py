"""Supervised applications: launching in file order, attaching, relaunching,
failing paths, ending process trees, and what stays after quit. The helper
program plays every application; each application is a copy of it of its
own, since the manager attaches to any process of the same executable."""

import json
import os
import re
import shlex
import signal
import time

from driver import check, native_alive, proc_stat, scenario
from startup_scenarios import RULE, list_rows, wait_starts, write_app_ini


class App:
    """One helper copy in <base>/<name>/ logging to <base>/<name>.log."""

    def __init__(self, d, base, name, options=""):
        self.d = d
        self.name = name
        self.directory = os.path.join(base, name)
        self.exe = d.helper_copy(self.directory)
        self.log_path = os.path.join(base, name + ".log")
        self.log = d.track(self.log_path)
        self.params = ("--log %s --tag %s %s" % (d.path(self.log_path), name, options)).strip()

    def ini(self):
        return (self.name, self.exe, self.params)

    def starts(self):
        return self.log.starts()

    def pids(self):
        return self.log.start_pids()

    def wait_starts(self, count):
        return wait_starts(self.d, self.log, count, "(%s)" % self.name)

    def last_pid(self):
        return self.pids()[-1]


def start_with(d, apps, extra_apps=(), general=""):
    base = os.path.dirname(apps[0].directory) if apps else d.temp_dir("apps")
    write_app_ini(d, base, [a.ini() for a in apps] + list(extra_apps), general)
    return d.start_manager(base)


def wait_gone(d, pids, what):
    pids = set(pids)
    d.wait_until(lambda: not d.alive(pids), "%s to end (%r)" % (what, sorted(pids)))


@scenario("launch_in_file_order")
def launch_in_file_order(d):
    """Three applications start in file order, each in its executable's
    directory with its parameters; the log shows one line per start."""
    base = d.temp_dir("order")
    apps = [App(d, base, n, "--record-args") for n in ("charlie", "alpha", "bravo")]
    pane = start_with(d, apps)
    expected = ["Starting process %s." % a.name for a in apps]
    pane.wait_messages(expected)
    for app in apps:
        app.wait_starts(1)
        pid = app.last_pid()

        def recorded():
            # The working directory is recorded last, after the arguments.
            records = [r for r in app.log.records() if r.get("pid") == pid]
            return records if any(r["event"] == "cwd" for r in records) else None

        records = d.wait_until(recorded, "the records of %s's arguments" % app.name)
        args = [r["value"] for r in records if r["event"] == "arg"][1:]
        check(
            args == app.params.split(),
            "%s was started with %r, expected %r" % (app.name, args, app.params.split()),
        )
        cwd = [r["value"] for r in records if r["event"] == "cwd"]
        check(
            cwd == [d.path(app.directory)],
            "%s runs in %r, expected its executable's directory %r"
            % (app.name, cwd, d.path(app.directory)),
        )
    pane.command("list", list_rows([(a.name, True) for a in apps]))
    check(
        [len(a.starts()) for a in apps] == [1, 1, 1],
        "each application should run once: %r" % [len(a.starts()) for a in apps],
    )


@scenario("attach_and_relaunch")
def attach_and_relaunch(d):
    """A running copy of the executable is attached to, not started again;
    killed from outside, it is started anew; so is a launched one."""
    base = d.temp_dir("attach")
    early = App(d, base, "early")
    late = App(d, base, "late")
    outside = d.start_helper_outside(early.directory, early.exe, early.params.split())
    try:
        early.wait_starts(1)
        outside_pid = early.last_pid()
        pane = start_with(d, [early, late])
        pane.wait_messages(["early already running, attached!", "Starting process late."])
        late.wait_starts(1)
        pane.command("list", list_rows([("early", True), ("late", True)]))
        check(len(early.starts()) == 1, "a second copy of early was started")

        # Killed from outside: the manager starts it again.
        pane.clear_log()
        d.kill(outside_pid)
        pane.wait_messages(["Starting process early."])
        early.wait_starts(2)
        check(early.last_pid() != outside_pid, "early was not started as a new process")
        check(not d.alive([outside_pid]), "the attached process still runs")

        first_late = late.last_pid()
        d.kill(first_late)
        pane.wait_messages(["Starting process early.", "Starting process late."])
        late.wait_starts(2)
        check(late.last_pid() != first_late, "late was not started as a new process")
        pane.command("list", list_rows([("early", True), ("late", True)]))
        check(
            (len(early.starts()), len(late.starts())) == (2, 2),
            "each application should have started twice: %d, %d"
            % (len(early.starts()), len(late.starts())),
        )
    finally:
        try:
            outside.kill()
        except OSError:
            pass
        outside.wait()


@scenario("missing_executable")
def missing_executable(d):
    """A path that does not exist gives "Could not get FileShortName!" and the
    entry stays stopped; "start" on it reports the failed launch."""
    base = d.temp_dir("missing")
    good = App(d, base, "good")
    ghost_path = os.path.join(base, "nowhere", "ghost.exe")
    pane = start_with(d, [good], extra_apps=[("ghost", ghost_path, None)])
    pane.wait_messages(["Starting process good.", "Could not get FileShortName!"])
    pane.command("list", list_rows([("good", True), ("ghost", False)]))
    pane.clear_log()
    pane.enter_line("start 1")
    rows = pane.wait(
        lambda rows: len(pane.messages(rows)) == 2,
        "the answer to start 1",
    )
    messages = pane.messages(rows)
    check(messages[0] == "Starting process ghost.", "start 1 said %r" % messages)
    check(
        re.fullmatch(r"Could not start ghost\. Error: -?\d+\.", messages[1]) is not None,
        "start 1 said %r" % messages,
    )
    pane.command("list", list_rows([("good", True), ("ghost", False)]))


@scenario("relaunch_at_once")
def relaunch_at_once(d):
    """An application that ends at once is started again and again, one line
    per start, while the manager keeps answering."""
    base = d.temp_dir("quick")
    quick = App(d, base, "quick", "--run-ms 0")
    pane = start_with(d, [quick])
    quick.wait_starts(5)
    # A screen read may catch a message half written (its stamp only): wait
    # for a whole one.
    pane.wait(
        lambda rows: len(pane.messages(rows)) >= 4
        and all(m == "Starting process quick." for m in pane.messages(rows)),
        "a log of start lines only",
    )
    pane.enter_line("list")
    pane.wait(
        lambda rows: RULE in pane.messages(rows)
        and re.search(r"^ {3}0: quick", "\n".join(pane.messages(rows)), re.M),
        "list to answer while the application is started again and again",
    )
    count = len(quick.starts())
    quick.wait_starts(count + 3)
    pane.enter_line("stop 0")
    pane.wait(
        lambda rows: any(
            m in ("Terminating process quick.", "Application already stopped.")
            for m in pane.messages(rows)
        ),
        "stop 0 to answer",
    )
    pane.command("list", list_rows([("quick", False)]))
    stopped_at = len(quick.starts())
    pane.command("list", list_rows([("quick", False)]))
    check(
        len(quick.starts()) <= stopped_at + 1,
        "the application was started again after stop",
    )


def tree_pids(app):
    return app.pids()


@scenario("stop_ends_the_tree", timeout=180)
def stop_ends_the_tree(d):
    """"stop" on an application whose process started a tree ends every
    process of the tree, and the application is not started again."""
    base = d.temp_dir("tree")
    tree = App(d, base, "tree", "--tree 3 2")
    other = App(d, base, "other")
    pane = start_with(d, [tree, other])
    pane.wait_messages(["Starting process tree.", "Starting process other."])
    tree.wait_starts(15)
    other.wait_starts(1)
    pids = tree.pids()
    check(len(set(pids)) == 15, "the tree should have 15 processes: %r" % pids)
    check(d.alive(pids) == set(pids), "the tree should run whole before the stop")
    pane.command("stop 0", ["Terminating process tree."])
    wait_gone(d, pids, "every process of the tree")
    pane.command("list", list_rows([("tree", False), ("other", True)]))
    check(len(tree.starts()) == 15, "the tree was started again after stop")
    check(d.alive([other.last_pid()]), "the other application was ended too")


@scenario("stop_leaves_no_survivor", modes=("native",), timeout=180)
def stop_leaves_no_survivor(d):
    """"stop" ends a tree that starts a new child every few milliseconds, an
    application that starts its worker again as soon as it ends, and one
    that left a daemon in its session; when the command has returned nothing
    of them runs or starts any more, and no process that ended during the
    stop is reported. (Native only: the daemon and the worker keeper are
    POSIX behaviours of the helper.)"""
    base = d.temp_dir("survivors")
    apps = [
        App(d, base, "forker", "--fork-every 3"),
        App(d, base, "keeper", "--keep-worker"),
        App(d, base, "daemon", "--daemon"),
    ]
    pane = start_with(d, apps)
    apps[0].wait_starts(40)
    apps[1].wait_starts(2)
    apps[2].wait_starts(2)
    for index, app in enumerate(apps):
        pane.command("stop %d" % index, ["Terminating process %s." % app.name])
        pids = app.pids()
        wait_gone(d, pids, "every process of %s" % app.name)
        count = len(pids)
        time.sleep(0.3)
        check(len(app.pids()) == count,
              "%s started %d processes after its stop" % (app.name, len(app.pids()) - count))
        check(not d.alive(app.pids()), "%s has survivors: %r" % (app.name, d.alive(app.pids())))


@scenario("own_executable_is_not_attached", modes=("native",))
def own_executable_is_not_attached(d):
    """An entry naming the manager's own executable never attaches to the
    manager: a copy is started instead (which finds a manager running and
    ends), and "stop" of the entry leaves the manager running."""
    base = d.temp_dir("self")
    write_app_ini(d, base, [("self", os.path.realpath(d.manager), None)])
    pane = d.start_manager(base)
    # The copy ends at once and is started again on every pass.
    rows = pane.wait(lambda rows: pane.messages(rows)[:1] != [], "the first message")
    check(pane.messages(rows)[0] == "Starting process self.",
          "the entry should start a copy: %r" % pane.messages(rows)[:1])
    pane.enter_line("stop 0")
    pane.command("list", list_rows([("self", False)]))
    check(pane.dead() == (False, None), "the manager ended on stop of its own executable")


def running(executable):
    """The ids (as this process sees them) of the processes running `executable`."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and os.readlink("/proc/%s/exe" % entry) == executable:
                found.append(int(entry))
        except OSError:
            pass
    return found


@scenario("attach_to_the_master", modes=("native",))
def attach_to_the_master(d):
    """In a PID namespace of its own, a server whose two workers run its own
    executable with lower ids than its own (from about 100, the server from
    500), as after ids wrap: a fresh manager attaches to the server, not to
    the first worker listed, and "stop" ends all three."""
    base = d.temp_dir("master")
    server = App(d, base, "server", "--tree 1 2 --next-pid 99")
    write_app_ini(d, base, [server.ini()])
    script = ("echo 499 > /proc/sys/kernel/ns_last_pid; %s & "
              'until [ "$(grep -c event=start %s)" -ge 3 ]; do sleep 0.05; done; exec "$@"'
              % (" ".join(shlex.quote(a) for a in [server.exe] + server.params.split()),
                 shlex.quote(server.log_path)))
    manager, _ = d.start_headless(base, wrapper=["unshare", "--pid", "--fork", "--mount-proc",
                                                 "--kill-child", "sh", "-c", script, "sh"])
    starts = server.wait_starts(3)
    master = [s["pid"] for s in starts if s["tag"] == "server"]
    workers = [s["pid"] for s in starts if s["tag"] != "server"]
    # The order of the ids is what the scenario is about, not the ids
    # themselves (the namespace's own shell may take one of them).
    check(len(master) == 1 and len(workers) == 2 and max(workers) < master[0],
          "the workers' ids are not below the server's: %r"
          % [(s["tag"], s["pid"]) for s in starts])
    status = d.wait_until(lambda: (lambda code, out, _: code == 0 and json.loads(out))(
        *d.client("--status", "--json")), "an answer to --status")
    check(status[0]["pid"] == master[0], "attached to %r, not the server %r"
          % (status[0]["pid"], master[0]))
    exe = os.path.realpath(server.exe)
    check(len(running(exe)) == 3, "the server's processes: %r" % running(exe))
    d.client("--send", "stop 0")
    d.wait_until(lambda: not running(exe), "the server and its workers to end")
    d.client("--send", "quit")
    check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")


@scenario("frozen_tree_is_resumed", modes=("native",))
def frozen_tree_is_resumed(d):
    """A manager killed between the freeze of a stop (SIGSTOP to the
    application's group) and its kills leaves the tree stopped: the killed
    manager and the frozen group are made here by hand. The next manager
    attaches, resumes the tree with a line in the log, and its "stop" ends
    it."""
    base = d.temp_dir("frozen")
    frozen = App(d, base, "frozen", "--tree 1 2")
    pane = start_with(d, [frozen])
    pids = [s["pid"] for s in frozen.wait_starts(3)]
    os.kill(pane.program_pid(), signal.SIGKILL)
    pane.wait_dead()
    os.killpg(pids[0], signal.SIGSTOP)
    d.wait_until(lambda: all(proc_stat(p)[0] == "T" for p in pids), "the tree to stop")

    pane = d.start_manager(base)
    pane.wait_messages(["frozen already running, attached!",
                        "Resumed frozen, which was left stopped."])
    d.wait_until(lambda: not any(proc_stat(p)[0] == "T" for p in pids), "the tree to run again")
    pane.command("stop 0", ["Terminating process frozen."])
    wait_gone(d, pids, "the tree")


@scenario("quit_leaves_applications")
def quit_leaves_applications(d):
    """After "quit" the manager has ended with exit code 0 and its
    applications still run."""
    base = d.temp_dir("quit")
    apps = [App(d, base, "one"), App(d, base, "two", "--tree 1 2")]
    pane = start_with(d, apps)
    pane.wait_messages(["Starting process one.", "Starting process two."])
    apps[0].wait_starts(1)
    apps[1].wait_starts(3)
    pids = apps[0].pids() + apps[1].pids()
    pane.enter_line("quit")
    status = pane.wait_dead()
    check(status == 0, "exit status %r after quit" % status)
    check(d.alive(pids) == set(pids), "applications ended with the manager: %r alive of %r"
          % (sorted(d.alive(pids)), sorted(pids)))
    d.kill(*pids)
    wait_gone(d, pids, "the applications")


# -- the long run ----------------------------------------------------------
def manager_fds(pid):
    fds = {}
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            fds[int(fd)] = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            pass
    return fds


def zombie_children(pid):
    zombies = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat is not None and stat[1] == pid and stat[0] == "Z":
                zombies.append(int(entry))
    return zombies


def fd_kinds(fds):
    """The targets with the numbers of sockets and pipes left out, sorted."""
    return sorted(re.sub(r"\[\d+\]", "[]", t) for t in fds.values())


def soak(d, starts):
    base = d.temp_dir("soak")
    quick = App(d, base, "quick", "--run-ms 0")
    steady = App(d, base, "steady")
    pane = start_with(d, [quick, steady])
    manager = pane.program_pid()
    steady.wait_starts(1)
    quick.wait_starts(1)

    # Right after start-up, with the quick application held stopped: the
    # manager's descriptors.
    pane.enter_line("stop 0")
    pane.command("list", list_rows([("quick", False), ("steady", True)]))
    d.wait_until(lambda: not zombie_children(manager), "no zombie child after stop 0")
    baseline = manager_fds(manager)

    pane.enter_line("start 0")
    d.wait_until(
        lambda: len(quick.starts()) >= starts,
        "%d starts of the quick application" % starts,
        timeout=starts / 2 + 60,
    )
    pane.enter_line("restart 1")
    steady.wait_starts(2)
    pane.enter_line("stop 0")
    pane.command("list", list_rows([("quick", False), ("steady", True)]))

    d.wait_until(
        lambda: not zombie_children(manager),
        "no zombie child of the manager (now %r)" % zombie_children(manager),
    )
    after = manager_fds(manager)
    check(
        fd_kinds(after) == fd_kinds(baseline),
        "the manager's descriptors changed after %d starts:\nbefore %r\nafter  %r"
        % (len(quick.starts()), baseline, after),
    )

    # The steady application, started after the long run, holds none of the
    # manager's descriptors: only /dev/null on 0, 1 and 2 (the helper opens
    # its log only while writing a record).
    child = steady.last_pid()
    check(native_alive(child), "steady should run")
    child_fds = manager_fds(child)
    check(
        child_fds == {0: "/dev/null", 1: "/dev/null", 2: "/dev/null"},
        "the application holds %r (the manager holds %r)" % (child_fds, after),
    )
    shared = set(child_fds.values()) & set(after.values()) - {"/dev/null"}
    check(not shared, "the application shares %r with the manager" % shared)
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "exit status after quit is not 0")


@scenario("relaunch_soak", modes=("native",), timeout=300, label="soak")
def relaunch_soak(d):
    """After a thousand relaunches no zombie child remains, the manager holds
    the descriptors it held after start-up, and an application inherits none."""
    soak(d, int(os.environ.get("ZELK_SOAK_STARTS", "1000")))
