"""Reading the configuration again while applications run ("reload" on the
console, --reload from outside), and the working directory and environment
given to each application."""

import os

from console_scenarios import HELP
from driver import check, scenario
from startup_scenarios import RULE, write_app_ini
from supervision_scenarios import App, wait_gone

SUMMARY = "Configuration reloaded: %d added, %d removed, %d changed, %d unchanged."


def configure(d, base, apps, general="", extra=""):
    write_app_ini(d, base, [a.ini() for a in apps], general)
    with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
        f.write(extra)


def recorded(d, app, pid, count):
    """The working directory and variables that process `pid` recorded,
    once there are `count` of them."""
    def look():
        found = {r.get("name", "cwd"): r["value"] for r in app.log.records()
                 if r.get("pid") == pid and r["event"] in ("cwd", "env")}
        return found if len(found) == count else None
    return d.wait_until(look, "the records of %d" % pid)


@scenario("reload_compares_by_name", timeout=150)
def reload_compares_by_name(d):
    """A runs in its [WorkingDirectory] (relative to the manager's) with its
    [Environment], a quoted value with a blank arriving whole. A, B and C
    run; the file then changes B's parameters, drops C and adds D. "reload"
    leaves A's process alone, starts B again with its new parameters, ends
    C's tree and starts D under number 3; "list" shows number 2 as removed."""
    base = d.temp_dir("reload")
    os.makedirs(os.path.join(base, "work"))
    a = App(d, base, "A", "--record-args --record-env ZELK_NOTE --record-env ZELK_PLAIN")
    b, c = App(d, base, "B"), App(d, base, "C", "--tree 1 2")
    general = "ExtraCommands = 1"
    place = ('[WorkingDirectory]\nA = work\n'
             '[Environment]\nA = ZELK_NOTE="two words" ZELK_PLAIN=1 stray\n')
    configure(d, base, [a, b, c], general, place)
    pane = d.start_manager(base)
    a_pid = a.wait_starts(1)[0]["pid"]
    b.wait_starts(1)
    tree = [s["pid"] for s in c.wait_starts(3)]
    seen = recorded(d, a, a_pid, 3)
    check(seen == {"cwd": d.path(os.path.join(base, "work")), "ZELK_NOTE": "two words",
                   "ZELK_PLAIN": "1"}, "A saw %r" % seen)
    check("Ignored environment entry stray of A." in pane.messages(), "the stray word is not told")

    dd = App(d, base, "D")
    b.params += " --record-args"
    configure(d, base, [a, b, dd], general, place)
    pane.enter_line("reload")
    pane.wait_messages_end([SUMMARY % (1, 1, 1, 1)])
    b_pid = b.wait_starts(2)[1]["pid"]
    dd.wait_starts(1)
    wait_gone(d, tree, "C's tree")
    args = d.wait_until(
        lambda: [r["value"] for r in b.log.events("arg") if r["pid"] == b_pid][1:] or None,
        "B's new arguments")
    check(args == b.params.split(), "B runs with %r" % args)
    check(a.pids() == [a_pid] and d.alive([a_pid]), "A was started again or ended")
    pane.command("list", ["", RULE, "   0: A", "   1: B", "   2: C [REMOVED]", "   3: D", RULE, ""])
    pane.enter_line("quit")
    pane.wait_dead()


@scenario("reload_from_outside", modes=("native",))
def reload_from_outside(d):
    """Without ExtraCommands "help" shows the nine commands, yet --reload
    reloads and prints what the reload logged, a changed environment
    reaching the new process; a reload with the file gone keeps everything
    running."""
    base = d.temp_dir("outside")
    app = App(d, base, "placed", "--record-env ZELK_NOTE")
    configure(d, base, [app], extra="[Environment]\nplaced = ZELK_NOTE=first\n")
    pane = d.start_manager(base)
    pane.command("help", HELP)
    first = app.wait_starts(1)[0]["pid"]

    configure(d, base, [app], extra="[Environment]\nplaced = ZELK_NOTE=second\n")
    code, out, _ = d.client("--reload")
    check(code == 0 and out.splitlines()[0] == "Configuration of placed changed." and
          out.splitlines()[-1] == SUMMARY % (0, 0, 1, 0), "--reload: %d, %r" % (code, out))
    second = app.wait_starts(2)[1]["pid"]
    check(recorded(d, app, second, 1) == {"ZELK_NOTE": "second"}, "the new environment is unseen")

    os.remove(os.path.join(base, "zelkappmgr.ini"))
    code, out, _ = d.client("--reload")
    check(out == "Could not open zelkappmgr.ini; configuration kept.\n", "--reload printed %r" % out)
    check(app.pids() == [first, second] and d.alive([second]), "the application was touched")
    pane.enter_line("quit")
    pane.wait_dead()
