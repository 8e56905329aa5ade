#!/usr/bin/env python3
"""Benchmarks of the manager's native Linux build against a floor. Prints figures; asserts nothing.

    python3 bench/bench.py [--build build/native] [--restarts 50] [--idle 10]
                           [--crowd 1000] [--rounds 5] [--runs 1] [--only ...]

Every workload runs twice in the same invocation: once under the manager
(in a tmux pane of 80 x 25) and once under bench/floor.c, the least a Linux
supervisor can do for the same work (posix_spawn and waitpid; killpg for a
tree). Each figure is printed with its floor and the ratio of the two. The
supervised applications are copies of the test helper program.

  restart latency  an application that runs for 300 ms, so that its end
                   finds the supervisor waiting: the time from its "exit"
                   record to its replacement's "start" record (median and
                   95th percentile)
  idle cost        context switches (wakeups) and CPU time of the supervisor
                   over an idle period with 15 applications running
  memory           resident set size (VmRSS) of the idle supervisor with 15
                   applications
  start-up walk    with --crowd other processes running (all readable, so
                   the manager's walk for running copies looks at each), the
                   time from the supervisor's exec to the 15th application's
                   start record; the floor reads every process's executable
                   link once before its 15 spawns, as a supervisor that
                   attaches to running copies must
  tree stop        from the stop command (Enter, sent through a tmux control
                   client; for the floor, a line on its input) until the
                   last process of the tree has ended, watched with pidfds:
                   121 processes (the application and 4 levels of 3) and
                   1,000 processes (the application and 999 children)
  stop by --send   the same stop asked from outside (`zelkappmgr --send
                   "stop 0"`, started in the background): until the last
                   process of the tree has ended, and until the client has
                   its answer, both against the floor's killpg; for 121
                   processes and 820 (the application and 3 levels of 9)
  polite by --send a tree of 13 processes that end on SIGTERM, stopped with
                   StopTimeout set: when the client has its answer, against
                   when the last process ended (the answer should follow the
                   end at once)
  pending relaunch wakeups of the idle manager over the idle period while a
                   relaunch 60 s away is pending (RestartDelay = 60)
  capture          a program writing 1 GiB in 4 KiB writes to its standard
                   output: its throughput with OutputDirectory on tmpfs
                   against writing straight to a file there, and the
                   capture process's largest resident set meanwhile
  polite stop      the same with StopTimeout set, for the 121-process tree,
                   whose members end on SIGTERM: from the stop command until
                   the last process has ended, against the floor's killpg
  contained stop   the stop of the 121-process tree with ContainProcesses
                   (needs root: cgroup v2), against the floor's killpg
  stopping crowd   (no floor) among --crowd other processes, the manager's
                   CPU time over --idle seconds while 15 applications stop
                   politely (StopTimeout far away) and their 3 children each
                   ignore SIGTERM, without and with ContainProcesses
  health checks    15 applications, each ready on its port and checked on it
                   every 10 s ([Ready], [Health]): the manager's wakeups
                   in the 6 s between two check rounds, and the wakeups and
                   CPU time (from /proc/PID/schedstat) of one round
  http checks      the same with http:// readiness and health checks: a GET
                   of each application's helper HTTP server every 10 s
  figures          (no floor) 15 applications among --crowd other
                   processes: the manager's CPU time for one --status, which
                   reads each application's CPU time and memory, and the
                   client's time to its answer (medians of --rounds)
  fairness         (bench/fairness.py, no floor) how soon the manager serves
                   what is ready beside other work, and how close relaunch
                   pauses and stop limits come to their settings

With --runs N every selected workload runs N times, manager and floor in
turn, and a last table gives each figure's median over the runs with the
range of its ratio. bench/costs.py breaks the figures down (system calls,
instructions, memory by mapping and allocation site, the phases of a stop).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from driver import Driver  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "bench"))
import fairness  # noqa: E402

# Runs the rest of its arguments after writing the wall-clock time (µs since
# 1970, as the helper's records have it) to the file named first.
STAMP = ("import os, sys, time; open(sys.argv[1], 'w').write(str(time.time_ns() // 1000)); "
         "os.execv(sys.argv[2], sys.argv[2:])")


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


def rss_kib(pid):
    return int(proc_status(pid)["VmRSS"].split()[0])


def build_tool(build, name):
    """bench/NAME.c compiled into the build directory as bench_NAME (again
    when the source is newer); returns its path."""
    program = os.path.join(build, "bench_" + name)
    source = os.path.join(ROOT, "bench", name + ".c")
    if not os.path.exists(program) or os.path.getmtime(program) < os.path.getmtime(source):
        subprocess.run(["cc", "-O2", "-o", program, source], check=True)
    return program


def build_floor(build):
    return build_tool(build, "floor")


class Apps:
    """Applications for one workload: name -> (executable copy, arguments).
    The manager gets an INI file; the floor a file of command lines."""

    def __init__(self, driver, directory):
        self.driver = driver
        self.directory = directory
        self.apps = []
        self.logs = []

    def add(self, name, args):
        exe = self.driver.helper_copy(os.path.join(self.directory, name))
        log_path = os.path.join(self.directory, name + ".log")
        self.apps.append((name, exe, "--log %s --tag %s %s" % (log_path, name, args)))
        log = self.driver.track(log_path)
        self.logs.append(log)
        return log

    def write_ini(self, general=""):
        lines = ["[General]", general] if general else []
        lines += ["[Applications]"] + ["%s=%s" % (n, e) for n, e, _ in self.apps]
        lines += ["[Parameters]"] + ["%s=%s" % (n, a) for n, _, a in self.apps]
        self.driver.write_ini(self.directory, "\n".join(lines) + "\n")

    def write_floor_file(self):
        path = os.path.join(self.directory, "floor.apps")
        with open(path, "w") as f:
            for _, exe, args in self.apps:
                f.write("%s %s\n" % (exe, args))
        return path

    def all_started(self, count=1):
        return all(len(log.starts()) >= count for log in self.logs)


def end_started(driver, apps):
    pids = set()
    for log in apps.logs:
        pids.update(log.start_pids())
    driver.kill(*driver.alive(pids))


def remove_cgroups(driver):
    """Removes the cgroups that the managers of this run made with
    ContainProcesses (named after the user and the runtime directory, below
    the cgroup the run is in), once what was ended in them has gone."""
    with open("/proc/self/mountinfo") as f:
        mounts = [line.split()[4] for line in f if " - cgroup2 " in line]
    with open("/proc/self/cgroup") as f:
        own = [line[3:].strip() for line in f if line.startswith("0::")]
    if not mounts or not own:
        return
    digest = 1469598103934665603
    for byte in driver.runtime_dir.encode():
        digest = ((digest ^ byte) * 1099511628211) % (1 << 64)
    top = os.path.join(mounts[0] + own[0].rstrip("/"),
                       "zelkappmgr-%d-%016x" % (os.geteuid(), digest))
    if not os.path.isdir(top):
        return
    for name in os.listdir(top):
        path = os.path.join(top, name)
        if os.path.isdir(path):
            driver.wait_until(lambda: open(os.path.join(path, "cgroup.procs")).read() == "",
                              "%s to empty" % path)
            os.rmdir(path)
    os.rmdir(top)


class Floor:
    def __init__(self, path):
        self.path = path

    def start(self, *args, stdin=subprocess.DEVNULL, stamp=None):
        argv = [self.path] + [str(a) for a in args]
        if stamp is not None:
            argv = [sys.executable, "-c", STAMP, stamp] + argv
        return subprocess.Popen(argv, stdin=stdin, stdout=subprocess.PIPE, text=True)


def stop_process(process):
    process.kill()
    process.wait()


# -- restart latency ---------------------------------------------------------
def latencies_of(log):
    records = [r for r in log.records() if r.get("event") in ("start", "exit")]
    result = []
    for previous, following in zip(records, records[1:]):
        if previous["event"] == "exit" and following["event"] == "start":
            result.append(record_time(following) - record_time(previous))
    return result


def restart_manager(driver, restarts):
    apps = Apps(driver, driver.temp_dir("bench-restart"))
    log = apps.add("flash", "--run-ms 300")
    apps.write_ini()
    pane = driver.start_manager(apps.directory)
    driver.wait_until(lambda: len(log.starts()) > restarts, "%d restarts" % restarts,
                      timeout=restarts * 0.5 + 30)
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return latencies_of(log)


def restart_floor(driver, floor, restarts):
    apps = Apps(driver, driver.temp_dir("bench-restart-floor"))
    log = apps.add("flash", "--run-ms 300")
    process = floor.start("restart", restarts, apps.write_floor_file())
    process.wait()
    return latencies_of(log)


# -- idle cost and memory ------------------------------------------------------
def fifteen_apps(driver, name):
    apps = Apps(driver, driver.temp_dir(name))
    for i in range(15):
        apps.add("app%02d" % i, "")
    return apps


def idle_figures(pid, seconds):
    before_switches, before_cpu = switches(pid), cpu_ms(pid)
    time.sleep(seconds)
    return {
        "wakeups": switches(pid) - before_switches,
        "cpu_ms": cpu_ms(pid) - before_cpu,
        "rss": rss_kib(pid),
    }


def idle_manager(driver, seconds):
    apps = fifteen_apps(driver, "bench-idle")
    apps.write_ini()
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(apps.all_started, "15 applications to start")
    time.sleep(1.0)
    figures = idle_figures(pid, seconds)
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return figures


def idle_with_pending_relaunch(driver, seconds):
    apps = fifteen_apps(driver, "bench-idle-pending")
    apps.apps[0] = (apps.apps[0][0], apps.apps[0][1], apps.apps[0][2] + " --run-ms 0")
    apps.write_ini("RestartDelay = 60")
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(apps.all_started, "15 applications to start")
    pane.wait_text(r"Will restart app00 in 60 s\.")
    time.sleep(1.0)
    figures = idle_figures(pid, seconds)
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return figures


def idle_floor(driver, floor, seconds):
    apps = fifteen_apps(driver, "bench-idle-floor")
    process = floor.start("supervise", apps.write_floor_file())
    driver.wait_until(apps.all_started, "15 applications to start under the floor")
    time.sleep(1.0)
    figures = idle_figures(process.pid, seconds)
    stop_process(process)
    end_started(driver, apps)
    return figures


# -- health checks ------------------------------------------------------------
def cpu_ns(pid):
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0])


def wait_for_wakeup(pid, timeout):
    """The time of the manager's next wakeup, watched every 5 ms."""
    before = switches(pid)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if switches(pid) != before:
            return time.monotonic()
        time.sleep(0.005)
    raise RuntimeError("the manager did not wake up within %.0f s" % timeout)


def health_checks(driver, rounds, http=False):
    import socket
    apps = fifteen_apps(driver, "bench-health" + ("-http" if http else ""))
    ports = []
    for i, (name, exe, args) in enumerate(apps.apps):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            ports.append(s.getsockname()[1])
        serve = " --http %d" if http else " --listen %d"
        apps.apps[i] = (name, exe, args + serve % ports[-1])
    check = "http://127.0.0.1:%d/health" if http else "port %d"
    ready = "\n".join(("%s = " + check) % (n, p) for (n, _, _), p in zip(apps.apps, ports))
    health = "\n".join(("%s = " + check + " every 10") % (n, p)
                       for (n, _, _), p in zip(apps.apps, ports))
    apps.write_ini("[Ready]\n%s\n[Health]\n%s" % (ready, health))
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(apps.all_started, "15 applications to start")
    between, per_round, cpu_us = [], [], []
    time.sleep(2.0)  # they become ready
    round_at = wait_for_wakeup(pid, 15)  # the first round, 10 s after that
    for _ in range(rounds):
        # Between two rounds: from 2 s after one to 2 s before the next.
        time.sleep(max(0.0, round_at + 2 - time.monotonic()))
        s0 = switches(pid)
        time.sleep(6)
        between.append(switches(pid) - s0)
        # One round: from 2 s before it to 2 s after it.
        time.sleep(max(0.0, round_at + 8 - time.monotonic()))
        s0, c0 = switches(pid), cpu_ns(pid)
        time.sleep(4)
        per_round.append(switches(pid) - s0)
        cpu_us.append((cpu_ns(pid) - c0) / 1000.0)
        round_at += 10
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return between, per_round, cpu_us


def status_figures(driver, rounds):
    """15 applications among the crowd: the manager's CPU time for one
    --status (which reads every application's CPU time and memory), and the
    client's time from start to answer; medians of `rounds`."""
    apps = fifteen_apps(driver, "bench-figures")
    apps.write_ini()
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(apps.all_started, "15 applications to start")
    cpu_us, client_ms = [], []
    for _ in range(rounds):
        c0, t0 = cpu_ns(pid), time.monotonic()
        code, _, _ = driver.client("--status")
        client_ms.append((time.monotonic() - t0) * 1000.0)
        cpu_us.append((cpu_ns(pid) - c0) / 1000.0)
        if code != 0:
            raise RuntimeError("--status failed")
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return statistics.median(cpu_us), statistics.median(client_ms)


# -- start-up among many processes -------------------------------------------
def fifteenth_start_ms(driver, apps, stamp_path):
    driver.wait_until(apps.all_started, "15 applications to start")
    with open(stamp_path) as f:
        launched_us = int(f.read())
    last_start = max(record_time(log.starts()[0]) for log in apps.logs)
    return last_start - launched_us / 1000.0


def startup_manager(driver, crowd_size):
    apps = fifteen_apps(driver, "bench-startup")
    apps.write_ini()
    stamp = os.path.join(apps.directory, "launched")
    command = [sys.executable, "-c", STAMP, stamp] + driver.manager_command()[-1:]
    pane = driver.start(apps.directory, command=command)
    ms = fifteenth_start_ms(driver, apps, stamp)
    pane.wait_ready()
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return ms


def startup_floor(driver, floor):
    apps = fifteen_apps(driver, "bench-startup-floor")
    stamp = os.path.join(apps.directory, "launched")
    process = floor.start("startup", apps.write_floor_file(), stamp=stamp)
    ms = fifteenth_start_ms(driver, apps, stamp)
    stop_process(process)
    end_started(driver, apps)
    return ms


# -- tree stop ---------------------------------------------------------------
class ControlClient:
    """A tmux control-mode client of the driver's server: a key sent through it
    reaches the pane without starting a tmux process per key."""

    def __init__(self, driver):
        # It may be the first tmux client: the server takes its environment,
        # the runtime directory of the driver included, from this one.
        self.process = subprocess.Popen(
            [driver.tmux_bin, "-L", driver.socket, "-f", "/dev/null", "-C",
             "new-session", "-s", "bench-control"],
            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True,
            env=driver.environment())

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def watch(floor, pids):
    """A watcher of `pids` that is ready; read its output for the end time."""
    watcher = floor.start("watch", *pids)
    if watcher.stdout.readline().strip() != "ready":
        raise RuntimeError("the watcher did not start")
    return watcher


def ended_at(watcher):
    value = float(watcher.stdout.readline())
    watcher.wait()
    return value


def watch_next_tree(driver, floor, log, expected, seen):
    """Waits for the `expected` processes of the tree started after the first
    `seen` of the log and watches them: (watcher, processes seen now)."""
    driver.wait_until(lambda: len(log.starts()) >= seen + expected,
                      "%d processes" % expected, timeout=120)
    return watch(floor, log.start_pids()[seen:seen + expected]), seen + expected


def tree_application(driver, tree_args, general):
    """A manager whose one application starts a tree: (apps, log, pane)."""
    apps = Apps(driver, driver.temp_dir("bench-tree"))
    log = apps.add("tree", "--tree %s" % tree_args)
    apps.write_ini(general)
    return apps, log, driver.start_manager(apps.directory)


def end_tree_application(driver, apps, log, pane, started):
    """Stops the tree started last (once all `started` processes are up) and
    ends the manager."""
    driver.wait_until(lambda: len(log.starts()) >= started, "the last tree", timeout=120)
    pane.enter_line("stop 0")
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)


def tree_manager(driver, floor, control, tree_args, expected, rounds, general=""):
    apps, log, pane = tree_application(driver, tree_args, general)
    times = []
    seen = 0
    for _ in range(rounds):
        watcher, seen = watch_next_tree(driver, floor, log, expected, seen)
        pane.clear_log()
        pane.type("stop 0")
        # The typed keys cost the manager its two pauses (50 ms after the
        # keys, 100 ms after the pass): let them pass, so that Enter finds
        # it waiting and the clock measures the stop alone.
        time.sleep(0.3)
        t0 = time.monotonic() * 1000.0
        control.send("send-keys -t %s Enter" % pane.name)
        times.append(ended_at(watcher) - t0)
        # A polite stop is over once the manager has looked at the tree.
        pane.wait_text(r"tree stopped\." if "StopTimeout" in general
                       else r"Terminating process tree\.")
        time.sleep(0.3)
        pane.enter_line("start 0")
    end_tree_application(driver, apps, log, pane, seen + expected)
    return times


def tree_floor(driver, floor, tree_args, expected, rounds):
    apps = Apps(driver, driver.temp_dir("bench-tree-floor"))
    log = apps.add("tree", "--tree %s" % tree_args)
    path = apps.write_floor_file()
    times = []
    seen = 0
    for _ in range(rounds):
        process = floor.start("tree", path, stdin=subprocess.PIPE)
        driver.wait_until(lambda: len(log.starts()) >= seen + expected,
                          "%d processes under the floor" % expected, timeout=120)
        pids = log.start_pids()[seen:seen + expected]
        seen += expected
        watcher = watch(floor, pids)
        time.sleep(0.3)
        t0 = time.monotonic() * 1000.0
        process.stdin.write("stop\n")
        process.stdin.flush()
        times.append(ended_at(watcher) - t0)
        process.wait()
    end_started(driver, apps)
    return times


class Client:
    """`zelkappmgr --send LINE` started in the background; `answered` is the
    CLOCK_MONOTONIC time in ms at which it ended."""

    def __init__(self, driver, line):
        import threading
        self.process = subprocess.Popen([driver.manager, "--send", line],
                                        env=driver.environment(), stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.answered = None
        self.output = ""
        self.thread = threading.Thread(target=self.wait)
        self.thread.start()

    def wait(self):
        self.output = self.process.communicate()[0]
        self.answered = time.monotonic() * 1000.0

    def join(self):
        self.thread.join(timeout=60)
        return self.answered


def stop_by_send(driver, floor, tree_args, expected, rounds, general=""):
    """Stops of a tree asked with --send: per round (last process ended,
    client answered), in ms from the client's start."""
    apps, log, pane = tree_application(driver, tree_args, general)
    results = []
    seen = 0
    for _ in range(rounds):
        watcher, seen = watch_next_tree(driver, floor, log, expected, seen)
        time.sleep(0.3)
        t0 = time.monotonic() * 1000.0
        client = Client(driver, "stop 0")
        last = ended_at(watcher) - t0
        answered = client.join()
        if answered is None:
            raise RuntimeError("the client did not end")
        results.append((last, answered - t0))
        time.sleep(0.3)
        pane.enter_line("start 0")
    end_tree_application(driver, apps, log, pane, seen + expected)
    return results


# -- stopping among many processes ----------------------------------------------
def stopping_crowd(driver, seconds, general=""):
    """The manager's CPU time (ms) over `seconds` after "stopall" asked 15
    applications to end whose 3 children each ignore SIGTERM."""
    apps = Apps(driver, driver.temp_dir("bench-stopping"))
    for i in range(15):
        apps.add("app%02d" % i, "--tree 1 3 --stubborn-children")
    apps.write_ini("StopTimeout = %d\n%s" % (int(seconds) + 60, general))
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(lambda: apps.all_started(4), "15 trees of 4 processes")
    time.sleep(1.0)
    before = cpu_ms(pid)
    pane.enter_line("stopall")
    time.sleep(seconds)
    used = cpu_ms(pid) - before
    pane.enter_line("stopall")  # a second stop ends the trees at once
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return used


# -- output capture ------------------------------------------------------------
CAPTURE_BYTES = 1 << 30


def write_seconds(log):
    start, end = log.starts()[-1], log.exits()[-1]
    return (end["us"] - start["us"]) / 1e6


def capture_direct(driver, directory):
    """The helper writing straight to a file in `directory`: seconds."""
    apps = Apps(driver, driver.temp_dir("bench-direct"))
    log = apps.add("writer", "--write-bytes %d --run-ms 0" % CAPTURE_BYTES)
    _, exe, args = apps.apps[0]
    with open(os.path.join(directory, "direct.out"), "wb") as out:
        subprocess.run([exe] + args.split(), stdout=out, check=True)
    return write_seconds(log)


def capture_manager(driver, directory):
    """The same under the manager with its output captured to `directory`:
    seconds, and the capture process's largest VmRSS in KiB once it runs
    (from 0.3 s after the start: its start-up, before it gives back what it
    no longer needs, is not its footprint)."""
    apps = Apps(driver, driver.temp_dir("bench-capture"))
    log = apps.add("writer", "--write-bytes %d --run-ms 0" % CAPTURE_BYTES)
    apps.write_ini("OutputDirectory = %s\nRestartDelay = 3600" % directory)
    pane = driver.start_manager(apps.directory)
    largest = 0
    driver.wait_until(log.starts, "the writer to start")
    time.sleep(0.3)
    while not log.exits():
        for entry in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    argv = f.read().split(b"\0")
                if argv[1:2] == [b"--capture"] and argv[2].startswith(directory.encode()):
                    largest = max(largest, rss_kib(int(entry)))
            except (OSError, ValueError):
                pass
        time.sleep(0.05)
    pane.enter_line("quit")
    pane.wait_dead()
    end_started(driver, apps)
    return write_seconds(log), largest


# -- output ------------------------------------------------------------------
def ratio(value, floor):
    return "%.2fx" % (value / floor) if floor else "n/a"


# Every figure shown, by name: (value, floor, unit, goal) of each run.
FIGURES = {}


def show(what, value, floor, unit, goal=""):
    FIGURES.setdefault(what, []).append((value, floor, unit, goal))
    print("%-44s %10.2f %-4s floor %10.2f %-4s ratio %7s%s"
          % (what, value, unit, floor, unit, ratio(value, floor),
             ("   goal " + goal) if goal else ""))
    sys.stdout.flush()


def show_medians():
    """Each figure's median over the runs, with the range of its ratio."""
    print("\nmedians of %d runs" % max(len(v) for v in FIGURES.values()))
    for what, runs in FIGURES.items():
        values = [r[0] for r in runs]
        floors = [r[1] for r in runs]
        ratios = sorted(r[0] / r[1] for r in runs if r[1])
        unit, goal = runs[0][2], runs[0][3]
        spread = ("%.2fx-%.2fx" % (ratios[0], ratios[-1])) if ratios else ""
        print("%-44s %10.2f %-4s floor %10.2f %-4s ratio %7s (%s)%s"
              % (what, statistics.median(values), unit, statistics.median(floors), unit,
                 ("%.2fx" % statistics.median(ratios)) if ratios else "n/a", spread,
                 ("   goal " + goal) if goal else ""))
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--restarts", type=int, default=50)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--crowd", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--runs", type=int, default=1,
                        help="runs of every workload; the medians follow the last")
    parser.add_argument("--only",
                        default="restart,idle,startup,tree,send,politesend,polite,contained,"
                                "stopping,capture,health,httphealth,figures,fairness",
                        help="the workloads to run, separated by commas")
    args = parser.parse_args()
    only = set(args.only.split(","))
    floor = Floor(build_floor(args.build))
    print("load average %s" % open("/proc/loadavg").read().split()[0])
    for run in range(args.runs):
        if args.runs > 1:
            print("\nrun %d of %d" % (run + 1, args.runs))
        run_workloads(args, only, floor, run)
    if args.runs > 1:
        show_medians()


def run_workloads(args, only, floor, run):
    with Driver("native", args.build, timeout=60) as driver:
        # A tmux server of its own for each run: the last run's may still be
        # going away.
        driver.socket += "-%d" % run
        # Builds from before the runtime directory had a variable of its own
        # found it through XDG_RUNTIME_DIR: both name the run's own, so that
        # older builds can be measured the same way.
        plain = driver.environment
        driver.environment = lambda: dict(plain(), XDG_RUNTIME_DIR=driver.runtime_dir)
        control = None
        try:
            if "restart" in only:
                manager = restart_manager(driver, args.restarts)
                base = restart_floor(driver, floor, args.restarts)
                show("restart latency, median (300 ms application)",
                     statistics.median(manager), statistics.median(base), "ms", "<= 1.2x")
                show("restart latency, 95th percentile", percentile(manager, 0.95),
                     percentile(base, 0.95), "ms")

            if "idle" in only:
                manager = idle_manager(driver, args.idle)
                base = idle_floor(driver, floor, args.idle)
                show("idle %.0f s, 15 applications: wakeups" % args.idle, manager["wakeups"],
                     base["wakeups"], "", "0")
                show("idle %.0f s, 15 applications: CPU" % args.idle, manager["cpu_ms"],
                     base["cpu_ms"], "ms")
                show("resident memory, idle, 15 applications", manager["rss"] / 1024.0,
                     base["rss"] / 1024.0, "MiB", "<= 2 MiB")
                pending = idle_with_pending_relaunch(driver, args.idle)
                show("idle %.0f s, a relaunch 60 s away: wakeups" % args.idle,
                     pending["wakeups"], base["wakeups"], "", "<= 1")

            if "startup" in only or "stopping" in only or "figures" in only:
                crowd = floor.start("crowd", args.crowd, stdin=subprocess.PIPE)
                try:
                    if crowd.stdout.readline().strip() != "ready":
                        raise RuntimeError("the crowd did not start")
                    if "startup" in only:
                        manager = [startup_manager(driver, args.crowd)
                                   for _ in range(args.rounds)]
                        base = [startup_floor(driver, floor) for _ in range(args.rounds)]
                        show("15th application started, %d others, median of %d"
                             % (args.crowd, args.rounds), statistics.median(manager),
                             statistics.median(base), "ms", "<= 1.3x")
                    if "figures" in only:
                        cpu_us, client_ms = status_figures(driver, args.rounds)
                        print("%-60s %8.1f us" % ("--status of 15 applications, %d others: "
                                                  "manager CPU (median)" % args.crowd, cpu_us))
                        print("%-60s %8.1f ms" % ("--status of 15 applications, %d others: "
                                                  "client time (median)" % args.crowd,
                                                  client_ms))
                        sys.stdout.flush()
                    if "stopping" in only:
                        for label, general, goal in (("trees", "", "<= 500 ms"),
                                                     ("cgroups", "ContainProcesses = 1",
                                                      "<= 100 ms")):
                            used = stopping_crowd(driver, args.idle, general)
                            show("15 stopping, %d others, %.0f s: CPU (%s)"
                                 % (args.crowd, args.idle, label), used, 0, "ms", goal)
                finally:
                    crowd.stdin.close()
                    crowd.wait()

            # The stops by --send need no tmux control client: they come before
            # it (tmux 3.3a crashed twice starting their first pane beside one).
            for label, tree_args, expected, rounds in (
                ("121", "4 3", 121, 3),
                ("820", "3 9", 820, 3),
            ):
                if "send" not in only:
                    break
                results = stop_by_send(driver, floor, tree_args, expected, rounds)
                base = tree_floor(driver, floor, tree_args, expected, rounds)
                show("stop of a %s-process tree by --send, all dead" % label,
                     statistics.median(r[0] for r in results), statistics.median(base), "ms",
                     "<= 1.5x")
                show("%s-process tree: the --send answer" % label,
                     statistics.median(r[1] for r in results), statistics.median(base), "ms",
                     "<= 2x")
            if "politesend" in only:
                results = stop_by_send(driver, floor, "2 3", 13, args.rounds, "StopTimeout = 5")
                show("polite stop of 13 by --send: answer vs end",
                     statistics.median(r[1] for r in results),
                     statistics.median(r[0] for r in results), "ms", "<= end + 5 ms")
            control = ControlClient(driver)
            for label, tree_args, expected, rounds in (
                ("121", "4 3", 121, args.rounds),
                ("1,000", "1 999", 1000, max(1, args.rounds // 2 + 1)),
            ):
                if "tree" not in only:
                    break
                manager = tree_manager(driver, floor, control, tree_args, expected, rounds)
                base = tree_floor(driver, floor, tree_args, expected, rounds)
                show("stop of a %s-process tree, median of %d" % (label, rounds),
                     statistics.median(manager), statistics.median(base), "ms", "<= 2x")
            if "capture" in only:
                directory = tempfile.mkdtemp(prefix="zelk-bench-", dir="/dev/shm")
                try:
                    direct = capture_direct(driver, directory)
                    captured, rss = capture_manager(driver, directory)
                finally:
                    subprocess.run(["rm", "-rf", directory])
                mib = CAPTURE_BYTES / float(1 << 20)
                show("1 GiB written through the capture: MiB/s", mib / captured, mib / direct,
                     "", ">= 0.7x")
                show("capture process, largest resident set", rss / 1024.0, 1.0, "MiB",
                     "<= 1 MiB")
            if "contained" in only:
                manager = tree_manager(driver, floor, control, "4 3", 121, args.rounds,
                                       "ContainProcesses = 1")
                base = tree_floor(driver, floor, "4 3", 121, args.rounds)
                show("contained stop of a 121-process tree, median of %d" % args.rounds,
                     statistics.median(manager), statistics.median(base), "ms", "<= 1.2x")
            if "polite" in only:
                manager = tree_manager(driver, floor, control, "4 3", 121, args.rounds,
                                       "StopTimeout = 5")
                base = tree_floor(driver, floor, "4 3", 121, args.rounds)
                show("polite stop of a 121-process tree, median of %d" % args.rounds,
                     statistics.median(manager), statistics.median(base), "ms", "<= 2x")
            if "health" in only:
                between, per_round, cpu_us = health_checks(driver, args.rounds)
                print("%-60s %8d    goal 0" % ("health checks every 10 s, 15 applications: "
                                               "wakeups between rounds (max)", max(between)))
                print("%-60s %8.1f" % ("one round of 15 port checks: wakeups (median)",
                                       statistics.median(per_round)))
                print("%-60s %8.1f us" % ("one round of 15 port checks: CPU (median)",
                                          statistics.median(cpu_us)))
                sys.stdout.flush()
            if "httphealth" in only:
                between, per_round, cpu_us = health_checks(driver, args.rounds, http=True)
                print("%-60s %8d    goal 0" % ("http checks every 10 s, 15 applications: "
                                               "wakeups between rounds (max)", max(between)))
                print("%-60s %8.1f" % ("one round of 15 http checks: wakeups (median)",
                                       statistics.median(per_round)))
                print("%-60s %8.1f us" % ("one round of 15 http checks: CPU (median)",
                                          statistics.median(cpu_us)))
                sys.stdout.flush()
            if "fairness" in only:
                fairness.run(driver, lambda what, value, unit, goal: print(
                    "%-60s %8.3f %-2s goal %s" % (what, value, unit, goal)))
        finally:
            if control is not None:
                control.close()
            driver.kill_tracked()
            remove_cgroups(driver)


if __name__ == "__main__":
    main()
