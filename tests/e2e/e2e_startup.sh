#!/usr/bin/env bash
# Starts the built program from a copy of its folder in a folder whose path
# holds blanks, checks the window's title and that the catalogue was created
# encrypted beside the executable, and saves a screenshot.
set -euo pipefail

work=$(mktemp -d)
app="$work/program folder with blanks"
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
pid=""
cp -r "$KALVERO_BIN" "$app"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$KALVERO_SHOTS"

cd /   # the program folder is the executable's, never the working directory
"$app/kalvero" &
pid=$!

wid=$(timeout 20 xdotool search --sync --name '^Kalvero 2\.1' | head -n 1)
title=$(xdotool getwindowname "$wid")
if [ "$title" != "Kalvero 2.1 - kalvero.example" ]; then
    echo "unexpected window title: '$title'" >&2
    exit 1
fi

# The catalogue exists beside the executable and is not a plain SQLite file.
for _ in $(seq 1 50); do [ -s "$app/Kalverodb.mdb" ] && break; sleep 0.1; done
[ -s "$app/Kalverodb.mdb" ] || { echo "no catalogue was created" >&2; exit 1; }
if head -c 15 "$app/Kalverodb.mdb" | grep >/dev/null "SQLite format 3"; then
    echo "the catalogue is not encrypted" >&2
    exit 1
fi
[ ! -e /Kalverodb.mdb ] || { echo "catalogue written to the working directory" >&2; exit 1; }
printf "PRAGMA key='4862vemo';\nPRAGMA cipher_compatibility=3;\nPRAGMA cipher_page_size=16384;\nselect count(*) from SoundData;\n" \
    | sqlcipher "$app/Kalverodb.mdb" | grep -x >/dev/null 0

sleep 0.5
import -window root "$KALVERO_SHOTS/e2e_startup.png"
kill -0 "$pid"   # still running
echo "window '$title' shown; screenshot $KALVERO_SHOTS/e2e_startup.png"
