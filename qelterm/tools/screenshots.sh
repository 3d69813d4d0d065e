#!/usr/bin/env bash
# Pictures of qelterm's window for the README, taken on a private X server
# (Xvfb with openbox): a board on a pseudo-terminal line (board.py) boots
# and prints UTF-8 and 256-colour output; then the received bytes as a hex
# dump with time stamps; the Port menu; the board unplugged (and plugged in
# again); the Connect To dialog.
#
# usage: screenshots.sh QELTERM_BINARY [OUTPUT_FOLDER]   (default: docs/ of the tree)
# Exit status 77 when a tool it needs is missing.
set -u
qelterm=$1
here=$(cd "$(dirname "$0")" && pwd)
out=${2:-$here/../../docs}
for tool in Xvfb openbox xdotool xdpyinfo xwininfo import convert socat; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$out"

dir=$(mktemp -d /tmp/board.XXXX)
pids=()
socat_pid=
cleanup() {
    for p in "${pids[@]}" $socat_pid; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$dir/qelterm.log" ] && cat "$dir/qelterm.log"; exit 1; }

display=
for n in $(seq 140 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "SKIP: no free display number"; exit 77; }
Xvfb ":$display" -screen 0 1100x760x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

# The line: qelterm opens $dir/ttyUSB0, the board writes to $dir/board.
plug_in() {
    socat pty,raw,echo=0,link="$dir/ttyUSB0" pty,raw,echo=0,link="$dir/board" &
    socat_pid=$!
    for _ in $(seq 50); do [ -e "$dir/board" ] && [ -e "$dir/ttyUSB0" ] && return; sleep 0.1; done
    fail "socat made no pseudo-terminals"
}
unplug() { kill "$socat_pid"; wait "$socat_pid" 2>/dev/null; socat_pid=; }
plug_in

mkdir -p "$dir/config" "$dir/home"
HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    "$qelterm" --port "$dir/ttyUSB0" --settings 115200,n,8,1 >"$dir/qelterm.log" 2>&1 &
pids+=($!)
win=
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name ' - qelterm$' 2>/dev/null | head -1)
    [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || fail "no qelterm window"
xdotool windowactivate --sync "$win" 2>/dev/null
sleep 0.5

# The window with its frame (and any menu or dialog open over it), as a
# small PNG: shot NAME, or shot "" WIDTH HEIGHT NAME for its top left part.
shot() {
    local info ax ay rx ry w h
    info=$(xwininfo -id "$win")
    ax=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    ay=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    rx=$(sed -n 's/.*Relative upper-left X: *//p' <<<"$info")
    ry=$(sed -n 's/.*Relative upper-left Y: *//p' <<<"$info")
    w=$(($(sed -n 's/.*Width: *//p' <<<"$info") + 2 * rx))
    h=$(($(sed -n 's/.*Height: *//p' <<<"$info") + ry + rx))
    local name=$1
    if [ -z "$name" ]; then w=$2; h=$3; name=$4; fi
    import -window root -crop "${w}x${h}+$((ax - rx))+$((ay - ry))" +repage "$dir/shot.png" || fail "import failed"
    convert "$dir/shot.png" -strip -colors 96 "PNG8:$out/$name" || fail "convert failed"
    echo "$out/$name"
}
key() { xdotool key --window "$win" "$@"; sleep 0.4; }

/usr/bin/python3 "$here/board.py" "$dir/board" boot || fail "board.py"
sleep 0.8
shot qelterm-board.png

key ctrl+shift+l
key ctrl+shift+t
key ctrl+shift+h
/usr/bin/python3 "$here/board.py" "$dir/board" hex || fail "board.py hex"
sleep 0.6
shot qelterm-hex.png
key ctrl+shift+h

# The Port menu, on its own.
xdotool key --window "$win" alt+p
sleep 0.6
shot "" 520 250 qelterm-menu.png
xdotool key Escape
sleep 0.3

# Waits up to 5 s for the window's title to hold $1.
wait_title() {
    for _ in $(seq 50); do
        case $(xdotool getwindowname "$win" 2>/dev/null) in *"$1"*) return 0 ;; esac
        sleep 0.1
    done
    fail "the title did not come to say $1: $(xdotool getwindowname "$win")"
}
unplug
wait_title "[Device gone, waiting for it]"
sleep 0.3
shot qelterm-unplugged.png
plug_in
wait_title "[Connected]"
printf 'root@board:~# ' >"$dir/board"
sleep 0.5

key ctrl+shift+m
dialog=
for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name '^Connect To$' 2>/dev/null | head -1)
    [ -n "$dialog" ] && break
    sleep 0.1
done
[ -n "$dialog" ] || fail "no Connect To dialog"
xdotool windowactivate --sync "$dialog" 2>/dev/null
xdotool type --delay 20 "board-7.lab"
sleep 0.4
shot qelterm-connect.png
xdotool key Escape
