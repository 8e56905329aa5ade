"""The operator interface: help, the interpreter's matching, the application
commands and their messages, cls, quit, Tab completion, the editing keys of
the input line, its length limit and keys typed while a command runs."""

from driver import END_MARKER, MESSAGE_RE, check, format_screen, scenario
from startup_scenarios import RULE, list_rows
from supervision_scenarios import App, start_with, wait_gone

HELP = [
    "Help Command list:",
    "",
    "list = Displays application list",
    "start = Starts application",
    "stop = Stops application",
    "restart = Restarts application",
    "startall = Starts all applications",
    "stopall = Stops all applications",
    "restartall = Restarts all applications",
    "cls = Clears console window",
    "quit = Quits application",
]
ALL_MATCHES = (
    "Multiple matches found: help list start stop restart startall stopall restartall cls quit"
)
NO_SUCH = "No such command"
NO_MATCH = "Could not find a matching console command"
NOT_EXIST = "Application does not exist."


def empty_manager(d):
    work = d.temp_dir("console")
    d.write_ini(work, "[Applications]\n")
    return d.start_manager(work)


@scenario("help_and_matching")
def help_and_matching(d):
    """help, HELP stop, helpme list the nine commands; a leading blank, a
    prefix or an unknown word is no command; matching ignores case."""
    pane = empty_manager(d)
    for line in ("help", "HELP stop", "Help", "helpme"):
        pane.command(line, HELP)
    for line in (" help", "li", "lists", "x", "he"):
        pane.command(line, [NO_SUCH])
    empty_list = ["", RULE, RULE, ""]
    for line in ("list", "LIST", "List extra words", "  list"):
        pane.command(line, empty_list)
    # The help listing is laid out in the log as stamp, blank, text.
    rows = pane.command("help", HELP)
    log = pane.log_rows(rows)
    first = len(log) - len(HELP) - 1  # the end marker's answer is last
    for i, text in enumerate(HELP):
        row = log[first + i]
        check(
            MESSAGE_RE.match(row) and row[19:] == (" " + text).rstrip(),
            "help row %d is %r" % (first + i, row),
        )
    check(not any(r.strip() for r in log[:first]), "rows above the help listing are not blank")
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


@scenario("application_commands", timeout=180)
def application_commands(d):
    """start, stop and restart with a number or a name, without one, out of
    range and with further words, each with its messages."""
    base = d.temp_dir("appcmd")
    alpha = App(d, base, "alpha")
    beta = App(d, base, "beta")
    pane = start_with(d, [alpha, beta])
    pane.wait_messages(["Starting process alpha.", "Starting process beta."])
    alpha.wait_starts(1)
    beta.wait_starts(1)

    for line in (
        "start", "stop", "restart", "start 2", "stop 2", "restart 2", "start -1",
        "stop -1", "restart 99999999999", "start  ", "start x", "stop nosuchname",
    ):
        pane.command(line, [NOT_EXIST])
    pane.command("start 0", ["Application already started."])
    pane.command("start 1 0", ["Application already started."])

    old_beta = beta.last_pid()
    # A word is a display name, in any case.
    pane.command("stop Beta and more words", ["Terminating process beta."])
    wait_gone(d, [old_beta], "beta")
    pane.command("list", list_rows([("alpha", True), ("beta", False)]))
    pane.command("stop 1", ["Application already stopped."])
    pane.command("start 1", ["Starting process beta."])
    beta.wait_starts(2)
    check(beta.last_pid() != old_beta, "beta was not started as a new process")

    old_alpha = alpha.last_pid()
    pane.command("restart 0", ["Terminating process alpha.", "Starting process alpha."])
    alpha.wait_starts(2)
    wait_gone(d, [old_alpha], "the old alpha")
    pane.command("stop 0", ["Terminating process alpha."])
    pane.command(
        "restart 0", ["Application is not running, starting it.", "Starting process alpha."]
    )
    alpha.wait_starts(3)
    # 1x reads as 1.
    old_beta = beta.last_pid()
    pane.command("stop 1x", ["Terminating process beta."])
    wait_gone(d, [old_beta], "beta")
    pane.command("list", list_rows([("alpha", True), ("beta", False)]))
    check(
        (len(alpha.starts()), len(beta.starts())) == (3, 2),
        "starts: alpha %d (expected 3), beta %d (expected 2)"
        % (len(alpha.starts()), len(beta.starts())),
    )


@scenario("all_commands", timeout=180)
def all_commands(d):
    """startall, stopall and restartall go through the applications in order,
    one application's lines before the next one's."""
    base = d.temp_dir("allcmd")
    apps = [App(d, base, n) for n in ("a", "b", "c")]
    pane = start_with(d, apps)
    pane.wait_messages(["Starting process %s." % a.name for a in apps])
    for a in apps:
        a.wait_starts(1)

    pane.command("startall", [])
    pane.command("stop 1", ["Terminating process b."])
    pane.command("startall", ["Starting process b."])
    apps[1].wait_starts(2)

    pids = [a.last_pid() for a in apps]
    pane.command("stopall", ["Terminating process %s." % a.name for a in apps])
    wait_gone(d, pids, "every application")
    pane.command("list", list_rows([(a.name, False) for a in apps]))
    pane.command("stopall", [])

    pane.command("restartall", ["Starting process %s." % a.name for a in apps])
    for a, n in zip(apps, (2, 3, 2)):
        a.wait_starts(n)
    pane.command("stop 1", ["Terminating process b."])
    pids = [apps[0].last_pid(), apps[2].last_pid()]
    pane.command(
        "restartall",
        [
            "Terminating process a.",
            "Starting process a.",
            "Starting process b.",
            "Terminating process c.",
            "Starting process c.",
        ],
    )
    wait_gone(d, pids, "the old a and c")
    for a, n in zip(apps, (3, 4, 3)):
        a.wait_starts(n)
    pane.command("list", list_rows([(a.name, True) for a in apps]))
    alive = d.alive([a.last_pid() for a in apps])
    check(len(alive) == 3, "not every application runs after restartall")


@scenario("cls_and_quit")
def cls_and_quit(d):
    """cls blanks the log area and leaves the input row; the next message is
    written on the newest log row. quit ends with 0 and leaves the
    applications running."""
    base = d.temp_dir("cls")
    app = App(d, base, "app")
    pane = start_with(d, [app])
    app.wait_starts(1)
    for _ in range(3):
        pane.enter_line("help")
    pane.wait(lambda rows: all(r.strip() for r in pane.log_rows(rows)), "a full log area")
    pane.enter_line("cls")
    # The entered line stays on the input row until the command returns;
    # then the row is blanked for the next line.
    pane.wait(
        lambda rows: not any(r.strip() for r in pane.log_rows(rows))
        and pane.input_row(rows) == "",
        "cls to blank rows 0..23 and the input row to be ready for the next line",
    )
    pane.wait_input("", 0)
    # Text typed after the cls stays on the input row while messages arrive.
    pane.type("li")
    pane.keys("Enter")
    pane.type("qu")
    rows = pane.wait(lambda rows: rows[23].endswith(NO_SUCH), "the next message on row 23")
    check(not any(r.strip() for r in rows[:23]), "rows 0..22 should be blank:\n" + format_screen(rows))
    pane.wait_input("qu", 2)
    pane.type("it")
    pane.keys("Enter")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")
    check(d.alive([app.last_pid()]), "the application ended with the manager")


@scenario("tab_completion")
def tab_completion(d):
    """Tab lists every command on an empty line, completes a unique prefix,
    lists several matches and reports none."""
    pane = empty_manager(d)
    pane.clear_log()
    pane.keys("Tab")
    rows = pane.wait_messages([ALL_MATCHES])
    stamp = rows[22][:20]
    check(
        rows[22] == stamp + ALL_MATCHES[:60] and rows[23] == " " * 20 + ALL_MATCHES[60:],
        "the listing should take rows 22 and 23:\n" + format_screen(rows),
    )
    pane.wait_input("", 0)

    cases = [
        ("q", "quit", None),
        ("HE", "help", None),
        ("LI", "list", None),
        ("restarta", "restartall", None),
        ("res", "res", "Multiple matches found: restart restartall"),
        ("st", "st", "Multiple matches found: start stop startall stopall"),
        ("stop", "stop", "Multiple matches found: stop stopall"),
        ("x", "x", NO_MATCH),
        ("stop 1", "stop 1", NO_MATCH),
        ("quitx", "quitx", NO_MATCH),
    ]
    for typed, line, message in cases:
        pane.clear_log()
        pane.type(typed)
        pane.wait_input(typed, len(typed))
        pane.keys("Tab")
        if message is not None:
            pane.wait_messages([message])
        pane.wait_input(line, len(line))
        pane.escape()
        pane.wait_input("", 0)
        # Nothing else was written: the next answer follows at once.
        pane.enter_line(END_MARKER)
        pane.wait_messages(([message] if message else []) + [NO_SUCH])
    # A completed command runs with Enter.
    pane.clear_log()
    pane.type("LI")
    pane.keys("Tab")
    pane.wait_input("list", 4)
    pane.keys("Enter")
    pane.wait_messages(["", RULE, RULE, ""])


def editing_checks(d, pane):
    native = d.mode == "native"

    def at(text, x):
        pane.wait_input(text, x)

    # Recall ring, first of all: it holds every entered line.
    pane.enter_line("zz1")
    pane.wait_messages_end([NO_SUCH])
    pane.type("zz2")
    pane.keys("Left")
    at("zz2", 2)
    pane.keys("Enter")
    at("", 0)
    pane.keys("Up")
    at("zz2", 2)  # with the cursor where it stood when entered
    pane.keys("Up")
    at("zz1", 3)
    pane.keys("Up")  # the current slot itself: unchanged
    at("zz1", 3)
    pane.keys("Down")
    at("", 0)
    pane.keys("Down")
    at("", 0)
    pane.keys("PPage")
    at("zz2", 2)
    pane.keys("PPage")
    at("zz1", 3)
    pane.keys("NPage")
    at("zz2", 2)
    pane.keys("NPage")
    at("zz2", 2)
    pane.keys("NPage")
    at("", 0)
    pane.type("typed")
    pane.keys("Up")  # overwrites the typed text
    at("zz2", 2)
    pane.escape()
    at("", 0)

    # Moving and deleting.
    pane.type("hello world")
    at("hello world", 11)
    pane.keys("Right")
    at("hello world", 11)
    pane.keys("Left", "Left")
    at("hello world", 9)
    pane.keys("BSpace")
    at("hello wold", 8)
    pane.keys("DC")
    at("hello wod", 8)
    pane.home()
    at("hello wod", 0)
    pane.keys("Left", "BSpace")
    at("hello wod", 0)
    pane.end()
    at("hello wod", 9)
    pane.keys("DC")
    at("hello wod", 9)
    if native:
        # tmux's own Home and End (ESC [1~ and ESC [4~) work natively too.
        pane.keys("Home")
        at("hello wod", 0)
        pane.keys("End")
        at("hello wod", 9)
    pane.escape()
    at("", 0)
    pane.escape()  # on an empty line: nothing
    at("", 0)

    # Word-wise keys on "stop  12".
    pane.type("stop  12")
    pane.keys("C-Left")
    at("stop  12", 6)
    pane.keys("C-Left")
    at("stop  12", 0)
    pane.keys("C-Left")
    at("stop  12", 0)
    pane.keys("C-Right")
    at("stop  12", 6)
    pane.keys("C-Right")
    at("stop  12", 8)
    if native:
        # Ctrl+Backspace (BS, 0x08): tmux has no way to send it to Wine.
        pane.keys("C-h")
        at("stop  ", 6)
        pane.keys("C-h")
        at("", 0)
        pane.type("stop  12")
    pane.home()
    at("stop  12", 0)
    pane.keys("C-DC")
    at("12", 0)
    pane.keys("C-DC")
    at("", 0)

    # Insert toggles overwrite; Ctrl with a letter types nothing.
    pane.type("abcd")
    pane.home()
    at("abcd", 0)
    pane.keys("IC")
    pane.type("XY")
    at("XYcd", 2)
    pane.type("Zw")
    at("XYZw", 4)
    pane.type("v")
    at("XYZwv", 5)
    pane.keys("IC")
    pane.home()
    pane.type("i")
    at("iXYZwv", 1)
    pane.keys("C-a", "C-e")
    pane.type("!")
    at("i!XYZwv", 2)
    pane.escape()
    at("", 0)


@scenario("editing_keys")
def editing_keys(d):
    """Every editing key of the input row, checked by the row's text and the
    cursor column after each."""
    pane = empty_manager(d)
    editing_checks(d, pane)
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


@scenario("line_limit_and_characters")
def line_limit_and_characters(d):
    """A line stops at 78 characters in 80 columns, in overwrite mode too;
    punctuation types itself."""
    pane = empty_manager(d)
    pane.type("a" * 100)
    pane.wait_input("a" * 78, 78)
    pane.keys("Left")
    pane.type("b")  # inserting: full
    pane.wait_input("a" * 78, 77)
    pane.keys("IC")
    pane.type("b")  # overwriting: still full
    pane.home()
    pane.wait_input("a" * 78, 0)
    pane.keys("IC")
    pane.escape()
    pane.wait_input("", 0)

    for text in ("!#$%&'(-.", "\"),/:;<=>?@[\\]^_`{|}~*+ 09AZaz"):
        pane.type(text)
        pane.wait_input(text.rstrip(), len(text))
        pane.escape()
        pane.wait_input("", 0)
    # The punctuation reaches the interpreter as typed.
    pane.clear_log()
    pane.type("!#$%&'(-.")
    pane.keys("Enter")
    pane.wait_messages([NO_SUCH])


@scenario("typeahead_during_command", timeout=180)
def typeahead_during_command(d):
    """Keys typed while a command runs (stopall on process trees) are kept and
    handled in order afterwards."""
    base = d.temp_dir("typeahead")
    apps = [App(d, base, n, "--tree 2 3") for n in ("t1", "t2")]
    pane = start_with(d, apps)
    for a in apps:
        a.wait_starts(13)
    pids = apps[0].pids() + apps[1].pids()
    pane.clear_log()
    # One send-keys: the command, the next command and text for the input row.
    pane.type("stopall\rlist\rhelp")
    pane.wait_messages(
        ["Terminating process t1.", "Terminating process t2."]
        + list_rows([("t1", False), ("t2", False)])
    )
    pane.wait_input("help", 4)
    wait_gone(d, pids, "both trees")
