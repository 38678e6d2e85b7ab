#!/usr/bin/env bash
# The search bar of the real program on a virtual desktop: "Auto Filter on
# Typing" ticked with a click, "dog" typed into the name box, and the list
# must come to show exactly the entries whose name holds it. The filtered list
# is compared, pixel for pixel, with the list of a second program folder whose
# catalogue holds only those entries, after the same clicks and keys. Rows
# dragged inside the list and let go there must leave the entry panel as it
# was and start no import. Afterwards the catalogue must be as it was, and
# the layout test that needs real window frames runs on this desktop.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

: "${KALVERO_BIN:?}" "${KALVERO_SHOTS:?}" "${KALVERO_TESTS_BIN:?}"
mkdir -p "$KALVERO_SHOTS"
work=$(mktemp -d)
running=""

cleanup() {
    if [ -n "$running" ]; then kill "$running" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "e2e_search: $*" >&2; exit 1; }

# A copy of the program folder with the search bar shown in its own settings.
make_folder() {
    local folder=$work/$1
    cp -r "$KALVERO_BIN" "$folder"
    rm -f "$folder/Kalverodb.mdb"
    mkdir -p "$work/config-$1/Kalvero"
    printf '[Options]\nShowSearchBar=True\n' >"$work/config-$1/Kalvero/Kalvero.conf"
    echo "$folder"
}

# Starts the program of a folder and sets $running and $window.
start_program() {
    XDG_CONFIG_HOME=$work/config-$1 "$work/$1/kalvero" >>"$work/$1.log" 2>&1 &
    running=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$running" --name '^Kalvero 2.1' |
        head -n 1) || fail "no window from $1: $(cat "$work/$1.log")"
    [ -n "$window" ] || fail "no window from $1"
}

stop_program() {
    kill -0 "$running" 2>/dev/null || fail "the program ended by itself: $(cat "$work/$1.log")"
    kill "$running"
    wait "$running" 2>/dev/null || true
    running=""
}

# Where the window's controls are, in pixels of the window: the client area
# lies below the menu bar, whose height is what the window has beyond the
# client's 4395 twips (293 pixels).
measure_window() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    menu=$((HEIGHT - 293))
    [ "$menu" -ge 10 ] && [ "$menu" -le 80 ] || fail "unexpected window height $HEIGHT"
    # Frameqq2 stands at 120,840 twips; Check1 at 8400,480 and Text5 at 240,480 in it.
    check_x=$(((120 + 8400) / 15 + 10)); check_y=$((menu + (840 + 480) / 15 + 8))
    name_x=$(((120 + 240) / 15 + 20)); name_y=$check_y
    # The list starts at 120,1795 twips; its header and first rows.
    list_crop="600x130+8+$((menu + 1795 / 15))"
}

list_shot() {
    import -window "$window" -crop "$list_crop" +repage "$1" 2>/dev/null
}

same_image() {
    [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" = 0 ]
}

# Ticks "Auto Filter on Typing" and types into the name box, as a user would.
tick_and_type() {
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool mousemove --window "$window" --sync "$check_x" "$check_y" click 1
    xdotool mousemove --window "$window" --sync "$name_x" "$name_y" click 1
    xdotool type --delay 120 "$1"
}

entries="
insert into SoundData values (1, 'Dog bark', '/s/dog.wav', 'Animals', 'woof');
insert into SoundData values (2, 'Rain on the roof', '/s/rain.wav', 'Weather', 'it''s wet');
insert into SoundData values (3, 'Hotdog stand', '/s/hotdog.wav', 'Food', 'sizzle');
insert into SoundData values (4, 'Door slam', '/s/door.wav', 'Foley', 'bang');
insert into SoundData values (5, 'Собака лает', '/s/собака.wav', 'Животные', 'гав');
insert into SoundData values (6, 'DOGMA talk', '/s/dogma.wav', 'Speech', 'words');"

# The program creates its catalogue at the first start; entries go in between.
for name in full dogs; do
    make_folder "$name" >/dev/null
    start_program "$name"
    stop_program "$name"
    [ -s "$work/$name/Kalverodb.mdb" ] || fail "no catalogue was created in $name"
done
catalogue_sql "$work/full/Kalverodb.mdb" "$entries"
catalogue_sql "$work/dogs/Kalverodb.mdb" "$(printf '%s\n' "$entries" | grep -E "\((1|3|6),")"
[ "$(catalogue_sql "$work/full/Kalverodb.mdb" 'select count(*) from SoundData;')" = 6 ] || fail "entries not stored"
[ "$(catalogue_sql "$work/dogs/Kalverodb.mdb" 'select count(*) from SoundData;')" = 3 ] || fail "entries not stored"
before=$(catalogue_sql "$work/full/Kalverodb.mdb" 'select * from SoundData order by ID;')

# The reference: only the entries with "dog" in their names, same clicks and keys.
start_program dogs
measure_window
tick_and_type dog
wait_for 10 list_shot "$work/dogs.png" || fail "no screenshot of the reference list"
# Its list is settled once two shots in a row agree.
settled() {
    list_shot "$work/dogs-again.png" || return 1
    same_image "$work/dogs.png" "$work/dogs-again.png" && return 0
    mv "$work/dogs-again.png" "$work/dogs.png"
    return 1
}
wait_for 10 settled || fail "the reference list does not settle"
reference_size="$WIDTH x $HEIGHT"
stop_program dogs

# The catalogue with all entries: everything is listed before typing...
start_program full
measure_window
[ "$WIDTH x $HEIGHT" = "$reference_size" ] || fail "windows differ in size: $WIDTH x $HEIGHT, $reference_size"
list_shot "$work/full-before.png"
import -window root "$KALVERO_SHOTS/e2e_search_before.png"
same_image "$work/full-before.png" "$work/dogs.png" && fail "the unfiltered list already looks filtered"

# ...and after "dog" typed with the box ticked, the list matches the reference.
tick_and_type dog
matches_reference() { list_shot "$work/full-after.png" && same_image "$work/full-after.png" "$work/dogs.png"; }
if ! wait_for 10 matches_reference; then
    import -window root "$KALVERO_SHOTS/e2e_search_filtered.png"
    cp "$work/full-after.png" "$KALVERO_SHOTS/e2e_search_list.png"
    cp "$work/dogs.png" "$KALVERO_SHOTS/e2e_search_expected_list.png"
    fail "the filtered list does not show the entries named with dog (see $KALVERO_SHOTS)"
fi
import -window root "$KALVERO_SHOTS/e2e_search_filtered.png"

# Rows dragged inside the list and let go there are no drop of files: one row
# would fill "Sound File:", several would start an import.
panel_shot() { import -window "$window" -crop "713x41+8+$((menu + 8))" +repage "$1" 2>/dev/null; }
panel_shot "$work/panel-before.png"
for keys in Escape ctrl+a; do  # the first row, then every row
    xdotool key --clearmodifiers "$keys" mousemove --window "$window" --sync 140 $((menu + 149)) \
        mousedown 1 sleep 0.1 mousemove_relative 0 10 sleep 0.1 mousemove_relative 0 10 \
        sleep 0.1 mouseup 1 sleep 0.5
done
import -window root "$KALVERO_SHOTS/e2e_search_dragged.png"
! xdotool search --name '^(Kalvero 2\.1|Importing Sound Files)$' >/dev/null 2>&1 ||
    fail "dragged rows started an import"
panel_shot "$work/panel-after.png"
same_image "$work/panel-before.png" "$work/panel-after.png" || fail "a dragged row changed the entry panel"
stop_program full

# Filtering and dragging rows changed nothing in the catalogue.
[ "$(catalogue_sql "$work/full/Kalverodb.mdb" 'select * from SoundData order by ID;')" = "$before" ] ||
    fail "the catalogue changed"

# The list's size counts the frame the window manager draws around the window.
(cd "$work" && XDG_RUNTIME_DIR=$work "$KALVERO_TESTS_BIN/tst_layout" framedWindowCountsTheFrame) ||
    fail "the list does not follow the framed window"

echo "e2e_search: filtered list as expected"
