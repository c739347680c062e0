#!/usr/bin/env bash
# Makes the screenshots in docs/screenshots under a virtual X server: the empty main window,
# the main window with a dozen files of different formats, the player playing one of them,
# the tag editor, and the settings dialog's tabs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/screenshots
mkdir -p "$out"
media=$(mktemp -d)
trap 'rm -rf "$media"' EXIT
tone() { ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=$2:duration=$3" -ac 2 "$media/$1.wav"; }
tone a 440 31; tone b 523 47; tone c 660 22; tone d 330 64
lame --quiet --tt "Morning Tide" --ta "Harbour Lights" --tl "Coastline" --tg Folk --tn 1 --ty 2019 "$media/a.wav" "$media/01 Morning Tide.mp3"
lame --quiet -V2 --tt "Salt Wind" --ta "Harbour Lights" --tl "Coastline" --tg Folk --tn 2 --ty 2019 "$media/b.wav" "$media/02 Salt Wind.mp3"
oggenc -Q -t "Night Ferry" -a "Harbour Lights" -l "Coastline" -G Folk -N 3 "$media/c.wav" -o "$media/03 Night Ferry.ogg"
flac -s -f -T "TITLE=Lighthouse" -T "ARTIST=Harbour Lights" -T "ALBUM=Coastline" -T "TRACKNUMBER=4" "$media/d.wav" -o "$media/04 Lighthouse.flac"
ffmpeg -nostdin -v error -y -i "$media/a.wav" -metadata title="Gull Song" -metadata artist="Mira Vale" -metadata album="Tidepools" "$media/Gull Song.wma"
wavpack -q -y "$media/b.wav" -o "$media/Breakwater.wv"
mpcenc --silent --overwrite --title "Drift" --artist "Mira Vale" "$media/c.wav" "$media/Drift.mpc"
ffmpeg -nostdin -v error -y -i "$media/d.wav" -c:a mp2 -b:a 192k "$media/Field Recording.mp2"
cp "$media/a.wav" "$media/Demo take.wav"
ffmpeg -nostdin -v error -y -i "$media/b.wav" -ac 1 -ar 22050 -c:a pcm_u8 "$media/Voice memo.wav"
lame --quiet -b 64 -m m --tt "Interview" --ta "Radio Archive" "$media/c.wav" "$media/Interview.mp3"
oggenc -Q -q 8 -t "Encore" -a "Mira Vale" "$media/d.wav" -o "$media/Encore.ogg"
files=("$media/01 Morning Tide.mp3" "$media/02 Salt Wind.mp3" "$media/03 Night Ferry.ogg"
       "$media/04 Lighthouse.flac" "$media/Gull Song.wma" "$media/Breakwater.wv" "$media/Drift.mpc"
       "$media/Field Recording.mp2" "$media/Demo take.wav" "$media/Voice memo.wav"
       "$media/Interview.mp3" "$media/Encore.ogg")
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$media"' EXIT
sleep 1
DISPLAY=$display SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb build/tests/app/bw_screenshots "$out" "${files[@]}"
bash scripts/screenshot.sh "$out/main-window.png"
echo "screenshots in $out"
