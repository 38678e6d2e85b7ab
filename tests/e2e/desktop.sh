#!/usr/bin/env bash
# Runs a command on a virtual desktop of its own: an X server (Xvfb), a window
# manager (openbox) and, unless KALVERO_NO_TRAY=1, a tray host (trayer).
# Everything started here is stopped when the command ends.
set -euo pipefail

display=""
for n in $(seq 90 190); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "desktop.sh: no free X display number" >&2; exit 1; }

pids=()
cleanup() {
    for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
xdpyinfo >/dev/null 2>&1 || { echo "desktop.sh: Xvfb did not start" >&2; exit 1; }

openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
    sleep 0.05
done

if [ "${KALVERO_NO_TRAY:-0}" != 1 ]; then
    trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        xdotool search --class trayer >/dev/null 2>&1 && break
        sleep 0.05
    done
fi

unset QT_QPA_PLATFORM
"$@"
