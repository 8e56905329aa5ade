"""Pauses before relaunching a program that ends soon after its start
(RestartDelay, RestartDelayMax, MinUptime, GiveUpAfter)."""

import time

from driver import check, scenario
from startup_scenarios import list_rows
from supervision_scenarios import App, start_with


def start_times(app):
    """The start times of the application's processes, in seconds from the first."""
    starts = [s["us"] / 1e6 for s in app.starts()]
    return [round(t - starts[0], 2) for t in starts]


@scenario("restart_delay_doubles_and_gives_up", timeout=90)
def restart_delay_doubles_and_gives_up(d):
    """An application that ends at once, with RestartDelay = 1,
    RestartDelayMax = 4 and GiveUpAfter = 6, starts at about 0, 1, 3, 7, 11
    and 15 s, then is given up on and starts no more; "start 0" starts it at
    once."""
    app = App(d, d.temp_dir("delay"), "crash", "--run-ms 0")
    pane = start_with(d, [app], general="RestartDelay = 1\nRestartDelayMax = 4\nGiveUpAfter = 6")
    give_up = "Giving up on crash: it ended 6 times in a row within 10 s of starting."
    pane.wait(lambda rows: give_up in pane.messages(rows), "the give-up", timeout=40)
    slack = 0.3 if d.mode == "native" else 1.0
    times = start_times(app)
    print("start times %r" % times)
    expected = [0, 1, 3, 7, 11, 15]
    check(
        len(times) == 6 and all(abs(t - e) <= slack for t, e in zip(times, expected)),
        "start times %r, expected about %r" % (times, expected),
    )
    time.sleep(5)
    check(len(app.starts()) == 6, "started again after the give-up: %r" % start_times(app))
    pane.command("list", list_rows([("crash", False)])[:2] + ["   0: crash [GAVE UP]"] +
                 list_rows([])[2:])
    asked = time.time()
    pane.enter_line("start 0")
    app.wait_starts(7)
    check(app.starts()[-1]["us"] / 1e6 - asked < 1.0, "start 0 did not start it at once")


@scenario("restart_delay_and_the_operator", modes=("native",))
def restart_delay_and_the_operator(d):
    """With MinUptime = 1 an application that runs 2 s is started again at
    once each time; one that ends at once waits, while the console answers
    keys at once, and "stop" during the wait cancels the relaunch."""
    steady = App(d, d.temp_dir("uptime"), "steady", "--run-ms 2000")
    quick = App(d, d.temp_dir("quick"), "quick", "--run-ms 0")
    pane = start_with(d, [steady, quick],
                      general="RestartDelay = 3\nMinUptime = 1")
    steady.wait_starts(3)
    exits = steady.log.exits()
    starts = steady.starts()
    for exit_record, start in zip(exits[:2], starts[1:3]):
        gap = (start["us"] - exit_record["us"]) / 1e6
        check(gap < 0.5, "a run of 2 s was followed by a pause of %.2f s" % gap)

    pane.wait_text(r"Will restart quick in 3 s\.")
    typed = time.monotonic()
    pane.type("x")
    pane.wait_input("x")
    echo = time.monotonic() - typed
    check(echo <= 0.15, "a key took %.3f s to show while a relaunch was pending" % echo)
    pane.keys("BSpace")
    pane.enter_line("stop 1")
    pane.wait_text(r"Will not restart quick\.")
    count = len(quick.starts())
    time.sleep(3.5)
    check(len(quick.starts()) == count, "quick was started again after its stop")
