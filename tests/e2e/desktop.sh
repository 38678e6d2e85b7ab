#!/usr/bin/env bash
# Runs a command on a virtual desktop of its own: an X server (Xvfb), a window
# manager (openbox) and, unless KALVERO_NO_TRAY=1, a tray host (trayer).
# Everything started here is stopped when the command ends.
set -euo pipefail

pids=()
cleanup() {
    for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Take the first display number no other X server holds. Lock files can be
# missing (another mount namespace) while the number is still in use, so a
# server that does not come up moves on to the next number.
display=""
for n in $(seq 90 190); do
    [ -e "/tmp/.X$n-lock" ] && continue
    xdpyinfo -display ":$n" >/dev/null 2>&1 && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 1 100); do
        kill -0 "$xvfb" 2>/dev/null || break
        xdpyinfo -display ":$n" >/dev/null 2>&1 && { display=":$n"; break; }
        sleep 0.05
    done
    # Another server may have answered for the number ours failed to take.
    if [ -n "$display" ]; then sleep 0.2; kill -0 "$xvfb" 2>/dev/null || display=""; fi
    if [ -n "$display" ]; then pids+=("$xvfb"); break; fi
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
done
[ -n "$display" ] || { echo "desktop.sh: no X server could be started" >&2; exit 1; }
export DISPLAY="$display"

openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep >/dev/null window && break
    sleep 0.05
done
# The window manager announces itself before it manages windows: map a probe
# window and wait until it is framed, so the first window of a test is too.
xmessage -name kalvero-wm-probe -geometry +0+0 probe >/dev/null 2>&1 &
probe=$!
for _ in $(seq 1 100); do
    wid=$(xdotool search --classname kalvero-wm-probe 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && xprop -id "$wid" WM_STATE 2>/dev/null | grep >/dev/null 'Normal' && break
    sleep 0.05
done
kill "$probe" 2>/dev/null || true
wait "$probe" 2>/dev/null || true

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
