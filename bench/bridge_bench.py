#!/usr/bin/python3
"""Serial-to-TCP bridges side by side: socat, ser2net and Lintrel (specified
timing, and low latency) on the same arrangement, one after the other; then
ser2net and Lintrel again with Telnet COM port control (RFC 2217), whose
wire doubles every 255 in the data.

The "device" is the master of a pseudo-terminal; the bridge holds the slave
and listens on 127.0.0.1; this script is both the device and the TCP client.
For each bridge it prints throughput both ways, for random data and for
255-heavy data (half the bytes 255), the round trip of one byte (client ->
device, echoed back) as median and 99th percentile, the CPU seconds the
bridge spent per MB moved, and the CPU share of 1, 10 and 99 idle bridges
(99: the COM list holds 99 ports). Every byte of every run is compared. With
RFC 2217 the client negotiates first, doubles 255 in what it sends and
undoes it in what it gets, as any RFC 2217 client does.

Usage: bench/bridge_bench.py [--lintrel build/bin/lintrel] [--mb 20]
                             [--trips 200] [--idle-seconds 20] [--only NAME,...]
                             [--runs N] [--no-idle]
With --runs N each bridge is measured N times, the bridges taking turns, and
every figure is the median of its runs (a shared machine strays a lot).
"""
import argparse
import hashlib
import os
import pty
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

CLK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])  # utime, stime
        except OSError:
            pass
    return total / CLK


def free_ports(n):
    """n distinct free ports: all held at once, so none is handed out twice."""
    held = []
    for _ in range(n):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        held.append(s)
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


def free_port():
    return free_ports(1)[0]


class Device:
    """A pseudo-terminal: the bridge opens the slave, we are the master."""

    def __init__(self):
        self.master, self.keep = pty.openpty()
        tty.setraw(self.keep)
        self.slave = os.ttyname(self.keep)

    def close(self):
        for fd in (self.master, self.keep):
            try:
                os.close(fd)
            except OSError:
                pass


def connect(port, seconds=20):
    until = time.time() + seconds
    while time.time() < until:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            return s
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("bridge on port %d did not accept" % port)


def pattern(n, seed):
    rnd = random.Random(seed)
    return rnd.randbytes(n)


def pattern255(n, seed):
    """Half the bytes 255: the worst case of a wire that doubles them."""
    rnd = random.Random(seed)
    data = bytearray(rnd.randbytes(n))
    data[::2] = b"\xff" * len(data[::2])
    return bytes(data)


# ---- the Telnet side of RFC 2217, as much as a client needs ---------------

IAC, SE, SB, WILL, DO = 255, 240, 250, 251, 253
BINARY, SGA, COM_PORT = 0, 3, 44


def escape(data):
    return data.replace(b"\xff", b"\xff\xff")


class Unescape:
    """Telnet data with 255 doubled to plain bytes, across chunk borders.
    Commands are expected only during the negotiation (see negotiate)."""

    def __init__(self):
        self.carry = b""

    def feed(self, chunk):
        data = self.carry + chunk
        run = len(data) - len(data.rstrip(b"\xff"))
        keep = run % 2  # half a doubled 255: wait for the other half
        self.carry = data[len(data) - keep:] if keep else b""
        return data[:len(data) - keep].replace(b"\xff\xff", b"\xff")


def negotiate(sock):
    """Agrees to BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION and reads
    the server's side of it (and its first notifications) for a moment."""
    sock.sendall(bytes([IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA,
                        IAC, WILL, COM_PORT]))
    sock.settimeout(0.3)
    try:
        while sock.recv(4096):
            pass
    except socket.timeout:
        pass
    sock.settimeout(None)


def throughput(write_fd, read_fd, data, timeout=300, encode=None, decode=None):
    """Writes data (encoded) into write_fd while reading read_fd (decoded);
    MB/s and whether the bytes arrived unchanged."""
    got = hashlib.sha256()
    count = [0]

    def reader():
        deadline = time.time() + timeout
        while count[0] < len(data) and time.time() < deadline:
            try:
                chunk = os.read(read_fd, 1 << 16)
            except BlockingIOError:
                time.sleep(0.0005)
                continue
            if not chunk:
                break
            if decode:
                chunk = decode.feed(chunk)
            got.update(chunk)
            count[0] += len(chunk)

    wire = encode(data) if encode else data
    t = threading.Thread(target=reader)
    start = time.perf_counter()
    t.start()
    view = memoryview(wire)
    sent = 0
    while sent < len(wire):
        try:
            sent += os.write(write_fd, view[sent:sent + (1 << 16)])
        except BlockingIOError:
            time.sleep(0.0005)
    t.join()
    elapsed = time.perf_counter() - start
    ok = count[0] == len(data) and got.digest() == hashlib.sha256(data).digest()
    return len(data) / elapsed / 1e6, ok


def round_trips(sock, dev, trips, telnet=False):
    """The client sends one byte; the device echoes it; the client reads it."""
    stop = [False]

    def echo():
        while not stop[0]:
            try:
                b = os.read(dev.master, 64)
                if b:
                    os.write(dev.master, b)
            except BlockingIOError:
                time.sleep(0.00002)
            except OSError:
                return

    os.set_blocking(dev.master, False)
    t = threading.Thread(target=echo, daemon=True)
    t.start()
    times = []
    ok = True
    decode = Unescape()
    for i in range(trips):
        b = bytes([i & 0xFF])
        start = time.perf_counter()
        if telnet:
            sock.sendall(escape(b))
            got = b""
            while not got:
                got = decode.feed(sock.recv(2))
        else:
            sock.sendall(b)
            got = sock.recv(1)
        times.append((time.perf_counter() - start) * 1000)
        ok = ok and got == b
    stop[0] = True
    t.join(1)
    times.sort()
    return statistics.median(times), times[min(len(times) - 1, int(len(times) * 0.99))], ok


# ---- the bridges -----------------------------------------------------------

class Bridge:
    name = ""
    telnet = False  # the TCP side speaks RFC 2217

    def start(self, devices, ports):  # one bridge for all the devices
        raise NotImplementedError

    def pids(self):
        return [p.pid for p in self.procs]

    def stop(self):
        for p in self.procs:
            p.send_signal(signal.SIGTERM)
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


class Socat(Bridge):
    name = "socat"

    def start(self, devices, ports):
        self.procs = [subprocess.Popen(
            ["socat", "-b", "65536", "%s,raw,echo=0" % d.slave,
             "TCP-LISTEN:%d,bind=127.0.0.1,reuseaddr" % port],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for d, port in zip(devices, ports)]


class Ser2net(Bridge):
    def __init__(self, telnet=False):
        self.telnet = telnet
        self.name = "ser2net-2217" if telnet else "ser2net"

    def start(self, devices, ports):
        self.dir = tempfile.mkdtemp(prefix="bench-ser2net-")
        conf = os.path.join(self.dir, "ser2net.yaml")
        with open(conf, "w") as f:
            for i, (d, port) in enumerate(zip(devices, ports)):
                f.write("connection: &c%d\n  accepter: %stcp,127.0.0.1,%d\n"
                        "  connector: serialdev,%s,115200n81,local\n"
                        "  options:\n    kickolduser: true\n"
                        % (i, "telnet(rfc2217)," if self.telnet else "", port, d.slave))
        self.procs = [subprocess.Popen(
            ["ser2net", "-n", "-d", "-c", conf, "-P", os.path.join(self.dir, "pid")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]

    def stop(self):
        super().stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class Lintrel(Bridge):
    def __init__(self, binary, low_latency, rfc2217=False):
        self.binary = binary
        self.low = low_latency
        self.telnet = rfc2217
        self.name = ("lintrel-ll" if low_latency else "lintrel") + ("-2217" if rfc2217 else "")

    def start(self, devices, ports):
        self.dir = tempfile.mkdtemp(prefix="bench-lintrel-")
        with open(os.path.join(self.dir, "ports.ini"), "w") as f:
            f.write("[Ports]\n")
            for i, d in enumerate(devices):
                f.write("COM%d=%s\n" % (i + 1, d.slave))
        qcf = os.path.join(self.dir, "bench.qcf")
        lines = ["[Lintrel]", "NumSessions=%d" % len(devices)]
        for i, port in enumerate(ports):
            lines += ["[Session%d]" % (i + 1), "Connector=%d" % (i + 1), "BaudRate=12",
                      "BufferSize=8", "LocalIP=127.0.0.1", "PortNumber=%d" % port, "TCPOption=1",
                      "AutoActivate=1", "LowLatency=%d" % int(self.low), "Rfc2217=%d" % int(self.telnet)]
        with open(qcf, "w") as f:
            f.write("\r\n".join(lines) + "\r\n")
        env = dict(os.environ, LINTREL_HOME=self.dir, LINTREL_PORTS=os.path.join(self.dir, "ports.ini"),
                   LINTREL_PORT_DIR=self.dir)
        self.out = open(os.path.join(self.dir, "out"), "w")
        self.procs = [subprocess.Popen([self.binary, "--headless", "--no-timestamps", qcf], env=env,
                                       stdout=self.out, stderr=subprocess.DEVNULL)]
        try:
            self.wait_ready(len(devices))
        except Exception:
            self.stop()
            raise

    def wait_ready(self, count):
        until = time.time() + 30
        while time.time() < until:
            with open(os.path.join(self.dir, "out")) as f:
                out = f.read()
            if out.count("Listening...") >= count:
                return
            if "Error" in out or self.procs[0].poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError("lintrel did not start its sessions:\n" +
                           "\n".join(l for l in out.splitlines() if "Error" in l)[-2000:])

    def stop(self):
        super().stop()
        self.out.close()
        shutil.rmtree(self.dir, ignore_errors=True)


# ---- the runs ----------------------------------------------------------------

def measure(bridge, mb, trips):
    dev = Device()
    port = free_port()
    bridge.start([dev], [port])
    try:
        sock = connect(port)
        if bridge.telnet:
            negotiate(sock)
        else:
            time.sleep(0.3)
        fd = sock.fileno()
        os.set_blocking(dev.master, False)
        sock.setblocking(False)
        enc = escape if bridge.telnet else None

        def dec():
            return Unescape() if bridge.telnet else None

        cpu0 = cpu_seconds(bridge.pids())
        up, ok_up = throughput(dev.master, fd, pattern(mb * 1000000, 1), decode=dec())
        down, ok_down = throughput(fd, dev.master, pattern(mb * 1000000, 2), encode=enc)
        cpu = cpu_seconds(bridge.pids()) - cpu0
        cpu0 = cpu_seconds(bridge.pids())
        up255, ok_up255 = throughput(dev.master, fd, pattern255(mb * 1000000, 3), decode=dec())
        down255, ok_down255 = throughput(fd, dev.master, pattern255(mb * 1000000, 4), encode=enc)
        cpu255 = cpu_seconds(bridge.pids()) - cpu0
        sock.setblocking(True)
        median, p99, ok_trip = round_trips(sock, dev, trips, bridge.telnet)
        sock.close()
        return dict(up=up, down=down, up255=up255, down255=down255, median=median, p99=p99,
                    cpu_per_mb=cpu / (2 * mb), cpu255_per_mb=cpu255 / (2 * mb),
                    intact=ok_up and ok_down and ok_up255 and ok_down255 and ok_trip)
    finally:
        bridge.stop()
        dev.close()


def idle(bridge, count, seconds):
    devs = [Device() for _ in range(count)]
    ports = free_ports(count)
    bridge.start(devs, ports)
    try:
        time.sleep(2)  # start-up done
        cpu0 = cpu_seconds(bridge.pids())
        time.sleep(seconds)
        return 100.0 * (cpu_seconds(bridge.pids()) - cpu0) / seconds
    finally:
        bridge.stop()
        for d in devs:
            d.close()


def main():
    ap = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--lintrel", default=os.path.join(here, "..", "build", "bin", "lintrel"))
    ap.add_argument("--mb", type=int, default=20)
    ap.add_argument("--trips", type=int, default=200)
    ap.add_argument("--idle-seconds", type=int, default=20)
    ap.add_argument("--only", default="")
    ap.add_argument("--no-idle", action="store_true", help="skip the idle CPU runs")
    ap.add_argument("--runs", type=int, default=1)
    a = ap.parse_args()

    bridges = [Socat(), Ser2net(), Lintrel(a.lintrel, False), Lintrel(a.lintrel, True),
               Ser2net(True), Lintrel(a.lintrel, False, True), Lintrel(a.lintrel, True, True)]
    if a.only:
        bridges = [b for b in bridges if b.name in a.only.split(",")]
    usable = []
    for b in bridges:
        program = b.name.split("-")[0]
        if program in ("socat", "ser2net") and not shutil.which(program):
            print("%s is not installed; skipped" % b.name)
        else:
            usable.append(b)
    runs = {b.name: [] for b in usable}
    for i in range(a.runs):
        for b in usable:
            runs[b.name].append(measure(b, a.mb, a.trips))
            print("%-16s run %d done" % (b.name, i + 1), flush=True)
    rows = []
    for b in usable:
        r = {k: statistics.median(x[k] for x in runs[b.name]) for k in runs[b.name][0] if k != "intact"}
        r["intact"] = all(x["intact"] for x in runs[b.name])
        r["idle"] = [0.0] * 3 if a.no_idle else [idle(b, n, a.idle_seconds) for n in (1, 10, 99)]
        rows.append((b.name, r))

    print("\n%d MB each way, %d one-byte round trips, median of %d run(s), idle CPU over %s; %s, %d cores\n"
          % (a.mb, a.trips, a.runs, "(skipped)" if a.no_idle else "%d s" % a.idle_seconds,
             os.uname().release, os.cpu_count()))
    print("| bridge | device to TCP | TCP to device | 255-heavy to TCP | 255-heavy to device "
          "| round trip median | round trip p99 | CPU s per MB | CPU s per MB, 255-heavy "
          "| idle CPU 1 / 10 / 99 | bytes intact |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for name, r in rows:
        print("| %s | %.1f MB/s | %.1f MB/s | %.1f MB/s | %.1f MB/s | %.3f ms | %.3f ms | %.4f | %.4f "
              "| %.2f%% / %.2f%% / %.2f%% | %s |"
              % (name, r["up"], r["down"], r["up255"], r["down255"], r["median"], r["p99"], r["cpu_per_mb"],
                 r["cpu255_per_mb"],
                 r["idle"][0], r["idle"][1], r["idle"][2], "yes" if r["intact"] else "NO"))
    base = dict(rows).get("socat")
    if base:
        print("\nratios to socat (throughput up / down, CPU per MB):")
        for name, r in rows:
            print("  %-10s %.2f / %.2f, %.2f" % (name, r["up"] / base["up"], r["down"] / base["down"],
                                                 r["cpu_per_mb"] / base["cpu_per_mb"] if base["cpu_per_mb"] else 0))
    found = dict(rows)
    pairs = [(n + "-2217", n) for n in ("ser2net", "lintrel", "lintrel-ll")
             if n in found and n + "-2217" in found]
    if pairs:
        print("\nRFC 2217 over raw, same bridge (throughput up / down, 255-heavy up / down, round trip):")
        for telnet, raw in pairs:
            t, r = found[telnet], found[raw]
            print("  %-16s %.2f / %.2f, %.2f / %.2f, %.2f" % (
                telnet, t["up"] / r["up"], t["down"] / r["down"], t["up255"] / r["up255"],
                t["down255"] / r["down255"], t["median"] / r["median"]))
    return 0 if all(r["intact"] for _, r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
