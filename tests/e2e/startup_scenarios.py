"""Start-up and shutdown: the missing configuration, the single instance, the
window title and the terminal, and configuration files that must not upset
the manager."""

import datetime
import os
import random
import re
import stat

from driver import (
    STAMP_RE,
    TITLE,
    check,
    format_screen,
    scenario,
)

RULE = "=" * 40
NO_CONFIG = "Could not open zelkappmgr.ini!"


def check_stamp_is_now(stamp_text, what):
    match = STAMP_RE.match(stamp_text)
    check(match is not None, "%s: %r does not begin with a time stamp" % (what, stamp_text))
    day, month, year, hour, minute, second = (int(g) for g in match.groups())
    shown = datetime.datetime(2000 + year, month, day, hour, minute, second)
    now = datetime.datetime.now()
    check(
        abs((now - shown).total_seconds()) < 60,
        "%s: time stamp %s is not local time now (%s)" % (what, match.group(0), now),
    )


def check_no_config_screen(pane, rows):
    h = pane.height
    row = rows[h - 2]
    check(
        re.fullmatch(r"\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\] " + re.escape(NO_CONFIG), row),
        "row %d should be the stamp, a blank and %r:\n%s" % (h - 2, NO_CONFIG, format_screen(rows)),
    )
    check_stamp_is_now(row, "row %d" % (h - 2))
    others = [i for i, r in enumerate(rows) if r.strip() and i != h - 2]
    check(not others, "rows %r should be blank:\n%s" % (others, format_screen(rows)))


@scenario("no_config")
def no_config(d):
    """Without zelkappmgr.ini the manager reports it on the newest log row and
    ends with exit code 0, whatever the size of its window."""
    for width, height in ((80, 25), (100, 40), (21, 2)):
        empty = d.temp_dir("noconf")
        pane = d.start(empty, width, height)
        status = pane.wait_dead()
        rows = pane.screen()
        check(status == 0, "exit status %r, expected 0 (%dx%d)" % (status, width, height))
        if width >= 80:
            check_no_config_screen(pane, rows)
            check(pane.title() != TITLE, "the title was set although no configuration was read")
        else:
            # 21 columns leave one column of text per row and the log area is
            # the single row 0: each byte scrolls the one before it away, and
            # the last byte stays alone in column 20 of a continuation row.
            check(
                rows == [" " * 20 + "!", ""],
                "a 21x2 window should end with the message's last byte in column 20:\n%s"
                % format_screen(rows),
            )


def write_app_ini(d, directory, apps, general=""):
    """apps: list of (name, linux path or raw text, parameters or None)."""
    lines = []
    if general:
        lines += ["[General]", general]
    lines.append("[Applications]")
    for name, path, _ in apps:
        lines.append("%s=%s" % (name, d.path(path) if path.startswith("/") else path))
    lines.append("[Parameters]")
    for name, _, params in apps:
        if params is not None:
            lines.append("%s=%s" % (name, params))
    d.write_ini(directory, "\n".join(lines) + "\n")


def forever_app(d, base, name):
    """A helper copy in base/name that runs until killed, logging to
    base/name.log; returns (ini tuple, HelperLog)."""
    exe = d.helper_copy(os.path.join(base, name))
    log_path = os.path.join(base, name + ".log")
    params = "--log %s --tag %s" % (d.path(log_path), name)
    return (name, exe, params), d.track(log_path)


def wait_starts(d, log, count, what=""):
    try:
        return d.wait_until(
            lambda: len(log.starts()) >= count and log.starts(),
            "%d start records in %s %s" % (count, log.path, what),
        )
    except AssertionError as failure:
        try:
            with open(log.path, errors="replace") as f:
                text = f.read()
        except OSError:
            text = "(no log)"
        raise type(failure)("%s; the log holds:\n%s" % (failure, text[-4000:]))


def list_rows(entries):
    """The messages of "list" for [(name, running)]."""
    rows = ["", RULE]
    for i, (name, running) in enumerate(entries):
        rows.append(("%4d: %s" % (i, name)) + ("" if running else " [STOPPED]"))
    rows += [RULE, ""]
    return rows


@scenario("single_instance")
def single_instance(d):
    """A second manager, in the same or in another directory, ends at once
    with exit code 0 and shows nothing; the first one runs on untouched. Once
    the first has quit, a new one may start."""
    first_dir = d.temp_dir("first")
    app, log = forever_app(d, first_dir, "keeper")
    write_app_ini(d, first_dir, [app])
    first = d.start_manager(first_dir)
    first.wait_text(r"Starting process keeper\.$")
    wait_starts(d, log, 1)
    keeper_pid = log.start_pids()[0]

    other_dir = d.temp_dir("other")
    other_app, other_log = forever_app(d, other_dir, "intruder")
    write_app_ini(d, other_dir, [other_app])

    for where in (first_dir, other_dir):
        second = d.start(where)
        status = second.wait_dead()
        rows = second.screen()
        check(status == 0, "second copy in %s: exit status %r, expected 0" % (where, status))
        check(
            not any(r.strip() for r in rows),
            "second copy in %s wrote to its screen:\n%s" % (where, format_screen(rows)),
        )
        check(second.title() != TITLE, "second copy in %s set the title" % where)

    check(other_log.starts() == [], "the second copy in another directory started its application")
    first.command("list", list_rows([("keeper", True)]))
    check(len(log.starts()) == 1, "the first copy's application was started again")
    check(d.alive([keeper_pid]) == {keeper_pid}, "the first copy's application ended")

    first.enter_line("quit")
    check(first.wait_dead() == 0, "quit: exit status is not 0")
    third = d.start_manager(first_dir)
    third.wait_text(r"keeper already running, attached!$")
    third.command("list", list_rows([("keeper", True)]))
    check(len(log.starts()) == 1, "the application was started although it runs")
    third.enter_line("quit")
    check(third.wait_dead() == 0, "quit: exit status is not 0")


STTY_SCRIPT = """#!/bin/sh
# Records the terminal settings before and after the manager ran.
dir="$1"
stty -g > "$dir/before.tmp" && mv "$dir/before.tmp" "$dir/before"
"$2"
echo "$?" > "$dir/status"
stty -g > "$dir/after.tmp" && mv "$dir/after.tmp" "$dir/after"
"""


def run_under_stty_script(d, how):
    work = d.temp_dir("stty")
    d.write_ini(work, "[Applications]\n")
    script = os.path.join(work, "run.sh")
    with open(script, "w") as f:
        f.write(STTY_SCRIPT)
    pane = d.start(work, command=["sh", script, work, d.manager])
    pane.wait_ready()
    before = open(os.path.join(work, "before")).read()
    pid = pane.program_pid(d.manager)
    how(pane, pid)
    d.wait_until(lambda: os.path.exists(os.path.join(work, "after")), "the script to finish")
    after = open(os.path.join(work, "after")).read()
    status = open(os.path.join(work, "status")).read().strip()
    return before, after, status, pane


@scenario("title_and_terminal", modes=("native",))
def title_and_terminal(d):
    """The manager titles its window; the terminal settings are the same after
    it ended, by SIGTERM or by quit, as before it started."""

    def terminate(pane, pid):
        check(pane.title() == TITLE, "title is %r" % pane.title())
        os.kill(pid, 15)

    before, after, status, _ = run_under_stty_script(d, terminate)
    check(before == after, "after SIGTERM the terminal settings differ:\n%s\n%s" % (before, after))

    def quit_(pane, pid):
        pane.enter_line("quit")

    before, after, status, _ = run_under_stty_script(d, quit_)
    check(before == after, "after quit the terminal settings differ:\n%s\n%s" % (before, after))
    check(status == "0", "after quit the exit status is %s" % status)


@scenario("title", modes=("wine",))
def title_wine(d):
    """Under Wine the console title reaches the tmux pane."""
    work = d.temp_dir("title")
    d.write_ini(work, "[Applications]\n")
    pane = d.start(work)
    pane.wait_title()
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


def list_answer_ok(messages):
    """The messages of "list": empty, rule, entries, rule, empty."""
    if len(messages) < 4 or messages[0] != "" or messages[1] != RULE:
        return False
    if messages[-1] != "" or messages[-2] != RULE:
        return False
    return all(re.match(r"^ {0,3}\d+: ", m) for m in messages[2:-2])


def start_with_raw_ini(d, name, raw):
    work = d.temp_dir(name)
    d.write_ini(work, None, raw=raw)
    return work, d.start(work)


@scenario("hostile_config")
def hostile_config(d):
    """Configuration files that must not crash or hang the manager: NUL bytes,
    a 1 MB line, binary garbage. A directory named zelkappmgr.ini cannot be
    read as the configuration."""
    missing = d.path("/nonexistent/zelk/e2e/none.exe")
    cases = {
        "nul": (
            b"[General]\nDisableCloseButton=0\x00yes\n[Appli\x00cations]\n"
            b"[Applications]\x00\x00tail\n\x00=\x00\nghost=" + missing.encode() + b"\x00x\n"
            b"[Parameters]\nghost=\x00\x00\n"
        ),
        "long_line": (
            b"[General]\nx=" + b"y" * (1 << 20) + b"\n[Applications]\n"
            + b"k" * (1 << 20) + b"=" + missing.encode() + b"\n"
            + b"ghost=" + missing.encode() + b"/" + b"p" * (1 << 20) + b"\n"
            + b"[" + b"s" * (1 << 20) + b"\n"
        ),
        "garbage": bytes(random.Random(20260305).getrandbits(8) for _ in range(256 * 1024)),
    }
    for name, raw in cases.items():
        _, pane = start_with_raw_ini(d, name, raw)
        try:
            pane.wait_ready()
        except AssertionError as failure:
            raise AssertionError("%s: %s" % (name, failure))
        pane.clear_log()
        pane.enter_line("list")
        rows = pane.wait(lambda rows: list_answer_ok(pane.messages(rows)), "%s: an answer to list" % name)
        pane.enter_line("quit")
        status = pane.wait_dead()
        check(status == 0, "%s: exit status %r after quit" % (name, status))

    work = d.temp_dir("dir")
    os.mkdir(os.path.join(work, "zelkappmgr.ini"))
    pane = d.start(work)
    status = pane.wait_dead()
    check(status == 0, "directory as configuration: exit status %r" % status)
    check_no_config_screen(pane, pane.screen())


LOCK_HOLDER = """import fcntl, sys, time
lock = open(sys.argv[1], "w")
fcntl.flock(lock, fcntl.LOCK_EX)
print("locked", flush=True)
time.sleep(600)
"""


@scenario("guard_from_the_user_id", modes=("native",))
def guard_from_the_user_id(d):
    """A lock file that another user created and holds locked (planted while
    the directory was still open to others) does not keep the manager from
    starting. A manager started with XDG_RUNTIME_DIR and one without it meet
    at the same lock: the second ends at once as a second copy."""
    import subprocess
    import sys

    work = d.temp_dir("userid")
    d.write_ini(work, "[Applications]\n")
    runtime = d.temp_dir("planted")
    lock = os.path.join(runtime, "ZelkAppMgr.lock")
    holder = None
    if os.geteuid() == 0:
        os.chmod(runtime, 0o777)
        holder = subprocess.Popen(["setpriv", "--reuid", "nobody", "--regid", "nogroup",
                                   "--clear-groups", sys.executable, "-c", LOCK_HOLDER, lock],
                                  stdout=subprocess.PIPE, text=True)
        check(holder.stdout.readline().strip() == "locked", "the other user could not lock")
        os.chmod(runtime, 0o700)
    else:
        os.symlink("/dev/null", lock)
    try:
        first = d.start(work, environment={"ZELKAPPMGR_RUNTIME_DIR": runtime,
                                           "XDG_RUNTIME_DIR": d.temp_dir("session")})
        first.wait_ready()
        mine = os.lstat(lock)
        check(stat.S_ISREG(mine.st_mode) and mine.st_uid == os.geteuid(),
              "the lock file is not the manager's own")
        second = d.start(work, environment={"ZELKAPPMGR_RUNTIME_DIR": runtime,
                                            "XDG_RUNTIME_DIR": None})
        check(second.wait_dead() == 0 and not any(r.strip() for r in second.screen()),
              "the second manager did not end as a second copy")
        first.enter_line("quit")
        check(first.wait_dead() == 0, "quit: exit status is not 0")
    finally:
        if holder is not None:
            holder.kill()
            holder.wait()


@scenario("malformed_header")
def malformed_header(d):
    """A section header without ']' is reported with its line number, and
    the lines below it belong to no section: a parameter string meant for
    [Parameters] is never started as a program."""
    work = d.temp_dir("header")
    (name, exe, params), log = forever_app(d, work, "web")
    d.write_ini(work, "[Parameters]\nweb=%s\n[Applications]\nweb=%s\n[Parameters\nweb=--port 8080\n"
                % (params, d.path(exe)))
    pane = d.start_manager(work)
    wait_starts(d, log, 1)
    rows = pane.wait_text(r"Starting process web\.$")
    messages = pane.messages(rows)
    check("Ignored malformed section header in line 5 of zelkappmgr.ini." in messages,
          "the malformed header was not reported:\n%s" % format_screen(rows))
    check(not any("port" in m for m in messages),
          "the parameter string was taken for an application:\n%s" % format_screen(rows))
    pane.command("list", list_rows([("web", True)]))
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


@scenario("byte_order_mark")
def byte_order_mark(d):
    """A configuration saved with a UTF-8 byte-order mark and CR LF line ends
    starts its applications."""
    work = d.temp_dir("bom")
    (name, exe, params), log = forever_app(d, work, "keeper")
    text = "[Applications]\r\nkeeper=%s\r\n[Parameters]\r\nkeeper=%s\r\n" % (d.path(exe), params)
    d.write_ini(work, None, raw=b"\xef\xbb\xbf" + text.encode())
    pane = d.start_manager(work)
    wait_starts(d, log, 1)
    pane.command("list", list_rows([("keeper", True)]))
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")
