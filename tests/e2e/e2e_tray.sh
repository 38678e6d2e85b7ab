#!/usr/bin/env bash
# "Minimize" on a real desktop (Xvfb + openbox + trayer): the window is
# unmapped and the program's icon appears inside the tray host; a left press
# on the icon brings the window back where it was, a right press does the
# same and opens no menu; minimising twice leaves one icon. Then, with the
# tray host gone, "Minimize" minimises the window to the taskbar (iconic)
# instead of hiding it, and no icon is made.
set -euo pipefail
: "${KALVERO_BIN:?}" "${KALVERO_SHOTS:?}" "${DISPLAY:?}"

work=$(mktemp -d)
app_pid=""
cleanup() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    wait "$app_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "e2e_tray: $*" >&2
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

# The main window, mapped or not, found by its caption.
main_window() { xdotool search --name '^Kalvero 2\.1' 2>/dev/null | head -n 1; }
is_visible() { [ -n "$(xdotool search --onlyvisible --name '^Kalvero 2\.1' 2>/dev/null)" ]; }
is_hidden() { ! is_visible; }
wm_state() { xprop -id "$wid" WM_STATE 2>/dev/null | sed -n 's/.*window state: *//p'; }
is_normal() { [ "$(wm_state)" = Normal ]; }
is_iconic() { [ "$(wm_state)" = Iconic ]; }
geometry() { xwininfo -id "$wid" | sed -n 's/^ *\(Absolute upper-left [XY]\|Width\|Height\): *//p' | tr '\n' ' '; }
geometry_is() { [ "$(geometry)" = "$1" ]; }

start_app() {
    "$work/prog/kalvero" >>"$work/log" 2>&1 &
    app_pid=$!
    timeout 20 xdotool search --sync --onlyvisible --name '^Kalvero 2\.1' >/dev/null ||
        fail "the window did not appear"
    wid=$(main_window)
    wait_until is_normal || fail "the window manager did not take the window"
}

stop_app() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# "Minimize" (Comand8) stands at 528,32 px of the client area, 81 x 17 px,
# under the menu bar; the client area is 293 px high, the menu bar the rest.
click_minimize() {
    local height menu
    height=$(xwininfo -id "$wid" | sed -n 's/^ *Height: *//p')
    menu=$((height - 293))
    [ "$menu" -ge 0 ] || fail "the window is $height px high, less than its client area"
    xdotool mousemove --window "$wid" 568 $((menu + 40)) click 1
}

# Windows of this program sitting inside the tray host, one per line.
tray_icons() {
    for t in $(xdotool search --class trayer 2>/dev/null); do
        xwininfo -tree -id "$t" | sed -n 's/^ *\(0x[0-9a-f]*\) .*("kalvero" "Kalvero").*/\1/p'
    done | sort -u
}
icon_count_is() { [ "$(tray_icons | grep -c .)" = "$1" ]; }

# Presses mouse button $1 on the middle of the tray icon.
press_icon() {
    local icon x y w h
    icon=$(tray_icons | head -n 1)
    [ -n "$icon" ] || fail "no tray icon to press"
    x=$(xwininfo -id "$icon" | sed -n 's/^ *Absolute upper-left X: *//p')
    y=$(xwininfo -id "$icon" | sed -n 's/^ *Absolute upper-left Y: *//p')
    w=$(xwininfo -id "$icon" | sed -n 's/^ *Width: *//p')
    h=$(xwininfo -id "$icon" | sed -n 's/^ *Height: *//p')
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "$1"
}

# Visible windows of the program other than the main window and the icon.
other_windows() {
    local icon
    icon=$(tray_icons | head -n 1)
    for w in $(xdotool search --onlyvisible --class kalvero 2>/dev/null); do
        [ "$w" = "$wid" ] && continue
        [ -n "$icon" ] && [ "$((w))" = "$((icon))" ] && continue
        echo "$w"
    done
}

# The tray host that desktop.sh started, unless told there is none.
if [ "${KALVERO_NO_TRAY:-0}" != 1 ]; then
    [ -n "$(xdotool search --class trayer 2>/dev/null)" ] || fail "no tray host (trayer) is running"

    start_app
    icon_count_is 0 || fail "a tray icon exists before Minimize"
    before=$(geometry)

    # Minimize: unmapped, not iconic, and one icon in the tray.
    click_minimize
    wait_until is_hidden || fail "Minimize left the window visible"
    wait_until icon_count_is 1 || fail "no tray icon after Minimize (found: $(tray_icons | tr '\n' ' '))"
    is_iconic && fail "Minimize made the window iconic instead of hiding it"
    xwininfo -id "$wid" | grep >/dev/null 'Map State: IsUnMapped' || fail "the hidden window is still mapped"
    import -window root "$KALVERO_SHOTS/e2e_tray_1_hidden.png"

    # A left press on the icon: back, where it was.
    press_icon 1
    wait_until is_visible || fail "a left press on the icon did not show the window"
    wait_until is_normal || fail "the window came back in state '$(wm_state)'"
    wait_until geometry_is "$before" || fail "the window came back at '$(geometry)', not '$before'"
    import -window root "$KALVERO_SHOTS/e2e_tray_2_shown.png"

    # Minimize again: still one icon; a right press shows the window, no menu.
    click_minimize
    wait_until is_hidden || fail "the second Minimize left the window visible"
    sleep 0.5  # a second icon, if any, would dock now
    icon_count_is 1 || fail "$(tray_icons | grep -c .) tray icons after the second Minimize"
    press_icon 3
    wait_until is_visible || fail "a right press on the icon did not show the window"
    sleep 0.3
    [ -z "$(other_windows)" ] || fail "a right press on the icon opened a window: $(other_windows)"
    icon_count_is 1 || fail "the icon went away when the window came back"
    stop_app

    # Take the tray host away: the one desktop.sh started, a child of our parent.
    trayer_pid=$(pgrep -P "$PPID" -x trayer || true)
    [ -n "$trayer_pid" ] || fail "cannot find the trayer that desktop.sh started"
    kill "$trayer_pid"
    wait_until sh -c '[ -z "$(xdotool search --class trayer 2>/dev/null)" ]' ||
        fail "trayer did not go away"
fi

# No tray: Minimize minimises to the taskbar; no icon window is made.
start_app
click_minimize
wait_until is_iconic || fail "without a tray, Minimize left the window in state '$(wm_state)'"
xprop -id "$wid" _NET_WM_STATE | grep >/dev/null '_NET_WM_STATE_HIDDEN' ||
    fail "without a tray, the window manager does not show the window as minimised"
[ "$(xdotool search --class kalvero 2>/dev/null | grep -c .)" = 1 ] ||
    fail "without a tray, Minimize made more windows: $(xdotool search --class kalvero | tr '\n' ' ')"
import -window root "$KALVERO_SHOTS/e2e_tray_3_no_tray_minimised.png"
# The taskbar's way back still works.
xdotool windowactivate "$wid" >/dev/null 2>&1 || true
wait_until is_normal || fail "the minimised window could not be restored"
wait_until is_visible || fail "the restored window is not visible"
stop_app
echo "e2e_tray: passed"
