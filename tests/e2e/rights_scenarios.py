"""What an application cannot make the manager do for it, natively as root:
write its output through a link the application's user planted, run a
health command as root or leave the command's processes running, hand the
manager's environment to another user, become ready on a port another
process holds, or hold up its own stop by being stopped.

The scenarios that need another user make one for the test (useradd) and
remove it when the driver closes; without root they are skipped."""

import os
import pwd
import signal
import socket
import subprocess
import time

from driver import check, proc_stat, scenario
from identity_scenarios import cgroup_of, remove_cgroups
from readiness_scenarios import sections, status
from startup_scenarios import write_app_ini
from stop_scenarios import free_port
from supervision_scenarios import App, start_with, wait_gone

PLAIN_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def need_root(d):
    if os.geteuid() != 0:
        d.skip("needs root: it makes a user and runs applications as that user")


class TestUser:
    """A user of the scenario's own, with a home directory it owns; removed
    (with its group) once the driver has ended the programs."""

    def __init__(self, d):
        need_root(d)
        self.name = "zelk%d" % os.getpid()
        self.home = d.temp_dir("home")
        subprocess.run(["useradd", "--no-create-home", "--home-dir", self.home,
                        "--shell", "/bin/sh", "--user-group", self.name],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        d.on_close(self.remove)
        entry = pwd.getpwnam(self.name)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        os.chmod(self.home, 0o755)
        os.chown(self.home, self.uid, self.gid)

    def remove(self):
        subprocess.run(["userdel", self.name], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def give(self, *paths):
        """Makes files and directories (made when missing) this user's."""
        for path in paths:
            if not os.path.exists(path):
                open(path, "a").close()
            os.lchown(path, self.uid, self.gid)


def user_app(d, user, base, name, options=""):
    """An application the user can run: its executable reachable, its log
    the user's."""
    os.chmod(base, 0o755)
    app = App(d, base, name, options)
    user.give(app.log_path)
    return app


def append_ini(base, text):
    with open(os.path.join(base, "zelkappmgr.ini"), "a") as f:
        f.write(text)


@scenario("output_path_links_are_refused", modes=("native",))
def output_path_links_are_refused(d):
    """In a directory open to all (sticky, as /tmp), the user plants a link
    as the last part of the output directory's path, then one in its
    middle, both to directories of root's: the manager refuses the path
    and names the link, the application runs with its output not captured,
    and no file is written through either link."""
    user = TestUser(d)
    base = d.temp_dir("links")
    shared = os.path.join(base, "shared")
    os.mkdir(shared)
    os.chmod(shared, 0o1777)
    victim = os.path.join(base, "victim")  # root's, where "logs" would be
    os.makedirs(os.path.join(victim, "logs"))
    cases = [
        ("last", "shared/logs", os.path.join(shared, "logs"), victim + "/logs"),
        ("middle", "shared/site/logs", os.path.join(shared, "site"), victim),
    ]
    for name, directory, link, target in cases:
        os.symlink(target, link)
        user.give(link)
        app = App(d, base, name, "--print-lines 50 --run-ms 0")
        pane = start_with(d, [app], general="OutputDirectory = %s\nGiveUpAfter = 1" % directory)
        pane.wait_text(r"Giving up on %s" % name)
        expected = "Could not use output directory %s: another user owns %s." % (directory, link)
        check(pane.messages()[0] == expected, "%r, not %r" % (pane.messages()[0], expected))
        check(app.log.exits(), "the application did not run")
        written = [names for _, _, names in os.walk(victim) if names]
        check(not written, "files were written through the link %s: %r" % (link, written))
        pane.enter_line("quit")
        pane.wait_dead()
        os.unlink(link)


@scenario("health_command_runs_as_the_user", modes=("native",))
def health_command_runs_as_the_user(d):
    """[User] web = the user, [WorkingDirectory] its home: the command of
    web's health check writes its uid in its working directory, and the
    uid, like the file's owner, is the user's."""
    user = TestUser(d)
    base = d.temp_dir("healthuser")
    web = user_app(d, user, base, "web")
    write_app_ini(d, base, [web.ini()], sections(
        "", Health={"web": 'command "id -u > uid" every 1'}))
    append_ini(base, "[User]\nweb = %s\n[WorkingDirectory]\nweb = %s\n" % (user.name, user.home))
    d.start_manager(base)
    web.wait_starts(1)
    written = os.path.join(user.home, "uid")
    text = d.wait_until(lambda: os.path.exists(written) and open(written).read().strip(),
                        "the health command to write its uid")
    check(text == str(user.uid), "the health command ran as uid %s, not %d" % (text, user.uid))
    check(os.stat(written).st_uid == user.uid, "the file is uid %d's" % os.stat(written).st_uid)


def leftover_pids(d, log, checks):
    """Waits until `checks` health commands have each left a helper, and
    returns the helpers' ids, oldest first."""
    return [s["pid"] for s in d.wait_until(lambda: len(log.starts()) >= checks and log.starts(),
                                           "%d health checks to leave a helper" % checks)]


@scenario("health_command_children_end_with_it", modes=("native",))
def health_command_children_end_with_it(d):
    """A health command that leaves a child in the background: once the
    third check's child has started, the children of the first two, which
    ended with their checks, are gone; "stop" leaves none."""
    base = d.temp_dir("healthchild")
    web = App(d, base, "web")
    sleeper = d.helper_copy(os.path.join(base, "sleeper"))
    log = d.track(os.path.join(base, "sleeper.log"))
    pane = start_with(d, [web], general=sections("", Health={
        "web": 'command "%s --log %s --tag bg & sleep 0.5" every 1' % (sleeper, log.path)}))
    pids = leftover_pids(d, log, 3)
    check(not d.alive(pids[:2]), "children of ended checks run on: %r" % sorted(d.alive(pids[:2])))
    check(status(d)["web"]["health"] == "healthy", "the checks did not pass: %r" % status(d))
    pane.command("stop 0", ["Terminating process web."])
    wait_gone(d, leftover_pids(d, log, 3), "every health command's child")


@scenario("contained_health_command_setsid_child_ends", modes=("native",))
def contained_health_command_setsid_child_ends(d):
    """With ContainProcesses = 1, a health command that leaves a child in a
    session of its own (setsid), out of its process group: the command runs
    in a cgroup beside the application's, and the children of ended checks
    are gone once the third has started; after "stop" and "quit" no cgroup
    of the manager's is left."""
    need_root(d)
    base = d.temp_dir("healthsetsid")
    web = App(d, base, "web")
    sleeper = d.helper_copy(os.path.join(base, "sleeper"))
    log = d.track(os.path.join(base, "sleeper.log"))
    pane = start_with(d, [web], general="ContainProcesses = 1\n" + sections("", Health={
        "web": 'command "setsid %s --log %s --tag sid & sleep 0.5" every 1'
               % (sleeper, log.path)}))
    application = cgroup_of(web.wait_starts(1)[0]["pid"])
    manager = os.path.dirname(application)
    checks = os.path.join(manager, "check-web")
    groups = [application, manager, checks]
    try:
        pids = leftover_pids(d, log, 3)
        try:
            where = cgroup_of(pids[2])
        except (OSError, IndexError):
            where = checks  # it has ended with its check already
        check(where == checks, "the check's child is in %s, not %s" % (where, checks))
        check(not d.alive(pids[:2]),
              "children of ended checks run on: %r" % sorted(d.alive(pids[:2])))
        pane.command("stop 0", ["Terminating process web."])
        wait_gone(d, leftover_pids(d, log, 3), "every health command's child")
        pane.enter_line("quit")
        pane.wait_dead()
        d.wait_until(lambda: not os.path.isdir(manager),
                     "the manager's cgroup to go, with the checks' in it")
    finally:
        remove_cgroups(d, groups)


@scenario("another_user_gets_a_clean_environment", modes=("native",))
def another_user_gets_a_clean_environment(d):
    """A manager whose environment holds a secret and a PATH under /root
    starts an application as the user: the application has neither, nor
    the manager's runtime directory, but the user's HOME and USER, the
    plain PATH and its [Environment] entry."""
    user = TestUser(d)
    base = d.temp_dir("cleanenv")
    names = ["DB_PASSWORD", "PATH", "HOME", "USER", "ZELK_GREETING", "ZELKAPPMGR_RUNTIME_DIR"]
    app = user_app(d, user, base, "x", " ".join("--record-env " + n for n in names))
    write_app_ini(d, base, [app.ini()])
    append_ini(base, "[User]\nx = %s\n[Environment]\nx = ZELK_GREETING=hello\n" % user.name)
    pane = d.start(base, environment={"DB_PASSWORD": "s3cret",
                                      "PATH": "/root/zelk-bin:" + os.environ["PATH"]})
    pane.wait_ready()
    app.wait_starts(1)
    env = d.wait_until(lambda: len(app.log.events("env")) == len(names) and
                       {e["name"]: e["value"] for e in app.log.events("env")},
                       "the application to record its environment")
    expected = {"DB_PASSWORD": "<unset>", "PATH": PLAIN_PATH, "HOME": user.home,
                "USER": user.name, "ZELK_GREETING": "hello", "ZELKAPPMGR_RUNTIME_DIR": "<unset>"}
    check(env == expected, "the application's environment: %r" % env)


@scenario("port_held_by_another_is_not_ready", modes=("native",))
def port_held_by_another_is_not_ready(d):
    """Another process listens on the port of db's [Ready] rule; db never
    does: db stays starting, the log says once that the port is another
    process's, and web, which starts after db, is not started."""
    port = free_port()
    other = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    other.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    other.bind(("127.0.0.1", port))
    other.listen(8)
    try:
        base = d.temp_dir("heldport")
        db, web = App(d, base, "db"), App(d, base, "web")
        pane = start_with(d, [db, web], general=sections(
            "", After={"web": "db"}, Ready={"db": "port %d" % port}, ReadyTimeout={"db": "0"}))
        db.wait_starts(1)
        said = "Port %d is held by another process; db is not ready." % port
        pane.wait_text(r"Port %d is held by another process; db is not ready\." % port)
        time.sleep(1)  # ten more attempts, 100 ms apart
        check(pane.messages().count(said) == 1, "said %d times" % pane.messages().count(said))
        check(status(d)["db"]["state"] == "starting", "db is %s" % status(d)["db"]["state"])
        check(not web.starts(), "web was started")
    finally:
        other.close()


@scenario("stopped_application_stops_politely", modes=("native",))
def stopped_application_stops_politely(d):
    """An application stopped with SIGSTOP, with a StopTimeout of 20 s:
    "stop" ends it within 3 s, and politely: it heard SIGTERM and finished
    its work."""
    base = d.temp_dir("sigstop")
    app = App(d, base, "held", "--on-term 0")
    pane = start_with(d, [app], general="StopTimeout = 20")
    pid = app.wait_starts(1)[0]["pid"]
    os.kill(pid, signal.SIGSTOP)
    d.wait_until(lambda: (proc_stat(pid) or "Z")[0] == "T", "the application to be stopped")
    pane.enter_line("stop 0")
    pane.wait_messages_end(["Terminating process held.", "held stopped."], timeout=3)
    check([t["pid"] for t in app.log.events("term")] == [pid], "it was not asked to end")
    check(any(e["pid"] == pid for e in app.log.exits()), "it did not finish its work")


@scenario("contained_health_command_leftover_ends", modes=("wine",))
def contained_health_command_leftover_ends(d):
    """Under Wine with ContainProcesses = 1: a health command whose program
    leaves a copy behind (started by a child that ends at once, so no walk
    of the tree finds it) runs in a job of its own, which ends with the
    check: the copy one check left is gone once the next check's copy has
    started."""
    base = d.temp_dir("healthjob")
    web = App(d, base, "web")
    checker = d.helper_copy(os.path.join(base, "checker"))
    log = d.track(os.path.join(base, "checker.log"))
    start_with(d, [web], general="ContainProcesses = 1\n" + sections("", Health={
        "web": 'command "%s --log %s --tag chk --detach --run-ms 1500" every 3'
               % (d.path(checker), d.path(log.path))}))

    def copies():
        return [s["pid"] for s in log.starts() if s["tag"].endswith(".detached")]

    pids = d.wait_until(lambda: len(copies()) >= 2 and copies(), "two checks to leave a copy")
    check(not d.alive(pids[:1]), "the copy of an ended check runs on: %r" % pids[:1])
    check(status(d)["web"]["health"] == "healthy", "the checks did not pass: %r" % status(d))
