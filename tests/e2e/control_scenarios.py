"""The manager reached from outside: --send runs a line as if typed and
prints what it logged, --status reports the applications, and nobody but
the manager's own user gets anything done."""

import json
import os
import socket

from driver import check, scenario
from startup_scenarios import list_rows
from supervision_scenarios import App, start_with, wait_gone

HEADER = ["NUM", "NAME", "STATE", "PID", "UPTIME(S)", "RESTARTS", "LAST", "EXIT", "NEXT",
          "START(S)", "QUICK", "EXITS", "CPU(S)", "MEM", "CONTAINMENT"]


def out_lines(text):
    return [line.rstrip() for line in text.split("\n")[:-1]]


def client_ok(d, *args):
    code, out, err = d.client(*args)
    check(code == 0, "%r: exit code %d, stderr %r" % (args, code, err))
    return out


@scenario("control_send_and_status")
def control_send_and_status(d):
    """--send runs list, stop and restart as typed lines, --status and
    --status --json follow the changes, --send quit ends the manager; with
    no manager the client fails."""
    base = d.temp_dir("control")
    alpha = App(d, base, "alpha")
    beta = App(d, base, "beta")
    pane = start_with(d, [alpha, beta])
    alpha.wait_starts(1)
    beta.wait_starts(1)

    both = list_rows([("alpha", True), ("beta", True)])
    out = client_ok(d, "--send", "list")
    check(out_lines(out) == both, "--send list printed %r" % out)
    pane.wait_messages_end(["Command from outside: list"] + both)

    old_alpha = alpha.last_pid()
    out = client_ok(d, "--send", "stop 0")
    check(out_lines(out) == ["Terminating process alpha."], "--send stop 0 printed %r" % out)
    wait_gone(d, [old_alpha], "alpha")
    table = [line.split() for line in out_lines(client_ok(d, "--status"))]
    check(table[0] == HEADER, "status header %r" % table[0])
    check(table[1][:3] == ["0", "alpha", "stopped"], "status of alpha %r" % table[1])
    check(
        table[2][:4] == ["1", "beta", "running", str(beta.last_pid())],
        "status of beta %r" % table[2],
    )

    old_beta = beta.last_pid()
    out = client_ok(d, "--send", "restart 1")
    check(
        out_lines(out) == ["Terminating process beta.", "Starting process beta."],
        "--send restart 1 printed %r" % out,
    )
    beta.wait_starts(2)
    apps = json.loads(client_ok(d, "--status", "--json"))
    check([a["state"] for a in apps] == ["stopped", "running"], "json states %r" % apps)
    check(
        apps[1]["pid"] == beta.last_pid() != old_beta and apps[1]["restarts"] == 1,
        "json for beta %r (old pid %d, new %d)" % (apps[1], old_beta, beta.last_pid()),
    )

    check(client_ok(d, "--send", "quit") == "", "quit prints nothing")
    check(pane.wait_dead() == 0, "--send quit: exit status is not 0")
    code, out, err = d.client("--status")
    check(code == 1 and out == "" and err.strip(), "no manager: %d %r %r" % (code, out, err))


@scenario("control_strangers_and_stalls", modes=("native",))
def control_strangers_and_stalls(d):
    """A client run as another user gets nothing done, and a client that
    connects and says nothing holds up neither the console nor itself for
    long: the manager drops it."""
    base = d.temp_dir("control")
    alpha = App(d, base, "alpha")
    pane = start_with(d, [alpha])
    alpha.wait_starts(1)

    code, out, _ = d.client("--send", "stop 0", user="nobody")
    check(code == 1 and out == "", "another user's client: exit %d, output %r" % (code, out))
    pane.command("list", list_rows([("alpha", True)]))

    silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    silent.settimeout(d.timeout)
    silent.connect(os.path.join(d.runtime_dir, "ZelkAppMgr.sock"))
    try:
        pane.command("list", list_rows([("alpha", True)]))
        check(silent.recv(64) == b"", "the silent client was answered instead of dropped")
    finally:
        silent.close()
    out = client_ok(d, "--send", "list")
    check(out_lines(out) == list_rows([("alpha", True)]), "after the stall: %r" % out)


@scenario("control_long_runtime_directory", modes=("native",))
def control_long_runtime_directory(d):
    """A runtime directory of 150 bytes, longer than a socket address holds:
    the endpoint is made in it all the same, and --send list gets through."""
    base = d.temp_dir("longdir")
    d.write_ini(base, "[Applications]\n")
    parent = d.temp_dir("runtime")
    runtime = os.path.join(parent, "r" * (150 - len(parent) - 1))
    os.mkdir(runtime, 0o700)
    usual, d.runtime_dir = d.runtime_dir, runtime  # the client's too
    try:
        pane = d.start(base, environment={"ZELKAPPMGR_RUNTIME_DIR": runtime})
        pane.wait_ready()
        check(os.path.exists(os.path.join(runtime, "ZelkAppMgr.sock")), "no socket in %s" % runtime)
        out = client_ok(d, "--send", "list")
        check(out_lines(out) == list_rows([]), "--send list printed %r" % out)
        pane.enter_line("quit")
        pane.wait_dead()
    finally:
        d.runtime_dir = usual
