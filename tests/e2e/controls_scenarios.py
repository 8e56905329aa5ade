"""The controls of a real service: the signal a polite stop sends, a signal
on demand, quit during a stop, exit codes of --send that scripts can trust,
quick exits counted always, and SIGHUP and a second copy in headless mode."""

import json
import os
import pwd
import signal
import subprocess
import time

from driver import check, scenario
from headless_scenarios import log_texts, wait_logged
from startup_scenarios import write_app_ini
from supervision_scenarios import App, start_with, wait_gone


def terms(app):
    return app.log.events("term")


@scenario("stop_signal_to_the_main_process", modes=("native",))
def stop_signal_to_the_main_process(d):
    """[StopSignal] x = QUIT main, on an application with two children: its
    main process is asked with SIGQUIT, and its children hear nothing before
    the main process has ended (they are ended with it)."""
    base = d.temp_dir("stopsignal")
    app = App(d, base, "x", "--tree 1 2 --ask-signal QUIT --on-term 300")
    pane = start_with(d, [app], general="StopTimeout = 5")
    with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
        f.write("[StopSignal]\nx = QUIT main\n")
    pane.enter_line("quit")
    pane.wait_dead()
    pane = d.start_manager(base)
    starts = app.wait_starts(3)
    main = starts[0]["pid"]
    pane.enter_line("stop 0")
    pane.wait_text(r"x stopped\.")
    wait_gone(d, [s["pid"] for s in starts], "the tree")
    asked = terms(app)
    check([(t["pid"], t["value"]) for t in asked] == [(main, "SIGQUIT")],
          "who was asked, with what: %r" % [(t["pid"], t["value"]) for t in asked])
    check(any(e["pid"] == main for e in app.log.exits()), "the main process did not finish")


@scenario("signal_on_demand", modes=("native",))
def signal_on_demand(d):
    """With ExtraCommands, "signal 0 HUP" sends SIGHUP to the application's
    own process, which records it, and the log says so."""
    base = d.temp_dir("signal")
    app = App(d, base, "web", "--ask-signal HUP --on-term 60000")
    pane = start_with(d, [app], general="ExtraCommands = 1")
    pid = app.wait_starts(1)[0]["pid"]
    pane.command("signal 0 HUP", ["Sent SIGHUP to web."])
    d.wait_until(lambda: terms(app), "the application to record the signal")
    check([(t["pid"], t["value"]) for t in terms(app)] == [(pid, "SIGHUP")],
          "recorded %r" % terms(app))


def process_uid(pid):
    with open("/proc/%d/status" % pid) as f:
        return [int(line.split()[1]) for line in f if line.startswith("Uid:")][0]


@scenario("run_as_user", modes=("native",))
def run_as_user(d):
    """As root, [User] x = nobody: a copy of x's executable that runs as
    root is not attached to; x is started as nobody, with nobody's USER and
    the HOME of its [Environment], which wins over nobody's. An unknown user
    fails the start with a line that names it."""
    check(os.geteuid() == 0, "starting a program as another user needs root")
    user = pwd.getpwnam("nobody")
    base = d.temp_dir("user")
    app = App(d, base, "x", "--record-env HOME --record-env USER")
    ghost = App(d, base, "ghost")
    # nobody reaches its executable and writes its own log.
    os.chmod(base, 0o755)
    with open(app.log_path, "a"):
        pass
    os.chown(app.log_path, user.pw_uid, user.pw_gid)
    hand = d.track(os.path.join(base, "hand.log"))
    d.start_helper_outside(base, app.exe, ["--log", hand.path, "--tag", "hand"])
    hand_pid = d.wait_until(lambda: hand.start_pids(), "the copy started by hand")[0]
    write_app_ini(d, base, [app.ini(), ghost.ini()])
    with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
        f.write("[User]\nx = nobody\nghost = no-such-user-zelk\n"
                "[Environment]\nx = HOME=/srv/zelk-home\n")
    pane = d.start_manager(base)
    pane.wait_text(r"Could not start ghost as user no-such-user-zelk\. Error: \d+\.")
    pid = app.wait_starts(1)[0]["pid"]
    check(pid != hand_pid and process_uid(pid) == user.pw_uid,
          "x runs as uid %d" % process_uid(pid))
    env = {e["name"]: e["value"] for e in app.log.events("env")}
    check(env == {"HOME": "/srv/zelk-home", "USER": "nobody"}, "x's environment: %r" % env)
    pane.command("stop 0", ["Terminating process x."])
    wait_gone(d, [pid], "x")
    check(d.alive([hand_pid]), "the copy started by hand was ended")


@scenario("quit_leaves_a_stop_to_finish", modes=("native",))
def quit_leaves_a_stop_to_finish(d):
    """"stop 0" and "quit" at once, with an application that finishes its
    work 300 ms after SIGTERM: it finishes (its exit record), and the log
    says it was left to end on its own."""
    base = d.temp_dir("quitstop")
    app = App(d, base, "db", "--on-term 300")
    pane = start_with(d, [app], general="StopTimeout = 5")
    pid = app.wait_starts(1)[0]["pid"]
    pane.enter_line("stop 0")
    pane.enter_line("quit")
    pane.wait_text(r"db is still stopping; it is left to end on its own\.")
    pane.wait_dead()
    d.wait_until(lambda: any(e["pid"] == pid for e in app.log.exits()),
                 "the application to finish its work")


@scenario("send_exit_codes")
def send_exit_codes(d):
    """--send of a line that fails exits with 1: an application that does
    not exist, an unknown command. Natively, --send "stop 0" of an
    application that takes 300 ms to finish (StopTimeout = 5) returns once
    it has ended. Under Wine, [StopSignal] and [User] are reported as ignored."""
    base = d.temp_dir("sendcodes")
    app = App(d, base, "slow", "--on-term 300")
    write_app_ini(d, base, [app.ini()], "StopTimeout = 5")
    if d.mode == "wine":
        with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
            f.write("[StopSignal]\nslow = QUIT main\n[User]\nslow = nobody\n")
    pane = d.start_manager(base)
    pid = app.wait_starts(1)[0]["pid"]
    for line, text in (("stop 9", "Application does not exist."),
                       ("frobnicate", "No such command")):
        code, out, _ = d.client("--send", line)
        check(code == 1 and out.splitlines() == [text], "--send %r: %d %r" % (line, code, out))
    if d.mode == "wine":
        check({"Ignored stop signal QUIT main of slow.", "Ignored user nobody of slow."}
              <= set(pane.messages()), "the stop signal and user were not reported as ignored")
        return
    code, out, _ = d.client("--send", "stop 0")
    check(code == 0 and out.splitlines() == ["Terminating process slow.", "slow stopped."],
          "--send stop 0: %d %r" % (code, out))
    check(any(e["pid"] == pid for e in app.log.exits()) and not d.alive([pid]),
          "--send returned before the application had ended")


@scenario("quick_exits_are_counted", modes=("native",))
def quick_exits_are_counted(d):
    """Without RestartDelay, an application that ends at once is started
    again at once, and --status --json shows its quick exits growing."""
    base = d.temp_dir("quick")
    app = App(d, base, "crash", "--run-ms 0")
    start_with(d, [app])
    app.wait_starts(4)

    def quick_exits():
        code, out, _ = d.client("--status", "--json")
        return json.loads(out)[0]["quick_exits"] if code == 0 else 0

    first = d.wait_until(quick_exits, "quick exits to be counted")
    d.wait_until(lambda: quick_exits() > first, "the quick exits to grow")


@scenario("headless_reload_and_second_copy", modes=("native",))
def headless_reload_and_second_copy(d):
    """Headless: SIGHUP applies a changed file (an added application
    starts); a second headless manager for the same user says so on
    standard error and exits with 1."""
    base = d.temp_dir("hup")
    one, two = App(d, base, "one"), App(d, base, "two")
    write_app_ini(d, base, [one.ini()])
    manager, out = d.start_headless(base)
    one.wait_starts(1)
    write_app_ini(d, base, [one.ini(), two.ini()])
    manager.send_signal(signal.SIGHUP)
    two.wait_starts(1)
    wait_logged(d, out, "Configuration reloaded: 1 added, 0 removed, 0 changed, 1 unchanged.")
    second = subprocess.run([d.manager, "--headless"], cwd=base, env=d.environment(),
                            stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            timeout=d.timeout)
    check(second.returncode == 1 and
          second.stderr == "Another manager is already running for this user.\n",
          "the second copy: %d %r" % (second.returncode, second.stderr))
    check("Asked to end" not in " ".join(log_texts(out)), "the first manager was asked to end")
    manager.send_signal(signal.SIGTERM)
    check(manager.wait(timeout=d.timeout) == 0, "the manager's exit code")
