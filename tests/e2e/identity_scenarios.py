"""Which processes are an application's: the record of what the manager
started, and the stricter attach rule of AttachByCommandLine."""

import json
import os

from driver import check, scenario
from startup_scenarios import write_app_ini
from supervision_scenarios import wait_gone


class Copy:
    """One entry (or a process started by hand) running a shared executable,
    with a log of its own."""

    def __init__(self, d, base, exe, tag, extra=()):
        self.d = d
        self.exe = exe
        self.tag = tag
        self.log = d.track(os.path.join(base, tag + ".log"))
        self.args = ["--log", d.path(self.log.path), "--tag", tag] + list(extra)
        self.params = " ".join('"%s"' % a if " " in a else a for a in self.args)

    def start_by_hand(self, base):
        process = self.d.start_helper_outside(base, self.exe, self.args)
        return process, self.log_pid()

    def log_pid(self, index=0):
        return self.d.wait_until(lambda: len(self.log.starts()) > index and self.log.starts(),
                                 "start %d of %s" % (index + 1, self.tag))[index]["pid"]


def status(d):
    return d.wait_until(lambda: (lambda code, out, _: code == 0 and json.loads(out))(
        *d.client("--status", "--json")), "an answer to --status")


def shared_helper(d, base):
    return d.helper_copy(os.path.join(base, "shared"))


@scenario("record_tells_copies_apart")
def record_tells_copies_apart(d):
    """Two entries of one executable with different parameters, each with a
    process the manager started for it (as specified, the second attaches
    to the first's process until "restart 1" starts its own): after "quit"
    a new manager attaches each entry to the process it started (the
    record), not both to one, and "stop" of each ends only its own."""
    base = d.temp_dir("record")
    exe = shared_helper(d, base)
    one, two = Copy(d, base, exe, "one"), Copy(d, base, exe, "two")
    write_app_ini(d, base, [("one", exe, one.params), ("two", exe, two.params)])
    pane = d.start_manager(base)
    pane.wait_messages(["Starting process one.", "two already running, attached!"])
    pane.enter_line("restart 1")
    pids = [one.log_pid(1), two.log_pid()]
    pane.enter_line("quit")
    pane.wait_dead()

    pane = d.start_manager(base)
    pane.wait_messages(["one already running, attached!", "two already running, attached!"])
    check([a["pid"] for a in status(d)] == pids, "attached to %r, started %r"
          % ([a["pid"] for a in status(d)], pids))
    pane.command("stop 1", ["Terminating process two."])
    wait_gone(d, pids[1:], "two")
    check(d.alive(pids[:1]), "stop 1 ended one's process too")
    pane.command("stop 0", ["Terminating process one."])
    wait_gone(d, pids[:1], "one")


@scenario("other_parameters_are_adopted", modes=("native",))
def other_parameters_are_adopted(d):
    """Without AttachByCommandLine a copy started by hand with other
    parameters is the application's running copy, as specified."""
    base = d.temp_dir("adopt")
    exe = shared_helper(d, base)
    hand, mine = Copy(d, base, exe, "hand"), Copy(d, base, exe, "mine")
    outside, pid = hand.start_by_hand(base)
    try:
        write_app_ini(d, base, [("app", exe, mine.params)])
        pane = d.start_manager(base)
        pane.wait_messages(["app already running, attached!"])
        check(status(d)[0]["pid"] == pid, "not attached to the copy: %r" % status(d))
        check(not mine.log.starts(), "a copy with the configured parameters was started")
    finally:
        outside.kill()
        outside.wait()


@scenario("attach_by_command_line")
def attach_by_command_line(d):
    """With AttachByCommandLine = 1 and no record, among three processes of
    one executable started by hand each entry attaches to the one started
    with its parameters (one of them quoted, with a blank), a second entry
    with the same parameters starts a process of its own, an entry whose
    parameters no process has starts its own, and the third process is
    never attached to nor asked to end (natively the stops are polite)."""
    base = d.temp_dir("bycommand")
    exe = shared_helper(d, base)
    a = Copy(d, base, exe, "a")
    b = Copy(d, base, exe, "b", ["--record-env", "two words"])
    other = Copy(d, base, exe, "other", ["--on-term", "0"])
    c = Copy(d, base, exe, "c")
    outside = []
    try:
        hand = {}
        for copy in (a, b, other):
            process, hand[copy.tag] = copy.start_by_hand(base)
            outside.append(process)
        general = "AttachByCommandLine = 1" + ("\nStopTimeout = 5" if d.mode == "native" else "")
        write_app_ini(d, base, [("a", exe, a.params), ("b", exe, b.params),
                                ("twin", exe, a.params), ("c", exe, c.params)], general)
        pane = d.start_manager(base)
        pane.wait_messages(["a already running, attached!", "b already running, attached!",
                            "Starting process twin.", "Starting process c."])
        expected = [hand["a"], hand["b"], a.log_pid(1), c.log_pid()]
        check([s["pid"] for s in status(d)] == expected,
              "attached to %r, expected %r" % ([s["pid"] for s in status(d)], expected))
        pane.enter_line("stopall")
        wait_gone(d, expected, "the applications")
        check(d.alive([hand["other"]]), "the process started by hand was ended")
        check(not other.log.events("term"), "the process started by hand was asked to end")
    finally:
        for process in outside:
            process.kill()
            process.wait()
