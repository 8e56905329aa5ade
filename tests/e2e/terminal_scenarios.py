"""Terminal fidelity, natively: keys as a Windows console gives them whatever
the terminal sends for them (a lone Escape followed at once by typing, Alt
prefixes, Shift+Tab, rxvt and Linux console sequences), and a screen that
follows the terminal's size. Native only: they send byte sequences that only
the POSIX back end decodes, and resize the terminal the manager draws on."""

from console_scenarios import HELP, empty_manager
from driver import STAMP_RE, check, format_screen, scenario
from startup_scenarios import RULE

ESC = 0x1B


@scenario("terminal_keys", modes=("native",))
def terminal_keys(d):
    pane = empty_manager(d)

    # Escape, then typing in the very next send-keys call: the Escape is
    # still a key of its own.
    for _ in range(3):
        pane.type("abc")
        pane.wait_input("abc", 3)
        pane.escape()
        pane.type("xyz")
        pane.wait_input("xyz", 3)
        pane.escape()
        pane.wait_input("", 0)

    # Alt+Left as PuTTY and rxvt send it, and as xterm does: one character.
    pane.type("hello world")
    pane.wait_input("hello world", 11)
    pane.hex(ESC, ESC, ord("["), ord("D"))
    pane.wait_input("hello world", 10)
    pane.hex(ESC, ord("["), ord("1"), ord(";"), ord("3"), ord("D"))
    pane.wait_input("hello world", 9)
    pane.hex(ESC, ord("["), ord("1"), ord(";"), ord("3"), ord("C"))
    pane.wait_input("hello world", 10)
    # Alt with a character types the character.
    pane.hex(ESC, ord("k"))
    pane.wait_input("hello worlkd", 11)
    pane.escape()
    pane.wait_input("", 0)

    # Shift+Tab completes as Tab does.
    pane.type("q")
    pane.wait_input("q", 1)
    pane.keys("BTab")
    pane.wait_input("quit", 4)
    pane.escape()
    pane.wait_input("", 0)

    # The Linux console's F1 to F5 type nothing.
    for final in "ABCDE":
        pane.hex(ESC, ord("["), ord("["), ord(final))
    pane.type("z")
    pane.wait_input("z", 1)
    pane.escape()
    pane.wait_input("", 0)

    # rxvt's Ctrl+Left and Ctrl+Right move by words; its Shift+arrows are
    # the arrows.
    pane.type("stop  12")
    pane.wait_input("stop  12", 8)
    pane.hex(ESC, ord("O"), ord("d"))
    pane.wait_input("stop  12", 6)
    pane.hex(ESC, ord("O"), ord("d"))
    pane.wait_input("stop  12", 0)
    pane.hex(ESC, ord("O"), ord("c"))
    pane.wait_input("stop  12", 6)
    pane.hex(ESC, ord("["), ord("d"))
    pane.wait_input("stop  12", 5)
    pane.hex(ESC, ord("["), ord("c"))
    pane.wait_input("stop  12", 6)
    pane.keys("Enter")
    pane.wait_messages_end(["Application does not exist."])
    pane.hex(ESC, ord("["), ord("a"))  # Up: the line just entered
    pane.wait_input("stop  12", 6)
    # rxvt's Ctrl+Delete deletes a word.
    pane.home()
    pane.hex(ESC, ord("["), ord("3"), ord("^"))
    pane.wait_input("12", 0)
    pane.escape()

    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


@scenario("erase_follows_the_terminal", modes=("native",))
def erase_follows_the_terminal(d):
    """On a terminal set to send ^H for Backspace (stty erase ^H), ^H
    deletes one character and ^? a word."""
    work = d.temp_dir("erase")
    d.write_ini(work, "[Applications]\n")
    pane = d.start(work, command=["sh", "-c", 'stty erase "^H" && exec "$@"', "sh"] +
                   d.manager_command())
    pane.wait_ready()
    pane.type("stop  12")
    pane.wait_input("stop  12", 8)
    pane.hex(0x08)
    pane.wait_input("stop  1", 7)
    pane.hex(0x7F)
    pane.wait_input("stop  ", 6)
    pane.escape()
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")


def wait_rows(pane, first, lines, what):
    """Waits until the messages `lines` stand on rows first.. of the log, one
    row each, the first with a time stamp."""

    def shown(rows):
        for i, text in enumerate(lines):
            row = rows[first + i]
            if not STAMP_RE.match(row) or row[19:] != (" " + text).rstrip():
                return False
        return True

    return pane.wait(shown, what)


def check_line_limit(pane, limit):
    pane.type("a" * (limit + 20))
    pane.wait_input("a" * limit, limit)
    pane.escape()
    pane.wait_input("", 0)


@scenario("terminal_resize", modes=("native",))
def terminal_resize(d):
    pane = empty_manager(d)
    pane.enter_line("help")
    wait_rows(pane, 13, HELP, "help on rows 13..23")
    pane.type("half")
    pane.wait_input("half", 4)

    # Larger: the log keeps its rows, bottom-aligned; the line its text.
    pane.resize(100, 30)
    rows = wait_rows(pane, 18, HELP, "the help kept on rows 18..28")
    check(not any(r.strip() for r in rows[:18]), "rows 0..17 should be blank:\n" + format_screen(rows))
    pane.wait_input("half", 4)
    pane.escape()
    pane.clear_log()
    pane.enter_line("help")
    wait_rows(pane, 18, HELP, "help ending on row 28")
    check_line_limit(pane, 98)

    # Smaller: the newest rows, cut to 60 columns.
    pane.resize(60, 20)
    wait_rows(pane, 8, HELP, "the help kept on rows 8..18")
    pane.clear_log()
    pane.enter_line("list")
    rows = wait_rows(pane, 15, ["", RULE, RULE, ""], "list ending with its rule on row 17")
    check(rows[17].endswith(RULE), "row 17 is not the rule:\n" + format_screen(rows))
    check_line_limit(pane, 58)

    # Too small: nothing is drawn, the manager goes on; then the screen
    # comes back.
    pane.type("he")
    pane.wait_input("he", 2)
    pane.resize(15, 4)
    pane.wait(lambda rows: not any(r.strip() for r in rows), "a blank 15 x 4 screen")
    dead, _ = pane.dead()
    check(not dead, "the manager ended on a 15 x 4 terminal")
    pane.type("lp")  # typed blind
    pane.resize(80, 25)
    pane.wait_input("help", 4)
    rows = wait_rows(pane, 20, ["", RULE, RULE, ""], "the list kept on rows 20..23")
    check(pane.program_pid() is not None, "the manager does not run")
    pane.keys("Enter")
    wait_rows(pane, 13, HELP, "help on rows 13..23")
    pane.enter_line("quit")
    check(pane.wait_dead() == 0, "quit: exit status is not 0")
