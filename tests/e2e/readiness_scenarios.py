"""Start order and readiness: [After] starts an application once those it
names are ready, [Ready] says when that is (a port, a line of output, the
notify socket), [ReadyTimeout] relaunches one that never gets there, and
[Health] restarts one that stops answering. The helper waits for a gate
file before it listens, writes or notifies, so that every scenario sees the
application not ready first, whatever the machine's load."""

import json
import os
import socket

from driver import check, scenario
from headless_scenarios import log_texts, wait_logged
from startup_scenarios import RULE, write_app_ini
from stop_scenarios import free_port
from supervision_scenarios import App, start_with


def sections(general="", **entries):
    """[General] keys, then a section per keyword: name -> {app: value}."""
    lines = [general] if general else []
    for section, values in entries.items():
        lines.append("[%s]" % section)
        lines += ["%s = %s" % item for item in values.items()]
    return "\n".join(lines)


def gate(d, base, name="gate"):
    return os.path.join(base, name)


def open_gate(path):
    with open(path, "w") as f:
        f.write("open\n")


def status(d):
    code, out, _ = d.client("--status", "--json")
    check(code == 0, "--status failed: %d" % code)
    return {app["name"]: app for app in json.loads(out)}


def start_order_app(d, base, port, mode_gate):
    db = App(d, base, "db", "--wait-for %s --listen %d" % (d.path(mode_gate), port))
    web = App(d, base, "web")
    return db, web


@scenario("start_order_waits_until_ready", modes=("native", "wine"))
def start_order_waits_until_ready(d):
    """web starts after db, which is ready once it listens on its port:
    until then "list" shows db starting and web waiting, and web has not
    started; then "db is ready." comes before web's start; "stopall" stops
    web before db."""
    base = d.temp_dir("order")
    port = free_port()
    door = gate(d, base)
    db, web = start_order_app(d, base, port, door)
    pane = start_with(d, [db, web], general=sections(
        "", After={"web": "db"}, Ready={"db": "port %d" % port}))
    db.wait_starts(1)
    pane.wait_text(r"web waits for db\.")
    pane.command("list", ["", RULE, "   0: db [STARTING]", "   1: web [WAITING]", RULE, ""])
    check(status(d)["db"]["state"] == "starting", "--status does not say starting")
    check(not web.starts(), "web started before db was ready")
    open_gate(door)
    web.wait_starts(1)
    listened = db.log.events("listen")
    check(listened and listened[0]["value"] == "ok", "db did not listen: %r" % listened)
    pane.wait_text(r"db is ready\.")
    messages = pane.messages()
    check(messages.index("db is ready.") < messages.index("Starting process web."),
          "web started before db was ready: %r" % messages)
    pane.command("stopall", ["Terminating process web.", "Terminating process db."])
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("ready_by_output_line")
def ready_by_output_line(d):
    """With output capture, x is starting until it writes a line holding
    "ready now", and ready after."""
    base = d.temp_dir("output")
    door = gate(d, base)
    x = App(d, base, "x", '--wait-for %s --say-after 0 "it is ready now"' % d.path(door))
    pane = start_with(d, [x], general=sections(
        "[General]\nOutputDirectory = out", Ready={"x": "output ready now"}))
    x.wait_starts(1)
    check(status(d)["x"]["state"] == "starting", "x is not starting before its line")
    open_gate(door)
    pane.wait_text(r"x is ready\.")
    check(status(d)["x"]["state"] == "running", "x is not running once ready")
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("ready_by_notify", modes=("native",))
def ready_by_notify(d):
    """y gets NOTIFY_SOCKET and is ready once it sends READY=1; the STATUS=
    text it sent is in --status."""
    base = d.temp_dir("notify")
    door = gate(d, base)
    y = App(d, base, "y", "--wait-for %s --notify-after 0" % door)
    pane = start_with(d, [y], general=sections("", Ready={"y": "notify"}))
    y.wait_starts(1)
    check(status(d)["y"]["state"] == "starting", "y is not starting before READY=1")
    open_gate(door)
    pane.wait_text(r"y is ready\.")
    check(y.log.events("notify")[0]["value"] == "ok", "the helper could not notify")
    now = status(d)["y"]
    check(now["state"] == "running" and now["status_text"] == "up", "--status: %r" % now)
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("ready_timeout_relaunches", modes=("native",))
def ready_timeout_relaunches(d):
    """An application that never opens its port is ended at its
    [ReadyTimeout] and started again, as after a quick exit."""
    base = d.temp_dir("timeout")
    z = App(d, base, "z")
    pane = start_with(d, [z], general=sections(
        "", Ready={"z": "port %d" % free_port()}, ReadyTimeout={"z": "1"}))
    first = z.wait_starts(1)[0]["pid"]
    pane.wait_text(r"z did not become ready within 1 s\.")
    z.wait_starts(2)
    check(not d.alive([first]), "the first process runs on after the limit")
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("health_check_restarts", modes=("native",))
def health_check_restarts(d):
    """h is checked on its port every second: healthy while it listens;
    once it has closed the port, it is restarted after 3 failures with the
    line that says so."""
    base = d.temp_dir("health")
    port = free_port()
    door = gate(d, base)
    h = App(d, base, "h", "--listen %d --listen-until %s" % (port, door))
    pane = start_with(d, [h], general=sections(
        "", Ready={"h": "port %d" % port}, Health={"h": "port %d every 1" % port}))
    first = h.wait_starts(1)[0]["pid"]
    pane.wait_text(r"h is ready\.")
    d.wait_until(lambda: status(d)["h"]["health"] == "healthy", "h to be healthy")
    open_gate(door)
    pane.wait_text(r"h failed 3 health checks in a row; restarting it\.")
    h.wait_starts(2)
    check(not d.alive([first]), "the unhealthy process runs on")
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("start_order_cycle", modes=("native",))
def start_order_cycle(d):
    """a after b and b after a: the cycle is reported for both, and both
    start."""
    base = d.temp_dir("cycle")
    a, b = App(d, base, "a"), App(d, base, "b")
    pane = start_with(d, [a, b], general=sections("", After={"a": "b", "b": "a"}))
    a.wait_starts(1)
    b.wait_starts(1)
    pane.wait_text(r"Ignored start order of b: cycle b -> a -> b\.")
    check("Ignored start order of a: cycle a -> b -> a." in pane.messages(),
          "the cycle is not reported for a: %r" % pane.messages())
    pane.enter_line("quit")
    pane.wait_dead()
    d.kill_tracked()


@scenario("headless_ready_after_the_slowest", modes=("native",))
def headless_ready_after_the_slowest(d):
    """Headless, READY=1 reaches NOTIFY_SOCKET only once the slowest
    application is ready, not when every one has been launched."""
    base = d.temp_dir("headless-ready")
    port = free_port()
    door = gate(d, base)
    fast = App(d, base, "fast")
    slow = App(d, base, "slow", "--wait-for %s --listen %d" % (door, port))
    write_app_ini(d, base, [fast.ini(), slow.ini()],
                  sections("", Ready={"slow": "port %d" % port}))
    name = "zelk-ready-%d" % os.getpid()
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify.bind("\0" + name)
    try:
        manager, out = d.start_headless(base, {"NOTIFY_SOCKET": "@" + name})
        fast.wait_starts(1)
        slow.wait_starts(1)
        wait_logged(d, out, "Starting process slow.")
        notify.setblocking(False)
        try:
            early = notify.recv(64)
        except BlockingIOError:
            early = None
        check(early is None, "%r came while slow was not ready" % early)
        open_gate(door)
        notify.settimeout(d.timeout)
        check(notify.recv(64) == b"READY=1", "READY=1 did not come")
        check("slow is ready." in log_texts(out), "READY=1 came before slow was ready")
        d.client("--send", "quit")
        check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")
    finally:
        notify.close()
    d.kill_tracked()
