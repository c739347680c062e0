#!/usr/bin/env bash
# Installs what is missing, builds Brindlewave and starts it; arguments are files to add.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
source scripts/buildenv.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${bw_launcher[@]}"
# Only what starts: the window and the resampler it runs; the tests and benches wait for
# scripts/test.sh.
cmake --build build --parallel "$(nproc)" --target brindlewave brindlewave-resample
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cmake --build build --parallel "$(nproc)" --target brindlewave-cli
    cat >&2 <<'MSG'
Brindlewave is built, but it is a desktop program and no display was found (neither
DISPLAY nor WAYLAND_DISPLAY is set). Start this command from a desktop session, or use the
command-line tool instead: build/bin/brindlewave-cli --help
MSG
    exit 1
fi
# Paths are taken relative to where the command was started.
cd "$OLDPWD"
exec "$(dirname "$0")/../build/bin/brindlewave" "$@"
