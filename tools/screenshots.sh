#!/bin/bash
# Takes the pictures README shows: a session window with its counters and
# the traffic monitor, on a virtual X server (Xvfb with openbox).  A
# pseudo-terminal pair (socat) is the serial line, a small pyserial program
# plays the device on its far end, and two TCP clients on 127.0.0.1 talk to
# it through Lintrel.  Nothing outside a temporary folder is touched.
#
#   tools/screenshots.sh [LINTREL] [OUTDIR]     (build/bin/lintrel, docs)
#
# Needs: Xvfb, openbox, xdotool, xdpyinfo, socat, ImageMagick (import,
# convert), /usr/bin/python3 with pyserial.
set -euo pipefail

LINTREL=$(readlink -f "${1:-build/bin/lintrel}")
OUT=${2:-docs}
for tool in Xvfb openbox xdotool xdpyinfo socat import convert /usr/bin/python3 "$LINTREL"; do
    command -v "$tool" > /dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done
mkdir -p "$OUT"

T=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$T"
}
trap cleanup EXIT

started() { PIDS+=("$!"); }

# A free display number.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=:$n
Xvfb "$DISPLAY" -screen 0 1280x900x24 -nolisten tcp > "$T/xvfb.log" 2>&1 & started
for _ in $(seq 50); do xdpyinfo > /dev/null 2>&1 && break; sleep 0.1; done
openbox > "$T/openbox.log" 2>&1 & started

# Everything Lintrel keeps goes into the temporary folder.
export LINTREL_HOME=$T/home LINTREL_PORT_DIR=$T/ports LINTREL_PORTS=$T/home/ports.ini
export XDG_CONFIG_HOME=$T/config XDG_RUNTIME_DIR=$T/run
mkdir -p "$LINTREL_HOME" "$LINTREL_PORT_DIR" "$XDG_CONFIG_HOME/Lintrel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

socat pty,raw,echo=0,link="$T/device" pty,raw,echo=0,link="$T/com3" > "$T/socat.log" 2>&1 & started
for _ in $(seq 50); do [ -e "$T/com3" ] && [ -e "$T/device" ] && break; sleep 0.1; done
printf '[Ports]\nCOM3=%s\n' "$T/com3" > "$LINTREL_PORTS"

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
P1=$(free_port)
P2=$(free_port)
cat > "$T/home/demo.qcf" << QCF
[Lintrel]
NumSessions=2
WindowState=0
[Session1]
Connector=3
BaudRate=12
Databits=3
LocalIP=127.0.0.1
PortNumber=$P1
TCPOption=1
AutoActivate=1
LowLatency=1
[Session2]
Connector=5
CreateVirtualPort=1
LocalIP=127.0.0.1
PortNumber=$P2
TCPOption=1
AutoActivate=1
LowLatency=1
QCF
# The main window's place and size, in twips (15 a pixel at 96 dpi).
printf '[Settings]\nMainLeft=300\nMainTop=300\nMainWidth=9000\nMainHeight=9450\n' \
    > "$XDG_CONFIG_HOME/Lintrel/Lintrel.conf"

# The device: answers each command with OK and reports a reading a second.
cat > "$T/device.py" << 'PY'
import random, serial, sys, time
p = serial.Serial(sys.argv[1], 115200, timeout=0.2)
n = 0
while True:
    data = p.read(64)
    if data:
        p.write(b'OK ' + data.strip() + b'\r\n')
    n += 1
    if n % 5 == 0:
        p.write(('T=%.1fC RH=%d%%\r\n' % (21 + random.random(), 40 + n % 7)).encode())
PY
# A TCP client: sends a command now and then (or nothing), reads all.
cat > "$T/client.py" << 'PY'
import socket, sys, time
s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))
s.settimeout(0.1)
k = 0
while True:
    k += 1
    if sys.argv[2] != '-':
        s.sendall((sys.argv[2] % k).encode() + b'\r\n')
    end = time.time() + 1.3
    while time.time() < end:
        try:
            if not s.recv(4096):
                sys.exit(0)
        except socket.timeout:
            pass
PY
/usr/bin/python3 "$T/device.py" "$T/device" > "$T/device.log" 2>&1 & started

"$LINTREL" "$T/home/demo.qcf" > "$T/lintrel.log" 2>&1 & started
MAIN=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lintrel$' | head -1)
/usr/bin/python3 "$T/client.py" "$P1" 'AT+READ=%d' > "$T/client1.log" 2>&1 & started
/usr/bin/python3 "$T/client.py" "$P1" '-' > "$T/client2.log" 2>&1 & started
sleep 6

# The first session's window in front (Window menu, first entry).
xdotool windowactivate --sync "$MAIN"
xdotool key --clearmodifiers alt+w 1
sleep 1
import -window "$MAIN" "$T/session.png"

# Its traffic monitor (Tools > Traffic Monitor, Ctrl+M), a few seconds of
# traffic, then paused with a chunk selected.
xdotool key --clearmodifiers ctrl+m
MON=$(timeout 20 xdotool search --sync --onlyvisible --name '^Traffic Monitor' | head -1)
xdotool windowmove "$MON" 40 40
sleep 8
xdotool windowactivate --sync "$MON"
xdotool key --clearmodifiers alt+p
sleep 0.5
xdotool mousemove --window "$MON" 300 140 click 1
sleep 0.7
import -window "$MON" "$T/monitor.png"

# Small files: few colours are enough for a window.
for name in session monitor; do
    convert "$T/$name.png" -strip +dither -colors 64 -define png:compression-level=9 "$OUT/$name.png"
done
ls -l "$OUT/session.png" "$OUT/monitor.png"
