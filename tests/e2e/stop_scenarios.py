"""Stops with a time limit (StopTimeout): the tree is asked to end and given
time to finish its work, and ended at the limit; EndLeftovers: what is left
of an application that ended on its own is ended before it starts again."""

import json
import socket
import time

from driver import check, scenario
from startup_scenarios import RULE
from supervision_scenarios import App, start_with, wait_gone


def events(app, event, pid):
    return [r for r in app.log.events(event) if r.get("pid") == pid]


@scenario("stop_lets_the_tree_finish", modes=("native",))
def stop_lets_the_tree_finish(d):
    """With StopTimeout = 5, "stop 0" asks an application that takes 300 ms
    to finish (it writes its exit record then) to end, waits for it and says
    so; without the key the same application is killed and writes nothing."""
    base = d.temp_dir("polite")
    app = App(d, base, "careful", "--on-term 300 --tree 1 2")
    pane = start_with(d, [app], general="StopTimeout = 5")
    app.wait_starts(3)
    root, pids = app.pids()[0], app.pids()
    pane.enter_line("stop 0")
    pane.wait_messages_end(["Terminating process careful.", "careful stopped."])
    check(events(app, "exit", root), "the application did not finish its work: no exit record")
    check(not d.alive(pids), "the tree runs on after the stop: %r" % sorted(d.alive(pids)))
    pane.enter_line("quit")
    pane.wait_dead()

    plain = App(d, d.temp_dir("plain"), "careful", "--on-term 300")
    pane = start_with(d, [plain])
    root = plain.wait_starts(1)[0]["pid"]
    pane.command("stop 0", ["Terminating process careful."])
    wait_gone(d, [root], "the application")
    time.sleep(0.5)
    check(not events(plain, "term", root), "without StopTimeout the application was asked")
    check(not events(plain, "exit", root), "without StopTimeout the application finished")


@scenario("stop_time_limit", modes=("native",))
def stop_time_limit(d):
    """An application that ignores SIGTERM, with 3 children: while the stop
    waits, "list" and --status say stopping; at the limit of 2 s the whole
    tree is ended. A second "stop" during the wait ends the tree at once,
    before the limit."""
    base = d.temp_dir("limit")
    app = App(d, base, "stubborn", "--ignore-term --tree 1 3")
    pane = start_with(d, [app], general="StopTimeout = 2")
    app.wait_starts(4)
    pids = app.pids()
    pane.clear_log()
    pane.enter_line("stop 0")
    pane.enter_line("list")
    pane.wait_messages(["Terminating process stubborn.", "", RULE, "   0: stubborn [STOPPING]",
                        RULE, ""])
    code, out, _ = d.client("--status", "--json")
    check(code == 0 and json.loads(out)[0]["state"] == "stopping", "--status: %d %r" % (code, out))
    pane.wait_text(r"stubborn did not stop within 2 s; ending its process tree\.")
    wait_gone(d, pids, "the tree")

    pane.enter_line("start 0")
    app.wait_starts(8)
    pids = app.pids()[4:]
    pane.clear_log()
    pane.enter_line("stop 0")
    pane.enter_line("stop 0")
    wait_gone(d, pids, "the tree after a second stop")
    # Past the limit: the tree ended on the second stop, not at the limit.
    time.sleep(2.5)
    pane.wait_messages(["Terminating process stubborn.", "Terminating process stubborn."])


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@scenario("end_leftovers", modes=("native",))
def end_leftovers(d):
    """With EndLeftovers = 1, an application killed from outside is started
    again after the child it left holding a TCP port is ended, so that the
    new child can listen on the port; without the key the old child lives
    on and holds it."""
    for key, expect in (("EndLeftovers = 1", "ok"), ("", "98")):
        port = free_port()
        app = App(d, d.temp_dir("leftovers"), "server", "--child-listens %d" % port)
        pane = start_with(d, [app], general=key)
        parent = app.wait_starts(2)[0]["pid"]
        d.wait_until(lambda: app.log.events("listen"), "the first child to listen")
        check(app.log.events("listen")[0]["value"] == "ok", "the first child could not listen")
        old_child = app.log.events("listen")[0]["pid"]
        d.kill(parent)
        d.wait_until(lambda: len(app.log.events("listen")) >= 2, "the new child to listen")
        check(
            app.log.events("listen")[1]["value"] == expect,
            "%r: the new child's listen gave %r" % (key, app.log.events("listen")[1]["value"]),
        )
        if key:
            pane.wait_text(r"Ended 1 leftover processes of server\.")
            check(not d.alive([old_child]), "the leftover child lives on")
        else:
            check(d.alive([old_child]), "without the key the old child was ended")
        pane.enter_line("quit")
        pane.wait_dead()
        d.kill_tracked()


@scenario("stop_time_limit_of_a_console_program", modes=("wine",))
def stop_time_limit_of_a_console_program(d):
    """Under Wine in a terminal there are no windows: a console program is
    asked nothing it could hear, and with StopTimeout = 2 it is ended at the
    limit, with the line that says so."""
    base = d.temp_dir("limit")
    app = App(d, base, "console", "--on-term 300")
    pane = start_with(d, [app], general="StopTimeout = 2")
    root = app.wait_starts(1)[0]["pid"]
    pane.enter_line("stop 0")
    pane.wait_messages_end(
        ["Terminating process console.",
         "console did not stop within 2 s; ending its process tree."]
    )
    wait_gone(d, [root], "the console program")
    check(not events(app, "term", root), "the console program was asked after all")
