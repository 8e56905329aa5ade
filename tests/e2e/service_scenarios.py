"""Starting at boot: the Windows service under Wine's service control
manager, and the systemd unit that --print-service writes on Linux."""

import os
import re
import shutil
import subprocess

from driver import check, scenario
from startup_scenarios import write_app_ini
from supervision_scenarios import App, wait_gone

SERVICE = "ZelkAppMgr"
UNIT_LINE = re.compile(r"^(?:$|[#;].*|\[[A-Za-z]+\]|[A-Za-z][A-Za-z0-9]*=.*)$")


def log_texts(path):
    try:
        with open(path, errors="replace") as f:
            return [line[20:] for line in f.read().splitlines()]
    except FileNotFoundError:
        return []


def wait_logged(d, path, text, count=1):
    d.wait_until(lambda: log_texts(path).count(text) >= count,
                 "%r %d time(s) in the service's log file" % (text, count))


def service_state(d):
    """The STATE word of `sc query`, or None when the service is unknown."""
    code, out, _ = d.run_program("sc", "query", SERVICE)
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return match.group(1) if code == 0 and match else None


@scenario("windows_service", modes=("wine",), timeout=180)
def windows_service(d):
    """--install-service registers the working directory; `net start` starts
    the service: every application starts, the log file says so, and --status
    reaches the service's pipe. `net stop` stops every application (politely
    first, with StopTimeout) and the service reports STOPPED. A second
    install is refused with the system's message. Started again with
    `sc start`, --uninstall-service stops it and its applications and removes
    it: `sc query` no longer knows it."""
    base = d.temp_dir("service")
    apps = [App(d, base, "alpha"), App(d, base, "beta")]
    write_app_ini(d, base, [a.ini() for a in apps],
                  general="LogFile = manager.log\nStopTimeout = 1")
    log = os.path.join(base, "manager.log")
    d.client("--uninstall-service", cwd=base)  # one left by an interrupted run
    try:
        code, out, err = d.client("--install-service", cwd=base)
        check(code == 0 and "Installed the service %s" % SERVICE in out,
              "--install-service: %r %r" % (out, err))
        check(service_state(d) == "STOPPED", "a new service is not stopped")
        code, _, err = d.client("--install-service", cwd=base)
        check(code == 1 and "Error 1073: " in err, "a second install: %r" % err)

        code, out, _ = d.run_program("net", "start", SERVICE)
        check(code == 0, "net start: %r" % out)
        for app in apps:
            app.wait_starts(1)
            wait_logged(d, log, "Starting process %s." % app.name)
        d.wait_until(lambda: service_state(d) == "RUNNING", "the service to report RUNNING")
        code, out, _ = d.client("--status")
        check(code == 0 and re.search(r"alpha\s+running", out), "--status: %r" % out)

        code, out, _ = d.run_program("net", "stop", SERVICE)
        check(code == 0, "net stop: %r" % out)
        d.wait_until(lambda: service_state(d) == "STOPPED", "the service to report STOPPED")
        wait_gone(d, [p for a in apps for p in a.pids()], "every application")
        texts = log_texts(log)
        for line in ("Asked to end: stopping every application.",
                     "Terminating process alpha.", "Terminating process beta.",
                     "alpha did not stop within 1 s; ending its process tree."):
            check(line in texts, "%r is not in the log file: %r" % (line, texts))

        code, out, _ = d.run_program("sc", "start", SERVICE)
        check(code == 0, "sc start: %r" % out)
        for app in apps:
            app.wait_starts(2)
        code, out, err = d.client("--uninstall-service")
        check(code == 0 and out.splitlines() == ["Stopped the service %s." % SERVICE,
                                                 "Removed the service %s." % SERVICE],
              "--uninstall-service: %r %r" % (out, err))
        wait_logged(d, log, "Asked to end: stopping every application.", 2)
        wait_gone(d, [p for a in apps for p in a.pids()], "every application")
        check(service_state(d) is None, "sc query still knows the service")
    finally:
        d.client("--uninstall-service")


@scenario("print_service", modes=("native",))
def print_service(d):
    """--print-service, run as a user in a directory, writes a unit that
    parses (every line a section, a comment or Key=Value; systemd-analyze
    verify passes where it is installed), with ExecStart on
    the program's absolute path with --headless, that directory, that user,
    TimeoutStartSec infinity for a readiness without a time limit and
    TimeoutStopSec above the longest StopTimeout. The Windows service
    options are refused with exit code 2."""
    base = d.temp_dir("unit")
    os.chmod(base, 0o755)  # for the user it runs as
    d.write_ini(base, "[General]\nStopTimeout = 20\n[Applications]\nweb = /opt/web/web\n"
                      "[StopTimeout]\nweb = 50\n"
                      "[Ready]\nweb = port 8080\n[ReadyTimeout]\nweb = 0\n")
    code, unit, err = d.client("--print-service", user="nobody", cwd=base)
    check(code == 0 and err == "", "--print-service: %r" % err)
    lines = unit.splitlines()
    bad = [line for line in lines if not UNIT_LINE.match(line)]
    check(not bad, "lines that are no unit lines: %r" % bad)
    sections = [line for line in lines if line.startswith("[")]
    check(sections == ["[Unit]", "[Service]", "[Install]"], "sections: %r" % sections)
    keys = dict(line.split("=", 1) for line in lines if "=" in line and line[0].isalpha())
    check(keys["ExecStart"] == os.path.realpath(d.manager) + " --headless",
          "ExecStart=%s" % keys["ExecStart"])
    check(keys["WorkingDirectory"] == base, "WorkingDirectory=%s" % keys["WorkingDirectory"])
    check(keys.get("User") == "nobody", "User=%s" % keys.get("User"))
    check(keys["TimeoutStartSec"] == "infinity", "TimeoutStartSec=%s" % keys["TimeoutStartSec"])
    check(int(keys["TimeoutStopSec"]) > 50, "TimeoutStopSec=%s" % keys["TimeoutStopSec"])
    for key, value in (("Type", "notify"), ("KillMode", "mixed"),
                       ("ExecReload", "/bin/kill -HUP $MAINPID")):
        check(keys.get(key) == value, "%s=%s" % (key, keys.get(key)))
    if shutil.which("systemd-analyze"):
        path = os.path.join(d.temp_dir("unit-file"), "zelkappmgr.service")
        with open(path, "w") as f:
            f.write(unit)
        verify = subprocess.run(["systemd-analyze", "verify", path], stdin=subprocess.DEVNULL,
                                capture_output=True, text=True)
        check(verify.returncode == 0, "systemd-analyze verify: %s" % verify.stderr)
    for option in ("--install-service", "--uninstall-service", "--service"):
        code, _, err = d.client(option, "--dir", base) if option == "--service" else \
            d.client(option)
        check(code == 2 and "is for Windows" in err, "%s on Linux: %r" % (option, err))
