#!/usr/bin/env python3
"""The Wine prefix of a test run: <build>/wineprefix.

  wine_prefix.py setup BUILD_DIR
      prepares the prefix (once: wineboot --init, then wineserver -w), starts
      a persistent wineserver (-p) for it and starts a tiny program once, so
      that the scenarios find Wine warm (a cold start costs over a second)
  wine_prefix.py cleanup BUILD_DIR
      wineserver -k for this prefix only: ends the server and every Windows
      process of the run

Every Wine process is started with its output on a log file or /dev/null:
wineserver stays in the background, and a descriptor of CTest's output pipe
left with it would keep CTest waiting.
"""

import os
import shutil
import subprocess
import sys
import time


def environment(prefix):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")


def run(argv, env, log, timeout):
    log.write("$ %s\n" % " ".join(argv))
    log.flush()
    started = time.monotonic()
    result = subprocess.run(
        argv,
        env=env,
        stdin=subprocess.DEVNULL,
        stdout=log,
        stderr=log,
        timeout=timeout,
        start_new_session=True,
    )
    log.write("exit %d after %.1f s\n" % (result.returncode, time.monotonic() - started))
    log.flush()
    return result.returncode


def setup(build_dir):
    prefix = os.path.join(build_dir, "wineprefix")
    marker = os.path.join(prefix, ".zelk-prepared")
    env = environment(prefix)
    wine = shutil.which("wine") or shutil.which("wine64")
    wineserver = shutil.which("wineserver")
    wineboot = shutil.which("wineboot")
    if not (wine and wineserver and wineboot):
        print("wine, wineserver and wineboot are needed for the Windows tests")
        return 1
    log_path = os.path.join(build_dir, "wineprefix-setup.log")
    with open(log_path, "w") as log:
        if not os.path.exists(marker):
            if os.path.isdir(prefix):
                # A prefix left half made by an interrupted run: start anew.
                run([wineserver, "-k"], env, log, 60)
                shutil.rmtree(prefix, ignore_errors=True)
            if run([wineboot, "--init"], env, log, 600) != 0:
                print("wineboot --init failed; see %s" % log_path)
                return 1
            if run([wineserver, "-w"], env, log, 600) != 0:
                print("wineserver -w failed; see %s" % log_path)
                return 1
            open(marker, "w").close()
        # -p: the server stays for the whole run instead of ending a few
        # seconds after its last process; it puts itself in the background.
        if run([wineserver, "-p"], env, log, 60) != 0:
            # A server of this prefix left by an earlier run that did not
            # get to its cleanup: end it and start a persistent one anew.
            run([wineserver, "-k"], env, log, 60)
            run([wineserver, "-w"], env, log, 60)
            if run([wineserver, "-p"], env, log, 60) != 0:
                print("wineserver -p failed; see %s" % log_path)
                return 1
        helper = os.path.join(build_dir, "tests", "helpers", "zelk_helper.exe")
        if run([wine, helper, "--run-ms", "0"], env, log, 120) != 0:
            print("the warm-up start of %s failed; see %s" % (helper, log_path))
            return 1
    print("Wine prefix %s ready" % prefix)
    return 0


def cleanup(build_dir):
    prefix = os.path.join(build_dir, "wineprefix")
    wineserver = shutil.which("wineserver")
    if wineserver is None or not os.path.isdir(prefix):
        return 0
    with open(os.path.join(build_dir, "wineprefix-cleanup.log"), "w") as log:
        run([wineserver, "-k"], environment(prefix), log, 60)
    return 0


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "cleanup"):
        print(__doc__)
        return 2
    build_dir = os.path.abspath(sys.argv[2])
    return setup(build_dir) if sys.argv[1] == "setup" else cleanup(build_dir)


if __name__ == "__main__":
    sys.exit(main())
