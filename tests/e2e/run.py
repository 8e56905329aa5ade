#!/usr/bin/env python3
"""Runs one end-to-end scenario, or lists them.

  run.py --mode native|wine --list
      one line per scenario of that mode: its name and its time limit (s)
  run.py --mode native|wine --build BUILD_DIR SCENARIO
      runs SCENARIO against the programs of BUILD_DIR; exit code 0 when it
      passed, 1 when it failed (the reason and the last screen are printed)
"""

import argparse
import os
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import driver  # noqa: E402
import answer_scenarios  # noqa: E402,F401
import console_scenarios  # noqa: E402,F401
import capture_scenarios  # noqa: E402,F401
import control_scenarios  # noqa: E402,F401
import controls_scenarios  # noqa: E402,F401
import fairness_scenarios  # noqa: E402,F401
import headless_scenarios  # noqa: E402,F401
import identity_scenarios  # noqa: E402,F401
import operator_scenarios  # noqa: E402,F401
import readiness_scenarios  # noqa: E402,F401
import record_scenarios  # noqa: E402,F401
import reload_scenarios  # noqa: E402,F401
import reload_rules_scenarios  # noqa: E402,F401
import restart_scenarios  # noqa: E402,F401
import rights_scenarios  # noqa: E402,F401
import service_scenarios  # noqa: E402,F401
import startup_scenarios  # noqa: E402,F401
import stop_scenarios  # noqa: E402,F401
import supervision_scenarios  # noqa: E402,F401
import terminal_scenarios  # noqa: E402,F401
import usage_scenarios  # noqa: E402,F401


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True, choices=("native", "wine"))
    parser.add_argument("--build")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("scenario", nargs="?")
    args = parser.parse_args()

    if args.list:
        for s in driver.SCENARIOS.values():
            if args.mode in s.modes:
                factor = 2 if args.mode == "wine" else 1
                print("%s %d %s" % (s.name, s.timeout * factor, s.label))
        return 0

    if not args.build or not args.scenario:
        parser.error("--build and a scenario are needed")
    s = driver.SCENARIOS.get(args.scenario)
    if s is None or args.mode not in s.modes:
        print("no scenario %r for mode %s" % (args.scenario, args.mode))
        return 1

    started = time.monotonic()
    d = driver.Driver(args.mode, args.build)
    failed = None
    skipped = None
    try:
        with d:
            s.function(d)
    except driver.ScenarioSkipped as why:
        skipped = str(why)
    except driver.ScenarioFailure as failure:
        where = traceback.extract_tb(failure.__traceback__)
        lines = [
            "  %s:%d in %s" % (os.path.basename(f.filename), f.lineno, f.name)
            for f in where
            if not f.filename.endswith("driver.py")
        ]
        failed = "at\n%s\n%s" % ("\n".join(lines), failure)
    except Exception:
        failed = "unexpected error:\n" + traceback.format_exc()
    # Read after close(): a program may write its report while it ends.
    reports = d.sanitizer_reports()
    if reports:
        failed = (failed or "") + "\nsanitizer reports:\n" + "\n".join(reports)
    if failed:
        print("FAILED %s (%s) %s" % (s.name, args.mode, failed))
        return 1
    if skipped:
        print("skipped %s (%s): %s" % (s.name, args.mode, skipped))
        return driver.SKIPPED
    print("passed %s (%s) in %.1f s" % (s.name, args.mode, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
