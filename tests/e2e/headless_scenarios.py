"""The manager without a console (--headless): the log on standard output,
commands through --send, SIGTERM stopping every application, systemd's
readiness datagrams, and orphans reaped as process 1."""

import os
import signal
import socket
import subprocess
import time

from driver import check, proc_stat, scenario
from startup_scenarios import write_app_ini
from supervision_scenarios import App, wait_gone


def log_texts(path):
    with open(path, errors="replace") as f:
        return [line[20:] for line in f.read().splitlines()]


def wait_logged(d, path, text, timeout=None):
    return d.wait_until(lambda: text in log_texts(path), "%r in the headless log" % text,
                        timeout=timeout)


@scenario("headless_service", modes=("native",))
def headless_service(d):
    """Start-up lines reach standard output while the manager runs, --send
    works, READY=1 reaches NOTIFY_SOCKET (an abstract one) after the last
    start, and no application finds the variable; SIGTERM sends STOPPING=1,
    ends every application's tree and the manager with exit code 0, and the
    log shows the stops."""
    base = d.temp_dir("headless")
    tree = App(d, base, "tree", "--tree 1 2")
    plain = App(d, base, "plain", "--record-env NOTIFY_SOCKET")
    write_app_ini(d, base, [tree.ini(), plain.ini()])
    name = "zelk-notify-%d" % os.getpid()
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify.bind("\0" + name)
    notify.settimeout(d.timeout)
    try:
        manager, out = d.start_headless(base, {"NOTIFY_SOCKET": "@" + name})
        check(notify.recv(64) == b"READY=1", "READY=1 did not come first")
        check(log_texts(out)[-1] == "Starting process plain.",
              "READY=1 came before the last start: %r" % log_texts(out))
        tree.wait_starts(3)
        notified = d.wait_until(lambda: plain.log.events("env"), "plain's environment")
        check(notified[0]["value"] == "<unset>", "NOTIFY_SOCKET reached plain: %r" % notified)
        code, printed, _ = d.client("--send", "stop 0")
        check(code == 0 and printed.strip() == "Terminating process tree.", "--send: %r" % printed)
        wait_gone(d, tree.pids(), "tree")
        code, _, _ = d.client("--send", "start 0")
        tree.wait_starts(6)
        pids = tree.pids()[3:] + plain.pids()
        manager.send_signal(signal.SIGTERM)
        check(notify.recv(64) == b"STOPPING=1", "STOPPING=1 did not come")
        check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")
    finally:
        notify.close()
    wait_gone(d, pids, "every application's tree")
    texts = log_texts(out)
    for line in ("Asked to end: stopping every application.", "Terminating process tree.",
                 "Terminating process plain."):
        check(line in texts, "%r is not in the log: %r" % (line, texts))


@scenario("headless_as_process_one", modes=("native",))
def headless_as_process_one(d):
    """As process 1 of a PID namespace, an orphan that a daemon left ends
    1 s later and leaves no zombie, and an application's exit status is
    still read for its report."""
    base = d.temp_dir("pid1")
    orphans = App(d, base, "orphans", "--daemon --daemon-ms 1000")
    coded = App(d, base, "coded", "--run-ms 500 --exit-code 7")
    write_app_ini(d, base, [orphans.ini(), coded.ini()], general="ReportExits = 1")
    manager, out = d.start_headless(
        base, wrapper=["unshare", "--pid", "--fork", "--mount-proc", "--kill-child"])
    wait_logged(d, out, "coded exited with code 7.")
    orphans.wait_starts(2)
    daemon = [s["pid"] for s in orphans.starts() if s["tag"].endswith(".daemon")]
    time.sleep(1.5)  # the daemon's run, and a little
    inner = d.wait_until(lambda: [p for p in children(manager.pid)], "the manager in the namespace")
    zombies = [p for p in children(inner[0]) if proc_stat(p)[0] == "Z"]
    check(not zombies, "zombies of the manager: %r (the daemon ran as %r)" % (zombies, daemon))
    os.kill(inner[0], signal.SIGTERM)
    check(manager.wait(timeout=d.timeout) == 0, "the namespace's exit code")
    d.kill_tracked()


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat is not None and stat[1] == pid:
                found.append(int(entry))
    return found


@scenario("headless_under_wine", modes=("wine",))
def headless_under_wine(d):
    """Under Wine the headless manager logs its start-up to standard output
    and ends with 0 on --send quit."""
    base = d.temp_dir("headless")
    app = App(d, base, "alpha")
    write_app_ini(d, base, [app.ini()])
    manager, out = d.start_headless(base)
    wait_logged(d, out, "Starting process alpha.")
    app.wait_starts(1)
    code, _, _ = d.client("--send", "quit")
    check(code == 0, "--send quit failed")
    check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")
    d.kill_tracked()
