#!/usr/bin/env bash
# Installs the Debian 12 packages Kalvero needs to build, run and test.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential cmake pkg-config make git ca-certificates
    qt6-base-dev libgl-dev
    libsqlcipher-dev sqlcipher libssl-dev
    libsndfile1-dev libsdl2-dev libcsv-dev
    fonts-dejavu-core
    # the icon's PNGs at build time, and checks of the installed launcher files
    librsvg2-bin desktop-file-utils appstream
    # the virtual desktop that the end-to-end tests and a headless `make run` use
    xvfb xauth openbox trayer xdotool x11-utils imagemagick
    # the fuzzer and sanitizer builds
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install sudo: apt-get needs root." >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
