#!/usr/bin/env python3
"""Checks of what is installed and packaged, each in a temporary directory:

  package_test.py install BUILD CMAKE VERSION   cmake --install, the installed
                                                program's --version and --help,
                                                the manual page rendered by groff
  package_test.py deb BUILD CPACK VERSION       the .deb: its name, fields and
                                                files as Debian wants them, the
                                                program unpacked from it, lintian
                                                where installed; the .tar.gz
  package_test.py dpkg BUILD CPACK VERSION      the .deb installed with dpkg -i,
                                                its manual page found by man, and
                                                purged (as root; else skipped)
  package_test.py zip BUILD CPACK VERSION       the Windows .zip and what it holds
  package_test.py version SOURCE CMAKE VERSION  cmake/version.cmake at a release
                                                tag, between releases, outside git

VERSION is the project's; the program may add "+<commits>.g<commit>" to it.
"""

import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

SKIPPED = 77  # the tests' SKIP_RETURN_CODE


def run(*command, cwd=None, stdin=None):
    result = subprocess.run(command, cwd=cwd, input=stdin, capture_output=True, text=True,
                            timeout=300)
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
    for name in ("README.md", "LICENSE", "changelog.gz", "zelkappmgr.ini", "Dockerfile"):
        expect(os.path.isfile(os.path.join(temp, "share", "doc", "zelkappmgr", name)),
               "no share/doc/zelkappmgr/" + name)
    expect(not os.path.exists(os.path.join(temp, "lib")), "the .deb's units under a prefix")
    with gzip.open(os.path.join(temp, "share", "man", "man1", "zelkappmgr.1.gz"), "rt") as page:
        rendered = run("groff", "-man", "-ww", "-z", stdin=page.read())
    expect(rendered.stderr == "", "groff warns:\n" + rendered.stderr)


def package(build, cpack, generator, extension, temp):
    run(cpack, "--config", os.path.join(build, "CPackConfig.cmake"), "-G", generator, "-B", temp)
    made = glob.glob(os.path.join(temp, "*" + extension))
    expect(len(made) == 1, "cpack made %s" % made)
    return made[0]


def unit_keys(path):
    with open(path) as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if re.match(r"[A-Z]\w*=", line))


def deb(build, cpack, version, temp):
    path = package(build, cpack, "DEB", ".deb", temp)
    root = os.path.join(temp, "root")
    run("dpkg-deb", "-x", path, root)
    built = check_version_line(os.path.join(root, "usr", "bin", "zelkappmgr"), version)
    expect(os.path.basename(path) == "zelkappmgr_%s_amd64.deb" % built, "named " + path)
    fields = run("dpkg-deb", "-f", path, "Version", "Maintainer", "Depends", "Description").stdout
    expect(("Version: %s\n" % built) in fields and "Depends: libc6" in fields
           and re.search(r"^Maintainer: \w[^<\n]* <[^@>\s]+@[^@>\s]+\.[a-z]+>$", fields, re.M)
           and "keeps a fixed set of programs running" in fields, "fields:\n" + fields)

    doc = os.path.join(root, "usr", "share", "doc", "zelkappmgr")
    with open(os.path.join(doc, "copyright")) as f:
        copyright = f.read()
    expect(copyright.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                "copyright-format/1.0/\n")
           and "\nLicense: Expat\n Permission is hereby granted" in copyright,
           "copyright:\n" + copyright)
    expect(os.path.isfile(os.path.join(root, "usr", "share", "man", "man1", "zelkappmgr.1.gz")),
           "no compressed manual page")
    with gzip.open(os.path.join(doc, "changelog.gz"), "rt") as f:
        top = f.readline()
    expect(top.startswith("zelkappmgr (%s) " % built), "the changelog begins " + top)

    for kind, directory in (("system", "/etc/zelkappmgr"), ("user", "%E/zelkappmgr")):
        keys = unit_keys(os.path.join(root, "usr", "lib", "systemd", kind, "zelkappmgr.service"))
        expect(keys.get("ExecStart") == "/usr/bin/zelkappmgr --headless"
               and keys.get("WorkingDirectory") == directory and keys.get("Type") == "notify",
               "the %s unit: %s" % (kind, keys))
    with open(os.path.join(root, "etc", "zelkappmgr", "zelkappmgr.ini")) as f:
        settings = [line for line in f.read().splitlines() if line and line[0] not in ";["]
    expect(not settings, "the configuration sets %s" % settings)

    # lintian also finds what policy asks beyond these: gzip -9n, the conffiles.
    if shutil.which("lintian"):
        # Its "running with root privileges is not recommended" goes to stderr.
        report = subprocess.run(("lintian", "--fail-on", "error,warning", path),
                                capture_output=True, text=True, timeout=600)
        print("lintian:\n" + report.stdout)
        expect(report.returncode == 0 and not re.search(r"^[EW]: ", report.stdout, re.M),
               "lintian (%d) reports errors or warnings" % report.returncode)
    else:
        print("lintian is not installed: not run")

    archive = package(build, cpack, "TGZ", ".tar.gz", os.path.join(temp, "tgz"))
    top = os.path.basename(archive)[:-len(".tar.gz")]
    expect(top == "zelkappmgr-%s-linux-x86_64" % built, "named " + archive)
    with tarfile.open(archive) as tgz:
        names = set(tgz.getnames())
    for name in ("bin/zelkappmgr", "share/doc/zelkappmgr/LICENSE",
                 "share/man/man1/zelkappmgr.1.gz"):
        expect(top + "/" + name in names, "the .tar.gz has no " + name)


# Where the package puts or leaves anything: every path there naming it.
PACKAGE_PLACES = ("/etc", "/usr", "/var/lib")


def package_paths():
    found = set()
    for place in PACKAGE_PLACES:
        for directory, subdirectories, files in os.walk(place):
            found.update(os.path.join(directory, name) for name in subdirectories + files
                         if "zelkappmgr" in name)
    return found


def installed_status():
    return subprocess.run(("dpkg-query", "-W", "-f", "${db:Status-Status}", "zelkappmgr"),
                          capture_output=True, text=True).stdout


def dpkg(build, cpack, version, temp):
    why = None
    if os.geteuid() != 0:
        why = "this is not root"
    elif not (shutil.which("dpkg") and shutil.which("man")):
        why = "dpkg or man is not installed"
    elif installed_status() not in ("", "not-installed"):
        why = "zelkappmgr is installed here, and a test does not replace it"
    if why:
        print("skipped: dpkg -i and dpkg --purge of the .deb need root, dpkg and man; " + why)
        sys.exit(SKIPPED)
    path = package(build, cpack, "DEB", ".deb", temp)
    before = package_paths()
    run("dpkg", "-i", path)
    try:
        expect("/usr/share/man/man1/zelkappmgr.1.gz" in run("man", "-aw", "zelkappmgr").stdout,
               "man does not find the page")
        installed = package_paths() - before
        for name in ("/usr/bin/zelkappmgr", "/etc/zelkappmgr/zelkappmgr.ini",
                     "/usr/lib/systemd/system/zelkappmgr.service"):
            expect(name in installed, "dpkg -i installed no " + name)
        # A log the service wrote beside its configuration goes with it.
        with open("/etc/zelkappmgr/manager.log", "w") as log:
            log.write("a log entry\n")
    finally:
        run("dpkg", "--purge", "zelkappmgr")
    left = package_paths() - before
    expect(not left and installed_status() == "",
           "dpkg --purge left %s (%s)" % (sorted(left), installed_status()))


def zip_(build, cpack, version, temp):
    path = package(build, cpack, "ZIP", ".zip", temp)
    name = os.path.basename(path)
    expect(re.fullmatch(r"zelkappmgr-%s(\+[0-9]+\.g[0-9a-f]{7,})?-windows-x86_64\.zip" % re.escape(version),
                        name), "named " + name)
    top = name[:-len(".zip")] + "/"
    with zipfile.ZipFile(path) as archive:
        names = sorted(n for n in archive.namelist() if not n.endswith("/"))
        expect(names == [top + n for n in ("LICENSE", "README.md", "zelkappmgr.exe",
                                           "zelkappmgr.ini")],
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
    checks = {"install": install, "deb": deb, "dpkg": dpkg, "zip": zip_, "version": version}
    with tempfile.TemporaryDirectory(prefix="zelk-%s-" % mode) as temp:
        checks[mode](where, tool, base, temp)
    print("%s: ok" % mode)


if __name__ == "__main__":
    main()
