#!/usr/bin/env python3
"""Installs the build tree into a temporary prefix and uses it from outside.

  install_test.py examples BUILD SOURCE CC CXX CMAKE
      builds examples/qelcomm6/echo_line.c with pkg-config's flags for the
      installed qelcomm6, runs it and echo_line.py against a pseudo-terminal
      whose far end answers each line, and checks what they print;
  install_test.py find_package BUILD SOURCE CC CXX CMAKE
      configures, builds and runs a small CMake project that finds the
      installed package with find_package(QelComm6).

Every step is bounded in time; the prefix is removed afterwards.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import tty

MODE, BUILD, SOURCE, CC, CXX, CMAKE = sys.argv[1:7]


def run(cmd, timeout, env=None, cwd=None):
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, env=env, cwd=cwd)
    if r.returncode != 0:
        sys.exit("FAILED (%d): %s\n%s%s" % (r.returncode, " ".join(cmd), r.stdout[-4000:], r.stderr[-4000:]))
    return r.stdout


def expect(condition, what):
    if not condition:
        sys.exit("FAILED: " + what)


def install(tmp):
    prefix = os.path.join(tmp, "prefix")
    run([CMAKE, "--install", BUILD, "--prefix", prefix], 180)
    libdir = os.path.join(prefix, "lib")
    for path in ["bin/lintrel", "bin/qelterm", "lib/libqelcomm6.so.6", "lib/libkelvad.so.2",
                 "include/qelcomm6/qelcomm6.h", "include/qelcomm6/qelcomm6.hpp", "include/qelcomm6/qel_comm.h",
                 "include/kelvad/kelvad_ctrl.h", "lib/pkgconfig/qelcomm6.pc",
                 "lib/cmake/QelComm6/QelComm6Config.cmake", "share/qelcomm6/MODEM.LST",
                 "share/applications/lintrel.desktop", "share/applications/qelterm.desktop"]:
        expect(os.path.exists(os.path.join(prefix, path)), "not installed: " + path)
    # Each desktop entry names an icon that is installed in every hicolor size.
    for program in ["lintrel", "qelterm"]:
        with open(os.path.join(prefix, "share/applications", program + ".desktop")) as f:
            expect("Icon=" + program + "\n" in f.read(), program + ".desktop names no icon")
        expect(os.path.exists(os.path.join(prefix, "share/icons/hicolor/scalable/apps", program + ".svg")),
               "no scalable icon for " + program)
        for size in [16, 22, 24, 32, 48, 64, 128, 256]:
            png = os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, program))
            expect(os.path.exists(png), "not installed: " + png)
            with open(png, "rb") as f:
                head = f.read(24)
            expect(head[:8] == b"\x89PNG\r\n\x1a\n" and int.from_bytes(head[16:20], "big") == size,
                   png + " is not a %d pixel PNG" % size)
    dynamic = run(["readelf", "-d", os.path.join(libdir, "libqelcomm6.so.6")], 30)
    expect("[libqelcomm6.so.6]" in dynamic, "SONAME of libqelcomm6:\n" + dynamic)
    programs = run(["readelf", "-d", os.path.join(prefix, "bin/lintrel")], 30)
    expect("$ORIGIN/../lib" in programs, "RUNPATH of lintrel:\n" + programs)
    # The installed programs find their libraries in the prefix, not the build tree.
    env = dict(os.environ)
    env.pop("LD_LIBRARY_PATH", None)
    for program in ["bin/lintrel", "bin/qelterm"]:
        resolved = run(["ldd", os.path.join(prefix, program)], 30, env=env)
        expect("not found" not in resolved, program + " misses libraries:\n" + resolved)
        for line in resolved.splitlines():
            if "libqelcomm6" in line or "liblt_" in line or "libkelvad" in line:
                expect(os.path.realpath(prefix) in os.path.realpath(line.split("=>")[1].split()[0]),
                       program + " takes a library from outside the prefix: " + line)
    return prefix


class AnsweringPeer:
    """The device at the far end of a pseudo-terminal: answers each line."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.stop = threading.Event()
        self.lines = []
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        import select
        pending = b""
        while not self.stop.is_set():
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if not ready:
                continue
            try:
                pending += os.read(self.master, 1024)
            except OSError:
                continue
            while b"\r" in pending:
                line, pending = pending.split(b"\r", 1)
                self.lines.append(line)
                os.write(self.master, b"answer to " + line + b"\r\n")

    def close(self):
        self.stop.set()
        self.thread.join(5)
        os.close(self.master)
        os.close(self.slave)


def examples(tmp, prefix):
    env = dict(os.environ)
    env["PKG_CONFIG_PATH"] = os.path.join(prefix, "lib", "pkgconfig")
    flags = run(["pkg-config", "--cflags", "--libs", "qelcomm6"], 30, env=env).split()
    program = os.path.join(tmp, "echo_line")
    run([CC, "-std=c11", "-Wall", "-Wextra", "-Werror", "-pedantic",
         os.path.join(SOURCE, "examples/qelcomm6/echo_line.c")] + flags + ["-o", program], 120, env=env)
    needed = run(["readelf", "-d", program], 30)
    expect("libqelcomm6.so.6" in needed, "the example does not need libqelcomm6.so.6:\n" + needed)
    expect("libQt" not in needed and "liblt_" not in needed, "the example links more than qelcomm6:\n" + needed)

    peer = AnsweringPeer()
    try:
        ports = os.path.join(tmp, "ports.ini")
        with open(ports, "w") as f:
            f.write("[Ports]\nCOM7=%s\n" % peer.path)
        os.makedirs(os.path.join(tmp, "virtual"), exist_ok=True)
        env.update({"LINTREL_PORTS": ports, "LINTREL_PORT_DIR": os.path.join(tmp, "virtual"),
                    "XDG_STATE_HOME": os.path.join(tmp, "state"),
                    "LD_LIBRARY_PATH": os.path.join(prefix, "lib")})
        env.pop("QELCOMM6_LIBRARY", None)
        resolved = run(["ldd", program], 30, env=env)
        expect(os.path.join(prefix, "lib", "libqelcomm6.so.6") in resolved, "not the installed library:\n" + resolved)

        out = run([program, "7", "hello there"], 60, env=env)
        expect("sent: hello there" in out and "answer: answer to hello there" in out, "C example printed:\n" + out)
        out = run([sys.executable, os.path.join(SOURCE, "examples/qelcomm6/echo_line.py"), "7", "from python"],
                  60, env=env)
        expect("sent: from python" in out and "answer: answer to from python" in out,
               "Python example printed:\n" + out)
        expect(peer.lines == [b"hello there", b"from python"], "the far end saw %r" % peer.lines)
    finally:
        peer.close()


def find_package(tmp, prefix):
    project = os.path.join(SOURCE, "packaging/tests/find_package_project")
    build = os.path.join(tmp, "project")
    run([CMAKE, "-S", project, "-B", build, "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_CXX_COMPILER=" + CXX,
         "-DCMAKE_BUILD_TYPE=Release"], 120)
    run([CMAKE, "--build", build], 120)
    env = dict(os.environ)
    env.pop("LD_LIBRARY_PATH", None)
    env["XDG_STATE_HOME"] = os.path.join(tmp, "state")
    # The modem list is found beside the installed library's prefix alone.
    env["XDG_DATA_HOME"] = os.path.join(tmp, "data")
    env["XDG_DATA_DIRS"] = os.path.join(tmp, "data-dirs")
    out = run([os.path.join(build, "uses_qelcomm6")], 30, env=env)
    expect("color 30 separator ;" in out, "the project printed:\n" + out)
    expect("modem list found" in out, "the installed MODEM.LST was not found:\n" + out)


def main():
    tmp = tempfile.mkdtemp(prefix="qelcomm6-install-")
    try:
        prefix = install(tmp)
        {"examples": examples, "find_package": find_package}[MODE](tmp, prefix)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main()
