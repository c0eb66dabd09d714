#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine bench need, when any is missing.
set -euo pipefail

packages=(
    cmake make googletest
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
    wine wine64
    xvfb xauth x11-apps imagemagick
    pulseaudio pulseaudio-utils
    fonts-ipafont-gothic fonts-liberation
    ffmpeg
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
