#!/usr/bin/python3
"""Lintrel under load and under faults, beside ser2net where it applies.

Scenarios, each against a fresh windowless Lintrel (low latency on):
  clients     1000 clients on one session; the device sends 100 kB, every
              client must receive it byte-exact; time to connect them all
  idle        CPU share of 99 idle sessions over 20 s
  churn       connect/reset cycles for 20 s; descriptors before and after
  slow-device a device that reads 1920 bytes/s while its client sends 64 kB:
              the longest echo wait of a second session in the same process
  slow-client one client that never reads while the device sends 50 MB: the
              process's memory peak, and whether the reading client got it all
  comeback    the device's end closes and returns under the same name: time
              from its return to the first byte at the client

Usage: bench/load_bench.py [--lintrel build/bin/lintrel] [--only NAME,...]
"""
import argparse
import hashlib
import os
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bridge_bench as bb  # noqa: E402  (pseudo-terminals, ports, CPU accounting)


def rss_peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def fd_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


class Lintrel:
    """A windowless Lintrel on a generated file: one server session per
    device, on the given ports, low latency on."""

    def __init__(self, binary, devices, ports, extra_global=(), links=None):
        self.dir = tempfile.mkdtemp(prefix="load-lintrel-")
        with open(os.path.join(self.dir, "ports.ini"), "w") as f:
            f.write("[Ports]\n")
            for i, d in enumerate(devices):
                f.write("COM%d=%s\n" % (i + 1, links[i] if links else d.slave))
        lines = ["[Lintrel]", "NumSessions=%d" % len(devices), "LogErrors=1"] + list(extra_global)
        for i, port in enumerate(ports):
            lines += ["[Session%d]" % (i + 1), "Connector=%d" % (i + 1), "BaudRate=12", "BufferSize=2",
                      "LocalIP=127.0.0.1", "PortNumber=%d" % port, "TCPOption=1", "AutoActivate=1",
                      "LowLatency=1"]
        qcf = os.path.join(self.dir, "load.qcf")
        with open(qcf, "w") as f:
            f.write("\r\n".join(lines) + "\r\n")
        env = dict(os.environ, LINTREL_HOME=self.dir, LINTREL_PORTS=os.path.join(self.dir, "ports.ini"),
                   LINTREL_PORT_DIR=self.dir)
        self.out_path = os.path.join(self.dir, "out")
        self.out = open(self.out_path, "w")
        self.proc = subprocess.Popen([binary, "--headless", "--no-timestamps", qcf], env=env,
                                     stdout=self.out, stderr=subprocess.DEVNULL)
        until = time.time() + 30
        while time.time() < until:
            if self.output().count("Listening...") >= len(devices):
                return
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("lintrel did not start")

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def errorlog(self):
        try:
            with open(os.path.join(self.dir, "errorlog.txt")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.out.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def send_all(fd, data):
    view = memoryview(data)
    sent = 0
    while sent < len(data):
        try:
            sent += os.write(fd, view[sent:sent + 65536])
        except BlockingIOError:
            time.sleep(0.0005)


# ---- scenarios -----------------------------------------------------------------

def clients(binary, count=1000, size=100_000):
    dev = bb.Device()
    port = bb.free_port()
    lt = Lintrel(binary, [dev], [port])
    try:
        start = time.perf_counter()
        socks = []
        for _ in range(count):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 18)
            s.connect(("127.0.0.1", port))
            s.setblocking(False)
            socks.append(s)
        deadline = time.time() + 60
        while lt.output().count("Connected") == 0 or not lt.output().rstrip().endswith("(%d) Connected" % count):
            if time.time() > deadline:
                break
            time.sleep(0.05)
        connect_s = time.perf_counter() - start
        data = bb.pattern(size, 7)
        sel = selectors.DefaultSelector()
        got = {}
        for s in socks:
            sel.register(s, selectors.EVENT_READ)
            got[s] = bytearray()
        os.set_blocking(dev.master, False)
        threading.Thread(target=send_all, args=(dev.master, data), daemon=True).start()
        deadline = time.time() + 120
        done = 0
        while done < count and time.time() < deadline:
            for key, _ in sel.select(0.5):
                chunk = key.fileobj.recv(1 << 16)
                buf = got[key.fileobj]
                before = len(buf)
                buf += chunk
                if before < size <= len(buf):
                    done += 1
        exact = sum(1 for b in got.values() if bytes(b) == data)
        for s in socks:
            s.close()
        return {"connected in": "%.1f s" % connect_s, "byte-exact": "%d of %d" % (exact, count)}
    finally:
        lt.stop()
        dev.close()


def idle(binary, count=99, seconds=20):
    devs = [bb.Device() for _ in range(count)]
    ports = bb.free_ports(count)
    lt = Lintrel(binary, devs, ports)
    try:
        time.sleep(2)
        c0 = bb.cpu_seconds([lt.proc.pid])
        time.sleep(seconds)
        return {"idle CPU": "%.2f%% of a core" % (100 * (bb.cpu_seconds([lt.proc.pid]) - c0) / seconds)}
    finally:
        lt.stop()
        for d in devs:
            d.close()


def churn(binary, seconds=20):
    dev = bb.Device()
    port = bb.free_port()
    lt = Lintrel(binary, [dev], [port])
    try:
        time.sleep(0.5)
        before = fd_count(lt.proc.pid)
        cycles = 0
        until = time.time() + seconds
        while time.time() < until:
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")  # reset on close
            s.connect(("127.0.0.1", port))
            s.close()
            cycles += 1
        time.sleep(1)
        after = fd_count(lt.proc.pid)
        return {"cycles": str(cycles), "descriptors before / after": "%d / %d" % (before, after)}
    finally:
        lt.stop()
        dev.close()


def slow_device(binary):
    slow, lively = bb.Device(), bb.Device()
    ports = bb.free_ports(2)
    lt = Lintrel(binary, [slow, lively], ports)
    stop = [False]
    try:
        flooder = socket.create_connection(("127.0.0.1", ports[0]))
        other = socket.create_connection(("127.0.0.1", ports[1]))
        other.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        time.sleep(0.3)

        def slow_reader():   # 1920 bytes a second, in 96-byte sips
            os.set_blocking(slow.master, False)
            while not stop[0]:
                try:
                    os.read(slow.master, 96)
                except BlockingIOError:
                    pass
                time.sleep(0.05)

        def echo():
            os.set_blocking(lively.master, False)
            while not stop[0]:
                try:
                    b = os.read(lively.master, 64)
                    os.write(lively.master, b)
                except BlockingIOError:
                    time.sleep(0.0002)

        threading.Thread(target=slow_reader, daemon=True).start()
        threading.Thread(target=echo, daemon=True).start()
        flooder.sendall(bb.pattern(64 * 1024, 3))
        worst = 0.0
        until = time.time() + 10
        while time.time() < until:
            t = time.perf_counter()
            other.sendall(b"p")
            other.recv(1)
            worst = max(worst, time.perf_counter() - t)
            time.sleep(0.01)
        return {"longest echo wait of the other session": "%.1f ms" % (worst * 1000)}
    finally:
        stop[0] = True
        lt.stop()
        slow.close()
        lively.close()


def slow_client(binary, mb=50):
    dev = bb.Device()
    port = bb.free_port()
    lt = Lintrel(binary, [dev], [port])
    try:
        sleeper = socket.socket()
        sleeper.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        sleeper.connect(("127.0.0.1", port))
        reader = socket.create_connection(("127.0.0.1", port))
        time.sleep(0.3)
        data = bb.pattern(mb * 1_000_000, 5)
        os.set_blocking(dev.master, False)
        threading.Thread(target=send_all, args=(dev.master, data), daemon=True).start()
        h = hashlib.sha256()
        n = 0
        reader.settimeout(30)
        while n < len(data):
            chunk = reader.recv(1 << 16)
            if not chunk:
                break
            h.update(chunk)
            n += len(chunk)
        peak = rss_peak_kb(lt.proc.pid)
        closed = "not reading" in lt.errorlog()
        sleeper.close()
        reader.close()
        return {"memory peak": "%.0f MB" % (peak / 1024),
                "reading client byte-exact": "yes" if n == len(data) and h.digest() == hashlib.sha256(data).digest() else "NO",
                "non-reading client closed and logged": "yes" if closed else "no"}
    finally:
        lt.stop()
        dev.close()


def comeback(binary):
    dev = bb.Device()
    port = bb.free_port()
    link = os.path.join(tempfile.mkdtemp(prefix="load-link-"), "ttyUSB0")
    os.symlink(dev.slave, link)
    lt = Lintrel(binary, [dev], [port], links=[link])
    try:
        client = socket.create_connection(("127.0.0.1", port))
        time.sleep(0.3)
        dev.close()   # unplugged
        until = time.time() + 10
        while "Device removed" not in lt.output() and time.time() < until:
            time.sleep(0.05)
        seen = "Device removed" in lt.output()
        dev = bb.Device()   # plugged in again under the same name
        os.unlink(link)
        os.symlink(dev.slave, link)
        back = time.perf_counter()
        os.set_blocking(dev.master, False)
        client.settimeout(0.05)
        got = b""
        while time.perf_counter() - back < 15 and not got:
            try:
                os.write(dev.master, b"x")
            except OSError:
                pass
            try:
                got = client.recv(16)
            except socket.timeout:
                pass
        return {"removal shown": "yes" if seen else "no",
                "back to first byte": "%.1f s" % (time.perf_counter() - back) if got else "never"}
    finally:
        lt.stop()
        dev.close()
        shutil.rmtree(os.path.dirname(link), ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lintrel", default=os.path.join(HERE, "..", "build", "bin", "lintrel"))
    ap.add_argument("--only", default="")
    a = ap.parse_args()
    scenarios = [("clients", clients), ("idle", idle), ("churn", churn), ("slow-device", slow_device),
                 ("slow-client", slow_client), ("comeback", comeback)]
    if a.only:
        scenarios = [s for s in scenarios if s[0] in a.only.split(",")]
    print("| scenario | result |")
    print("|---|---|")
    for name, fn in scenarios:
        result = fn(a.lintrel)
        print("| %s | %s |" % (name, "; ".join("%s: %s" % kv for kv in result.items())), flush=True)


if __name__ == "__main__":
    main()
