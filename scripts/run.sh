#!/usr/bin/env bash
# Installs what is missing, builds Brindlewave and starts it; arguments are files to add.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Brindlewave is a desktop program and needs a graphical session, but no display was found" >&2
    echo "(neither DISPLAY nor WAYLAND_DISPLAY is set). Start it from a desktop session, or use" >&2
    echo "build/src/cli/brindlewave-cli for the command line." >&2
    bash scripts/install-deps.sh >/dev/null
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build --parallel "$(nproc)" >/dev/null
    exit 1
fi
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"
exec build/src/app/brindlewave "$@"
