#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
source scripts/buildenv.sh
build=${BW_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${bw_launcher[@]}"
cmake --build "$build" --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
# The parsers' fuzz targets run first, for a bounded time each, so the test summary below is
# the last thing printed.
bash tests/fuzz/run-fuzzers.sh
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
