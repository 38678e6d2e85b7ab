#!/usr/bin/env bash
# Starts Kalvero. Without a display it runs on a virtual X server instead,
# saves a screenshot of the window once it is shown, and ends.
set -euo pipefail
program=$(realpath "$1")

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$program"
fi

shot="$(dirname "$program")/../screenshots/kalvero-run.png"
mkdir -p "$(dirname "$shot")"
shot=$(realpath -m "$shot")
echo "No display found: starting Kalvero on a virtual X server and saving a screenshot."
exec "$(dirname "$0")/../tests/e2e/desktop.sh" bash -c '
    "$1" & pid=$!
    for _ in $(seq 1 100); do
        xdotool search --name "^Kalvero 2.1" >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
    import -window root "$2"
    kill "$pid"
    echo "Screenshot of the window: $2"
' _ "$program" "$shot"
