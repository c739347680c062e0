#!/usr/bin/env bash
# Installs every Debian package Brindlewave needs to build, run and test, when missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libqt6svg6
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
    libsdl2-dev
    libcdio-dev libcdio-paranoia-dev libcdio-cdda-dev cd-paranoia libdiscid-dev
    libsoxr-dev libflac-dev libebur128-dev
    lame vorbis-tools flac musepack-tools opus-tools
    ffmpeg wavpack sox python3-mutagen shntool loudgain
    dosfstools mtools
    googletest libgtest-dev libbenchmark-dev libtag1-dev
    xvfb xauth x11-utils imagemagick desktop-file-utils xdg-utils
    dpkg-dev lintian appstream man-db
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
