"""What a reload refuses, which numbers come back, how equal names pair,
and what a reload starts or leaves stopped."""

import json
import os
import time

from driver import check, scenario
from reload_scenarios import SUMMARY, configure
from supervision_scenarios import App, wait_gone


def status(d):
    # The manager sets its title before its control channel is open: a
    # client right after start-up waits for the answer.
    _, out, _ = d.wait_until(lambda: (lambda r: r if r[0] == 0 else None)(
        d.client("--status", "--json")), "an answer to --status")
    return json.loads(out)


def pids(d):
    return [(a["name"], a["state"], a["pid"]) for a in status(d)]


@scenario("reload_refuses_a_broken_file")
def reload_refuses_a_broken_file(d):
    """A file whose header lacks its "]", one with a section the program does
    not know ([Parametres]), one with a stray byte before [General], one that
    changes an executable to one that does not exist, and an empty file:
    --reload exits with 1 and the line that says why, and every application
    keeps its process. (Under Wine, all but the empty file.)"""
    base = d.temp_dir("refused")
    apps = [App(d, base, "a"), App(d, base, "b")]
    configure(d, base, apps, "RestartDelay = 1")
    with open(os.path.join(base, "zelkappmgr.ini")) as f:
        good = f.read()
    d.start_manager(base)
    for app in apps:
        app.wait_starts(1)
    before = pids(d)
    typo = good.splitlines().index("[Parameters]") + 1
    missing = d.path(os.path.join(base, "gone", os.path.basename(apps[0].exe)))
    cases = [
        ("[Applications]\na = x\n[Parameters\n",
         "zelkappmgr.ini has a malformed section header in line 3; configuration kept."),
        (good.replace("[Parameters]", "[Parametres]"),
         "zelkappmgr.ini has an unknown section [Parametres] in line %d; configuration kept."
         % typo),
        ("x" + good,
         "zelkappmgr.ini has a line outside any section in line 1; configuration kept."),
        (good.replace(d.path(apps[0].exe), missing),
         "a names %s, which does not exist; configuration kept." % missing),
    ]
    if d.mode == "native":
        cases.append(("", "zelkappmgr.ini names no applications; configuration kept."))
    for text, line in cases:
        d.write_ini(base, text)
        code, out, _ = d.client("--reload")
        check(code == 1 and out == line + "\n", "--reload of %r: %d %r" % (text, code, out))
    check(pids(d) == before, "the applications changed: %r, then %r" % (before, pids(d)))
    check(all(len(app.starts()) == 1 for app in apps), "an application was started again")


@scenario("reload_returning_number", timeout=180)
def reload_returning_number(d):
    """Twenty times the file drops an application and names it again (under
    Wine three times): each time it comes back under its first number and
    runs, and the table never grows."""
    base = d.temp_dir("returning")
    a, b = App(d, base, "a"), App(d, base, "b")
    configure(d, base, [a, b])
    d.start_manager(base)
    b.wait_starts(1)
    cycles = 20 if d.mode == "native" else 3
    for cycle in range(cycles):
        configure(d, base, [a])
        code, out, _ = d.client("--reload")
        check(code == 0 and out.splitlines()[-1] == SUMMARY % (0, 1, 0, 1),
              "dropping, cycle %d: %r" % (cycle, out))
        configure(d, base, [a, b])
        code, out, _ = d.client("--reload")
        check(code == 0 and out.splitlines()[-1] == SUMMARY % (1, 0, 0, 1),
              "naming again, cycle %d: %r" % (cycle, out))
    b.wait_starts(cycles + 1)
    apps = status(d)
    check([(x["number"], x["name"]) for x in apps] == [(0, "a"), (1, "b")], "the table: %r" % apps)
    check(apps[1]["state"] == "running" and apps[1]["pid"] == b.last_pid(),
          "b under its number: %r" % apps[1])


@scenario("reload_after_a_skipped_entry", modes=("native",))
def reload_after_a_skipped_entry(d):
    """With OutputDirectory a reload adds "x y", x_y (whose output would go
    to the file of "x y": skipped) and db after them: db is listed under the
    number after "x y", the same file read again keeps every process and
    the manager, and "stop db" ends db's process."""
    base = d.temp_dir("skipped")
    first, spaced, clash, db = (App(d, base, name) for name in ("a", "x-y", "x_y", "db"))
    spaced.name = "x y"
    configure(d, base, [first], "OutputDirectory = out")
    pane = d.start_manager(base)
    first.wait_starts(1)
    configure(d, base, [first, spaced, clash, db], "OutputDirectory = out")
    code, out, _ = d.client("--reload")
    check(code == 0 and "Skipping x_y: its output would go to x_y.log, as that of x y." in
          out.splitlines(), "--reload: %d %r" % (code, out))
    started = [app.wait_starts(1)[0]["pid"] for app in (first, spaced, db)]
    table = [(x["number"], x["name"], x["pid"]) for x in status(d)]
    check(table == [(0, "a", started[0]), (1, "x y", started[1]), (2, "db", started[2])],
          "the table: %r" % table)
    code, out, _ = d.client("--reload")
    check(code == 0 and pids(d) == [("a", "running", started[0]), ("x y", "running", started[1]),
                                    ("db", "running", started[2])],
          "the second reload: %d %r, %r" % (code, out, pids(d)))
    pane.command("stop db", ["Terminating process db."])
    wait_gone(d, started[2:], "db")
    check(pids(d)[2] == ("db", "stopped", None), "after the stop: %r" % pids(d))


@scenario("reload_equal_names", modes=("native",))
def reload_equal_names(d):
    """Two names that differ only in case, and a name listed twice: the
    unchanged file read again reports 0 changed, and every application
    keeps its process."""
    base = d.temp_dir("equal")
    apps = [App(d, base, "web"), App(d, base, "Web"),
            App(d, os.path.join(base, "one"), "twin"), App(d, os.path.join(base, "two"), "twin")]
    configure(d, base, apps)
    d.start_manager(base)
    d.wait_until(lambda: all(x["pid"] for x in status(d)), "four running applications")
    before = pids(d)
    code, out, _ = d.client("--reload")
    check(code == 0 and out.splitlines() == [SUMMARY % (0, 0, 0, 4)], "--reload: %r" % out)
    check(pids(d) == before, "the applications changed: %r, then %r" % (before, pids(d)))


@scenario("reload_keeps_what_the_operator_stopped", modes=("native",))
def reload_keeps_what_the_operator_stopped(d):
    """With StopTimeout = 2, "stopall" while an application that ignores
    SIGTERM is still stopping, then a change of its parameters and --reload:
    its stop ends at the limit and it stays stopped."""
    base = d.temp_dir("kept")
    app = App(d, base, "deaf", "--ignore-term")
    configure(d, base, [app], "StopTimeout = 2")
    pane = d.start_manager(base)
    app.wait_starts(1)
    pane.enter_line("stopall")
    pane.wait_text(r"Terminating process deaf\.")
    app.params += " --record-args"
    configure(d, base, [app], "StopTimeout = 2")
    code, out, _ = d.client("--reload")
    check(code == 0 and "Configuration of deaf changed." in out, "--reload: %r" % out)
    pane.wait_text(r"deaf did not stop within 2 s; ending its process tree\.")
    time.sleep(1)
    check(len(app.starts()) == 1 and status(d)[0]["state"] == "stopped",
          "started again after the operator's stop: %r" % status(d))


@scenario("reload_starts_a_fixed_application", modes=("native",))
def reload_starts_a_fixed_application(d):
    """An application given up on (it ends at once; GiveUpAfter = 2) whose
    parameters are fixed in the file runs after the reload."""
    base = d.temp_dir("fixed")
    app = App(d, base, "broken", "--run-ms 0")
    configure(d, base, [app], "GiveUpAfter = 2")
    pane = d.start_manager(base)
    pane.wait_text(r"Giving up on broken")
    app.params = app.params.replace("--run-ms 0", "")
    configure(d, base, [app], "GiveUpAfter = 2")
    code, out, _ = d.client("--reload")
    check(code == 0 and "Configuration of broken changed." in out, "--reload: %r" % out)
    app.wait_starts(3)
    d.wait_until(lambda: status(d)[0]["state"] == "running", "the fixed application to run")
