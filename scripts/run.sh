#!/usr/bin/env bash
# Starts Kalvero. Without a display it runs on a virtual X server instead,
# saves a screenshot of the window once it is shown, and ends.
set -euo pipefail
program=$(realpath "$1")

# Without xdpyinfo (a program-only install) a display that is set is trusted.
if [ -n "${DISPLAY:-}" ] && { ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; }; then
    exec "$program"
fi

# `make install` brings no virtual desktop; `make run` does.
for tool in Xvfb xdpyinfo openbox trayer xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "No display found, and $tool for a virtual one is missing:" \
            "run scripts/install-deps.sh run (it installs Debian packages, as root or with sudo)." >&2
        exit 1
    }
done
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
