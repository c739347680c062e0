#!/usr/bin/env bash
# Takes a screenshot of the main window under a virtual X server (for the README and docs).
# Usage: scripts/screenshot.sh OUT.png [files to add...]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "$1"); shift
display=:$((90 + RANDOM % 9))
config=$(mktemp -d)
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$config"' EXIT
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=$display XDG_CONFIG_HOME=$config SDL_AUDIODRIVER=dummy build/bin/brindlewave "$@" &
app=$!
sleep 3
# The window without a window manager sits at its built-in place; crop to it.
DISPLAY=$display import -window root -crop 905x780+287+109 +repage "$out" || \
    DISPLAY=$display import -window root "$out"
echo "wrote $out"
