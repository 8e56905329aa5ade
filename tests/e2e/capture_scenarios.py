"""Output capture: each application's output kept in its own file, rotated,
through a capture process that outlives the manager and ends with the
application, and that the manager replaces when it is killed; a directory
another user could plant files in is not used; and "tail" on the console,
which reads only a regular file."""

import os
import pwd
import signal
import time

from driver import check, native_alive, proc_stat, scenario
from supervision_scenarios import App, start_with


def output(base, name, backups=0):
    """The text of an application's output files, oldest first."""
    text = ""
    for n in range(backups, -1, -1):
        path = os.path.join(base, "out", name + ".log" + (".%d" % n if n else ""))
        try:
            with open(path, errors="replace") as f:
                text += f.read()
        except FileNotFoundError:
            pass  # not yet written, or renamed by a rotation meanwhile
    return text


def numbers(text, tag):
    return [int(line.split()[1]) for line in text.splitlines() if line.startswith(tag + " ")]


def capture_pid(d, base, name):
    """The native id of a capture process writing out/<name>.log for the
    manager in `base` (under Wine its command line is in Windows form)."""
    wanted = ("out\\%s.log" if d.mode == "wine" else "out/%s.log") % name
    for pid in (int(e) for e in os.listdir("/proc") if e.isdigit()):
        try:
            argv = open("/proc/%d/cmdline" % pid, "rb").read().decode(errors="replace")
            if "\0--capture\0%s\0" % wanted in argv and native_alive(pid) and \
                    os.readlink("/proc/%d/cwd" % pid) == os.path.realpath(base):
                return pid
        except OSError:
            pass
    return None


@scenario("capture_output_rotated", timeout=150)
def capture_output_rotated(d):
    """Numbered lines to standard output and error all reach the file; 200 KB
    with OutputMaxBytes = 4096 and OutputBackups = 3 leave 4 files holding a
    gap-free run that ends at the last line; "tail 1 5" shows the last 5."""
    base = d.temp_dir("capture")
    mixed = App(d, base, "mixed", "--print-lines 1000")
    chatty = App(d, base, "chatty", "--print-lines 25000")
    pane = start_with(d, [mixed, chatty], general="OutputDirectory = out\nOutputMaxBytes = 4096\n"
                      "OutputBackups = 3\nExtraCommands = 1")
    d.wait_until(lambda: output(base, "chatty").endswith("chatty 24999\n"), "the last line",
                 timeout=60)
    d.wait_until(lambda: numbers(output(base, "mixed", 3), "mixed") == list(range(1000)),
                 "every line of mixed, in order")
    files = sorted(f for f in os.listdir(os.path.join(base, "out")) if f.startswith("chatty"))
    check(files == ["chatty.log", "chatty.log.1", "chatty.log.2", "chatty.log.3"],
          "the files of chatty: %r" % files)
    kept = numbers(output(base, "chatty", 3), "chatty")
    check(kept == list(range(kept[0], 25000)), "the kept lines are not a gap-free run")
    check(kept[0] > 0, "nothing was rotated away")
    pane.command("tail 1 5", ["chatty %d" % n for n in range(24995, 25000)])


@scenario("capture_process_lives_apart", modes=("native",))
def capture_process_lives_apart(d):
    """The capture process is in neither the application's group nor its
    session; after "quit" the output still arrives; a later manager's stop
    ends the application and the capture process then ends by itself. An
    output directory that is a file is reported, and nothing is captured."""
    base = d.temp_dir("apart")
    app = App(d, base, "ticker", "--print-every 50")
    pane = start_with(d, [app], general="OutputDirectory = out")
    pid = app.wait_starts(1)[0]["pid"]

    capture = d.wait_until(lambda: capture_pid(d, base, "ticker"), "the capture process")
    group = lambda p: os.getpgid(p)  # noqa: E731
    check(group(capture) not in (group(pid), pid) and os.getsid(capture) != os.getsid(pid),
          "the capture process shares the application's group or session")
    pane.enter_line("quit")
    pane.wait_dead()
    before = len(output(base, "ticker"))
    d.wait_until(lambda: len(output(base, "ticker")) > before + 20, "output after the quit")

    pane = d.start_manager(base)
    pane.wait_text(r"ticker already running, attached!")
    pane.enter_line("stop 0")
    d.wait_until(lambda: not native_alive(capture), "the capture process to end")
    check(proc_stat(pid) is None or not native_alive(pid), "the application runs on")
    pane.enter_line("quit")
    pane.wait_dead()

    other = App(d, d.temp_dir("plainfile"), "other")
    with open(os.path.join(os.path.dirname(other.directory), "plain"), "w") as f:
        f.write("a file\n")
    pane = start_with(d, [other], general="OutputDirectory = plain")
    pane.wait_messages(["Could not open output directory plain!", "Starting process other."])
    other.wait_starts(1)
    time.sleep(0.2)


@scenario("capture_restart")
def capture_restart(d):
    """A capture process killed outright is replaced on the same pipe: the
    log says so, the application lives on, and its later lines reach the
    file."""
    base = d.temp_dir("restart")
    app = App(d, base, "w", "--print-every 50")
    pane = start_with(d, [app], general="OutputDirectory = out")
    first = d.wait_until(lambda: capture_pid(d, base, "w"), "the capture process")
    d.wait_until(lambda: numbers(output(base, "w"), "w"), "the first lines")
    os.kill(first, signal.SIGKILL)
    pane.wait_text(r"Restarted the output capture of w\.")
    before = numbers(output(base, "w"), "w")[-1]
    d.wait_until(lambda: numbers(output(base, "w"), "w")[-1] > before + 5, "later lines")
    check(len(app.starts()) == 1 and d.alive([app.last_pid()]), "the application died")


@scenario("capture_planted_link", modes=("native",))
def capture_planted_link(d):
    """Given a directory that another user owns, with a link planted in it
    to a file only root may write, root's manager refuses the directory and
    discards the output: the file stays as it was."""
    base = d.temp_dir("planted")
    victim = os.path.join(base, "victim")
    open(victim, "w").write("root's own\n")
    os.chmod(victim, 0o600)
    nobody = pwd.getpwnam("nobody")
    shared = os.path.join(base, "shared")
    os.mkdir(shared)
    os.chmod(shared, 0o777)
    os.symlink(victim, os.path.join(shared, "w.log"))
    for path in (shared, os.path.join(shared, "w.log")):
        os.lchown(path, nobody.pw_uid, nobody.pw_gid)
    app = App(d, base, "w", "--print-lines 100 --run-ms 0")
    pane = start_with(d, [app], general="OutputDirectory = shared\nGiveUpAfter = 1")
    pane.wait_text(r"Giving up on w")
    check(pane.messages()[0] == "Could not use output directory shared: another user owns it."
          and app.log.exits() and open(victim).read() == "root's own\n", "the victim was written")


@scenario("capture_tail_not_regular", modes=("native",))
def capture_tail_not_regular(d):
    """"tail" on an output file that is a FIFO, then a link to /dev/zero,
    says it is no regular file, and the manager goes on answering."""
    base = d.temp_dir("tailfifo")
    app = App(d, base, "w")
    pane = start_with(d, [app], general="OutputDirectory = out\nExtraCommands = 1")
    app.wait_starts(1)
    path = os.path.join(base, "out", "w.log")
    os.mkfifo(path)
    for make in (None, lambda: (os.unlink(path), os.symlink("/dev/zero", path))):
        if make:
            make()
        pane.command("tail 0", ["Output of w is not a regular file."])
        check(d.client("--status")[0] == 0, "--status did not answer")
