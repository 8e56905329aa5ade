"""Drives the real manager in a tmux pane for the end-to-end scenarios.

Every Driver owns one private tmux server (socket "zelk-e2e-<pid>", no
configuration file) and one private runtime directory (a fresh mode 0700
directory as ZELKAPPMGR_RUNTIME_DIR of everything the server runs), where the Linux
manager takes its single-instance lock: a test run never meets another run's
manager, nor one of the same user outside the tests, in which each started program gets a detached session of
its own: one pane of a chosen size, in a chosen working directory. Panes stay
after their program ended (remain-on-exit), so that the last screen and the
exit status can be read; a small shell wrapper in the pane records the status
in a file, since tmux loses it for a program that ends at once. The server is
killed when the Driver is closed, whatever happened; the helper processes the
scenario started are ended by process id.

Screens are read with capture-pane (rows with trailing blanks removed), keys
sent with send-keys, and every wait has a time limit: on timeout the failure
shows the last screen.

Two modes:
  native  runs <build>/zelkappmgr
  wine    runs `wine <build>/zelkappmgr.exe` with WINEDEBUG=-all and the
          test run's own prefix <build>/wineprefix; configuration paths are
          then written in Windows form (Z:\\... for a Linux path).

Only the Python standard library is used.
"""

import os
import pwd
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import time

STAMP_RE = re.compile(r"^\[(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\]")
MESSAGE_RE = re.compile(r"^\[\d\d/\d\d/\d\d \d\d:\d\d:\d\d\](?: (.*))?$")
CONTINUATION_PREFIX = " " * 20
TITLE = "Zelk Application Manager"
NO_SUCH_COMMAND = "No such command"
# A line that no command matches: entered after a command, its answer marks
# the end of that command's output.
END_MARKER = "zz-end-marker"


class ScenarioFailure(AssertionError):
    pass


class ScenarioSkipped(Exception):
    """The scenario cannot run here (run.py reports it as skipped)."""


# The exit code of run.py for a skipped scenario (CTest's SKIP_RETURN_CODE).
SKIPPED = 77


def check(condition, message):
    if not condition:
        raise ScenarioFailure(message)


def format_screen(rows):
    width = max([len(r) for r in rows] + [1])
    border = "+" + "-" * width + "+"
    lines = [border]
    for i, r in enumerate(rows):
        lines.append("|%s|%s %d" % (r, " " * (width - len(r)), i))
    lines.append(border)
    return "\n".join(lines)


def parse_messages(rows):
    """The messages of the log area rows, oldest first. A row that begins with a
    time stamp starts a message; a row blank in columns 0..19 with text after
    them continues the message above it. Rows before the first stamp (the
    tail of a message scrolled partly off the top) are left out."""
    messages = []
    for row in rows:
        match = MESSAGE_RE.match(row)
        if match:
            messages.append(match.group(1) or "")
        elif row.startswith(CONTINUATION_PREFIX) and row.strip() and messages:
            messages[-1] += row[20:]
    return messages


class Pane:
    def __init__(self, driver, name, width, height, argv, status_path, program):
        self.driver = driver
        self.program = program
        self.name = name
        self.width = width
        self.height = height
        self.argv = argv
        self.status_path = status_path

    # -- reading -----------------------------------------------------------
    def screen(self):
        """The visible rows, trailing blanks removed; always `height` rows."""
        out = self.driver.tmux("capture-pane", "-p", "-t", self.name)
        rows = out.split("\n")
        if rows and rows[-1] == "":
            rows.pop()
        rows = [r.rstrip() for r in rows]
        rows += [""] * (self.height - len(rows))
        return rows[: self.height]

    def row(self, index):
        return self.screen()[index]

    def log_rows(self, rows=None):
        rows = self.screen() if rows is None else rows
        return rows[: self.height - 1]

    def input_row(self, rows=None):
        rows = self.screen() if rows is None else rows
        return rows[self.height - 1]

    def messages(self, rows=None):
        return parse_messages(self.log_rows(rows))

    def info(self, fmt):
        return self.driver.tmux("display-message", "-p", "-t", self.name, fmt).rstrip("\n")

    def title(self):
        return self.info("#{pane_title}")

    def cursor(self):
        x, y = self.info("#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def pid(self):
        return int(self.info("#{pane_pid}"))

    def program_pid(self, executable=None):
        """The id of the process (natively) below the pane's shell wrapper
        that runs `executable` (default: the pane's program)."""
        root = self.pid()
        target = os.path.realpath(executable or self.program)
        return self.driver.wait_until(
            lambda: descendant_running(root, target),
            "%s to run in pane %s" % (target, self.name),
        )

    def dead(self):
        """(True, exit status) once the program ended, else (False, None).

        The pane's shell wrapper writes the status to a file: tmux itself
        loses the status of a program that ends within moments of its start
        (#{pane_dead_status} then stays empty for good). tmux's own status is
        the fallback for a wrapper that was killed."""
        try:
            with open(self.status_path) as f:
                text = f.read().strip()
            if text:
                return True, int(text)
        except FileNotFoundError:
            pass
        dead, status, signal_number = self.info(
            "#{pane_dead}|#{pane_dead_status}|#{pane_dead_signal}"
        ).split("|")
        if dead == "1" and status.strip():
            return True, int(status)
        if dead == "1" and signal_number.strip():
            return True, -int(signal_number)
        return False, None

    # -- waiting -----------------------------------------------------------
    def wait(self, predicate, what, timeout=None):
        """Waits until predicate(rows) is true and returns the rows. On
        timeout fails with `what` and the last screen."""
        timeout = self.driver.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            rows = self.screen()
            try:
                if predicate(rows):
                    return rows
            except (IndexError, ValueError):
                pass
            if time.monotonic() > deadline:
                raise ScenarioFailure(
                    "timed out after %.0f s waiting for %s; last screen:\n%s"
                    % (timeout, what, format_screen(rows))
                )
            time.sleep(0.05)

    def wait_row(self, index, pattern, timeout=None):
        regex = re.compile(pattern)
        return self.wait(
            lambda rows: regex.search(rows[index]) is not None,
            "row %d to match %r" % (index, pattern),
            timeout,
        )

    def wait_text(self, pattern, timeout=None):
        """Waits for any log row to match the regex."""
        regex = re.compile(pattern)
        return self.wait(
            lambda rows: any(regex.search(r) for r in self.log_rows(rows)),
            "a row matching %r" % pattern,
            timeout,
        )

    def wait_messages(self, expected, timeout=None):
        """Waits until the log area holds exactly the messages `expected`
        (after a cls, say)."""
        return self.wait(
            lambda rows: self.messages(rows) == list(expected),
            "the log to hold exactly %r" % (list(expected),),
            timeout,
        )

    def wait_messages_end(self, expected, timeout=None):
        """Waits until the newest messages are `expected`, in this order."""
        expected = list(expected)
        return self.wait(
            lambda rows: self.messages(rows)[-len(expected):] == expected,
            "the newest messages to be %r" % (expected,),
            timeout,
        )

    def wait_input(self, text, cursor_x=None, timeout=None):
        """Waits until the input row shows `text` (and the cursor stands in
        column cursor_x of it, when given)."""
        timeout = self.driver.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            rows = self.screen()
            row = self.input_row(rows)
            position = self.cursor()
            if row == text.rstrip() and (
                cursor_x is None or position == (cursor_x, self.height - 1)
            ):
                return rows
            if time.monotonic() > deadline:
                raise ScenarioFailure(
                    "timed out waiting for the input row %r with the cursor at %r; "
                    "it is %r with the cursor at %r; last screen:\n%s"
                    % (text, cursor_x, row, position, format_screen(rows))
                )
            time.sleep(0.05)

    def wait_title(self, title=TITLE, timeout=None):
        timeout = self.driver.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            current = self.title()
            if current == title:
                return
            if time.monotonic() > deadline:
                raise ScenarioFailure(
                    "timed out waiting for the title %r; it is %r; last screen:\n%s"
                    % (title, current, format_screen(self.screen()))
                )
            time.sleep(0.05)

    def wait_dead(self, timeout=None):
        """Waits for the program to end; returns its exit status."""
        timeout = self.driver.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            dead, status = self.dead()
            if dead:
                return status
            if time.monotonic() > deadline:
                raise ScenarioFailure(
                    "timed out waiting for the program to end; last screen:\n%s"
                    % format_screen(self.screen())
                )
            time.sleep(0.05)

    def wait_ready(self, timeout=None):
        """Waits until the manager has read its configuration and titled its
        window; from then on typed keys reach its input line."""
        timeout = self.driver.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            if self.title() == TITLE:
                return
            dead, status = self.dead()
            if dead:
                rows = self.screen()
                hint = ""
                if not any(r.strip() for r in rows):
                    hint = (
                        " (a blank screen: is another manager running for this user"
                        " or Wine prefix?)"
                    )
                raise ScenarioFailure(
                    "the manager ended (status %r) before it was ready%s; screen:\n%s"
                    % (status, hint, format_screen(rows))
                )
            if time.monotonic() > deadline:
                raise ScenarioFailure(
                    "timed out waiting for the manager to set its title; it is %r; "
                    "last screen:\n%s" % (self.title(), format_screen(self.screen()))
                )
            time.sleep(0.05)

    # -- the window --------------------------------------------------------
    def resize(self, width, height):
        """Resizes the pane's window, as a dragged window or a re-attach from
        a terminal of another size does; the program gets SIGWINCH."""
        self.driver.tmux("resize-window", "-t", self.name, "-x", str(width), "-y", str(height))
        self.width = width
        self.height = height
        size = self.info("#{pane_width}x#{pane_height}")
        check(size == "%dx%d" % (width, height), "pane size is %s after resize" % size)

    # -- typing ------------------------------------------------------------
    def type(self, text):
        """Types the characters of `text` literally."""
        self.driver.tmux("send-keys", "-t", self.name, "-l", "--", text)

    def keys(self, *names):
        """Sends keys by tmux name (Enter, BSpace, DC, Left, C-Right, ...)."""
        self.driver.tmux("send-keys", "-t", self.name, *names)

    def hex(self, *codes):
        """Sends raw bytes given as hex numbers."""
        self.driver.tmux("send-keys", "-t", self.name, "-H", *["%02x" % c for c in codes])

    def escape(self):
        """Escape alone, in a send-keys call of its own: bytes that follow it
        at once would make it the start of a sequence."""
        self.driver.tmux("send-keys", "-t", self.name, "Escape")

    def home(self):
        # ESC [ H: tmux's own Home (ESC [ 1 ~) does not reach a program
        # under Wine as Home.
        self.hex(0x1B, 0x5B, 0x48)

    def end(self):
        self.hex(0x1B, 0x5B, 0x46)

    def enter_line(self, text):
        """Types `text` and presses Enter."""
        self.type(text)
        self.keys("Enter")

    def command(self, text, expected, timeout=None):
        """Clears the log with cls, enters `text`, then a line that answers
        "No such command", and waits until the log holds exactly the messages
        `expected` and that answer: the answer comes only after the command
        has returned, so nothing the command wrote can be missed. Returns the
        screen."""
        self.clear_log()
        self.enter_line(text)
        self.enter_line(END_MARKER)
        return self.wait_messages(list(expected) + [NO_SUCH_COMMAND], timeout)

    def clear_log(self):
        self.enter_line("cls")
        self.wait(
            lambda rows: not any(r.strip() for r in self.log_rows(rows))
            and self.input_row(rows) == "",
            "cls to blank the log area",
        )


class Driver:
    def __init__(self, mode, build_dir, timeout=20.0):
        if mode not in ("native", "wine"):
            raise ValueError("mode must be native or wine")
        self.mode = mode
        self.build_dir = os.path.abspath(build_dir)
        self.timeout = timeout * (2 if mode == "wine" else 1)
        self.socket = "zelk-e2e-%d" % os.getpid()
        self.tmux_bin = shutil.which("tmux")
        if self.tmux_bin is None:
            raise ScenarioFailure("tmux is not installed")
        self.panes = []
        self.headless = []
        self.cleanups = []
        self.counter = 0
        self.server_started = False
        self.temp_dirs = []
        self.helper_copies = []
        self.tracked_logs = []
        self.status_dir = None
        self.sanitizer_dir = tempfile.mkdtemp(prefix="zelk-e2e-sanitizer-")
        self.runtime_dir = tempfile.mkdtemp(prefix="zelk-e2e-runtime-")
        exe = ".exe" if mode == "wine" else ""
        self.manager = os.path.join(self.build_dir, "zelkappmgr" + exe)
        self.helper = os.path.join(self.build_dir, "tests", "helpers", "zelk_helper" + exe)
        for program in (self.manager, self.helper):
            if not os.path.isfile(program):
                raise ScenarioFailure("%s is not built" % program)
        if mode == "wine":
            self.wine = shutil.which("wine") or shutil.which("wine64")
            if self.wine is None:
                raise ScenarioFailure("wine is not installed")
            self.wine_env = {
                "WINEDEBUG": "-all",
                "WINEPREFIX": os.path.join(self.build_dir, "wineprefix"),
            }

    # -- tmux --------------------------------------------------------------
    def tmux(self, *args):
        result = subprocess.run(
            [self.tmux_bin, "-L", self.socket, "-f", "/dev/null", *args],
            env=self.environment(),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            errors="replace",
        )
        if result.returncode != 0:
            raise ScenarioFailure(
                "tmux %s failed: %s" % (" ".join(args), result.stderr.strip())
            )
        return result.stdout

    def close(self):
        """Kills the private tmux server and with it every pane, waits for the
        panes' programs to end, ends the helpers of tracked logs and removes
        the temporary directories. The manager goes first: while it runs it
        would start again every application that is ended."""
        for process in self.headless:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.headless = []
        if self.server_started:
            programs = set()
            for pane in self.panes:
                try:
                    programs |= children_and_self(pane.pid())
                except ScenarioFailure:
                    pass
            subprocess.run(
                [self.tmux_bin, "-L", self.socket, "-f", "/dev/null", "kill-server"],
                stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
            self.server_started = False
            # The programs end on the hangup; the next scenario must not find
            # this run's manager still holding the single-instance name.
            deadline = time.monotonic() + 15
            while any(native_alive(p) for p in programs) and time.monotonic() < deadline:
                time.sleep(0.05)
            still = sorted(p for p in programs if native_alive(p))
            if still:
                print("cleanup: programs of the panes still run: %r" % still)
        try:
            # A helper that was starting children when it was ended may have
            # logged another process meanwhile: go on until none is left.
            for _ in range(5):
                if not self.kill_tracked():
                    break
        except Exception as error:  # cleanup goes on regardless
            print("cleanup: could not end every helper: %s" % error)
        self.tracked_logs = []
        for cleanup in reversed(self.cleanups):
            try:
                cleanup()
            except Exception as error:  # cleanup goes on regardless
                print("cleanup: %s" % error)
        self.cleanups = []
        for d in self.temp_dirs:
            shutil.rmtree(d, ignore_errors=True)
        self.temp_dirs = []
        if self.runtime_dir:
            shutil.rmtree(self.runtime_dir, ignore_errors=True)
            self.runtime_dir = None
        # Reports, if any, stay for sanitizer_reports().
        if self.sanitizer_dir and not os.listdir(self.sanitizer_dir):
            os.rmdir(self.sanitizer_dir)
            self.sanitizer_dir = None

    def __enter__(self):
        return self

    def skip(self, why):
        """Ends the scenario as skipped, saying why."""
        raise ScenarioSkipped(why)

    def on_close(self, cleanup):
        """Calls cleanup() when the Driver closes, after the programs and the
        helpers of tracked logs have ended (the last registered first)."""
        self.cleanups.append(cleanup)

    def __exit__(self, *exc):
        self.close()
        return False

    # -- programs ----------------------------------------------------------
    def environment(self):
        """The environment of the tmux server, and so of every pane."""
        return dict(os.environ, ZELKAPPMGR_RUNTIME_DIR=self.runtime_dir)

    def manager_command(self, environment=None):
        """The command that starts the manager; `environment` maps variable
        names to values for it, None removing a variable (natively only)."""
        if self.mode == "native":
            # In a sanitizer build every report goes to a file of the run,
            # which run.py checks after the scenario: a report written while
            # the program ends on the panes' hangup would not be seen
            # otherwise. Other builds ignore these variables.
            environment = sorted((environment or {}).items())
            changes = []
            for name, value in environment:  # env takes its options first
                changes += ["-u", name] if value is None else []
            changes += ["%s=%s" % (n, v) for n, v in environment if v is not None]
            return [
                "env",
                *changes,
                "ASAN_OPTIONS=log_path=%s/asan" % self.sanitizer_dir,
                "UBSAN_OPTIONS=log_path=%s/ubsan:print_stacktrace=1" % self.sanitizer_dir,
                self.manager,
            ]
        return ["env"] + ["%s=%s" % kv for kv in sorted(self.wine_env.items())] + [
            self.wine,
            self.manager,
        ]

    def start(self, cwd, width=80, height=25, command=None, environment=None):
        """Starts `command` (default: the manager, with the changes of
        `environment` to its variables) in a new pane of its own and returns
        the Pane. A small shell wrapper runs it and writes its exit status to
        a file; it prints nothing and leaves the terminal alone."""
        argv = self.manager_command(environment) if command is None else command
        self.counter += 1
        name = "p%d" % self.counter
        if self.status_dir is None:
            self.status_dir = self.temp_dir("status")
        status_path = os.path.join(self.status_dir, name)
        wrapper = (
            '"$@"; s=$?; echo "$s" > "%s.tmp"; mv "%s.tmp" "%s"; exit "$s"'
            % (status_path, status_path, status_path)
        )
        shell_command = " ".join(shlex.quote(a) for a in ["sh", "-c", wrapper, "sh"] + argv)
        args = []
        if not self.server_started:
            # remain-on-exit must be in force before the first program can end;
            # an empty format keeps tmux from writing (and scrolling) a
            # "Pane is dead" line over what the program left.
            args += [
                "set-option", "-g", "remain-on-exit", "on", ";",
                "set-option", "-g", "remain-on-exit-format", "", ";",
                "set-option", "-g", "status", "off", ";",
                "set-option", "-g", "history-limit", "0", ";",
            ]
        args += [
            "new-session", "-d", "-s", name, "-x", str(width), "-y", str(height),
            "-c", cwd, "exec " + shell_command,
        ]
        self.server_started = True
        self.tmux(*args)
        program = self.manager if command is None else command[0]
        pane = Pane(self, name, width, height, argv, status_path, program)
        size = pane.info("#{pane_width}x#{pane_height}")
        check(size == "%dx%d" % (width, height), "pane size is %s" % size)
        self.panes.append(pane)
        return pane

    def sanitizer_reports(self):
        """The sanitizer reports the programs wrote (in a sanitizer build),
        then forgets them; call after close()."""
        reports = []
        if self.sanitizer_dir and os.path.isdir(self.sanitizer_dir):
            for name in sorted(os.listdir(self.sanitizer_dir)):
                with open(os.path.join(self.sanitizer_dir, name), errors="replace") as f:
                    reports.append("%s:\n%s" % (name, f.read()))
            shutil.rmtree(self.sanitizer_dir, ignore_errors=True)
        self.sanitizer_dir = None
        return reports

    def client(self, *args, user=None, cwd=None):
        """Runs the manager's program as a client (--send, --status) to its
        end and returns (exit code, stdout, stderr). `user` runs it natively
        as that user, through setpriv; `cwd` is its working directory."""
        return self.run_program(self.manager, *args, user=user, cwd=cwd)

    def start_headless(self, cwd, environment=None, wrapper=()):
        """Starts the manager with --headless in `cwd`, its standard output
        to a file; returns (Popen, the file's path). `wrapper` goes before
        the program (natively), `environment` adds variables."""
        out = os.path.join(self.temp_dir("headless"), "stdout")
        env = dict(self.environment(), **(environment or {}))
        argv = [self.manager, "--headless"]
        if self.mode == "wine":
            argv = [self.wine] + argv
            env.update(self.wine_env)
        else:
            argv = list(wrapper) + argv
        with open(out, "wb") as f:
            process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                       stdout=f, stderr=subprocess.STDOUT)
        self.headless.append(process)
        return process, out

    def start_manager(self, cwd, width=80, height=25):
        """Starts the manager and waits until it is ready for keys."""
        pane = self.start(cwd, width, height)
        pane.wait_ready()
        return pane

    # -- files and paths ---------------------------------------------------
    def temp_dir(self, name="run"):
        d = tempfile.mkdtemp(prefix="zelk-e2e-%s-" % name)
        self.temp_dirs.append(d)
        return d

    def path(self, linux_path):
        """A path as the program under test sees it."""
        linux_path = os.path.abspath(linux_path)
        if self.mode == "wine":
            return "Z:" + linux_path.replace("/", "\\")
        return linux_path

    def helper_copy(self, directory, name=None):
        """Copies the helper program into `directory` (created when missing)
        and returns the copy's Linux path. Every application of a scenario
        gets a copy of its own: the manager attaches to any running process of
        the same executable, so two applications must not share one."""
        os.makedirs(directory, exist_ok=True)
        target = os.path.join(directory, name or os.path.basename(self.helper))
        shutil.copy2(self.helper, target)
        self.helper_copies.append(os.path.realpath(target))
        return target

    def write_ini(self, directory, text, raw=None):
        path = os.path.join(directory, "zelkappmgr.ini")
        with open(path, "wb") as f:
            f.write(raw if raw is not None else text.encode())
        return path

    # -- processes ---------------------------------------------------------
    def run_program(self, program, *args, user=None, timeout=None, cwd=None):
        """Runs `program` (natively or under Wine) to its end, in the run's
        environment, and returns (exit code, stdout, stderr). `user` runs it
        natively as that user, through setpriv; `cwd` is its working
        directory."""
        argv = [program, *args]
        env = self.environment()
        if self.mode == "wine":
            argv = [self.wine] + argv
            env.update(self.wine_env)
        elif user is not None:
            group = str(pwd.getpwnam(user).pw_gid)  # "nobody" has no group "nobody"
            argv = ["setpriv", "--reuid", user, "--regid", group, "--clear-groups"] + argv
        result = subprocess.run(
            argv,
            cwd=cwd,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            errors="replace",
            timeout=timeout or self.timeout,
        )
        return result.returncode, result.stdout, result.stderr

    def helper_run(self, *args):
        """Runs the helper program to completion (natively or under Wine) and
        returns (exit code, stdout)."""
        return self.run_program(self.helper, *args)[:2]

    def start_helper_outside(self, cwd, executable, args):
        """Starts a copy of the helper as a process of its own, not through
        the manager, and returns the Popen."""
        argv = [executable, *args]
        env = None
        if self.mode == "wine":
            argv = [self.wine] + argv
            env = dict(os.environ, **self.wine_env)
        return subprocess.Popen(
            argv,
            cwd=cwd,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )

    def alive(self, pids):
        """The subset of `pids` (ids as the helper logs them) still running."""
        pids = sorted(set(pids))
        if not pids:
            return set()
        if self.mode == "native":
            return {p for p in pids if native_alive(p)}
        # A Wine process that starts while the machine is loaded now and then
        # hangs before it runs any of its code: such a look is made again.
        for attempt in range(3):
            try:
                _, out, _ = self.run_program(self.helper, "--alive", *[str(p) for p in pids],
                                          timeout=self.timeout / 4)
                return {int(x) for x in out.split()}
            except subprocess.TimeoutExpired:
                if attempt == 2:
                    raise

    def kill(self, *pids):
        """Ends processes that this scenario started (through the manager or
        itself), by the ids their helper logs recorded."""
        pids = sorted(set(pids))
        if not pids:
            return
        if self.mode == "native":
            for pid in pids:
                # Only a helper of this run is killed: an id recycled since
                # may belong to someone else by now.
                try:
                    exe = os.readlink("/proc/%d/exe" % pid)
                except OSError:
                    continue
                if exe not in self.helper_copies and exe != os.path.realpath(self.helper):
                    continue
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            return
        # Under Wine the ids are Windows ids, valid in the run's own prefix.
        self.helper_run("--kill", *[str(p) for p in pids])

    def track(self, log_path):
        """Returns a HelperLog whose processes are ended when the Driver closes,
        whatever the scenario did."""
        log = HelperLog(log_path)
        self.tracked_logs.append(log)
        return log

    def kill_tracked(self):
        """Ends the live processes of the tracked logs; returns their ids."""
        pids = set()
        for log in self.tracked_logs:
            pids.update(log.start_pids())
        pids = self.alive(pids)
        self.kill(*pids)
        return pids

    def wait_until(self, predicate, what, timeout=None):
        timeout = self.timeout if timeout is None else timeout
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise ScenarioFailure("timed out after %.0f s waiting for %s" % (timeout, what))
            time.sleep(0.05)


def native_alive(pid):
    """True while the process runs; a zombie has ended."""
    stat = proc_stat(pid)
    return stat is not None and stat[0] not in ("Z", "X")


def live_parents():
    """{pid: parent pid} of every live native process."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = proc_stat(int(entry))
            if stat is not None and stat[0] not in ("Z", "X"):
                parents[int(entry)] = stat[1]
    return parents


def children_and_self(root):
    """The live process `root` and its live children: a pane's shell wrapper
    and the program it runs (under Wine, the program's Unix process)."""
    found = {root} if native_alive(root) else set()
    found.update(pid for pid, parent in live_parents().items() if parent == root)
    return found


def descendant_running(root, executable):
    """The id of a live descendant of process `root` that runs `executable`,
    or None."""
    parents = live_parents()
    for pid in sorted(parents):
        ancestor = parents.get(pid)
        while ancestor is not None and ancestor != root and ancestor > 1:
            ancestor = parents.get(ancestor)
        if ancestor != root:
            continue
        try:
            if os.readlink("/proc/%d/exe" % pid) == executable:
                return pid
        except OSError:
            continue
    return None


def proc_stat(pid):
    """(state, ppid) of a native process, or None."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rfind(")") + 2:].split()
    if len(fields) < 2:
        return None
    return fields[0], int(fields[1])


class HelperLog:
    """The records of one helper log file."""

    def __init__(self, path):
        self.path = path

    def records(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                lines = f.read().split("\n")
        except FileNotFoundError:
            return []
        result = []
        for line in lines:
            if not line:
                continue
            record = {}
            for field in line.split("\t"):
                key, _, value = field.partition("=")
                record[key] = value
            for key in ("t", "us", "pid", "ppid", "child", "index", "depth"):
                if key in record:
                    try:
                        record[key] = int(record[key])
                    except ValueError:
                        pass
            if "value" in record:
                record["value"] = unescape(record["value"])
            result.append(record)
        return result

    def events(self, event):
        return [r for r in self.records() if r.get("event") == event]

    def starts(self):
        return self.events("start")

    def start_pids(self):
        return [r["pid"] for r in self.starts()]

    def exits(self):
        return self.events("exit")


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


# -- the scenario registry ---------------------------------------------------
SCENARIOS = {}


class Scenario:
    def __init__(self, name, function, modes, timeout, label):
        self.name = name
        self.function = function
        self.modes = modes
        self.timeout = timeout
        self.label = label


def scenario(name, modes=("native", "wine"), timeout=120, label="e2e"):
    """Registers a scenario function f(driver) under `name` for `modes`.
    `timeout` is the CTest TIMEOUT in seconds (doubled under Wine); `label`
    is its CTest label ("soak": a long run that the default test run leaves
    out)."""

    def register(function):
        if name in SCENARIOS:
            raise ValueError("scenario %s registered twice" % name)
        SCENARIOS[name] = Scenario(name, function, tuple(modes), timeout, label)
        return function

    return register
