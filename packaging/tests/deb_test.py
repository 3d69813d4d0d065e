#!/usr/bin/env python3
"""Builds the Debian packages from the build tree and uses them unpacked.

  deb_test.py BUILD CPACK

runs cpack (as make deb does) into a temporary folder, checks each
package's fields and file list, unpacks all three into one temporary root
with dpkg -x and runs the programs from there: lintrel --version, qelterm
--help and lintrel --check on the shipped examples.  Where systemd-analyze
exists, the units are verified with it; where lintian exists, it must
report no error.  Every step is bounded in time; the
folder is removed afterwards.
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

BUILD, CPACK = sys.argv[1:3]


def run(cmd, timeout, env=None, cwd=None, ok=(0,)):
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, env=env, cwd=cwd)
    if r.returncode not in ok:
        sys.exit("FAILED (%d): %s\n%s%s" % (r.returncode, " ".join(cmd), r.stdout[-4000:], r.stderr[-4000:]))
    return r


def expect(condition, what):
    if not condition:
        sys.exit("FAILED: " + what)


def version():
    with open(os.path.join(BUILD, "CPackConfig.cmake")) as f:
        return re.search(r'set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', f.read()).group(1)


def build(out):
    run([CPACK, "-G", "DEB", "-B", out, "--config", os.path.join(BUILD, "CPackConfig.cmake")], 270, cwd=BUILD)
    debs = {}
    for name in os.listdir(out):
        if name.endswith(".deb"):
            package = run(["dpkg-deb", "-f", os.path.join(out, name), "Package"], 30).stdout.strip()
            debs[package] = os.path.join(out, name)
    expect(sorted(debs) == ["libqelcomm6-6", "libqelcomm6-dev", "lintrel"], "packages built: %s" % sorted(debs))
    return debs


def contents(deb):
    """Path (without the leading ./) to the listing line, for every entry."""
    listing = run(["dpkg-deb", "-c", deb], 30).stdout.splitlines()
    return {line.split()[5][2:].rstrip("/"): line for line in listing if len(line.split()) >= 6}


def check_packages(debs, v):
    files = {package: contents(deb) for package, deb in debs.items()}
    expected = {
        "lintrel": ["usr/bin/lintrel", "usr/bin/qelterm",
                    "usr/lib/systemd/system/lintrel@.service", "usr/lib/systemd/user/lintrel.service",
                    "usr/lib/sysusers.d/lintrel.conf",
                    "usr/share/man/man1/lintrel.1.gz", "usr/share/man/man1/qelterm.1.gz",
                    "usr/share/bash-completion/completions/lintrel",
                    "usr/share/bash-completion/completions/qelterm",
                    "usr/share/applications/lintrel.desktop", "usr/share/applications/qelterm.desktop",
                    "usr/share/icons/hicolor/48x48/apps/lintrel.png",
                    "usr/share/icons/hicolor/scalable/apps/qelterm.svg",
                    "usr/share/mime/packages/lintrel.xml",
                    "usr/share/doc/lintrel/examples/demo.qcf", "usr/share/doc/lintrel/examples/service.qcf"],
        "libqelcomm6-6": ["usr/lib/libqelcomm6.so.6", "usr/lib/libqelcomm6_control.so.6", "usr/lib/libkelvad.so.2",
                          "usr/share/qelcomm6/MODEM.LST"],
        "libqelcomm6-dev": ["usr/include/qelcomm6/qelcomm6.h", "usr/include/qelcomm6/qel_comm.h",
                            "usr/include/kelvad/kelvad_ctrl.h", "usr/lib/libqelcomm6.so",
                            "usr/lib/pkgconfig/qelcomm6.pc", "usr/lib/cmake/QelComm6/QelComm6Config.cmake",
                            "usr/share/doc/libqelcomm6-dev/examples/echo_line.c"],
    }
    for package, paths in expected.items():
        for path in paths + ["usr/share/doc/%s/copyright" % package, "usr/share/doc/%s/changelog.gz" % package]:
            expect(path in files[package], "%s lacks %s" % (package, path))
        for path, line in files[package].items():
            expect(path == "" or path == "usr" or path.startswith("usr/"), "%s puts %s outside /usr" % (package, path))
            expect(" root/root " in line, "%s: %s is not root's: %s" % (package, path, line))
    # No file in two packages; the development links only in -dev.
    seen = {}
    for package, entries in files.items():
        for path, line in entries.items():
            if not line.startswith("d"):
                expect(path not in seen, "%s is in %s and %s" % (path, seen.get(path), package))
                seen[path] = package
    expect(not any(p.endswith(".so") for p in files["libqelcomm6-6"]), "a development link in the library package")
    expect(not any(re.search(r"\.so\.\d", p) for p in files["libqelcomm6-dev"]), "a library in -dev")

    fields = lambda package, *names: run(["dpkg-deb", "-f", debs[package]] + list(names), 30).stdout
    lintrel = fields("lintrel", "Version", "Depends", "Section", "Description")
    expect("Version: " + v in lintrel, lintrel)
    expect("libqelcomm6-6 (= %s)" % v in lintrel and "libqt6core6" in lintrel, "lintrel's Depends:\n" + lintrel)
    expect("Section: comm" in lintrel and "\n  " not in lintrel, lintrel)
    expect("libqelcomm6-6 (= %s)" % v in fields("libqelcomm6-dev", "Depends"), "the -dev package's Depends")
    control = run(["dpkg-deb", "-I", debs["libqelcomm6-6"], "shlibs"], 30).stdout
    expect("libqelcomm6 6 libqelcomm6-6" in control, "shlibs of libqelcomm6-6:\n" + control)
    scripts = run(["dpkg-deb", "-I", debs["lintrel"]], 30).stdout
    expect("postinst" in scripts and "postrm" in scripts, "lintrel's maintainer scripts:\n" + scripts)


def unpacked(debs, root, v):
    for deb in debs.values():
        run(["dpkg", "-x", deb, root], 60)
    env = dict(os.environ)
    for name in ["LD_LIBRARY_PATH", "DISPLAY", "WAYLAND_DISPLAY"]:
        env.pop(name, None)
    env["QT_QPA_PLATFORM"] = "offscreen"
    lintrel = os.path.join(root, "usr/bin/lintrel")
    qelterm = os.path.join(root, "usr/bin/qelterm")
    # The programs take their libraries from the root, found beside themselves.
    resolved = run(["ldd", lintrel], 30, env=env).stdout
    expect("not found" not in resolved, "lintrel misses libraries:\n" + resolved)
    for line in resolved.splitlines():
        if "libqelcomm6" in line or "liblt_" in line or "libkelvad" in line:
            expect(os.path.realpath(root) in os.path.realpath(line.split("=>")[1].split()[0]),
                   "lintrel takes a library from outside the root: " + line)
    expect(run([lintrel, "--version"], 30, env=env).stdout == "lintrel %s\n" % v, "lintrel --version")
    usage = run([qelterm, "--help"], 30, env=env).stdout
    expect(usage.startswith("Usage: qelterm"), "qelterm --help printed:\n" + usage)
    home = os.path.join(root, "home")
    os.makedirs(home)
    env.update({"LINTREL_HOME": home, "LINTREL_PORTS": os.path.join(home, "ports.ini")})
    with open(env["LINTREL_PORTS"], "w") as f:
        f.write("[Ports]\nCOM1=/dev/null\n")   # the device of service.qcf
    for example in ["demo.qcf", "service.qcf"]:
        checked = run([lintrel, "--check", os.path.join(root, "usr/share/doc/lintrel/examples", example)], 30, env=env)
        expect(checked.stdout.endswith("no problems\n"), "--check on " + example + ":\n" + checked.stdout)
    expect(os.listdir(home) == ["ports.ini"], "--check wrote " + str(os.listdir(home)))

    # Man pages are compressed roff; the units name the installed program.
    for page in ["lintrel", "qelterm"]:
        with gzip.open(os.path.join(root, "usr/share/man/man1/%s.1.gz" % page), "rt") as f:
            text = f.read()
        expect('.TH "%s" "1"' % page in text, page + "(1) is no man page")
    units = {"system": "lintrel@.service", "user": "lintrel.service"}
    for kind, name in units.items():
        with open(os.path.join(root, "usr/lib/systemd", kind, name)) as f:
            text = f.read()
        expect("\nExecStart=/usr/bin/lintrel --headless " in text and "\nType=notify\n" in text,
               name + ":\n" + text)
    analyze = shutil.which("systemd-analyze")
    if analyze:
        # systemd-analyze wants the program where the unit names it: point
        # copies of the units at the unpacked one.
        folder = os.path.join(root, "units")
        os.makedirs(folder)
        for kind, name in units.items():
            with open(os.path.join(root, "usr/lib/systemd", kind, name)) as f:
                text = f.read().replace("/usr/bin/lintrel", lintrel)
            target = os.path.join(folder, name.replace("@.", "@check."))
            with open(target, "w") as f:
                f.write(text)
            verified = run([analyze, "verify", "--man=no", target], 60, ok=(0, 1))
            problems = [line for line in (verified.stdout + verified.stderr).splitlines()
                        if os.path.basename(target) in line or name in line]
            expect(verified.returncode == 0 and not problems,
                   "systemd-analyze verify %s:\n%s%s" % (name, verified.stdout, verified.stderr))
        print("systemd-analyze verify: the units are clean")
    else:
        print("systemd-analyze not found: units not verified")


def lint(debs):
    lintian = shutil.which("lintian")
    if not lintian:
        print("lintian not found: packages not linted")
        return
    report = run([lintian, "--tag-display-limit", "0"] + sorted(debs.values()), 240, ok=(0, 1, 2)).stdout
    errors = [line for line in report.splitlines() if line.startswith("E:")]
    expect(not errors, "lintian reports errors:\n" + report)
    print("lintian: no errors, %d warnings" % sum(line.startswith("W:") for line in report.splitlines()))


def main():
    v = version()
    tmp = tempfile.mkdtemp(prefix="lintrel-deb-")
    try:
        debs = build(os.path.join(tmp, "out"))
        check_packages(debs, v)
        unpacked(debs, os.path.join(tmp, "root"), v)
        lint(debs)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main()
