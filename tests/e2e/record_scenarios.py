"""Whose process and whose container: names listed twice and names that
differ only in case each keep their own, a program that rewrote its process
title is still the one the record names, and a record someone else wrote (a
foreign cgroup, a FIFO) is not believed."""

import os
import signal

from driver import check, scenario
from identity_scenarios import (Copy, cgroup_hierarchy, cgroup_of, cgroup_pids, remove_cgroups,
                                shared_helper, status)
from startup_scenarios import write_app_ini
from supervision_scenarios import App, wait_gone


def record_path(d):
    return os.path.join(d.runtime_dir, "ZelkAppMgr.started")


def need_cgroups(d):
    if d.mode == "native" and os.geteuid() != 0:
        d.skip("a cgroup of the test's own can only be made as root here")


def forget_cgroups(d, pids):
    """Removes, when the scenario ends, the cgroups of `pids` and the
    manager's above them."""
    groups = [cgroup_of(pid) for pid in pids]
    d.on_close(lambda: remove_cgroups(d, groups + [os.path.dirname(g) for g in groups]))
    return groups


def started_pids(d, log, count):
    """The ids of the first `count` processes started with `log`, once
    --status shows them all, in the order of its table."""
    def look():
        logged = log.start_pids()
        shown = [s["pid"] for s in status(d)]
        return len(logged) >= count and sorted(shown) == sorted(logged[:count]) and shown
    return d.wait_until(look, "%d processes logging to %s in --status" % (count, log.path))


@scenario("name_listed_twice_contained")
def name_listed_twice_contained(d):
    """dup listed twice, each with an executable of its own, and
    ContainProcesses = 1: each starts its own program in a container of its
    own (natively a cgroup, under Wine a job object), and "stop 0" leaves the
    second's process running. (The first [Parameters] line of dup serves
    both: their programs are told apart by their argv[0].)"""
    need_cgroups(d)
    base = d.temp_dir("twice")
    log = d.track(os.path.join(base, "dup.log"))
    exes = [d.helper_copy(os.path.join(base, where)) for where in ("one", "two")]
    params = "--log %s --tag dup --record-args" % d.path(log.path)
    write_app_ini(d, base, [("dup", exe, params) for exe in exes], "ContainProcesses = 1")
    pane = d.start_manager(base)
    pids = started_pids(d, log, 2)
    if d.mode == "native":
        groups = forget_cgroups(d, pids)
        check(groups[0] != groups[1], "one cgroup for both: %s" % groups[0])
    def programs():
        return [[r["value"] for r in log.events("arg") if r["pid"] == pid and r["index"] == 0]
                for pid in pids]

    d.wait_until(lambda: all(programs()), "the argv[0] of both programs")
    check(programs() == [[d.path(exe)] for exe in exes], "the programs run: %r" % programs())
    kind = "cgroup" if d.mode == "native" else "job"
    check([s["containment"] for s in status(d)] == [kind, kind], "%r" % status(d))
    pane.command("stop 0", ["Terminating process dup."])
    wait_gone(d, pids[:1], "the first dup")
    check(d.alive(pids[1:]), "stop 0 ended the second dup's process")


@scenario("case_twins_reattach", modes=("native",))
def case_twins_reattach(d):
    """web and Web, one executable (and, names of parameters being read
    regardless of case, the parameters of web for both) with
    ContainProcesses and AttachByCommandLine: after "quit" a new manager
    attaches each to the process it started for it, and "stop 1" ends Web's
    alone."""
    need_cgroups(d)
    base = d.temp_dir("twins")
    exe = shared_helper(d, base)
    web = Copy(d, base, exe, "web")
    write_app_ini(d, base, [("web", exe, web.params), ("Web", exe, web.params)],
                  "ContainProcesses = 1\nAttachByCommandLine = 1")
    pane = d.start_manager(base)
    pids = started_pids(d, web.log, 2)
    forget_cgroups(d, pids)
    pane.enter_line("quit")
    pane.wait_dead()

    pane = d.start_manager(base)
    pane.wait_messages(["web already running, attached!", "Web already running, attached!"])
    attached = [s["pid"] for s in status(d)]
    check(attached == pids, "attached to %r, started %r" % (attached, pids))
    pane.command("stop 1", ["Terminating process Web."])
    wait_gone(d, pids[1:], "Web's process")
    check(d.alive(pids[:1]), "stop 1 ended web's process")


@scenario("retitled_process_reattached", modes=("native",))
def retitled_process_reattached(d):
    """With AttachByCommandLine = 1, a program that rewrote its process title
    (its command line is no longer its parameters) is attached again, by the
    record, by a manager started after the first was killed with SIGKILL; it
    is not started a second time."""
    base = d.temp_dir("retitled")
    app = App(d, base, "server", "--retitle retitled-server")
    write_app_ini(d, base, [app.ini()], "AttachByCommandLine = 1")
    pane = d.start_manager(base)
    pid = app.wait_starts(1)[0]["pid"]

    def starts_with(path, text):
        try:
            with open(path, "rb") as f:
                return f.read().startswith(text)
        except FileNotFoundError:
            return False

    d.wait_until(lambda: starts_with("/proc/%d/cmdline" % pid, b"retitled-server\0"),
                 "the new process title of %d" % pid)
    d.wait_until(lambda: starts_with(record_path(d), b"%d\t" % pid), "the record of %d" % pid)
    os.kill(pane.program_pid(), signal.SIGKILL)
    pane.wait_dead()

    pane = d.start_manager(base)
    pane.wait_messages(["server already running, attached!"])
    check(status(d)[0]["pid"] == pid and app.pids() == [pid],
          "attached to %r, started %r" % (status(d)[0]["pid"], app.pids()))


@scenario("record_names_a_foreign_cgroup", modes=("native",))
def record_names_a_foreign_cgroup(d):
    """A record that gives a contained application a cgroup the manager did
    not make, holding a process of another executable: the manager says it
    ignored that container and starts the application anew, and "stop"
    leaves the foreign process in its cgroup."""
    need_cgroups(d)
    base = d.temp_dir("foreign")
    app, stranger = App(d, base, "app"), App(d, base, "stranger")
    foreign = os.path.join(cgroup_hierarchy(), "zelk-e2e-foreign-%d" % os.getpid())
    os.mkdir(foreign)
    d.on_close(lambda: remove_cgroups(d, [foreign]))
    process = d.start_helper_outside(base, stranger.exe, stranger.params.split())
    d.on_close(process.wait)  # killed by then, as a helper of a tracked log
    pid = stranger.wait_starts(1)[0]["pid"]
    with open(os.path.join(foreign, "cgroup.procs"), "w") as f:
        f.write(str(pid))
    with open("/proc/%d/stat" % pid) as f:
        started = f.read().rsplit(")", 1)[1].split()[19]  # field 22, starttime
    with open(record_path(d), "w") as f:
        f.write("%d\t%s\t%s\t0\tapp\n" % (pid, started, foreign))
    write_app_ini(d, base, [app.ini()], "ContainProcesses = 1")
    pane = d.start_manager(base)
    ignored = "Ignored recorded container %s of app." % foreign
    pane.wait(lambda rows: pane.messages(rows)[-1:] == ["Starting process app."] and
              ignored in pane.messages(rows), "the container ignored, the application started")
    own = app.wait_starts(1)[0]["pid"]
    forget_cgroups(d, [own])
    pane.command("stop 0", ["Terminating process app."])
    wait_gone(d, [own], "app")
    check(d.alive([pid]) and cgroup_pids(foreign) == [pid],
          "the foreign cgroup holds %r, not %d" % (cgroup_pids(foreign), pid))


@scenario("record_fifo_does_not_block", modes=("native",))
def record_fifo_does_not_block(d):
    """A FIFO where the record of started processes lies: the manager says
    it ignored it, starts its application and answers --status."""
    base = d.temp_dir("fifo")
    app = App(d, base, "app")
    os.mkfifo(record_path(d))
    write_app_ini(d, base, [app.ini()])
    pane = d.start_manager(base)
    ignored = "Ignored the record of started processes %s: " % record_path(d)
    pane.wait(lambda rows: any(m.startswith(ignored) for m in pane.messages(rows)),
              "the record to be ignored")
    pid = app.wait_starts(1)[0]["pid"]
    check(status(d)[0]["pid"] == pid, "--status: %r" % status(d))
