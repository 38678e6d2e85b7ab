#!/usr/bin/env bash
# Installing for one user and removing again, into a temporary HOME, with the
# commands `make install` and `make uninstall` run. A folder the user cannot
# write is refused and nothing is installed; the launcher files pass the
# desktop's validators; the program started through ~/.local/bin/kalvero makes
# its catalogue beside the real executable, and kalvero-cli started through
# its link beside it uses that catalogue; installing again leaves that
# catalogue as it is; removing leaves the catalogue and nothing else.
set -euo pipefail

: "${KALVERO_BIN:?}"
build=$(realpath "$KALVERO_BIN/..")
source=$(realpath "$(dirname "$0")/../..")
work=$(mktemp -d)
running=""

cleanup() {
    if [ -n "$running" ]; then kill "$running" 2>/dev/null || true; fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "e2e_install: $*" >&2; exit 1; }

export HOME=$work/home
unset XDG_DATA_HOME XDG_CONFIG_HOME
mkdir -p "$HOME"
prefix=$HOME/.local/opt/kalvero
id=example.kalvero.Kalvero

install_to() { cmake --install "$build" --prefix "$1"; }
uninstall_from() {
    cmake -DPREFIX="$1" -DKALVERO_SETTINGS="$build/user-install/settings.cmake" \
        -P "$source/cmake/UserInstall.cmake"
}
# Every file and link under HOME, one a line, relative to it.
home_files() { (cd "$HOME" && find . \( -type f -o -type l \) -printf '%P\n' | sort); }

# A folder nobody may create, not even root: refused in plain words, nothing installed.
if install_to /proc/kalvero-install-test >"$work/refused.log" 2>&1; then
    fail "installing into /proc was not refused"
fi
grep -q "cannot be installed in /proc/kalvero-install-test: you cannot write there" \
    "$work/refused.log" || fail "no plain refusal: $(cat "$work/refused.log")"
[ -z "$(home_files)" ] || fail "a refused install left files: $(home_files)"

install_to "$prefix" >"$work/install.log" 2>&1 || fail "install failed: $(cat "$work/install.log")"

# Exactly the program folder's executables and the launcher's files.
expected=".local/bin/kalvero
.local/share/applications/$id.desktop
.local/share/metainfo/$id.metainfo.xml
.local/share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 32 48 64 128 256; do
    expected+=$'\n'".local/share/icons/hicolor/${size}x$size/apps/$id.png"
done
for program in kalvero KZW4 kalvero-cli; do
    [ -e "$KALVERO_BIN/$program" ] && expected+=$'\n'".local/opt/kalvero/$program"
done
expected+=$'\n'".local/bin/kalvero-cli"
[ "$(home_files)" = "$(sort <<<"$expected")" ] ||
    fail "installed files differ: $(diff <(sort <<<"$expected") <(home_files) || true)"
[ "$(readlink "$HOME/.local/bin/kalvero")" = "$prefix/kalvero" ] || fail "the link points elsewhere"
[ "$(readlink "$HOME/.local/bin/kalvero-cli")" = "$prefix/kalvero-cli" ] || fail "the tool's link too"
for size in 16 256; do
    [ "$(identify -format '%wx%h' "$HOME/.local/share/icons/hicolor/${size}x$size/apps/$id.png")" = \
        "${size}x$size" ] || fail "the $size pixel icon has the wrong size"
done

desktop-file-validate "$HOME/.local/share/applications/$id.desktop" ||
    fail "the desktop entry is not valid"
appstreamcli validate --no-net "$HOME/.local/share/metainfo/$id.metainfo.xml" >"$work/as.log" 2>&1 ||
    fail "the metainfo file is not valid: $(cat "$work/as.log")"
grep -qx "Exec=\"$prefix/kalvero\"" "$HOME/.local/share/applications/$id.desktop" ||
    fail "the launcher does not start the installed program"

# Started through the link from elsewhere, it makes its catalogue beside the
# real executable, not beside the link nor in the working folder.
mkdir "$work/elsewhere"
(cd "$work/elsewhere" && exec "$HOME/.local/bin/kalvero") >"$work/run.log" 2>&1 &
running=$!
for _ in $(seq 1 600); do
    [ -s "$prefix/Kalverodb.mdb" ] && break
    kill -0 "$running" 2>/dev/null || fail "the program ended: $(cat "$work/run.log")"
    sleep 0.1
done
[ -s "$prefix/Kalverodb.mdb" ] || fail "no catalogue beside the installed program"
sleep 0.5
kill "$running"
wait "$running" 2>/dev/null || true
running=""
# The tool through its link finds the same catalogue: without one it would fail.
(cd "$work/elsewhere" && "$HOME/.local/bin/kalvero-cli" missing) >"$work/cli.log" 2>&1 ||
    fail "kalvero-cli through its link failed: $(cat "$work/cli.log")"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "files made in the working folder"
[ ! -e "$HOME/.local/bin/Kalverodb.mdb" ] || fail "catalogue made beside the link"

# Installing again leaves the catalogue as it is.
catalogue=$(sha256sum <"$prefix/Kalverodb.mdb")
install_to "$prefix" >"$work/again.log" 2>&1 || fail "second install failed: $(cat "$work/again.log")"
[ "$(sha256sum <"$prefix/Kalverodb.mdb")" = "$catalogue" ] || fail "the install changed the catalogue"
grep -q "Kalverodb.mdb, was left as it was" "$work/again.log" || fail "no word about the catalogue"

# Removing keeps the catalogue, says where it stays, and leaves nothing else.
uninstall_from "$prefix" >"$work/uninstall.log" 2>&1 ||
    fail "uninstall failed: $(cat "$work/uninstall.log")"
grep -q "Its catalogue stays at $prefix/Kalverodb.mdb" "$work/uninstall.log" ||
    fail "uninstall does not say where the catalogue stays: $(cat "$work/uninstall.log")"
[ "$(home_files)" = ".local/opt/kalvero/Kalverodb.mdb" ] || fail "left after uninstall: $(home_files)"
[ "$(sha256sum <"$prefix/Kalverodb.mdb")" = "$catalogue" ] || fail "uninstall changed the catalogue"
[ -z "$(find "$HOME/.local/share/icons" -mindepth 2)" ] || fail "icon folders left behind"

echo "e2e_install: installed, started through the link, removed; the catalogue stays"
