#!/usr/bin/env bash
# Installs the Debian packages Kalvero needs, on Debian 12 (bookworm) or 13
# (trixie), for one of three uses:
#   scripts/install-deps.sh program   building and running the program (make install)
#   scripts/install-deps.sh run       that, and the virtual desktop a headless `make run` uses
#   scripts/install-deps.sh [test]    everything, the tests' tools too (make test)
# Idempotent: when everything is present it only checks and returns. Only
# apt-get needs root; it runs through sudo when the caller is not root.
set -euo pipefail

use=${1:-test}
packages=(
    build-essential cmake pkg-config make git ca-certificates
    qt6-base-dev libgl-dev
    libsqlcipher-dev libssl-dev
    libsndfile1-dev libebur128-dev libsdl2-dev libcsv-dev
    # what sound files say: MP3 lengths counted from the frames, Ogg FLAC for
    # the player (and the tests' Ogg FLAC files); TagLib is added below
    libmpg123-dev libflac-dev libogg-dev
    fonts-dejavu-core
    # the icon's PNGs at build time
    librsvg2-bin
)
# the virtual desktop that the end-to-end tests and a headless `make run` use
desktop=(xvfb xauth openbox trayer xdotool x11-utils imagemagick)
tests=(
    # catalogues written by another tool, and checks of the installed launcher files
    sqlcipher desktop-file-utils appstream
    # the fuzzer and sanitizer builds; clang's runtime package is named after
    # the release's clang version and is added below
    clang
)
case "$use" in
    program) ;;
    run) packages+=("${desktop[@]}") ;;
    test) packages+=("${desktop[@]}" "${tests[@]}") ;;
    *) echo "Usage: $0 [program|run|test]" >&2; exit 2 ;;
esac

. /etc/os-release
case "${ID:-}:${VERSION_ID:-}" in
    debian:12 | debian:13) ;;
    *) echo "Note: Kalvero's scripts are made for Debian 12 and 13; this is ${PRETTY_NAME:-unknown}." >&2 ;;
esac

# TagLib's development package is named for its major version: TagLib 1 on
# Debian 12, TagLib 2 on Debian 13.
case "${VERSION_ID:-}" in
    12) packages+=(libtag1-dev) ;;
    *) packages+=(libtag-dev) ;;
esac

is_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]
}

# libFuzzer and the sanitizer runtimes: libclang-rt-N-dev for the clang that
# the release's `clang` package depends on (14 on Debian 12, 19 on Debian 13).
clang_runtime() {
    [ "$use" = test ] || return 0
    local major
    major=$(dpkg-query -W -f='${Depends}' clang 2>/dev/null | grep -o 'clang-[0-9]\+' | head -n 1 |
        cut -d- -f2 || true)
    if [ -n "$major" ]; then echo "libclang-rt-$major-dev"; fi
}

missing=()
for p in "${packages[@]}"; do
    is_installed "$p" || missing+=("$p")
done
runtime=$(clang_runtime)
if [ ${#missing[@]} -eq 0 ] && { [ -z "$runtime" ] || is_installed "$runtime"; }; then exit 0; fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: apt-get needs root." >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
install() {
    echo "Installing: $*"
    $sudo apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || install "${missing[@]}"
runtime=$(clang_runtime)
if [ -n "$runtime" ] && ! is_installed "$runtime"; then install "$runtime"; fi
