#!/usr/bin/env python3
"""Where the manager's time and memory go, one build beside another. Prints breakdowns; asserts nothing.

    python3 bench/costs.py [--builds [LABEL=]DIR,...]
                           [--only relaunch,record,steps,memory,heap,startup,stop]
                           [--relaunches 12] [--windows 5] [--crowd 1000] [--rounds 3]
                           [--keep DIR]

Each build directory holds a native build (zelkappmgr); the helper program
(the supervised application) is taken from the first build, so that every
build supervises the same program. Run it as root inside `unshare -n`, like
bench.py. bench/costs.md shows how to build older commits beside this one
and what the breakdowns showed.

  relaunch  strace of the manager while an application that lives 300 ms is
            relaunched: the system calls of one relaunch cycle (from one
            spawn to the next), averaged, by call and path, for each build,
            and the calls of the spawned child before its exec; and the
            manager's own part of a relaunch in time:
            from the wait that saw the exit to the spawn, the spawn, and from
            the spawn to the loop's pause (perf trace, little overhead)
  record    the start record's way of writing (create, write, close,
            rename), timed in the temporary directory and in /dev/shm
  steps     the user-space instructions of one relaunch cycle, counted by
            single-stepping the manager (bench/stepcount.c; valgrind 3.19
            cannot run the manager: it does not know pidfd_open), with the
            functions whose count changed most from the first build
  memory    the idle manager with 15 applications: resident kilobytes of
            each mapping (program text, data, heap, C library, loader,
            stack), with the program's section sizes and largest objects
  heap      the same under heaptrack: the heap still allocated while idle,
            by allocation site (heaptrack's own runtime removed)
  startup   among --crowd other processes, the manager's start-up under
            `perf trace` (tracepoints, little overhead): time to the first
            read of the process list, the walk, the 15 spawns, the minor page
            faults (median of --rounds), with the system calls made (strace,
            for the paths)
  stop      `--send "stop 0"` of a tree of 121 processes and a polite stop
            (StopTimeout) of a tree of 13 that ends on SIGTERM: the
            manager's system calls in phases with their times (perf trace),
            and the client's answer and the last member's end, untraced
"""

import argparse
import collections
import glob
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

from driver import Driver  # noqa: E402
import bench  # noqa: E402

# -- helpers -----------------------------------------------------------------


class Build:
    def __init__(self, labelled):
        label, _, directory = labelled.rpartition("=")
        self.directory = os.path.abspath(directory)
        self.label = label or os.path.basename(os.path.dirname(os.path.dirname(self.directory)))
        self.manager = os.path.join(self.directory, "zelkappmgr")


def use(driver, build):
    """Makes the driver start `build`'s manager. Older builds found their
    runtime directory through XDG_RUNTIME_DIR: both name the run's own."""
    driver.manager = build.manager
    if not getattr(driver, "both_variables", False):
        plain = driver.environment
        driver.environment = lambda: dict(plain(), XDG_RUNTIME_DIR=driver.runtime_dir)
        driver.both_variables = True


def path_class(path):
    path = re.sub(r"^(/proc/)?\d+/", "/proc/PID/", path)
    path = re.sub(r"^/tmp/[^/]+", "RUNTIME-OR-TEMP", path)
    return path


STRACE_LINE = re.compile(r"^(?:\d+ )?(\d+\.\d+) (\w+)\((.*?)(?:<([\d.]+)>)?$")


def strace_key(name, args):
    """A system call's name, with the path class for calls on paths and the
    signal for calls that send one."""
    if name in ("openat", "open", "readlinkat", "readlink", "rename", "newfstatat", "statx",
                "access", "unlink", "mkdir"):
        quoted = re.search(r'"([^"]*)"', args)
        if quoted:
            return "%s %s" % (name, path_class(quoted.group(1)))
    if name == "kill":
        parts = [p.strip() for p in args.split(",")]
        target = "-group" if parts[0].startswith("-") else ("0" if parts[0] == "0" else "pid")
        return "kill(%s, %s)" % (target, parts[1].split(")")[0] if len(parts) > 1 else "?")
    if name == "pidfd_send_signal":
        parts = [p.strip() for p in args.split(",")]
        return "pidfd_send_signal(%s)" % (parts[1] if len(parts) > 1 else "?")
    if name in ("poll", "ppoll"):
        limit = re.search(r"\], \d+, (-?\d+|\{[^}]*\}|NULL)", args)
        limit = limit.group(1) if limit else "?"
        timespec = re.match(r"\{tv_sec=(\d+), tv_nsec=(\d+)\}", limit)
        if timespec:  # ppoll's limit in milliseconds, as poll has it
            limit = "%d" % round(int(timespec.group(1)) * 1000 + int(timespec.group(2)) / 1e6)
        return "poll or ppoll(timeout %s)" % ("-1" if limit == "NULL" else limit)
    return name


def read_strace(path):
    """(time, name, key, duration) of every complete call in a strace -ttt -T file."""
    calls = []
    with open(path, errors="replace") as f:
        for line in f:
            m = STRACE_LINE.match(line.rstrip())
            if m and "resumed>" not in line:
                calls.append((float(m.group(1)), m.group(2), strace_key(m.group(2), m.group(3)),
                              float(m.group(4) or 0)))
    return calls


def print_table(title, labels, rows, fmt="%10.1f"):
    print("\n" + title)
    width = max([len(r[0]) for r in rows] + [10])
    print("  %-*s %s" % (width, "", " ".join("%10s" % label[:10] for label in labels)))
    for name, values in rows:
        print("  %-*s %s" % (width, name, " ".join(
            (fmt % v) if v is not None else "%10s" % "-" for v in values)))
    sys.stdout.flush()


def smaps(pid):
    rows = []
    current = None
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if re.match(r"^[0-9a-f]+-[0-9a-f]+$", fields[0]):
                current = {"perms": fields[1], "path": fields[5] if len(fields) > 5 else ""}
                rows.append(current)
            elif fields[0].endswith(":") and len(fields) >= 2 and fields[1].isdigit():
                current[fields[0][:-1]] = int(fields[1])
    return rows


def mapping_name(row, manager, previous):
    path = row["path"]
    kind = {"r-xp": "code", "r--p": "read-only", "rw-p": "data"}.get(row["perms"], row["perms"])
    if path == manager:
        return "program %s" % kind
    if path.startswith("/"):
        return "%s %s" % (os.path.basename(path).split(".so")[0], kind)
    if path:
        return path
    # An anonymous mapping right after the program's is its zero-filled data.
    if previous is not None and previous["path"] == manager:
        return "program .bss"
    return "other anonymous"


# -- relaunch: system calls ----------------------------------------------------


def traced_relaunches(driver, build, relaunches, tracer):
    """Runs the manager under `tracer` (the command before the program)
    while an application that lives 300 ms is relaunched `relaunches` times."""
    apps = bench.Apps(driver, driver.temp_dir("costs-relaunch"))
    log = apps.add("flash", "--run-ms 300")
    apps.write_ini()
    pane = driver.start(apps.directory, command=tracer + [build.manager])
    pane.wait_ready()
    driver.wait_until(lambda: len(log.starts()) > relaunches, "%d relaunches" % relaunches,
                      timeout=relaunches * 2 + 30)
    pane.enter_line("quit")
    pane.wait_dead()
    bench.end_started(driver, apps)


def relaunch_strace(driver, build, relaunches, keep):
    out = os.path.join(keep, "relaunch-%s" % build.label)
    for old in glob.glob(out + ".*"):
        os.remove(old)
    traced_relaunches(driver, build, relaunches, ["strace", "-ff", "-ttt", "-T", "-o", out])
    manager_file, children = None, []
    for path in sorted(glob.glob(out + ".*")):
        with open(path, errors="replace") as f:
            first = f.readline()
        if 'execve("%s"' % build.manager in first:
            manager_file = path
        else:
            children.append(path)
    calls = read_strace(manager_file)
    spawns = [i for i, c in enumerate(calls) if c[1] in ("clone", "clone3", "vfork")]
    # Cycles between spawns, the first (start-up) left out.
    cycles = list(zip(spawns[1:], spawns[2:]))
    per_cycle = collections.Counter()
    for begin, end in cycles:
        for c in calls[begin + 1:end + 1]:
            per_cycle[c[2]] += 1
    child_calls = collections.Counter()
    counted = 0
    for path in children:
        seen = []
        for c in read_strace(path):
            if c[1] == "execve":
                break
            seen.append(c[1])
        if seen:
            counted += 1
            for name in seen:
                child_calls[name if name != "rt_sigaction" else "rt_sigaction (each signal)"] += 1
    n = max(1, len(cycles))
    return ({k: v / n for k, v in per_cycle.items()},
            {k: v / max(1, counted) for k, v in child_calls.items()}, len(cycles))


def relaunch_timing(driver, build, relaunches, keep):
    """The manager's own part of each relaunch, from a perf trace: from the
    end of the wait that saw the exit to the spawn, the spawn itself (until
    the child's exec), and from the spawn to the loop's pause; medians, ms."""
    out = os.path.join(keep, "relaunch-perf-%s" % build.label)
    traced_relaunches(driver, build, relaunches, ["perf", "trace", "-T", "-o", out, "--"])
    calls = read_perf_trace(out)
    before, spawn, after = [], [], []
    for i, c in enumerate(calls):
        if c[2] not in ("clone3", "clone", "vfork") or c[4].strip() == "0":
            continue
        # The wait that saw the exit: the last poll before it without a limit.
        woke = next((p for p in reversed(calls[:i]) if p[2] in ("poll", "ppoll")
                     and "timeout_msecs" not in p[3]), None)
        pause = next((p for p in calls[i + 1:] if p[2] in ("poll", "ppoll")), None)
        if woke is None or pause is None:
            continue
        before.append(c[0] - (woke[0] + woke[1]))
        spawn.append(c[1])
        after.append(pause[0] - (c[0] + c[1]))
    # The first spawn is the start's.
    return {"exit seen to spawn": statistics.median(before[1:]),
            "spawn (until the child's exec)": statistics.median(spawn[1:]),
            "spawn to the loop's pause": statistics.median(after[1:]),
            "relaunches": len(spawn) - 1}


def show_relaunch_timing(results):
    labels = [b.label for b, _ in results]
    names = [n for n in results[0][1] if n != "relaunches"]
    rows = [(n, [r[n] for _, r in results]) for n in names]
    print_table("The manager's part of a relaunch, ms, median of %s relaunches (perf trace)"
                % ", ".join("%d" % r["relaunches"] for _, r in results), labels, rows, "%10.3f")


def show_relaunch(results):
    labels = [b.label for b, _ in results]
    keys = set()
    for _, (cycle, _, _) in results:
        keys |= set(cycle)
    rows = []
    for key in sorted(keys, key=lambda k: (-max(r[1][0].get(k, 0) for r in results), k)):
        rows.append((key, [r[1][0].get(key, 0) for r in results]))
    print_table("System calls of the manager per relaunch cycle (spawn to spawn), mean of %s"
                % ", ".join("%d" % r[1][2] for r in results), labels, rows, "%10.2f")
    total = [sum(r[1][0].values()) for r in results]
    print("  %s" % "  ".join("%s: %.1f calls" % (l, t) for l, t in zip(labels, total)))
    changed = [(k, v) for k, v in rows if max(v) - min(v) >= 0.5]
    if changed:
        print("  changed between builds: " + "; ".join(
            "%s %s" % (k, " -> ".join("%.1f" % x for x in v)) for k, v in changed))
    keys = set()
    for _, (_, child, _) in results:
        keys |= set(child)
    rows = [(k, [r[1][1].get(k, 0) for r in results]) for k in sorted(keys)]
    print_table("System calls of the spawned child before its exec (posix_spawn), mean",
                labels, rows, "%10.1f")


# -- relaunch: instructions -----------------------------------------------------


def load_symbols(path):
    """(sorted addresses, names) of the functions of an ELF file."""
    names = []
    for dynamic in (False, True):
        out = subprocess.run(["nm", "-C", "-n", "--defined-only"] + (["-D"] if dynamic else [])
                             + [path], capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in "tTwWi":
                names.append((int(parts[0], 16), parts[2]))
        if names:
            break
    names.sort()
    return [a for a, _ in names], [n for _, n in names]


def symbolize(prefix):
    """Instructions by function from stepcount's OUT.hist and OUT.maps.
    Functions of the C library that it does not export are counted under
    the exported symbol before them (marked ~)."""
    import bisect
    maps = []
    with open(prefix + ".maps") as f:
        for line in f:
            fields = line.split()
            low, high = (int(x, 16) for x in fields[0].split("-"))
            maps.append((low, high, int(fields[2], 16), fields[5] if len(fields) > 5 else ""))
    tables = {}
    counts = collections.Counter()
    with open(prefix + ".hist") as f:
        for line in f:
            address, count = line.split()
            address, count = int(address, 16), int(count)
            mapping = next((m for m in maps if m[0] <= address < m[1]), None)
            if mapping is None or not mapping[3].startswith("/"):
                counts[mapping[3] if mapping else "?"] += count
                continue
            path = mapping[3]
            if path not in tables:
                tables[path] = load_symbols(path)
            addresses, names = tables[path]
            index = bisect.bisect_right(addresses, address - mapping[0] + mapping[2]) - 1
            name = names[index] if index >= 0 else "?"
            library = os.path.basename(path)
            if library.startswith("libc.so"):
                name = "libc ~" + name.split("@")[0]
            elif library.startswith("ld-linux"):
                name = "ld.so ~" + name.split("@")[0]
            counts[name] += count
    return counts


def relaunch_steps(driver, build, stepcount, windows, keep):
    apps = bench.Apps(driver, driver.temp_dir("costs-steps"))
    log = apps.add("flash", "--run-ms 300")
    apps.write_ini()
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(lambda: len(log.starts()) >= 2, "a relaunch", timeout=60)
    prefix = os.path.join(keep, "steps-%s" % build.label)
    result = subprocess.run([stepcount, str(pid), str(windows), prefix], capture_output=True,
                            text=True, timeout=windows * 120 + 60)
    pane.enter_line("quit")
    pane.wait_dead()
    bench.end_started(driver, apps)
    if result.returncode != 0:
        raise RuntimeError("stepcount failed: %s" % result.stderr)
    counts = symbolize(prefix)
    return {k: v / windows for k, v in counts.items()}


def short(name, width=70):
    name = re.sub(r"std::__cxx11::basic_string<char, std::char_traits<char>, "
                  r"std::allocator<char> >", "std::string", name)
    name = re.sub(r"\(.*\)", "()", name)
    return name[:width]


def show_steps(results):
    labels = [b.label for b, _ in results]
    totals = [sum(c.values()) for _, c in results]
    print("\nUser-space instructions per relaunch cycle (single-stepped): " +
          ", ".join("%s %.0f" % (l, t) for l, t in zip(labels, totals)))
    names = set()
    for _, counts in results:
        names |= set(counts)
    merged = collections.defaultdict(lambda: [0.0] * len(results))
    for name in names:
        for i, (_, counts) in enumerate(results):
            merged[short(name)][i] += counts.get(name, 0)
    largest = sorted(merged.items(), key=lambda kv: -max(kv[1]))[:12]
    print_table("The largest functions (instructions per relaunch)", labels, largest, "%10.0f")
    moved = sorted(merged.items(), key=lambda kv: -abs(kv[1][-1] - kv[1][0]))[:25]
    print_table("Functions whose count moved most from %s to %s" % (labels[0], labels[-1]),
                labels, moved, "%10.0f")


# -- the start record's write -----------------------------------------------------


def record_writes(directory, count):
    """Times the start record's way of writing (create a new file, write one
    line, close, rename over the old one) in `directory`: ms per write,
    sorted."""
    times = []
    new = os.path.join(directory, "record.new")
    final = os.path.join(directory, "record")
    line = b"13490\t62915\t-\tflash\n"
    for _ in range(count):
        t0 = time.perf_counter()
        fd = os.open(new, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_NOFOLLOW | os.O_CLOEXEC,
                     0o600)
        os.write(fd, line)
        os.close(fd)
        os.rename(new, final)
        times.append((time.perf_counter() - t0) * 1000.0)
        time.sleep(0.02)  # a relaunch or so apart
    return sorted(times)


def show_record(count):
    print("\nThe start record's write (create, write, close, rename), %d times, 20 ms apart:"
          % count)
    for where in (tempfile.gettempdir(), "/dev/shm"):
        directory = tempfile.mkdtemp(prefix="zelk-costs-record-", dir=where)
        try:
            fs = subprocess.run(["stat", "-f", "-c", "%T", directory], capture_output=True,
                                text=True).stdout.strip()
            times = record_writes(directory, count)
        finally:
            shutil.rmtree(directory, ignore_errors=True)
        print("  in %-10s (%-5s): median %.3f ms, 90th percentile %.3f ms, largest %.3f ms"
              % (where, fs, times[len(times) // 2], times[len(times) * 9 // 10], times[-1]))
    sys.stdout.flush()


# -- memory ------------------------------------------------------------------------


def idle_with_fifteen(driver, build, command=None):
    apps = bench.fifteen_apps(driver, "costs-memory")
    apps.write_ini()
    pane = driver.start(apps.directory, command=command)
    pane.wait_ready(timeout=60)
    pid = pane.program_pid(build.manager)
    driver.wait_until(apps.all_started, "15 applications to start", timeout=60)
    time.sleep(1.5)
    return apps, pane, pid


def memory(driver, build):
    apps, pane, pid = idle_with_fifteen(driver, build)
    rows = smaps(pid)
    rss = bench.rss_kib(pid)
    pane.enter_line("quit")
    pane.wait_dead()
    bench.end_started(driver, apps)
    by_mapping = collections.OrderedDict()
    previous = None
    for row in rows:
        name = mapping_name(row, build.manager, previous)
        previous = row
        entry = by_mapping.setdefault(name, collections.Counter())
        for field in ("Rss", "Private_Dirty", "Private_Clean", "Shared_Clean", "Anonymous"):
            entry[field] += row.get(field, 0)
    return rss, by_mapping


def median_memory(rounds):
    rss = statistics.median(r[0] for r in rounds)
    by_mapping = collections.OrderedDict()
    for _, mappings in rounds:
        for name in mappings:
            by_mapping.setdefault(name, collections.Counter())
    for name, entry in by_mapping.items():
        for field in ("Rss", "Private_Dirty", "Private_Clean", "Shared_Clean", "Anonymous"):
            entry[field] = statistics.median(m.get(name, {}).get(field, 0) for _, m in rounds)
    return rss, by_mapping


def section_sizes(build):
    out = subprocess.run(["size", build.manager], capture_output=True, text=True).stdout
    text, data, bss = (int(x) for x in out.splitlines()[1].split()[:3])
    objects = subprocess.run(["nm", "-S", "-C", "--size-sort", build.manager],
                             capture_output=True, text=True).stdout.splitlines()
    largest = []
    for line in reversed(objects):
        parts = line.split(" ", 3)
        if len(parts) == 4 and parts[2] in "bBdD":
            largest.append((parts[3], int(parts[1], 16)))
        if len(largest) == 5:
            break
    return text, data, bss, largest


def show_memory(results):
    labels = [b.label for b, _ in results]
    print("\nResident set (VmRSS) of the idle manager with 15 applications, KiB, median: " +
          ", ".join("%s %d" % (b.label, r[0]) for b, r in results))
    names = []
    for _, (_, by_mapping) in results:
        for name in by_mapping:
            if name not in names:
                names.append(name)
    rows = [(n, [r[1].get(n, {}).get("Rss", 0) for _, r in results]) for n in names]
    rows = [r for r in rows if max(r[1]) > 0]
    print_table("Resident KiB by mapping", labels, rows, "%10d")
    for field, title in (("Private_Clean", "clean file pages (shared with the file)"),
                         ("Anonymous", "the process's own (anonymous) pages")):
        print("  %s: %s" % (title, ", ".join(
            "%s %d KiB" % (b.label, sum(m.get(field, 0) for m in r[1].values()))
            for b, r in results)))
    for b, _ in results:
        text, data, bss, largest = section_sizes(b)
        print("  %s: text %d, data %d, bss %d bytes; largest objects: %s" % (
            b.label, text, data, bss, ", ".join("%s %d" % (short(n, 40), s) for n, s in largest)))


def heap(driver, build, keep):
    out = os.path.join(keep, "heap-%s" % build.label)
    for old in glob.glob(out + "*"):
        os.remove(old)
    apps, pane, pid = idle_with_fifteen(driver, build, ["heaptrack", "-o", out, build.manager])
    # Killed while idle: what is still allocated shows as "leaked".
    os.kill(pid, signal.SIGKILL)
    pane.wait_dead()
    bench.end_started(driver, apps)
    data = glob.glob(out + "*")[0]
    report = subprocess.run(["heaptrack_print", "-f", data, "--print-leaks", "1",
                             "--print-peaks", "0", "--print-allocators", "0",
                             "--print-temporary", "0"],
                            capture_output=True, text=True).stdout
    return parse_leaks(report)


def parse_leaks(report):
    """(bytes, calls, site) of the allocations still alive, merged by the first
    frame of the program's own code below the allocator."""
    sites = collections.Counter()
    calls = collections.Counter()
    lines = report.splitlines()
    i = 0
    unit = {"B": 1, "K": 1000, "M": 1000000}
    while i < len(lines):
        m = re.match(r"^([\d.]+)([BKM]) leaked over (\d+) calls from$", lines[i])
        if not m:
            i += 1
            continue
        size = float(m.group(1)) * unit[m.group(2)]
        count = int(m.group(3))
        frames = []
        i += 1
        while i < len(lines) and lines[i].strip() and not re.match(r"^[\d.]+[BKM] leaked", lines[i]):
            frames.append(lines[i].strip())
            i += 1
        # Only the stack listed first under a site (the "from:" stacks repeat it).
        names = [f for f in frames if not f.startswith(("at ", "in "))]
        owner = next((f for f in names if not f.startswith(("std::", "__gnu_cxx", "operator new",
                                                            "allocate", "void std::"))), None)
        where = next((f for f in frames if f.startswith("at /")
                      and "/usr/include" not in f), "")
        if "libstdc++.so" in " ".join(frames[:3]):
            key = "heaptrack's own C++ runtime"
        else:
            key = "%s %s" % (short(owner or (names[0] if names else "?"), 60),
                             where[3:].split("/")[-1] if where else "")
        if key not in sites:
            sites[key] = size
            calls[key] = count
    return [(k, sites[k], calls[k]) for k in sites]


def show_heap(results):
    for build, sites in results:
        own = [s for s in sites if "heaptrack" not in s[0]]
        print("\nHeap still allocated while idle, %s: %.1f KiB in all (heaptrack's own removed)"
              % (build.label, sum(s[1] for s in own) / 1024.0))
        for key, size, count in sorted(own, key=lambda s: -s[1])[:10]:
            print("  %8.2f KiB  %4d calls  %s" % (size / 1024.0, count, key))
    sys.stdout.flush()


# -- start-up ----------------------------------------------------------------------


# "TIME (DURATION ms): [COMM/PID ][... [continued]: ]NAME(ARGS) = RESULT"; a
# call that blocked is shown begun ("...") and then continued, with its start
# time and duration on the second line.
PERF_LINE = re.compile(r"^\s*(\d+\.\d+) \(\s*([\d.]+) ms\): (?:\S+/\d+\s+)?"
                       r"(?:\.\.\. \[continued\]: )?(\w+)\((.*?)\)\)?\s+= (.*)$")


def read_perf_trace(path):
    """(start ms, duration ms, name, arguments, result) of each call."""
    calls = []
    with open(path, errors="replace") as f:
        for line in f:
            m = PERF_LINE.match(line.rstrip())
            if m:
                calls.append((float(m.group(1)), float(m.group(2)), m.group(3), m.group(4),
                              m.group(5)))
    return calls


def startup(driver, build, keep, traced_by):
    apps = bench.fifteen_apps(driver, "costs-startup")
    apps.write_ini()
    out = os.path.join(keep, "startup-%s-%s" % (traced_by, build.label))
    if traced_by == "perf":
        command = ["perf", "trace", "-T", "-o", out, "--", build.manager]
    else:
        command = ["strace", "-ttt", "-T", "-o", out, build.manager]
    pane = driver.start(apps.directory, command=command)
    driver.wait_until(apps.all_started, "15 applications to start", timeout=120)
    pane.wait_ready(timeout=60)
    with open("/proc/%d/stat" % pane.program_pid(build.manager)) as f:
        faults = int(f.read().rsplit(")", 1)[1].split()[7])  # minflt
    pane.enter_line("quit")
    pane.wait_dead()
    bench.end_started(driver, apps)
    if traced_by == "strace":
        counts = collections.Counter(c[2] for c in read_strace(out))
        return counts
    calls = read_perf_trace(out)
    start = calls[0][0]
    readlinks = [c for c in calls if c[2] == "readlinkat"]
    spawns = [c for c in calls if c[2] in ("clone3", "clone", "vfork")]
    # The walk reads each process's executable link: the long run of readlinkat.
    phases = collections.OrderedDict()
    phases["exec to the first read of the list"] = readlinks[0][0] - start if readlinks else None
    phases["the walk (readlinkat of each process)"] = (readlinks[-1][0] - readlinks[0][0]
                                                        if readlinks else None)
    phases["walk to the first spawn"] = (spawns[0][0] - readlinks[-1][0]
                                         if spawns and readlinks else None)
    phases["first to 15th spawn"] = spawns[-1][0] - spawns[0][0] if spawns else None
    phases["exec to the 15th spawn"] = spawns[-1][0] - start if spawns else None
    per_spawn = collections.Counter()
    for c in calls:
        if spawns and spawns[0][0] <= c[0] <= spawns[-1][0]:
            per_spawn[c[2]] += c[1]
    phases["system-call time between the spawns"] = sum(per_spawn.values())
    phases["  of which rename"] = per_spawn.get("rename", 0.0)
    phases["  of which openat"] = per_spawn.get("openat", 0.0)
    phases["  of which clone3 (until the child's exec)"] = per_spawn.get("clone3", 0.0)
    phases["minor page faults of the manager (count)"] = faults
    return phases


def show_startup(perf_results, strace_results, crowd):
    labels = [b.label for b, _ in perf_results]
    names = list(perf_results[0][1][0].keys())
    rows = [(n, [statistics.median(run[n] for run in runs if run[n] is not None)
                 for _, runs in perf_results]) for n in names]
    print_table("Start-up among %d other processes, ms (perf trace; median of %d runs)"
                % (crowd, len(perf_results[0][1])), labels, rows, "%10.1f")
    keys = set()
    for _, counts in strace_results:
        keys |= set(counts)
    rows = [(k, [c.get(k, 0) for _, c in strace_results]) for k in keys]
    rows = sorted(rows, key=lambda r: -max(r[1]))[:22]
    print_table("System calls of start-up (strace)", labels, rows, "%10d")


# -- stop ---------------------------------------------------------------------------


def stop_run(driver, build, floor, tree_args, expected, general, tracer, keep, tag):
    """One `--send "stop 0"` of a tree; returns (client answer ms, last member
    ms), both from the client's start, and the trace file when traced."""
    apps = bench.Apps(driver, driver.temp_dir("costs-stop"))
    log = apps.add("tree", "--tree %s" % tree_args)
    apps.write_ini(general)
    pane = driver.start_manager(apps.directory)
    pid = pane.program_pid()
    driver.wait_until(lambda: len(log.starts()) >= expected, "%d processes" % expected,
                      timeout=120)
    pids = log.start_pids()[:expected]
    out = None
    tracer_process = None
    if tracer is not None:
        out = os.path.join(keep, "stop-%s-%s-%s" % (tag, tracer, build.label))
        argv = (["perf", "trace", "-T", "-o", out, "-p", str(pid)] if tracer == "perf"
                else ["strace", "-ttt", "-T", "-o", out, "-p", str(pid)])
        tracer_process = subprocess.Popen(argv, stderr=subprocess.DEVNULL)
        time.sleep(1.5)
    time.sleep(0.3)
    watcher = bench.watch(floor, pids)
    t0 = time.monotonic()
    result = subprocess.run([build.manager, "--send", "stop 0"], env=driver.environment(),
                            capture_output=True, text=True, timeout=60)
    answer = (time.monotonic() - t0) * 1000.0
    last = bench.ended_at(watcher) - t0 * 1000.0
    if tracer_process is not None:
        time.sleep(0.5)
        tracer_process.send_signal(signal.SIGINT)
        tracer_process.wait()
    pane.enter_line("quit")
    pane.wait_dead()
    bench.end_started(driver, apps)
    if "tree stopped" not in result.stdout and "Terminating" not in result.stdout:
        print("  (the answer was %r)" % result.stdout.strip())
    return answer, last, out


def stop_phases(path, expected):
    """The phases of a stop in a perf trace of the manager: from the request's
    accept to the answer's send, each a run of one kind of call."""
    calls = read_perf_trace(path)
    accepted = next((i for i, c in enumerate(calls) if c[2] == "accept4" and not
                     c[4].startswith("-1")), None)
    if accepted is None:
        return []
    origin = calls[accepted][0]
    phases = []

    def add(what, begin, end, count=1):
        phases.append((what, begin - origin, end - origin, count))

    kinds = []
    for c in calls[accepted:]:
        name = c[2]
        if name in ("read", "close", "getdents64", "newfstatat", "fstat") and kinds:
            kind = kinds[-1][0]  # part of what the call before began
        elif name == "openat":
            kind = "reading files (openat, read, close; /proc/PID/stat)"
        elif name in ("pidfd_open", "pidfd_send_signal", "waitid"):
            kind = "per process: pidfd_open, pidfd_send_signal, waitid, close"
        elif name == "kill":
            kind = "kill(%s)" % c[3][:40]
        elif name in ("poll", "ppoll"):
            kind = "poll(%s) = %s" % (c[3].split("timeout_msecs: ")[-1] if "timeout_msecs" in c[3]
                                      else "", c[4][:20])
        elif name in ("sendto", "write") and "fd: 4" not in c[3]:
            kind = "%s (answer)" % name
        else:
            kind = name
        kinds.append((kind, c))
    run = None
    for kind, c in kinds:
        if run is not None and run[0] == kind and not kind.startswith("poll"):
            run[2] = c[0] + c[1]
            run[3] += 1
        else:
            if run is not None:
                add(*run)
            run = [kind, c[0], c[0] + c[1], 1]
        if kind.startswith("shutdown"):
            break
    if run is not None:
        add(*run)
    return phases


def show_stop(title, results):
    print("\n" + title)
    for build, (untraced, phases) in results:
        answers = [a for a, _ in untraced]
        lasts = [b for _, b in untraced]
        print("  %s: untraced, median of %d: the answer after %.1f ms, the last member ended "
              "after %.1f ms (runs: %s)" % (
                  build.label, len(untraced), statistics.median(answers),
                  statistics.median(lasts),
                  ", ".join("%.0f/%.0f" % (a, b) for a, b in untraced)))
        print("    traced (perf trace), ms from the request's accept:")
        merged = []
        for what, begin, end, count in phases:
            # Calls between the phases worth a line are folded into a line of their own.
            if merged and end - begin < 0.05 and merged[-1][0] == "(other calls)":
                merged[-1][2] = end
                merged[-1][3] += count
            elif end - begin < 0.05 and not what.startswith(("kill", "sendto", "poll", "accept")):
                merged.append(["(other calls)", begin, end, count])
            else:
                merged.append([what, begin, end, count])
        for what, begin, end, count in merged:
            print("    %8.1f - %8.1f  %-60s x%d" % (begin, end, what[:60], count))
    sys.stdout.flush()


# -- main -----------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--builds", default=os.path.join(ROOT, "build", "native"),
                        help="[LABEL=]DIR of each native build, separated by commas")
    parser.add_argument("--only", default="relaunch,record,steps,memory,heap,startup,stop")
    parser.add_argument("--relaunches", type=int, default=12)
    parser.add_argument("--windows", type=int, default=5,
                        help="relaunch cycles single-stepped per build")
    parser.add_argument("--crowd", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=3,
                        help="untraced stops, and memory readings, per build")
    parser.add_argument("--keep", help="directory for the traces (default: a temporary one)")
    args = parser.parse_args()
    only = set(args.only.split(","))
    builds = [Build(labelled) for labelled in args.builds.split(",")]
    keep = args.keep or tempfile.mkdtemp(prefix="zelk-costs-")
    os.makedirs(keep, exist_ok=True)
    print("builds: %s; traces in %s; load average %s" % (
        ", ".join("%s=%s" % (b.label, b.directory) for b in builds), keep,
        open("/proc/loadavg").read().split()[0]))
    floor = bench.Floor(bench.build_floor(builds[0].directory))

    with Driver("native", builds[0].directory, timeout=60) as driver:
        if "relaunch" in only:
            results = []
            for b in builds:
                use(driver, b)
                results.append((b, relaunch_strace(driver, b, args.relaunches, keep)))
            show_relaunch(results)
            results = []
            for b in builds:
                use(driver, b)
                results.append((b, relaunch_timing(driver, b, args.relaunches * 2, keep)))
            show_relaunch_timing(results)
        if "record" in only:
            show_record(200)
        if "steps" in only:
            stepcount = bench.build_tool(builds[0].directory, "stepcount")
            results = []
            for b in builds:
                use(driver, b)
                results.append((b, relaunch_steps(driver, b, stepcount, args.windows, keep)))
            show_steps(results)
        if "memory" in only:
            # The C library's pages in the resident set depend on what other
            # programs have in the page cache: the median of a few rounds.
            rounds = {b.label: [] for b in builds}
            for _ in range(args.rounds):
                for b in builds:
                    use(driver, b)
                    rounds[b.label].append(memory(driver, b))
            show_memory([(b, median_memory(rounds[b.label])) for b in builds])
        if "heap" in only:
            results = []
            for b in builds:
                use(driver, b)
                results.append((b, heap(driver, b, keep)))
            show_heap(results)
        if "startup" in only:
            crowd = floor.start("crowd", args.crowd, stdin=subprocess.PIPE)
            try:
                if crowd.stdout.readline().strip() != "ready":
                    raise RuntimeError("the crowd did not start")
                perf_results, strace_results = [], []
                runs = {b.label: [] for b in builds}
                for _ in range(args.rounds):
                    for b in builds:
                        use(driver, b)
                        runs[b.label].append(startup(driver, b, keep, "perf"))
                for b in builds:
                    use(driver, b)
                    perf_results.append((b, runs[b.label]))
                    strace_results.append((b, startup(driver, b, keep, "strace")))
                show_startup(perf_results, strace_results, args.crowd)
            finally:
                crowd.stdin.close()
                crowd.wait()
        if "stop" in only:
            for tag, title, tree_args, expected, general in (
                    ("tree", "Stop of a 121-process tree with --send", "4 3", 121, ""),
                    ("polite", "Polite stop (StopTimeout = 5) of a 13-process tree that ends "
                     "on SIGTERM, with --send", "2 3", 13, "StopTimeout = 5")):
                results = []
                for b in builds:
                    use(driver, b)
                    untraced = [stop_run(driver, b, floor, tree_args, expected, general, None,
                                         keep, tag)[:2] for _ in range(args.rounds)]
                    _, _, trace = stop_run(driver, b, floor, tree_args, expected, general, "perf",
                                           keep, tag)
                    results.append((b, (untraced, stop_phases(trace, expected))))
                show_stop(title, results)
    if not args.keep:
        shutil.rmtree(keep, ignore_errors=True)


if __name__ == "__main__":
    main()
