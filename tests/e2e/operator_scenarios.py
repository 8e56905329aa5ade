"""The operator options of [General]: LogFile (every log entry also as one
line of a file), ReportExits (how an application ended, before it is started
again) and RetryFailedStarts (new attempts after a failed start)."""

import os
import re
import signal
import time

from console_scenarios import ALL_MATCHES, HELP, NO_SUCH
from driver import STAMP_RE, check, scenario
from startup_scenarios import RULE, list_rows, write_app_ini
from supervision_scenarios import App


def file_entries(path):
    """The texts of the log file's lines, after checking that every line is
    a time stamp, one blank and the text."""
    with open(path, "rb") as f:
        data = f.read()
    check(data.endswith(b"\n"), "the log file does not end with a line feed: %r" % data[-40:])
    texts = []
    for line in data.decode("latin-1").split("\n")[:-1]:
        check(
            STAMP_RE.match(line) is not None and line[19:20] == " ",
            "a log file line is not stamp, blank, text: %r" % line,
        )
        texts.append(line[20:])
    return texts


def open_targets(pid):
    targets = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            targets.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
        except OSError:
            pass
    return targets


@scenario("log_file")
def log_file(d):
    """Every entry the screen shows reaches the file in order, one line each:
    the report of a malformed header read before the file was opened, a help
    listing, a two-row entry, start and stop lines, and a name with an
    ESC byte as '?'. No application holds the file open."""
    base = d.temp_dir("logfile")
    alpha = App(d, base, "alpha")
    esc = App(d, base, "esc")
    esc_name = "e\x1bsc"
    write_app_ini(
        d, base, [alpha.ini(), (esc_name, esc.exe, esc.params)], general="LogFile = manager.log"
    )
    # A malformed header is reported before the file is read further.
    with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
        f.write("[Broken\n")
    with open(os.path.join(base, "zelkappmgr.ini")) as f:
        broken = len(f.read().splitlines())
    pane = d.start_manager(base)
    expected = ["Ignored malformed section header in line %d of zelkappmgr.ini." % broken,
                "Starting process alpha.", "Starting process e?sc."]
    pane.wait_messages(expected)
    alpha.wait_starts(1)
    esc.wait_starts(1)
    log_path = os.path.realpath(os.path.join(base, "manager.log"))
    if d.mode == "native":
        for app in (alpha, esc):
            check(
                log_path not in open_targets(app.last_pid()),
                "%s holds the log file open" % app.name,
            )

    pane.command("help", HELP)
    expected += HELP + [NO_SUCH]
    pane.clear_log()
    pane.keys("Tab")
    pane.wait_messages([ALL_MATCHES])
    expected.append(ALL_MATCHES)
    pane.command("stop 0", ["Terminating process alpha."])
    expected += ["Terminating process alpha.", NO_SUCH]
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")

    entries = file_entries(log_path)
    check(entries == expected, "the log file holds\n%r\nexpected\n%r" % (entries, expected))


@scenario("log_file_faults", modes=("native",))
def log_file_faults(d):
    """A log file deleted while the manager runs: the next entry is in a new
    file at the path. A FIFO as the log file: the message, and the manager
    runs (it never waits for a reader)."""
    base = d.temp_dir("logfaults")
    write_app_ini(d, base, [], general="LogFile = manager.log")
    pane = d.start_manager(base)
    path = os.path.join(base, "manager.log")
    d.wait_until(lambda: os.path.exists(path), "the log file")
    os.remove(path)
    pane.command("help", HELP)
    check(file_entries(path) == HELP + [NO_SUCH], "the new file holds %r" % file_entries(path))
    pane.enter_line("quit")
    pane.wait_dead()

    os.mkfifo(os.path.join(base, "fifo"))
    write_app_ini(d, base, [], general="LogFile = fifo")
    pane = d.start_manager(base)
    pane.wait_messages(["Could not open log file fifo!"])
    pane.command("list", ["", RULE, RULE, ""])


@scenario("retry_a_missing_executable", modes=("native",))
def retry_a_missing_executable(d):
    """With RetryFailedStarts = 1 an executable missing at start-up (its path
    cannot even be resolved) is tried again: created 2 s later, it starts."""
    base = d.temp_dir("late")
    late = App(d, base, "late")
    os.rename(late.exe, late.exe + ".away")
    write_app_ini(d, base, [late.ini()], general="RetryFailedStarts = 1")
    pane = d.start_manager(base)
    pane.wait_messages(["Could not get FileShortName!", "Will try to start late again in 1 s."])
    time.sleep(2)
    os.rename(late.exe + ".away", late.exe)
    late.wait_starts(1)


@scenario("report_exits")
def report_exits(d):
    """With ReportExits, an exit code 3 is logged before every new start and
    (natively) so is a SIGSEGV from outside; a stopped application is not.
    A LogFile naming a directory is reported once and the manager runs on."""
    base = d.temp_dir("exits")
    os.makedirs(os.path.join(base, "logs"))
    three = App(d, base, "three", "--run-ms 700 --exit-code 3")
    calm = App(d, base, "calm")
    apps = [three, calm]
    if d.mode == "native":
        apps.append(App(d, base, "victim"))
    write_app_ini(d, base, [a.ini() for a in apps], general="LogFile = logs\nReportExits = 1")
    pane = d.start_manager(base)
    first = ["Could not open log file logs!"] + ["Starting process %s." % a.name for a in apps]

    def exits_reported(rows):
        messages = pane.messages(rows)
        if messages[: len(first)] != first:
            return False
        later = messages[len(first) :]
        pairs = later[: len(later) // 2 * 2]
        return len(pairs) >= 4 and pairs == ["three exited with code 3.", "Starting process three."] * (
            len(pairs) // 2
        )

    pane.wait(exits_reported, "exit lines before each new start of three")
    pane.enter_line("stop 0")
    pane.wait_text(r"Terminating process three\.")
    pane.command("stop 1", ["Terminating process calm."])

    if d.mode == "native":
        victim = apps[2]
        victim.wait_starts(1)
        pane.clear_log()
        os.kill(victim.last_pid(), signal.SIGSEGV)
        pane.wait_messages(["victim was ended by signal 11 (SIGSEGV).", "Starting process victim."])
        victim.wait_starts(2)
    pane.command("help", HELP)


def kill_app(d, app):
    """Kills the application's current process, also while its executable
    has been renamed (natively the driver would no longer know it as ours)."""
    pid = app.last_pid()
    if d.mode == "native":
        os.kill(pid, signal.SIGKILL)
    else:
        d.kill(pid)


def context_switches(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    return int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])


@scenario("retry_failed_starts", timeout=180)
def retry_failed_starts(d):
    """With RetryFailedStarts = 1, an application whose executable is gone
    when it is started again is tried after 1 s, then 2 s, and runs again
    soon after the executable is back; "stop" cancels a pending attempt.
    While nothing is pending the manager makes no wakeups."""
    base = d.temp_dir("retry")
    flaky = App(d, base, "flaky")
    write_app_ini(d, base, [flaky.ini()], general="RetryFailedStarts = 1")
    pane = d.start_manager(base)
    pane.wait_messages(["Starting process flaky."])
    flaky.wait_starts(1)
    away = flaky.exe + ".away"
    failed = r"Could not start flaky\. Error: \d+\."

    os.rename(flaky.exe, away)
    pane.clear_log()
    kill_app(d, flaky)
    pane.wait_text(r"Will try to start flaky again in 2 s\.")
    os.rename(away, flaky.exe)
    flaky.wait_starts(2)
    rows = pane.wait_messages_end(["Starting process flaky."])
    messages = pane.messages(rows)
    patterns = [r"Starting process flaky\.", failed, r"Will try to start flaky again in 1 s\."]
    patterns += [r"Starting process flaky\.", failed, r"Will try to start flaky again in 2 s\."]
    patterns += [r"Starting process flaky\."]
    check(
        len(messages) == len(patterns)
        and all(re.fullmatch(p, m) for p, m in zip(patterns, messages)),
        "the log holds %r" % messages,
    )

    if d.mode == "native":
        # Nothing pending: the manager sleeps without a time limit.
        manager = pane.program_pid()
        time.sleep(0.5)  # past the pause that follows every pass of the loop
        before = context_switches(manager)
        time.sleep(1.5)
        check(context_switches(manager) == before, "the idle manager woke up")

    os.rename(flaky.exe, away)
    pane.clear_log()
    kill_app(d, flaky)
    pane.wait_text(r"Will try to start flaky again in \d s\.")
    pane.enter_line("stop 0")
    pane.wait_text(r"Will not try to start flaky again\.")
    os.rename(away, flaky.exe)
    starts = len(flaky.starts())
    # Longer than the longest wait that could have been pending (2 s).
    time.sleep(3)
    pane.command("list", list_rows([("flaky", False)]))
    check(len(flaky.starts()) == starts, "flaky was started again after stop")
