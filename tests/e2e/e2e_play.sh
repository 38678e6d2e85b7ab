#!/usr/bin/env bash
# A click on a row of the real window starts the player from the program's
# folder with exactly one argument, "<file path>::<access token>". The player
# here is a stand-in script that logs its arguments. Then the real player
# KZW4 on its own: its window takes the focus and Esc stops it.
set -euo pipefail

work=$(mktemp -d)
app="$work/program folder"
pid=""
stop_program() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        pid=""
    fi
}
trap 'stop_program; rm -rf "$work"' EXIT
cp -r "$KALVERO_BIN" "$app"
export XDG_CONFIG_HOME="$work/config"   # fresh options: "Play Sound on Click" is set
# A runtime folder of its own: a player running elsewhere must not take the
# sound the stand-in is started for.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$KALVERO_SHOTS"
log="$app/kzw4.log"

# The stand-in player: one line per start, the number of arguments and each
# argument in angle brackets.
rm -f "$app/KZW4"
cat > "$app/KZW4" <<'SCRIPT'
#!/bin/sh
line="$#"
for a in "$@"; do line="$line <$a>"; done
printf '%s\n' "$line" >> "$(dirname "$0")/kzw4.log"
SCRIPT
chmod 755 "$app/KZW4"

start_program() {
    cd /
    "$app/kalvero" &
    pid=$!
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kalvero 2\.1' | head -n 1)
    [ -n "$wid" ] || { echo "the window did not appear" >&2; exit 1; }
}

# First start creates the catalogue beside the executable.
start_program
for _ in $(seq 1 100); do [ -s "$app/Kalverodb.mdb" ] && break; sleep 0.1; done
[ -s "$app/Kalverodb.mdb" ] || { echo "no catalogue was created" >&2; exit 1; }
stop_program

# Enough entries to fill the list, so that a click in its middle meets a row.
# The paths hold blanks, quotes, "::", % and Cyrillic.
sql="PRAGMA key='4862vemo';
PRAGMA cipher_compatibility=3;
PRAGMA cipher_page_size=16384;
BEGIN;"
for n in $(seq 1 40); do
    sql="$sql
INSERT INTO SoundData (NameData, FilePath, Category, DescriptionData)
VALUES ('Sound $n', '/звуки/it''s \"sound\" $n::x 100%.wav', 'Test', 'e2e');"
done
sql="$sql
COMMIT;
SELECT count(*) FROM SoundData;"
count=$(printf '%s\n' "$sql" | sqlcipher "$app/Kalverodb.mdb" | tail -n 1)
[ "$count" = 40 ] || { echo "entries were not stored: '$count'" >&2; exit 1; }

start_program
[ ! -e "$log" ] || { echo "the player was started without a click" >&2; exit 1; }

# The list lies below the entry panel; its middle is well inside the rows.
xdotool mousemove --sync --window "$wid" 300 200
xdotool click 1

for _ in $(seq 1 100); do [ -s "$log" ] && break; sleep 0.1; done
[ -s "$log" ] || { echo "no player was started by the click" >&2; exit 1; }
import -window root "$KALVERO_SHOTS/e2e_play.png"

line=$(head -n 1 "$log")
if ! printf '%s\n' "$line" |
    grep -Eqx "1 </звуки/it's \"sound\" ([1-9]|[1-3][0-9]|40)::x 100%\.wav::tzobrahuxelivmcg>"; then
    echo "unexpected player command: $line" >&2
    exit 1
fi
lines=$(wc -l < "$log")
[ "$lines" = 1 ] || { echo "the player was started $lines times" >&2; cat "$log" >&2; exit 1; }
kill -0 "$pid"   # the program goes on without waiting for the player
echo "player started with: $line; screenshot $KALVERO_SHOTS/e2e_play.png"
stop_program

# The real player, on 30 s of silence (8000 Hz, mono, 16-bit WAV) that SDL's
# dummy device discards.
sound="$work/quiet 'ü'.wav"
{
    printf 'RIFF\xa4\x53\x07\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00'
    printf '\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00data\x00\x53\x07\x00'
    head -c 480000 /dev/zero
} > "$sound"
SDL_AUDIODRIVER=dummy "$KALVERO_BIN/KZW4" "$sound::tzobrahuxelivmcg" &
pid=$!
pwid=$(timeout 20 xdotool search --sync --onlyvisible --name "^quiet 'ü'\.wav - KZW4\$" | head -n 1)
[ -n "$pwid" ] || { echo "the player's window did not appear" >&2; exit 1; }
for _ in $(seq 1 50); do [ "$(xdotool getactivewindow)" = "$pwid" ] && break; sleep 0.1; done
[ "$(xdotool getactivewindow)" = "$pwid" ] || { echo "the player's window has no focus" >&2; exit 1; }
import -window root "$KALVERO_SHOTS/e2e_play_player.png"
kill -0 "$pid" || { echo "the player ended before Esc" >&2; exit 1; }
xdotool key --window "$pwid" Escape
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "Esc did not stop the player" >&2; exit 1; fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || { echo "the stopped player exited with $status" >&2; exit 1; }
echo "the player took the focus and stopped on Esc; screenshot $KALVERO_SHOTS/e2e_play_player.png"
