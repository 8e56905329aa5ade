"""What an operator watches and bounds: the CPU and memory of each
application in --status, [MaxMemory] restarting one that grows, http://
readiness and health checks, and --tail reading and following an
application's output from another directory."""

import json
import os
import re
import subprocess
import time

from driver import check, scenario
from readiness_scenarios import sections, status
from stop_scenarios import free_port
from supervision_scenarios import App, start_with


def resident_bytes(pid):
    """VmRSS of a process from /proc, 0 once it has ended."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


@scenario("status_usage_figures", modes=("native",))
def status_usage_figures(d):
    """An application with 5 children and one that holds 40 MiB: --status
    --json gives cpu_seconds and memory_bytes for each, memory_bytes within
    30 % of the sum of their processes' resident memory in /proc; the table
    has CPU(S) and MEM columns."""
    base = d.temp_dir("usage")
    tree = App(d, base, "tree", "--tree 1 5")
    big = App(d, base, "big", "--hold-mb 40")
    pane = start_with(d, [tree, big])
    tree.wait_starts(6)
    big_pid = big.wait_starts(1)[0]["pid"]
    d.wait_until(lambda: resident_bytes(big_pid) >= 40 << 20, "big to hold its 40 MiB")
    apps = status(d)
    for name, app in apps.items():
        check(isinstance(app["cpu_seconds"], (int, float)), "cpu_seconds of %s: %r" % (name, app))
        check(isinstance(app["memory_bytes"], int), "memory_bytes of %s: %r" % (name, app))
    for app, pids in ((tree, tree.pids()), (big, big.pids())):
        expected = sum(resident_bytes(pid) for pid in pids)
        told = status(d)[app.name]["memory_bytes"]
        check(abs(told - expected) <= 0.3 * expected,
              "%s: memory_bytes %d, /proc says %d" % (app.name, told, expected))
    check(status(d)["big"]["memory_bytes"] >= 40 << 20, "big holds less than 40 MiB")
    code, out, _ = d.client("--status")
    header = out.splitlines()[0].split()
    check(code == 0 and "CPU(S)" in header and "MEM" in header, "--status header %r" % header)
    row = [line.split() for line in out.splitlines() if " big " in line][0]
    # LAST EXIT, NEXT START(S) and QUICK EXITS take two words each in the
    # header, one in a row.
    check(re.fullmatch(r"\d+(\.\d)?M", row[header.index("MEM") - 3]), "MEM of big %r" % row)
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("max_memory_restarts", modes=("native",))
def max_memory_restarts(d):
    """[MaxMemory] grow = 30M with a program that grows by 10 MiB a second:
    restarted within 20 s, the log says why, --status shows the limit."""
    base = d.temp_dir("maxmem")
    grow = App(d, base, "grow", "--grow-mb 10")
    pane = start_with(d, [grow], general=sections("", MaxMemory={"grow": "30M"}))
    first = grow.wait_starts(1)[0]["pid"]
    code, out, _ = d.client("--status")
    check(code == 0 and "MAX MEM" in out and "30M" in out, "--status shows no limit: %r" % out)
    pane.wait_text(r"grow uses \d+(\.\d)?M, over its limit of 30M; restarting it\.", timeout=20)
    grow.wait_starts(2)
    check(not d.alive([first]), "the first process runs on")
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


def write_status(path, text):
    with open(path + ".new", "w") as f:
        f.write(text + "\n")
    os.replace(path + ".new", path)


@scenario("http_ready_holds_dependent", modes=("native",))
def http_ready_holds_dependent(d):
    """web listens after 1.5 s and answers 503 at first: api, started after
    web, waits until web answers 200 at /ready; then web is ready and api
    starts."""
    base = d.temp_dir("httpready")
    port = free_port()
    answer = os.path.join(base, "answer")
    write_status(answer, "503")
    web = App(d, base, "web", "--http %d --http-after 1500 --http-status %s" % (port, answer))
    api = App(d, base, "api")
    pane = start_with(d, [web, api], general=sections(
        "", After={"api": "web"}, Ready={"web": "http://127.0.0.1:%d/ready" % port}))
    web.wait_starts(1)
    d.wait_until(lambda: web.log.events("listen"), "web to listen")
    time.sleep(0.5)  # a few GETs answered 503
    check(status(d)["web"]["state"] == "starting", "web is not starting on a 503")
    check(not api.starts(), "api started before web answered 200")
    write_status(answer, "200")
    api.wait_starts(1)
    messages = pane.messages()
    check("web is ready." in messages and
          messages.index("web is ready.") < messages.index("Starting process api."),
          "api started before web was ready: %r" % messages)
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("http_health_restarts", modes=("native",))
def http_health_restarts(d):
    """[Health] every 1 with [HealthFailures] 2: web is restarted when it
    answers 500, and again when it takes the connection and never answers."""
    base = d.temp_dir("httphealth")
    port = free_port()
    answer = os.path.join(base, "answer")
    write_status(answer, "200")
    web = App(d, base, "web", "--http %d --http-status %s" % (port, answer))
    url = "http://127.0.0.1:%d" % port
    pane = start_with(d, [web], general=sections(
        "", Ready={"web": url + "/ready"}, Health={"web": url + "/health every 1"},
        HealthFailures={"web": "2"}))
    first = web.wait_starts(1)[0]["pid"]
    d.wait_until(lambda: status(d)["web"]["health"] == "healthy", "web to be healthy")
    write_status(answer, "500")
    pane.wait_text(r"web failed 2 health checks in a row; restarting it\.")
    write_status(answer, "200")
    second = web.wait_starts(2)[1]["pid"]
    check(not d.alive([first]), "the process that answered 500 runs on")
    d.wait_until(lambda: status(d)["web"]["health"] == "healthy", "the new web to be healthy")
    pane.clear_log()
    write_status(answer, "hang")
    pane.wait_text(r"web failed 2 health checks in a row; restarting it\.")
    web.wait_starts(3)
    check(not d.alive([second]), "the process that stopped answering runs on")
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


def numbers(text, tag):
    return [int(line.split()[1]) for line in text.splitlines() if line.startswith(tag + " ")]


@scenario("tail_from_outside", modes=("native",))
def tail_from_outside(d):
    """From another directory, --tail t 3 prints t's last 3 lines; --tail t
    --follow goes on printing new lines in order, none twice and none lost,
    across rotations, and ends 0 once the manager ends; --tail of an
    application that does not exist fails as the console says it."""
    base = d.temp_dir("tail")
    t = App(d, base, "t", "--print-lines 10 --print-every 5")
    pane = start_with(d, [t], general="OutputDirectory = out\nOutputMaxBytes = 4096\n"
                      "OutputBackups = 3")
    out_file = os.path.join(base, "out", "t.log")
    d.wait_until(lambda: os.path.exists(out_file + ".1"), "t's output to rotate")
    elsewhere = d.temp_dir("elsewhere")
    code, out, err = d.client("--tail", "t", "3", cwd=elsewhere)
    got = numbers(out, "t")
    check(code == 0 and len(got) == 3 and got == list(range(got[0], got[0] + 3)),
          "--tail t 3: %d %r %r" % (code, out, err))
    code, out, err = d.client("--tail", "nothere", cwd=elsewhere)
    check(code == 1 and err.strip() == "Application does not exist.",
          "--tail nothere: %d %r" % (code, err))

    follow_out = os.path.join(elsewhere, "follow")
    with open(follow_out, "w") as f:
        follower = subprocess.Popen([d.manager, "--tail", "t", "--follow"], cwd=elsewhere,
                                    env=d.environment(), stdout=f, stderr=subprocess.STDOUT)
    rotated = os.stat(out_file).st_ino
    d.wait_until(lambda: os.stat(out_file).st_ino != rotated, "another rotation")
    d.wait_until(lambda: len(numbers(open(follow_out).read(), "t")) > 800, "lines to follow")
    pane.enter_line("quit")
    pane.wait_dead()
    code = follower.wait(timeout=10)
    got = numbers(open(follow_out).read(), "t")
    check(code == 0, "the follower ended with %r" % code)
    check(got == list(range(got[0], got[0] + len(got))),
          "followed lines out of order, twice or lost: %r" %
          [(a, b) for a, b in zip(got, got[1:]) if b != a + 1][:5])
    d.kill_tracked()
