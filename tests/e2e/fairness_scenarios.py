"""One pass of the event loop serves every row that is ready: an operator
typing, a script polling --status and clients that connect and say nothing
delay neither the applications nor the console's echo. The limits are the
ones the loop promises (a pass is at most its 100 ms pause plus the 50 ms of
a console input callback), with room for a loaded machine."""

import itertools
import os
import socket
import threading
import time

from driver import check, scenario
from supervision_scenarios import App, start_with


def keep_doing(action, stop, every):
    """Runs action() every `every` seconds until `stop` is set."""
    while not stop.is_set():
        action()
        stop.wait(every)


@scenario("typing_does_not_hold_a_relaunch", modes=("native",))
def typing_does_not_hold_a_relaunch(d):
    """While keys are typed 50 ms apart for 5 s, an application killed from
    outside is started again within 0.5 s."""
    base = d.temp_dir("typing")
    app = App(d, base, "steady")
    pane = start_with(d, [app])
    app.wait_starts(1)
    stop = threading.Event()
    keys = itertools.cycle(["x", "BSpace"])  # the line stays short
    typist = threading.Thread(target=keep_doing, args=(lambda: pane.keys(next(keys)), stop, 0.05))
    typist.start()
    try:
        time.sleep(2.5)
        old = app.last_pid()
        killed = time.time()
        d.kill(old)
        start = app.wait_starts(2)[-1]
        delay = start["us"] / 1e6 - killed
        time.sleep(max(0.0, 5.0 - 2.5 - delay))
    finally:
        stop.set()
        typist.join()
    print("started again %.3f s after the kill" % delay)
    check(delay <= 0.5, "started again %.3f s after the kill while keys were typed" % delay)


@scenario("status_polling_does_not_starve_relaunches", modes=("native",))
def status_polling_does_not_starve_relaunches(d):
    """While a script runs --status back to back, an application that lives
    300 ms is started again at least 20 times in 10 s."""
    base = d.temp_dir("polling")
    app = App(d, base, "brief", "--run-ms 300")
    start_with(d, [app])
    app.wait_starts(1)
    stop = threading.Event()
    answers = []
    poller = threading.Thread(
        target=keep_doing, args=(lambda: answers.append(d.client("--status")[0]), stop, 0)
    )
    poller.start()
    try:
        since = time.time()
        time.sleep(10)
        until = time.time()
    finally:
        stop.set()
        poller.join()
    starts = [s for s in app.starts() if since <= s["us"] / 1e6 <= until]
    print("%d starts in 10 s beside %d status requests" % (len(starts), len(answers)))
    check(answers and set(answers) == {0}, "--status failed meanwhile: %r" % sorted(set(answers)))
    check(
        len(starts) >= 20,
        "%d starts in 10 s beside %d status requests" % (len(starts), len(answers)),
    )


@scenario("silent_clients_do_not_hold_the_console", modes=("native",))
def silent_clients_do_not_hold_the_console(d):
    """With 4 clients connected and silent, a typed key echoes within 150 ms,
    and the manager still answers once they are gone."""
    base = d.temp_dir("silent")
    app = App(d, base, "quiet")
    pane = start_with(d, [app])
    app.wait_starts(1)
    path = os.path.join(d.runtime_dir, "ZelkAppMgr.sock")
    for key in "abc":
        time.sleep(0.3)  # the manager is done with the key and the clients before
        clients = []
        try:
            for _ in range(4):
                client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                client.connect(path)
                clients.append(client)
            # The manager has taken them and paused once; they wait for
            # their time limit (200 ms) when the key comes.
            time.sleep(0.11)
            typed = time.monotonic()
            pane.type(key)
            while pane.input_row().endswith(key) is False:
                check(time.monotonic() - typed < d.timeout, "the key %r never showed" % key)
            echo = time.monotonic() - typed
        finally:
            for client in clients:
                client.close()
        print("the key %r showed after %.3f s" % (key, echo))
        check(echo <= 0.15, "the key %r took %.3f s to show beside 4 silent clients" % (key, echo))
    code, _, err = d.client("--status")
    check(code == 0, "--status after the silent clients: %d %r" % (code, err))
