#!/usr/bin/env bash
# Restoring the main window on an X desktop that has a window manager but no
# notification area, with a password set: the program starts minimised, the
# user restores it three times, answers the prompt with the right password
# each time, and the window must come back every time.
#
# usage: restore_password_x11.sh LINTREL_BINARY
set -u
lintrel=$1
for tool in Xvfb openbox xdotool xprop xdpyinfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

dir=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT

# A display number nobody uses.
display=
for n in $(seq 120 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "SKIP: no free display number"; exit 77; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
xdpyinfo >/dev/null 2>&1 || { echo "FAIL: Xvfb did not start"; exit 1; }
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

mkdir -p "$dir/home" "$dir/config" "$dir/ports" "$dir/run"
chmod 700 "$dir/run"
printf '[Lintrel]\r\nNumSessions=1\r\nWindowState=1\r\nPassword=Pw\r\n' >"$dir/home/pw.qcf"
LINTREL_HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" LINTREL_PORT_DIR="$dir/ports" \
    XDG_RUNTIME_DIR="$dir/run" LINTREL_REGISTRY_DIR="$dir/config/registry" \
    XDG_DATA_HOME="$dir/data" QT_QPA_PLATFORM=xcb \
    "$lintrel" "$dir/home/pw.qcf" >"$dir/lintrel.log" 2>&1 &
pids+=($!)

# The state the window manager gives the main window: Iconic or Normal.
state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
# Waits up to $2 tenths of a second for a window named exactly $1 that the
# window manager manages; prints its id.
find_window() {
    for _ in $(seq "$2"); do
        for id in $(xdotool search --name "^$1\$" 2>/dev/null); do
            [ -n "$(state "$id")" ] && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}
wait_state() {   # id, wanted state, tenths of a second
    for _ in $(seq "$3"); do [ "$(state "$1")" = "$2" ] && return 0; sleep 0.1; done
    return 1
}

main=$(find_window Lintrel 100) || { echo "FAIL: no main window"; cat "$dir/lintrel.log"; exit 1; }
wait_state "$main" Iconic 50 || { echo "FAIL: the program did not start minimised"; exit 1; }
sleep 0.3   # its 50 ms timer notes that it is minimised

for round in 1 2 3; do
    xdotool windowactivate "$main" 2>/dev/null   # the user restores it
    prompt=$(find_window "Lintrel Password" 50) || { echo "FAIL: round $round: no password prompt"; exit 1; }
    xdotool windowactivate --sync "$prompt" 2>/dev/null
    sleep 0.2
    xdotool type --delay 20 Pw
    xdotool key Return
    if ! wait_state "$main" Normal 30; then
        echo "FAIL: round $round: the window stayed $(state "$main") after the right password"
        exit 1
    fi
    sleep 1
    if [ "$(state "$main")" != Normal ]; then
        echo "FAIL: round $round: the window went back to $(state "$main")"
        exit 1
    fi
    echo "round $round: restored"
    xdotool windowminimize "$main"
    wait_state "$main" Iconic 30 || { echo "FAIL: round $round: could not minimise again"; exit 1; }
    sleep 0.3
done
echo "PASS"
