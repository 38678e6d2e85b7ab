# Helpers the end-to-end scripts share; a script sources this file.

# catalogue_sql FILE SQL: runs SQL on a catalogue file with the sqlcipher
# shell, in the catalogue's file format, and prints the rows as a|b|c.
catalogue_sql() {
    printf "PRAGMA key='4862vemo';\nPRAGMA cipher_compatibility=3;\nPRAGMA cipher_page_size=16384;\n.mode list\n.separator |\n%s\n" "$2" |
        sqlcipher -batch -noheader "$1" | { grep -vx ok || true; }
}

# wait_for SECONDS COMMAND...: waits until the command succeeds; fails when
# the time is up.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

# main_window_ready FOLDER: waits for the program's window and for its
# catalogue in FOLDER, activates the window, and sets wid, geometry, left and
# top (the window's place on the screen). The script defines fail.
main_window_ready() {
    wid=$(timeout 20 xdotool search --sync --name '^Kalvero 2\.1 - ' | head -n 1)
    [ -n "$wid" ] || fail "the window did not appear"
    wait_for 10 test -s "$1/Kalverodb.mdb" || fail "no catalogue was created"
    xdotool windowactivate --sync "$wid" 2>/dev/null || xdotool windowfocus --sync "$wid"
    geometry=$(xwininfo -id "$wid")
    left=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometry")
    top=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometry")
}
