"""Timings of the manager's promises that the end-to-end scenarios check
only as behaviour: how soon the loop serves what is ready beside other work,
how close relaunch pauses and stop limits come to what they are set to.
Run by bench.py (--only fairness); prints figures, asserts nothing."""

import itertools
import os
import socket
import threading
import time

from supervision_scenarios import App, start_with, wait_gone


def keep_doing(action, stop, every):
    while not stop.is_set():
        action()
        stop.wait(every)


def in_background(action, every):
    """Starts action() every `every` seconds; returns a function that ends it."""
    stop = threading.Event()
    worker = threading.Thread(target=keep_doing, args=(action, stop, every))
    worker.start()

    def end():
        stop.set()
        worker.join()

    return end


def quit_manager(pane):
    pane.enter_line("quit")
    pane.wait_dead()


def relaunch_while_typing(d):
    """Seconds from the kill of an application to its new start while keys
    are typed 50 ms apart."""
    app = App(d, d.temp_dir("bench-typing"), "steady")
    pane = start_with(d, [app])
    app.wait_starts(1)
    keys = itertools.cycle(["x", "BSpace"])
    end = in_background(lambda: pane.keys(next(keys)), 0.05)
    try:
        time.sleep(2.5)
        killed = time.time()
        d.kill(app.last_pid())
        delay = app.wait_starts(2)[-1]["us"] / 1e6 - killed
        time.sleep(2.5)
    finally:
        end()
    quit_manager(pane)
    return delay


def starts_while_polling(d):
    """Starts in 10 s of an application that lives 300 ms, and the --status
    answers meanwhile, while a script runs --status back to back."""
    app = App(d, d.temp_dir("bench-polling"), "brief", "--run-ms 300")
    pane = start_with(d, [app])
    app.wait_starts(1)
    answers = []
    end = in_background(lambda: answers.append(d.client("--status")[0]), 0)
    try:
        since = time.time()
        time.sleep(10)
        until = time.time()
    finally:
        end()
    quit_manager(pane)
    return len([s for s in app.starts() if since <= s["us"] / 1e6 <= until]), len(answers)


def echo_beside_silent_clients(d):
    """The longest of three key echoes, in seconds, each with 4 clients
    connected and silent."""
    app = App(d, d.temp_dir("bench-silent"), "quiet")
    pane = start_with(d, [app])
    app.wait_starts(1)
    path = os.path.join(d.runtime_dir, "ZelkAppMgr.sock")
    longest = 0.0
    for key in "abc":
        time.sleep(0.3)
        clients = []
        try:
            for _ in range(4):
                client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                client.connect(path)
                clients.append(client)
            time.sleep(0.11)
            typed = time.monotonic()
            pane.type(key)
            while not pane.input_row().endswith(key):
                pass
            longest = max(longest, time.monotonic() - typed)
        finally:
            for client in clients:
                client.close()
    quit_manager(pane)
    return longest


def relaunch_pauses(d):
    """The start times (s from the first) of an application that ends at
    once, with RestartDelay = 1, RestartDelayMax = 4 and GiveUpAfter = 6."""
    app = App(d, d.temp_dir("bench-delay"), "crash", "--run-ms 0")
    pane = start_with(d, [app], general="RestartDelay = 1\nRestartDelayMax = 4\nGiveUpAfter = 6")
    pane.wait_text(r"Giving up on crash", timeout=40)
    starts = [s["us"] / 1e6 for s in app.starts()]
    quit_manager(pane)
    return [round(t - starts[0], 2) for t in starts]


def stop_limits(d):
    """Seconds from "stop" until the tree of an application that ignores
    SIGTERM is gone, with StopTimeout = 2: at the limit, and after a second
    "stop"."""
    app = App(d, d.temp_dir("bench-limit"), "stubborn", "--ignore-term --tree 1 3")
    pane = start_with(d, [app], general="StopTimeout = 2")
    took = []
    for second in (False, True):
        app.wait_starts(4 * (len(took) + 1))
        pids = app.pids()[-4:]
        asked = time.monotonic()
        pane.enter_line("stop 0")
        if second:
            pane.enter_line("stop 0")
        wait_gone(d, pids, "the tree")
        took.append(time.monotonic() - asked)
        pane.enter_line("start 0")
    quit_manager(pane)
    d.kill_tracked()
    return took


def run(d, show):
    """Runs every workload and prints its figures with `show(what, value, goal)`."""
    show("relaunch while keys are typed 50 ms apart", relaunch_while_typing(d), "s", "<= 0.5 s")
    starts, answers = starts_while_polling(d)
    show("starts in 10 s of a 300 ms program beside --status polling", starts, "",
         ">= 20 (%d answers)" % answers)
    show("key echo beside 4 silent clients, longest of 3", echo_beside_silent_clients(d), "s",
         "<= 0.15 s")
    times = relaunch_pauses(d)
    show("start times with RestartDelay 1, max 4: last of %r" % times, times[-1], "s",
         "about 0 1 3 7 11 15")
    limit, second = stop_limits(d)
    show("tree gone after stop with StopTimeout = 2", limit, "s", "<= 2.5 s")
    show("tree gone after a second stop", second, "s", "< 1.5 s")
