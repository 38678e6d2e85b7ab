#!/usr/bin/env bash
# Auditioning on a real desktop: with "Play on Selection" ticked, Down three
# times from the list's first row plays the next three sounds in order: the
# first starts the player, the next two are handed to it, and its window
# never takes the focus from the list.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
app="$work/program folder"
pid=""
cleanup() {
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    [ -z "${player:-}" ] || kill "$player" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$1" >&2; exit 1; }
cp -r "$KALVERO_BIN" "$app"
mkdir -p "$KALVERO_SHOTS"
# The options of this run, and a runtime folder of its own: the one-voice
# socket of these players only.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Kalvero"
printf '[Options]\nPlayClickM=False\nPlaySoundonDoubleClickM=False\nPlayOnSelectionM=True\n' \
    >"$XDG_CONFIG_HOME/Kalvero/Kalvero.conf"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/played.raw"

# 20 s of a tone (8000 Hz, mono, 16-bit WAV), its pitch given.
tone() {
    perl -e '
        my ($rate, $n, $pitch) = (8000, 160000, $ARGV[0]);
        print "RIFF", pack("V", 36 + 2 * $n), "WAVEfmt ", pack("VvvVVvv", 16, 1, 1, $rate, 2 * $rate, 2, 16);
        print "data", pack("V", 2 * $n);
        for my $i (0 .. $n - 1) { print pack("s<", int(12000 * sin(2 * 3.14159265 * $pitch * $i / $rate))); }
        ' "$2" >"$1"
}
names=("one ü" "two 'quoted'" "three ёж" "four 音")
sql="BEGIN;"
for i in 0 1 2 3; do
    tone "$work/${names[$i]}.wav" $((220 + 110 * i))
    path=${work//\'/\'\'}/${names[$i]//\'/\'\'}.wav
    sql="$sql
INSERT INTO SoundData (NameData, FilePath, Category, DescriptionData)
VALUES ('Sound $((i + 1))', '$path', 'Audition', 'e2e');"
done

cd /
"$app/kalvero" &
pid=$!
main_window_ready "$app"
kill "$pid"
wait "$pid" 2>/dev/null || true
catalogue_sql "$app/Kalverodb.mdb" "$sql
COMMIT;" >/dev/null
[ "$(catalogue_sql "$app/Kalverodb.mdb" 'SELECT count(*) FROM SoundData;')" = 4 ] ||
    fail "the entries were not stored"

"$app/kalvero" &
pid=$!
main_window_ready "$app"

# The players of this program folder that run.
players() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(tr '\0' '\n' <"$p/cmdline" 2>/dev/null | head -n 1)" = "$app/KZW4" ] || continue
        grep -q ') Z' "$p/stat" 2>/dev/null || basename "$p"
    done
}
# Waits for the player's window to show the sound; prints its process.
heard() {
    local wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\\.wav - KZW4\$" | head -n 1 || true)
    [ -n "$wid" ] || fail "the player never showed \"$1.wav\""
    xdotool getwindowpid "$wid"
}
focused_on_list() {
    [ "$(xdotool getactivewindow)" = "$wid" ] || fail "the player took the focus from the list ($1)"
}

# The list has the focus, and its first row is current but not selected.
player=""
for i in 1 2 3; do
    xdotool key Down
    heard=$(heard "${names[$i]}")
    [ -n "$player" ] || player=$heard
    [ "$heard" = "$player" ] || fail "\"${names[$i]}\" was played by another player"
    # Long enough for the window manager to have given a new window the focus.
    sleep 0.5
    focused_on_list "after Down $i"
done
import -window root "$KALVERO_SHOTS/e2e_audition.png"
running=$(players | wc -l)
[ "$running" = 1 ] || fail "$running players run after three sounds, not one"
[ "$(players)" = "$player" ] || fail "the player that runs is not the one that played"
[ -s "$work/played.raw" ] || fail "nothing reached the sound device"
echo "Down three times: ${names[*]:1} in one player ($player);" \
    "screenshot $KALVERO_SHOTS/e2e_audition.png"
