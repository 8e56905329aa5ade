"""What the manager answers is what happened: ordered stops and restarts
answer once they are done, each client hears only its own request, a
manager that will not run says so with its exit code, an exact name wins
over one that differs in case, and a copy someone stopped stays stopped."""

import json
import os
import signal
import threading

from driver import check, proc_stat, scenario
from readiness_scenarios import sections
from startup_scenarios import write_app_ini
from supervision_scenarios import App, start_with, wait_gone


def out_lines(text):
    return [line.rstrip() for line in text.split("\n")[:-1]]


def states(d):
    code, out, _ = d.client("--status", "--json")
    check(code == 0, "--status failed: %d" % code)
    return {app["name"]: (app["state"], app["pid"]) for app in json.loads(out)}


def ordered_stack(d, name, db_options, general, **extra):
    base = d.temp_dir(name)
    db = App(d, base, "db", db_options)
    web = App(d, base, "web", "--on-term 100")
    write_app_ini(d, base, [db.ini(), web.ini()],
                  general + "\n" + sections("", After={"web": "db"}, **extra))
    pane = d.start_manager(base)
    db.wait_starts(1)
    web.wait_starts(1)
    return pane, db, web


@scenario("ordered_stopall_answers_when_done", modes=("native",))
def ordered_stopall_answers_when_done(d):
    """web starts after db; db ignores SIGTERM and has 3 s to stop. --send
    stopall returns once db's stop has ended: exit 0, db's process gone,
    nothing left stopping."""
    pane, db, web = ordered_stack(d, "stopall", "--ignore-term", "StopTimeout = 3")
    db_pid, web_pid = db.last_pid(), web.last_pid()
    code, out, err = d.client("--send", "stopall")
    check(code == 0, "stopall: exit %d, %r %r" % (code, out, err))
    check(not d.alive([db_pid, web_pid]), "a process runs on after the answer")
    check({s for s, _ in states(d).values()} == {"stopped"}, "states %r" % states(d))
    lines = out_lines(out)
    check(lines.index("web stopped.") < lines.index("Terminating process db."),
          "db was signalled before web had stopped: %r" % lines)
    d.client("--send", "quit")
    pane.wait_dead()


@scenario("ordered_restartall_answers_when_back", modes=("native",))
def ordered_restartall_answers_when_back(d):
    """web starts after db, which is ready a second after its start.
    --send restartall stops web before db is signalled, starts db before
    web, and returns once both run with new processes: exit 0."""
    pane, db, web = ordered_stack(d, "restartall", "", "StopTimeout = 5",
                                  Ready={"db": "delay 1"})
    old = states(d)
    code, out, err = d.client("--send", "restartall")
    check(code == 0, "restartall: exit %d, %r %r" % (code, out, err))
    now = states(d)
    for name in ("db", "web"):
        check(now[name][0] == "running" and now[name][1] != old[name][1],
              "%s after the answer: %r (before %r)" % (name, now[name], old[name]))
    lines = out_lines(out)
    order = [lines.index(line) for line in ("web stopped.", "Terminating process db.",
                                            "Starting process db.", "Starting process web.")]
    check(order == sorted(order), "the restart's order: %r" % lines)
    d.client("--send", "quit")
    pane.wait_dead()


@scenario("clients_hear_their_own_lines", modes=("native",))
def clients_hear_their_own_lines(d):
    """Two clients at once, "stop alpha" and "stop bravo", each with a
    stop that takes a while: each output names only its own application."""
    base = d.temp_dir("two")
    alpha = App(d, base, "alpha", "--on-term 400")
    bravo = App(d, base, "bravo", "--on-term 400")
    pane = start_with(d, [alpha, bravo], general="StopTimeout = 5")
    alpha.wait_starts(1)
    bravo.wait_starts(1)
    outputs = {}

    def send(name):
        outputs[name] = d.client("--send", "stop " + name)

    threads = [threading.Thread(target=send, args=(n,)) for n in ("alpha", "bravo")]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for name, other in (("alpha", "bravo"), ("bravo", "alpha")):
        code, out, _ = outputs[name]
        check(code == 0 and "%s stopped." % name in out_lines(out),
              "stop %s: %d %r" % (name, code, out))
        check(other not in out and "Command from outside" not in out,
              "stop %s printed another's lines: %r" % (name, out))
    d.client("--send", "quit")
    pane.wait_dead()


@scenario("refusing_to_run_fails", modes=("native",))
def refusing_to_run_fails(d):
    """Without a terminal, and in a window of 20 columns, the manager does
    not run and its exit code says so."""
    base = d.temp_dir("refuse")
    write_app_ini(d, base, [], "")
    code, _, err = d.run_program(d.manager, cwd=base)
    check(code == 1 and "must be a console" in err, "without a terminal: %d %r" % (code, err))
    pane = d.start(base, width=20, height=25)
    check(pane.wait_dead() == 1, "in a 20-column window the exit code is not 1")


@scenario("exact_name_first", modes=("native",))
def exact_name_first(d):
    """With web and Web (one helper; names of parameters are read regardless
    of case, so both run with web's, told apart by AttachByCommandLine),
    "stop Web" stops Web and leaves web running."""
    base = d.temp_dir("names")
    web = App(d, base, "web")
    write_app_ini(d, base, [web.ini(), ("Web", web.exe, None)], "AttachByCommandLine = 1")
    pane = d.start_manager(base)
    web.wait_starts(2)
    pids = {name: pid for name, (_, pid) in states(d).items()}
    code, out, _ = d.client("--send", "stop Web")
    check(code == 0 and out_lines(out) == ["Terminating process Web."], "stop Web: %r" % out)
    wait_gone(d, [pids["Web"]], "Web")
    check(d.alive([pids["web"]]), "web was stopped too")
    d.client("--send", "quit")
    pane.wait_dead()


@scenario("stopped_copy_stays_stopped", modes=("native",))
def stopped_copy_stays_stopped(d):
    """A copy stopped with SIGSTOP before the manager starts is attached to
    and left stopped, and the log says so."""
    base = d.temp_dir("stopped")
    app = App(d, base, "paused")
    outside = d.start_helper_outside(app.directory, app.exe, app.params.split())
    try:
        pid = app.wait_starts(1)[0]["pid"]
        os.kill(pid, signal.SIGSTOP)
        d.wait_until(lambda: proc_stat(pid)[0] == "T", "the copy to stop")
        pane = start_with(d, [app])
        pane.wait_messages(["paused already running, attached!",
                            "paused is stopped; it is left so."])
        check(proc_stat(pid)[0] == "T", "the copy was resumed")
        check(states(d)["paused"][1] == pid, "not attached to the copy")
        d.client("--send", "quit")
        pane.wait_dead()
    finally:
        outside.kill()
        outside.wait()
