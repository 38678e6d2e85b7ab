#!/usr/bin/env bash
# Options > Always On Top on a real desktop (Xvfb + openbox), picked through
# the real menu: the window manager's _NET_WM_STATE gains and loses
# _NET_WM_STATE_ABOVE, the window stays above another one, its place and size
# do not change, "OnTop" in the per-user settings file holds the mark's text,
# nothing is written at start or at File > Exit, and a stored "True" puts the
# window on top at the next start.
set -euo pipefail
: "${KALVERO_BIN:?}" "${KALVERO_SHOTS:?}" "${DISPLAY:?}"

work=$(mktemp -d)
app_pid=""
other_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    if [ -n "$other_pid" ]; then kill "$other_pid" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "e2e_ontop: $*" >&2
    if [ -s "$work/log" ]; then sed 's/^/kalvero: /' "$work/log" >&2; fi
    exit 1
}

# Polls a command for up to ten seconds.
wait_until() {
    for _ in $(seq 1 100); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

cp -r "$KALVERO_BIN" "$work/prog"
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME" "$KALVERO_SHOTS"
conf="$XDG_CONFIG_HOME/Kalvero/Kalvero.conf"

main_window() { xdotool search --onlyvisible --name '^Kalvero 2\.1' 2>/dev/null | head -n 1; }

start_app() {
    "$work/prog/kalvero" >>"$work/log" 2>&1 &
    app_pid=$!
    timeout 20 xdotool search --sync --onlyvisible --name '^Kalvero 2\.1' >/dev/null ||
        fail "the window did not appear"
    wait_until is_normal || fail "the window manager did not take the window"
}

is_normal() {
    local wid
    wid=$(main_window)
    [ -n "$wid" ] && xprop -id "$wid" WM_STATE 2>/dev/null | grep >/dev/null 'window state: Normal'
}

has_above() { xprop -id "$(main_window)" _NET_WM_STATE 2>/dev/null | grep >/dev/null '_NET_WM_STATE_ABOVE'; }
lacks_above() {
    local state
    state=$(xprop -id "$(main_window)" _NET_WM_STATE 2>/dev/null) || return 1
    ! grep >/dev/null '_NET_WM_STATE_ABOVE' <<<"$state"
}

geometry() { xdotool getwindowgeometry "$(main_window)" 2>/dev/null | sed -n 's/^ *\(Position\|Geometry\): *//p' | tr '\n' ' '; }
geometry_is() { [ "$(geometry)" = "$1" ]; }

stored_ontop() { sed -n 's/^OnTop=//p' "$conf" 2>/dev/null; }
stored_is() { [ "$(stored_ontop)" = "$1" ]; }

# Menus open as windows of their own; the popup is the visible one that is
# not the main window.
popup_window() {
    local main
    main=$(main_window)
    for w in $(xdotool search --onlyvisible --class kalvero 2>/dev/null); do
        [ "$w" = "$main" ] && continue
        echo "$w"
        return 0
    done
    return 1
}

# Opens File with a click on its title, moves right to Options, and clicks
# its first item, "Always On Top".
pick_always_on_top() {
    local wid popup
    wid=$(main_window)
    xdotool mousemove --window "$wid" 12 9 click 1
    wait_until popup_window >/dev/null || fail "the File menu did not open"
    xdotool key Right
    sleep 0.3
    popup=$(popup_window) || fail "the Options menu did not open"
    xdotool mousemove --window "$popup" 60 11 click 1
    wait_until sh -c '! xdotool search --onlyvisible --class kalvero | grep -x >/dev/null "$0"' "$popup" ||
        fail "the Options menu stayed open"
}

# File > Exit through the menu; the program must end on its own.
exit_through_menu() {
    xdotool mousemove --window "$(main_window)" 12 9 click 1
    wait_until popup_window >/dev/null || fail "the File menu did not open"
    # Help, Import Folder..., Rescan Folders, Exit
    xdotool key --delay 100 Down Down Down Down Return
    wait_until sh -c '! kill -0 "$0" 2>/dev/null' "$app_pid" || fail "File > Exit did not end the program"
    wait "$app_pid" || fail "the program ended with an error"
    app_pid=""
}

# True when window $1's frame stands above window $2's in the stacking order.
stacked_above() {
    local order
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
    local upper lower i=0 pos_upper=-1 pos_lower=-1
    upper=$(printf '0x%x' "$1")
    lower=$(printf '0x%x' "$2")
    for w in $order; do
        [ "$((w))" = "$((upper))" ] && pos_upper=$i
        [ "$((w))" = "$((lower))" ] && pos_lower=$i
        i=$((i + 1))
    done
    [ "$pos_upper" -ge 0 ] && [ "$pos_lower" -ge 0 ] && [ "$pos_upper" -gt "$pos_lower" ]
}

# 1. First start with no settings, then File > Exit: nothing is written.
start_app
lacks_above || fail "the window starts on top with no settings stored"
exit_through_menu
[ ! -e "$conf" ] || fail "start-up or exit wrote $conf"
[ ! -e "$XDG_CONFIG_HOME/Kalvero" ] || fail "start-up or exit created $XDG_CONFIG_HOME/Kalvero"

# 2. Another window to stack against.
xmessage -name e2eother -geometry 400x200+250+250 "another window" &
other_pid=$!
timeout 20 xdotool search --sync --onlyvisible --classname e2eother >/dev/null ||
    fail "the other window did not appear"
other=$(xdotool search --onlyvisible --classname e2eother | head -n 1)

start_app
before=$(geometry)
[ -n "$before" ] || fail "no geometry for the window"

# 3. First pick: on top, stored as "True", same place and size.
pick_always_on_top
wait_until has_above || fail "_NET_WM_STATE_ABOVE missing after the first pick"
wait_until stored_is True || fail "OnTop holds '$(stored_ontop)' after the first pick, not True"
wait_until geometry_is "$before" || fail "geometry moved from '$before' to '$(geometry)'"
xdotool windowactivate --sync "$other" >/dev/null 2>&1 || true
wait_until stacked_above "$(main_window)" "$other" || fail "the other window covers the on-top window"
import -window root "$KALVERO_SHOTS/e2e_ontop_1_above.png"

# 4. Second pick: back among the others, stored as "False", same place and size.
xdotool windowactivate --sync "$(main_window)" >/dev/null 2>&1 || true
pick_always_on_top
wait_until lacks_above || fail "_NET_WM_STATE_ABOVE still there after the second pick"
wait_until stored_is False || fail "OnTop holds '$(stored_ontop)' after the second pick, not False"
wait_until geometry_is "$before" || fail "geometry moved from '$before' to '$(geometry)'"
xdotool windowactivate --sync "$other" >/dev/null 2>&1 || true
wait_until stacked_above "$other" "$(main_window)" || fail "the other window cannot cover the window any more"
import -window root "$KALVERO_SHOTS/e2e_ontop_2_normal.png"
grep -x >/dev/null '\[Options\]' "$conf" || fail "no [Options] group in $conf"

# 5. Third pick, then File > Exit: exit writes nothing; the next start is on top.
xdotool windowactivate --sync "$(main_window)" >/dev/null 2>&1 || true
pick_always_on_top
wait_until stored_is True || fail "OnTop holds '$(stored_ontop)' after the third pick, not True"
cp "$conf" "$work/conf.before-exit"
exit_through_menu
cmp -s "$conf" "$work/conf.before-exit" || fail "File > Exit changed $conf"

start_app
wait_until has_above || fail "a stored OnTop=True did not put the window on top at start"
import -window root "$KALVERO_SHOTS/e2e_ontop_3_restart.png"
exit_through_menu
cmp -s "$conf" "$work/conf.before-exit" || fail "start-up or exit changed $conf"
echo "e2e_ontop: passed"
