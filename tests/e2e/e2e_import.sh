#!/usr/bin/env bash
# Imports a folder through the real window: File > Import Folder..., a folder
# typed into the folder picker, then the summary box; the sound files below
# the folder (hidden ones and other kinds left out) are in the catalogue with
# their names, folders and technical summaries, and are analysed in the
# background. Then a file is added to the folder and File > Rescan Folders
# brings it in.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
app="$work/program"
pid=""
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
cp -r "$KALVERO_BIN" "$app"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$KALVERO_SHOTS"

fail() { echo "e2e_import: $*" >&2; exit 1; }

catalogue() { catalogue_sql "$app/Kalverodb.mdb" "$1"; }

# A 16-bit mono WAV of four samples at 44100 Hz.
wav() { printf 'RIFF\x2c\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00data\x08\x00\x00\x00\x01\x00\x02\x00\x03\x00\x04\x00' >"$1"; }
sounds="$work/Sounds of O'Neil"
mkdir -p "$sounds/Doors" "$sounds/Rain drops" "$sounds/.cache"
wav "$sounds/Doors/slam.wav"
wav "$sounds/Doors/Creak 2.WAV"
wav "$sounds/Rain drops/light.wav"
wav "$sounds/.cache/hidden.wav"
echo notes >"$sounds/Doors/notes.txt"

cd /
"$app/kalvero" &
pid=$!
main_window_ready "$app"
# "File" is the menu bar's first title; its items: Help, Import Folder..., Exit.
# A busy machine can drop keys sent before the menu takes the keyboard, so a
# menu that opened no picker is closed and opened again.
picker=""
for attempt in 1 2 3; do
    xdotool mousemove --sync $((left + 15)) $((top + 8)) click 1
    sleep $((attempt))
    [ "$attempt" = 1 ] && import -window root "$KALVERO_SHOTS/e2e_import_menu.png"
    xdotool key --clearmodifiers --delay 150 Down Down Return
    picker=$(timeout 10 xdotool search --sync --name '^Import Folder$' | head -n 1) && break
    xdotool key --clearmodifiers Escape
done
[ -n "$picker" ] || fail "no folder picker after File > Import Folder..."
xdotool windowactivate --sync "$picker" 2>/dev/null || true
sleep 0.3
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 10 "$sounds"
xdotool key --clearmodifiers Return

summary_box() { box=$(xdotool search --name '^Kalvero 2\.1$' 2>/dev/null | head -n 1) && [ -n "$box" ]; }
wait_for 30 summary_box || fail "no summary after the import"
sleep 0.3
import -window root "$KALVERO_SHOTS/e2e_import_summary.png"
rows=$(catalogue "select NameData, FilePath, Category, DescriptionData from SoundData order by ID;")
expected="Creak 2|$sounds/Doors/Creak 2.WAV|Doors|WAV 44100 Hz 16-bit mono 0:00.00
slam|$sounds/Doors/slam.wav|Doors|WAV 44100 Hz 16-bit mono 0:00.00
light|$sounds/Rain drops/light.wav|Rain drops|WAV 44100 Hz 16-bit mono 0:00.00"
[ "$rows" = "$expected" ] || fail "stored:
$rows
expected:
$expected"
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
no_box() { ! xdotool search --name '^Kalvero 2\.1$' >/dev/null 2>&1; }
wait_for 10 no_box || fail "the summary did not close"
sleep 0.3
import -window root "$KALVERO_SHOTS/e2e_import.png"
kill -0 "$pid" || fail "the program ended"

analysed() { [ "$(catalogue "select count(*) from SoundFacts where AudioHash is not null;")" = 3 ]; }
wait_for 30 analysed || fail "the imported sounds were not analysed in the background"
sleep 0.5
import -window root "$KALVERO_SHOTS/e2e_import_analysed.png"

wav "$sounds/Doors/knock – 門.wav"
rescanned=""
for attempt in 1 2 3; do
    xdotool mousemove --sync $((left + 15)) $((top + 8)) click 1
    sleep $((attempt))
    xdotool key --clearmodifiers --delay 150 Down Down Down Return
    wait_for 30 summary_box && rescanned=1 && break
    xdotool key --clearmodifiers Escape
done
[ -n "$rescanned" ] || fail "no summary after File > Rescan Folders"
sleep 0.3
import -window root "$KALVERO_SHOTS/e2e_rescan_summary.png"
added=$(catalogue "select NameData, Category from SoundData where FilePath = '$(printf '%s' "$sounds" | sed "s/'/''/g")/Doors/knock – 門.wav';")
[ "$added" = "knock – 門|Doors" ] || fail "the rescan stored: '$added'"
[ "$(catalogue "select count(*) from SoundData;")" = 4 ] || fail "the rescan changed the count"
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
wait_for 10 no_box || fail "the rescan's summary did not close"
kill -0 "$pid" || fail "the program ended"
echo "imported 3 sound files through Import Folder..., analysed them, rescanned one more in; screenshots in $KALVERO_SHOTS"
