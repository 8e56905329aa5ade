#!/usr/bin/env python3
"""Benchmarks of the manager's native Linux build. Prints figures; asserts nothing.

    python3 bench/bench.py [--build build/native] [--restarts 200] [--idle 10]
                           [--operator-options]

With --operator-options every configuration also turns on LogFile,
ReportExits and RetryFailedStarts, to compare their cost.

Measured, each in a tmux pane of 80 x 25 with the test helper program as the
supervised applications:

  restart latency  the time from an application's "exit" record to its
                   replacement's "start" record, for an application that runs
                   for 200 ms, so that its end finds the manager waiting, not in
                   the 100 ms pause that follows every pass (median and 95th
                   percentile)
  idle cost        the manager's context switches (wakeups) and CPU time over
                   an idle period with 5 applications running
  memory           the manager's resident set size (VmRSS and its peak, VmHWM)
  tree stop        the time from pressing Enter on "stop 0" until every process
                   of a tree has ended: 100 processes (the application and 99
                   children) and 121 processes (4 levels of 3 below the
                   application); best, median and worst of 5
"""

import argparse
import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from driver import Driver, HelperLog, native_alive  # noqa: E402


def record_time(record):
    """A record's time in milliseconds, with microseconds where the helper gives them."""
    if "us" in record:
        return int(record["us"]) / 1000.0
    return float(record["t"])


def percentile(values, fraction):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(fraction * (len(ordered) - 1)))))
    return ordered[index]


def proc_status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def cpu_ms(pid):
    with open("/proc/%d/stat" % pid) as f:
        stat = f.read()
    rest = stat[stat.rfind(")") + 2:].split()
    ticks = int(rest[11]) + int(rest[12])  # utime + stime
    return ticks * 1000.0 / os.sysconf("SC_CLK_TCK")


def switches(pid):
    status = proc_status(pid)
    return int(status["voluntary_ctxt_switches"]) + int(status["nonvoluntary_ctxt_switches"])


# [General] lines added to every configuration (see --operator-options).
GENERAL = []


def app_config(driver, directory, apps):
    """apps: (name, helper arguments). Each gets a copy of the helper of its own."""
    lines = (["[General]"] + GENERAL if GENERAL else []) + ["[Applications]"]
    params = ["[Parameters]"]
    for name, args in apps:
        exe = driver.helper_copy(os.path.join(directory, name))
        lines.append("%s=%s" % (name, exe))
        params.append("%s=%s" % (name, args))
    driver.write_ini(directory, "\n".join(lines + params) + "\n")


def bench_restart(driver, restarts):
    directory = driver.temp_dir("bench-restart")
    log_path = os.path.join(directory, "flash.log")
    app_config(driver, directory, [("flash", "--log %s --run-ms 200" % log_path)])
    log = driver.track(log_path)
    pane = driver.start_manager(directory)
    driver.wait_until(
        lambda: len(log.starts()) > restarts,
        "%d restarts" % restarts,
        timeout=restarts * 0.5 + 30,
    )
    pane.enter_line("quit")
    pane.wait_dead()
    records = [r for r in log.records() if r.get("event") in ("start", "exit")]
    latencies = []
    for previous, following in zip(records, records[1:]):
        if previous["event"] == "exit" and following["event"] == "start":
            latencies.append(record_time(following) - record_time(previous))
    return latencies


def bench_idle(driver, seconds):
    directory = driver.temp_dir("bench-idle")
    apps = []
    logs = []
    for i in range(5):
        log_path = os.path.join(directory, "app%d.log" % i)
        apps.append(("app%d" % i, "--log %s" % log_path))
        logs.append(driver.track(log_path))
    app_config(driver, directory, apps)
    pane = driver.start_manager(directory)
    pid = pane.program_pid()
    driver.wait_until(lambda: all(log.starts() for log in logs), "5 applications to start")
    time.sleep(1.0)
    before_switches, before_cpu = switches(pid), cpu_ms(pid)
    time.sleep(seconds)
    after_switches, after_cpu = switches(pid), cpu_ms(pid)
    status = proc_status(pid)
    fds = len(os.listdir("/proc/%d/fd" % pid))
    pane.enter_line("quit")
    pane.wait_dead()
    return {
        "wakeups": after_switches - before_switches,
        "cpu_ms": after_cpu - before_cpu,
        "rss": status["VmRSS"],
        "hwm": status["VmHWM"],
        "fds": fds,
    }


def bench_tree(driver, tree_args, expected, rounds=5):
    directory = driver.temp_dir("bench-tree")
    log_path = os.path.join(directory, "tree.log")
    app_config(driver, directory, [("tree", "--log %s --tree %s" % (log_path, tree_args))])
    log = driver.track(log_path)
    pane = driver.start_manager(directory)
    times = []
    seen = 0
    for _ in range(rounds):
        driver.wait_until(
            lambda: len(log.starts()) >= seen + expected, "%d processes" % expected, timeout=60
        )
        pids = log.start_pids()[seen:seen + expected]
        seen += expected
        pane.type("stop 0")
        # The typed keys cost the manager its two pauses (50 ms after the
        # keys, 100 ms after the pass): let them pass, so that Enter finds
        # it waiting and the clock measures the stop alone.
        time.sleep(0.3)
        t0 = time.monotonic()
        pane.keys("Enter")
        while any(native_alive(p) for p in pids):
            time.sleep(0.001)
        times.append((time.monotonic() - t0) * 1000.0)
        pane.enter_line("start 0")
    driver.wait_until(lambda: len(log.starts()) >= seen + expected, "the last tree", timeout=60)
    pane.enter_line("stop 0")
    pane.enter_line("quit")
    pane.wait_dead()
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--restarts", type=int, default=200)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--operator-options", action="store_true")
    args = parser.parse_args()
    if args.operator_options:
        GENERAL.extend(["LogFile=manager.log", "ReportExits=1", "RetryFailedStarts=5"])

    with Driver("native", args.build, timeout=60) as driver:
        try:
            latencies = bench_restart(driver, args.restarts)
            print("restart latency over %d restarts: median %.2f ms, 95th percentile %.2f ms, "
                  "max %.2f ms" % (len(latencies), statistics.median(latencies),
                                   percentile(latencies, 0.95), max(latencies)))

            idle = bench_idle(driver, args.idle)
            print("idle for %.0f s with 5 applications: %d wakeups, %.0f ms CPU"
                  % (args.idle, idle["wakeups"], idle["cpu_ms"]))
            print("memory: VmRSS %s, peak VmHWM %s; open descriptors %d"
                  % (idle["rss"], idle["hwm"], idle["fds"]))

            for label, tree_args, expected in (("flat", "1 99", 100), ("deep", "4 3", 121)):
                times = bench_tree(driver, tree_args, expected)
                print("stop a %s tree of %d processes: best %.1f ms, median %.1f ms, worst %.1f ms"
                      % (label, expected, min(times), statistics.median(times), max(times)))
        finally:
            driver.kill_tracked()


if __name__ == "__main__":
    main()
