#!/usr/bin/env bash
# Adds an entry through the real window: "Add" with an empty "Sound File:" box
# is refused with a message box, then a name and a file typed into the panel
# are stored, exactly as typed, in the encrypted catalogue beside the program.
# The program runs with an empty environment (no locale set at all), as from a
# bare login: non-ASCII text is stored as typed, and a click on the new row
# plays a file whose name is not ASCII, in a player whose title shows it.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
# This script's own matching of non-ASCII titles needs a UTF-8 locale.
export LC_ALL=C.UTF-8

work=$(mktemp -d)
app="$work/program"
pid=""
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
cp -r "$KALVERO_BIN" "$app"
mkdir -p "$KALVERO_SHOTS"

fail() { import -window root "$KALVERO_SHOTS/e2e_add_failed.png" 2>/dev/null || true; echo "e2e_add: $*" >&2; exit 1; }

# Runs one query on the program's catalogue with the sqlcipher shell.
catalogue() { catalogue_sql "$app/Kalverodb.mdb" "$1"; }

mkdir -p "$work/home" "$work/sounds"
cd /
env -i HOME="$work/home" PATH="$PATH" TERM=dumb DISPLAY="$DISPLAY" SDL_AUDIODRIVER=dummy \
    "$app/kalvero" &
pid=$!

main_window_ready "$app"

# The window's client area is 10920 x 4395 twips (15 twips a pixel) under the
# menu bar, so the menu bar's height is what the window has beyond that.
width=$(awk '/^ *Width:/ {print $NF}' <<<"$geometry")
height=$(awk '/^ *Height:/ {print $NF}' <<<"$geometry")
[ "$width" -eq 728 ] || fail "window is $width pixels wide, not 728"
menubar=$((height - 293))
if [ "$menubar" -lt 10 ] || [ "$menubar" -gt 60 ]; then fail "unexpected window height $height"; fi

# A control's centre on the screen from its place in twips in the client area.
click_at() {  # left top width height (twips)
    local x=$((left + ($1 + $3 / 2) / 15))
    local y=$((top + menubar + ($2 + $4 / 2) / 15))
    xdotool mousemove --sync "$x" "$y" click 1
}
click_text1() { click_at $((840 + 120)) 120 1455 285; }
click_add() { click_at $((3840 + 120)) $((360 + 120)) 1215 255; }

# "Add" with nothing in the "Sound File:" box: a message box titled with the
# application's title, and nothing stored.
click_text1
xdotool type --delay 20 "no file"
click_add
box=$(timeout 10 xdotool search --sync --name '^Kalvero 2\.1$' | head -n 1) \
    || fail "no message box for an empty Sound File box"
import -window root "$KALVERO_SHOTS/e2e_add_refused.png"
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
no_box() { ! xdotool search --name '^Kalvero 2\.1$' >/dev/null 2>&1; }
wait_for 10 no_box || fail "the message box did not close"
[ "$(catalogue 'select count(*) from SoundData;')" = 0 ] || fail "an entry was stored without a file"

# The name box still holds "no file"; select it all and type over it.
name="O'Neil's  bell 100%_ Zoë звук 音"
file="$work/sounds/Zoë's звук.wav"
# 30 s of silence (8000 Hz, mono, 16-bit WAV) for the player.
{
    printf 'RIFF\xa4\x53\x07\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00'
    printf '\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00data\x00\x53\x07\x00'
    head -c 480000 /dev/zero
} > "$file"
click_text1
xdotool key --clearmodifiers ctrl+a
# Each letter the keyboard map lacks is typed through a spare key that is
# remapped for it and back; slow keys give the window time to read each map.
xdotool type --delay 120 "$name"
# Letters the keyboard map lacks are typed through a spare key remapped on the
# way; the window manager catches up with each new map, and a click made
# meanwhile can reach the window after keys typed later. So the focus moves
# to "Sound File:" by key (it comes before "Name:" in the tab order).
xdotool key --clearmodifiers shift+Tab
xdotool type --delay 120 "$file"
click_add

stored() { [ "$(catalogue 'select count(*) from SoundData;')" = 1 ]; }
wait_for 10 stored || fail "the entry did not reach the catalogue"
row=$(catalogue "select NameData, FilePath, Category, DescriptionData, typeof(Category) from SoundData;")
expected="$name|$file|||text"
[ "$row" = "$expected" ] || fail "stored '$row', expected '$expected'"

sleep 0.3  # let the reloaded list paint before the screenshot
import -window root "$KALVERO_SHOTS/e2e_add.png"
kill -0 "$pid" || fail "the program ended"
echo "entry stored as typed: $row"

# A click on the one row (the list starts 835 twips down, under its header)
# plays the file: "Play Sound on Click" is on by default.
click_at 2000 1270 0 0
player=$(timeout 20 xdotool search --sync --onlyvisible --name "^Zoë's звук\.wav - KZW4\$" | head -n 1) \
    || fail "no player window titled with the file's name"
[ -n "$player" ] || fail "no player window titled with the file's name"
import -window root "$KALVERO_SHOTS/e2e_add_played.png"
xdotool key --window "$player" Escape
echo "the player played $file; screenshots in $KALVERO_SHOTS"
