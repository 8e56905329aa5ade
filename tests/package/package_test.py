#!/usr/bin/env python3
"""Checks of what is installed and packaged, each in a temporary directory:

  package_test.py install BUILD CMAKE VERSION   cmake --install, the installed
                                                program's --version and --help,
                                                the manual page rendered by groff
  package_test.py deb BUILD CPACK VERSION       the .deb: its name and fields,
                                                the program unpacked from it
  package_test.py zip BUILD CPACK VERSION       the Windows .zip and what it holds
  package_test.py version SOURCE CMAKE VERSION  cmake/version.cmake at a release
                                                tag, between releases, outside git

VERSION is the project's; the program may add "+<commits>.g<commit>" to it.
"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import zipfile


def run(*command, cwd=None):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        sys.exit("failed (%d): %s\n%s%s" % (result.returncode, " ".join(command),
                                             result.stdout, result.stderr))
    return result


def expect(condition, what):
    if not condition:
        sys.exit("FAILED: " + what)


def check_version_line(program, version):
    line = run(program, "--version").stdout
    expect(re.fullmatch(r"zelkappmgr %s(\+[0-9]+\.g[0-9a-f]{7,})?\n" % re.escape(version), line),
           "--version printed %r" % line)
    return line[len("zelkappmgr "):-1]


def install(build, cmake, version, temp):
    run(cmake, "--install", build, "--prefix", temp)
    program = os.path.join(temp, "bin", "zelkappmgr")
    check_version_line(program, version)
    usage = run(program, "--help").stdout
    expect(usage.startswith(run(program, "-V").stdout + "Usage: zelkappmgr"),
           "--help does not begin with the version: %r" % usage[:80])
    for option in ("--help", "--version"):
        with open("/dev/full", "w") as full:
            code = subprocess.run((program, option), stdout=full, stderr=subprocess.DEVNULL).returncode
        expect(code == 1, "%s to a full disk exited with %d" % (option, code))
    for name in ("README.md", "zelkappmgr.ini", "zelkappmgr.service", "Dockerfile"):
        expect(os.path.isfile(os.path.join(temp, "share", "doc", "zelkappmgr", name)),
               "no share/doc/zelkappmgr/" + name)
    page = os.path.join(temp, "share", "man", "man1", "zelkappmgr.1")
    rendered = run("groff", "-man", "-ww", "-z", page)
    expect(rendered.stderr == "", "groff warns:\n" + rendered.stderr)


def package(build, cpack, generator, temp):
    run(cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-G", generator, "-B", temp)
    made = glob.glob(os.path.join(temp, "*." + generator.lower()))
    expect(len(made) == 1, "cpack made %s" % made)
    return made[0]


def deb(build, cpack, version, temp):
    path = package(build, cpack, "DEB", temp)
    root = os.path.join(temp, "root")
    run("dpkg-deb", "-x", path, root)
    built = check_version_line(os.path.join(root, "usr", "bin", "zelkappmgr"), version)
    expect(os.path.basename(path) == "zelkappmgr_%s_amd64.deb" % built, "named " + path)
    fields = run("dpkg-deb", "-f", path, "Version", "Depends", "Description").stdout
    expect(("Version: %s\n" % built) in fields and "Depends: libc6" in fields
           and "keeps a fixed set of programs running" in fields, "fields:\n" + fields)
    expect(os.path.isfile(os.path.join(root, "usr", "share", "man", "man1", "zelkappmgr.1")),
           "no manual page in the package")


def zip_(build, cpack, version, temp):
    path = package(build, cpack, "ZIP", temp)
    name = os.path.basename(path)
    expect(re.fullmatch(r"zelkappmgr-%s(\+[0-9]+\.g[0-9a-f]{7,})?-windows-x86_64\.zip" % re.escape(version),
                        name), "named " + name)
    top = name[:-len(".zip")] + "/"
    with zipfile.ZipFile(path) as archive:
        names = sorted(n for n in archive.namelist() if not n.endswith("/"))
        expect(names == [top + n for n in ("README.md", "zelkappmgr.exe", "zelkappmgr.ini")],
               "the zip holds %s" % names)
        expect(archive.read(top + "zelkappmgr.exe")[:2] == b"MZ", "not a Windows program")


def version(source, cmake, base, temp):
    script = os.path.join(source, "cmake", "version.cmake")
    header = os.path.join(temp, "zelk_version.h")

    def computed(tree):
        run(cmake, "-DSOURCE_DIR=" + tree, "-DBASE_VERSION=" + base, "-DHEADER=" + header,
            "-P", script)
        with open(header) as f:
            return re.search(r'#define ZELK_VERSION "(.*)"', f.read()).group(1)

    tree = os.path.join(temp, "tree")
    os.mkdir(tree)
    expect(computed(tree) == base, "outside git: " + computed(tree))
    git = ("git", "-C", tree, "-c", "user.name=t", "-c", "user.email=t@t")
    run(*git, "init", "-q")

    def snapshot(commits):
        return "%s+%d.g%s" % (base, commits, run(*git, "rev-parse", "--short", "HEAD").stdout.strip())

    run(*git, "commit", "-q", "--allow-empty", "-m", "one")
    run(*git, "commit", "-q", "--allow-empty", "-m", "two")
    expect(computed(tree) == snapshot(2), "before the tag: " + computed(tree))
    run(*git, "tag", "-a", "v" + base, "-m", "release")
    expect(computed(tree) == base, "at the tag: " + computed(tree))
    run(*git, "commit", "-q", "--allow-empty", "-m", "three")
    expect(computed(tree) == snapshot(1), "after the tag: " + computed(tree))
    inner = os.path.join(tree, "unpacked")
    os.mkdir(inner)
    expect(computed(inner) == base, "inside another repository: " + computed(inner))


def main():
    mode, where, tool, base = sys.argv[1:5]
    checks = {"install": install, "deb": deb, "zip": zip_, "version": version}
    with tempfile.TemporaryDirectory(prefix="zelk-%s-" % mode) as temp:
        checks[mode](where, tool, base, temp)
    print("%s: ok" % mode)


if __name__ == "__main__":
    main()
