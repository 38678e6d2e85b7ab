#!/usr/bin/env bash
# The player KZW4 on a real desktop: its window shows the waveform, the time
# and the file's summary; a second player started while the first plays ends
# the first (one voice), Space pauses the second and Esc stops it.
set -euo pipefail

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$KALVERO_SHOTS"
# A runtime folder of its own: the one-voice socket of these players only.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=dummy

# 20 s of a tone that swells and fades (8000 Hz, mono, 16-bit WAV).
tone() {
    perl -e '
        my ($rate, $n) = (8000, 160000);
        print "RIFF", pack("V", 36 + 2 * $n), "WAVEfmt ", pack("VvvVVvv", 16, 1, 1, $rate, 2 * $rate, 2, 16);
        print "data", pack("V", 2 * $n);
        for my $i (0 .. $n - 1) {
            my $swell = sin(3.14159265 * $i / $n) * (0.6 + 0.4 * sin($i / 1500));
            print pack("s<", int(30000 * $swell * sin(2 * 3.14159265 * 220 * $i / $rate)));
        }' > "$1"
}
first="$work/first 'ü' tone.wav"
second="$work/second звук.wav"
tone "$first"
tone "$second"

wait_window() {
    local wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1 || true)
    [ -n "$wid" ] || { echo "no window named $1" >&2; exit 1; }
    echo "$wid"
}

"$KALVERO_BIN/KZW4" "$first::tzobrahuxelivmcg" &
a=$!
pids+=("$a")
wait_window "^first 'ü' tone\.wav - KZW4\$" >/dev/null
sleep 2   # the waveform fills in and the playhead moves on
import -window root "$KALVERO_SHOTS/e2e_player.png"
kill -0 "$a" || { echo "the first player ended by itself" >&2; exit 1; }

"$KALVERO_BIN/KZW4" "$second::tzobrahuxelivmcg" &
b=$!
pids+=("$b")
for _ in $(seq 1 50); do kill -0 "$a" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$a" 2>/dev/null; then echo "the second player did not stop the first" >&2; exit 1; fi
status=0
wait "$a" || status=$?
[ "$status" = 0 ] || { echo "the stopped first player exited with $status" >&2; exit 1; }

wid=$(wait_window "^second звук\.wav - KZW4\$")
for _ in $(seq 1 50); do [ "$(xdotool getactivewindow)" = "$wid" ] && break; sleep 0.1; done
xdotool key --window "$wid" space
sleep 0.5
kill -0 "$b" || { echo "Space ended the player instead of pausing it" >&2; exit 1; }
xdotool key --window "$wid" Escape
for _ in $(seq 1 50); do kill -0 "$b" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$b" 2>/dev/null; then echo "Esc did not stop the player" >&2; exit 1; fi
status=0
wait "$b" || status=$?
[ "$status" = 0 ] || { echo "the second player exited with $status" >&2; exit 1; }
echo "one voice at a time, Space pauses, Esc stops; screenshot $KALVERO_SHOTS/e2e_player.png"
