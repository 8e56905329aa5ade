"""Pauses before relaunching a program that ends soon after its start
(RestartDelay, RestartDelayMax, MinUptime, GiveUpAfter). How close the
starts come to the pauses is measured by bench/fairness.py."""

import time

from driver import check, scenario
from startup_scenarios import list_rows
from supervision_scenarios import App, start_with


@scenario("restart_delay_doubles_and_gives_up", timeout=90)
def restart_delay_doubles_and_gives_up(d):
    """An application that ends at once, with RestartDelay = 1,
    RestartDelayMax = 4 and GiveUpAfter = 6, is started again after pauses
    of 1, 2, 4, 4 and 4 s, then is given up on and starts no more; "start 0"
    starts it again."""
    app = App(d, d.temp_dir("delay"), "crash", "--run-ms 0")
    pane = start_with(d, [app], general="RestartDelay = 1\nRestartDelayMax = 4\nGiveUpAfter = 6")
    give_up = "Giving up on crash: it ended 6 times in a row within 10 s of starting."
    rows = pane.wait(lambda rows: give_up in pane.messages(rows), "the give-up", timeout=40)
    pauses = [m for m in pane.messages(rows) if m.startswith("Will restart crash")]
    check(pauses == ["Will restart crash in %d s." % s for s in (1, 2, 4, 4, 4)],
          "the pauses: %r" % pauses)
    check(len(app.starts()) == 6, "%d starts before the give-up" % len(app.starts()))
    time.sleep(5)
    check(len(app.starts()) == 6, "started again after the give-up: %d starts" % len(app.starts()))
    pane.command("list", list_rows([("crash", False)])[:2] + ["   0: crash [GAVE UP]"] +
                 list_rows([])[2:])
    pane.enter_line("start 0")
    app.wait_starts(7)


@scenario("restart_delay_and_the_operator", modes=("native",))
def restart_delay_and_the_operator(d):
    """With MinUptime = 1 an application that runs 2 s is started again
    without a pause each time; one that ends at once waits, while the
    console answers keys, and "stop" during the wait cancels the
    relaunch."""
    steady = App(d, d.temp_dir("uptime"), "steady", "--run-ms 2000")
    quick = App(d, d.temp_dir("quick"), "quick", "--run-ms 0")
    pane = start_with(d, [steady, quick],
                      general="RestartDelay = 3\nMinUptime = 1")
    steady.wait_starts(3)
    pane.wait_text(r"Will restart quick in 3 s\.")
    check(not any("Will restart steady" in m for m in pane.messages()),
          "a run of 2 s was followed by a pause")
    pane.type("x")
    pane.wait_input("x")
    pane.keys("BSpace")
    pane.enter_line("stop 1")
    pane.wait_text(r"Will not restart quick\.")
    count = len(quick.starts())
    time.sleep(3.5)
    check(len(quick.starts()) == count, "quick was started again after its stop")
