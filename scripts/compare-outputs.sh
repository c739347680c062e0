#!/usr/bin/env bash
# Converts one fixed set of sources to every target with two builds of the command-line tool
# and compares what they wrote: the same bytes, except Ogg Vorbis, whose serial numbers differ
# from run to run, where the decoded audio and the comments must be the same. For a change
# that must not change any output (a tidy-up):
#
#   bash scripts/compare-outputs.sh OLD/brindlewave-cli NEW/brindlewave-cli
#
# Exit status 0 when every output is the same.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OLD-CLI NEW-CLI" >&2; exit 2; }
old=$(realpath "$1") new=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/config"
export XDG_CONFIG_HOME="$work/config" # the built-in settings, not the user's

# The sources: each readable kind, tagged, two with a front cover, one at 22.05 kHz mono and
# one at 96 kHz 24-bit.
tone() { ffmpeg -v error -f lavfi -i "sine=frequency=$1:duration=3:sample_rate=$2" -ac "$3" "${@:4}"; }
ffmpeg -v error -f lavfi -i "testsrc=size=64x64:duration=1" -frames:v 1 "$work/cover.png"
tags=(-metadata title="Title é" -metadata artist="Artist" -metadata album="Album" -metadata date=2001
      -metadata genre=Rock -metadata track=3 -metadata comment="A comment")
tone 440 44100 2 "${tags[@]}" -c:a pcm_s16le "$work/src/wave.wav"
tone 523 44100 2 -i "$work/cover.png" -map 0 -map 1 "${tags[@]}" -c:a flac -c:v png \
    -disposition:v attached_pic "$work/src/lossless.flac"
tone 659 44100 2 -i "$work/cover.png" -map 0 -map 1 "${tags[@]}" -c:a libmp3lame -b:a 128k \
    -c:v png -disposition:v attached_pic -id3v2_version 3 "$work/src/mpeg.mp3"
tone 784 44100 2 "${tags[@]}" -c:a libvorbis -q:a 4 "$work/src/vorbis.ogg"
tone 880 44100 2 "${tags[@]}" -c:a wmav2 -b:a 128k "$work/src/windows.wma"
tone 330 22050 1 "${tags[@]}" -c:a pcm_s16le "$work/src/narrow.wav"
tone 220 96000 2 "${tags[@]}" -c:a flac -sample_fmt s32 "$work/src/deep.flac"
wavpack -q -y "$work/src/wave.wav" -o "$work/src/pack.wv"

status=0
for target in mp3 ogg wav wma flac ape mpc; do
    for side in old new; do
        cli=$old
        [ "$side" = new ] && cli=$new
        "$cli" convert --to "$target" --out "$work/$side/$target" --jobs 1 "$work/src/"* \
            > "$work/$side-$target.json" 2> "$work/$side-$target.err" || true
    done
    if ! cmp -s <(sed "s|$work/old|OUT|g" "$work/old-$target.json") \
                <(sed "s|$work/new|OUT|g" "$work/new-$target.json"); then
        echo "$target: the result lines differ"
        diff <(sed "s|$work/old|OUT|g" "$work/old-$target.json") \
             <(sed "s|$work/new|OUT|g" "$work/new-$target.json") || true
        status=1
    fi
    for a in "$work/old/$target"/*; do
        name=$(basename "$a") b="$work/new/$target/$(basename "$a")"
        if [ ! -f "$b" ]; then
            echo "$target: $name is missing from the new outputs"; status=1; continue
        fi
        if [ "$target" = ogg ]; then
            same=1
            cmp -s <(ffmpeg -v error -i "$a" -f s16le -) <(ffmpeg -v error -i "$b" -f s16le -) || same=0
            cmp -s <(ffprobe -v error -show_entries stream_tags:format_tags -of json "$a") \
                   <(ffprobe -v error -show_entries stream_tags:format_tags -of json "$b") || same=0
            [ $same -eq 1 ] || { echo "$target: $name decodes differently"; status=1; }
        elif ! cmp -s "$a" "$b"; then
            echo "$target: $name differs"; status=1
        fi
    done
    echo "$target: $(ls "$work/old/$target" | wc -l) outputs compared"
done
[ $status -eq 0 ] && echo "every output is the same"
exit $status
