"""One pass of the event loop serves every row that is ready: an operator
typing, a script polling --status and clients that connect and say nothing
keep neither the applications nor the console waiting. How soon each is
served is measured by bench/fairness.py; here only that it is."""

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


def busy(action, every, work):
    """Runs action() every `every` seconds beside work() and returns what
    work() returned."""
    stop = threading.Event()
    worker = threading.Thread(target=keep_doing, args=(action, stop, every))
    worker.start()
    try:
        return work()
    finally:
        stop.set()
        worker.join()


@scenario("typing_does_not_hold_a_relaunch", modes=("native",))
def typing_does_not_hold_a_relaunch(d):
    """While keys are typed 50 ms apart, an application killed from outside
    is started again."""
    base = d.temp_dir("typing")
    app = App(d, base, "steady")
    pane = start_with(d, [app])
    app.wait_starts(1)
    keys = itertools.cycle(["x", "BSpace"])  # the line stays short

    def kill_and_wait():
        d.kill(app.last_pid())
        return app.wait_starts(2)

    busy(lambda: pane.keys(next(keys)), 0.05, kill_and_wait)


@scenario("status_polling_does_not_starve_relaunches", modes=("native",))
def status_polling_does_not_starve_relaunches(d):
    """While a script runs --status back to back, an application that lives
    300 ms is started again and again, and every --status answers."""
    base = d.temp_dir("polling")
    app = App(d, base, "brief", "--run-ms 300")
    start_with(d, [app])
    app.wait_starts(1)
    answers = []
    busy(lambda: answers.append(d.client("--status")[0]), 0, lambda: app.wait_starts(6))
    check(answers and set(answers) == {0}, "--status failed meanwhile: %r" % sorted(set(answers)))


@scenario("silent_clients_do_not_hold_the_console", modes=("native",))
def silent_clients_do_not_hold_the_console(d):
    """With 4 clients connected and silent, a typed key shows, and the
    manager still answers once they are gone."""
    base = d.temp_dir("silent")
    app = App(d, base, "quiet")
    pane = start_with(d, [app])
    app.wait_starts(1)
    path = os.path.join(d.runtime_dir, "ZelkAppMgr.sock")
    clients = []
    try:
        for _ in range(4):
            client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            client.connect(path)
            clients.append(client)
        time.sleep(0.11)  # taken by the manager, waiting for their time limit
        pane.type("a")
        pane.wait_input("a")
    finally:
        for client in clients:
            client.close()
    code, _, err = d.client("--status")
    check(code == 0, "--status after the silent clients: %d %r" % (code, err))
