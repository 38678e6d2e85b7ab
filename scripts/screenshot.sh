#!/usr/bin/env bash
# Makes the README's picture, docs/kalvero-window.png: the window of a fresh
# copy of the program folder with a small catalogue and the search bar shown,
# on a virtual desktop. Usage: scripts/screenshot.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build}/bin")
[ -x "$bin/kalvero" ] || { echo "No program in $bin: build first (make build)." >&2; exit 1; }
shot=$PWD/docs/kalvero-window.png
mkdir -p docs

work=$(mktemp -d)
# The entries' sound files exist, so the list shows them as present.
sounds=$(mktemp -d "${TMPDIR:-/tmp}/Sounds.XXXXXX")
trap 'rm -rf "$work" "$sounds"' EXIT
touch "$sounds"/{dog-bark.wav,rain-roof.flac,door-slam.wav,cafe.ogg,thunder-far.wav,typewriter.wav}
cp -r "$bin" "$work/prog"
rm -f "$work/prog/Kalverodb.mdb"
mkdir -p "$work/config/Kalvero"
printf '[Options]\nShowSearchBar=True\n' >"$work/config/Kalvero/Kalvero.conf"
cat >"$work/entries.sql" <<SQL
PRAGMA key='4862vemo';
PRAGMA cipher_compatibility=3;
PRAGMA cipher_page_size=16384;
insert into SoundData (NameData, FilePath, Category, DescriptionData) values
    ('Dog bark', '$sounds/dog-bark.wav', 'Animals', 'Two short barks, close'),
    ('Rain on the roof', '$sounds/rain-roof.flac', 'Weather', 'Steady rain on tin'),
    ('Door slam', '$sounds/door-slam.wav', 'Foley', 'Heavy wooden door'),
    ('Café crowd', '$sounds/cafe.ogg', 'Ambience', 'Murmur, cups, a till'),
    ('Thunder, far', '$sounds/thunder-far.wav', 'Weather', 'Rolling, distant'),
    ('Typewriter', '$sounds/typewriter.wav', 'Foley', 'Keys and a bell');
SQL

KALVERO_NO_TRAY=1 XDG_CONFIG_HOME=$work/config tests/e2e/desktop.sh bash -c '
    set -euo pipefail
    prog=$1 shot=$2
    # The first start creates the catalogue; the entries go in between.
    "$prog/kalvero" >/dev/null 2>&1 & pid=$!
    for _ in $(seq 1 300); do [ -s "$prog/Kalverodb.mdb" ] && break; sleep 0.1; done
    sleep 1
    kill "$pid"; wait "$pid" 2>/dev/null || true
    sqlcipher -batch "$prog/Kalverodb.mdb" <"$3" >/dev/null
    "$prog/kalvero" >/dev/null 2>&1 & pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name "^Kalvero 2.1" |
        head -n 1)
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    sleep 1
    import -window "$window" "$shot"
    kill "$pid"; wait "$pid" 2>/dev/null || true
' _ "$work/prog" "$shot" "$work/entries.sql"
echo "Screenshot of the window: $shot"
