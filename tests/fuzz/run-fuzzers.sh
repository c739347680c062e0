#!/usr/bin/env bash
# Builds the tag parsers' libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time on seed files made here with
# the real tools. Fails on any crash, sanitizer report, leak or time-out.
#   BW_FUZZ_BUILD_DIR  build folder (build-fuzz)
#   BW_FUZZ_SECONDS    seconds per target (20)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BW_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${BW_FUZZ_SECONDS:-20}
targets=(fuzz_id3v1 fuzz_id3v2 fuzz_apetag fuzz_mpegaudio fuzz_wavfile fuzz_wmafile fuzz_oggvorbis
         fuzz_flacfile fuzz_monkey fuzz_wavpackfile fuzz_mpegplus fuzz_cdatrack fuzz_cuesheet fuzz_covers fuzz_mp4tags
         fuzz_oggopus)

source scripts/buildenv.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${bw_launcher[@]}" \
    -DBW_BUILD_FUZZ=ON -DBW_BUILD_TESTS=ON -DBW_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seeds="$work/seeds"
mkdir -p "$seeds"

# Seed files: a short tone, tagged by mutagen and ffmpeg in each version and encoding, plus
# byte-built ID3v2.2 and Lyrics3 cases.
ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.05 -c:a libmp3lame -b:a 32k \
    -id3v2_version 0 -write_id3v1 0 -write_xing 0 -map_metadata -1 "$work/tone.mp3"
ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.05 -c:a libmp3lame -b:a 32k \
    -metadata title="Привет" -metadata artist="Café" -metadata track=3/9 "$seeds/ffmpeg-v24.mp3"
/usr/bin/python3 - "$work/tone.mp3" "$seeds" <<'PY'
import os, shutil, struct, sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TCON, COMM, APIC, TDRC, WXXX
from mutagen.apev2 import APEv2
tone, out = sys.argv[1], sys.argv[2]
def copy(name):
    path = os.path.join(out, name)
    shutil.copy(tone, path)
    return path
def frames():
    t = ID3()
    t.add(TIT2(encoding=1, text="Привет"))
    t.add(TPE1(encoding=3, text="Music \U0001F3B5"))
    t.add(TALB(encoding=0, text="Café"))
    t.add(TRCK(encoding=0, text="3/12"))
    t.add(TCON(encoding=0, text="(17)Rock"))
    t.add(TDRC(encoding=0, text="2020-01-02"))
    t.add(COMM(encoding=1, lang="eng", desc="d", text="comment"))
    t.add(WXXX(encoding=0, desc="", url="http://example.com/"))
    return t
t = frames(); t.save(copy("mutagen-v23.mp3"), v2_version=3)
t = frames(); t.add(APIC(encoding=3, mime="image/png", type=3, desc="", data=bytes(range(256)))); t.save(copy("mutagen-v24-cover.mp3"), v2_version=4)
t = frames(); t.save(copy("mutagen-v11.mp3"), v1=2); ID3(os.path.join(out, "mutagen-v11.mp3")).delete(delete_v1=False, delete_v2=True)
path = copy("mutagen-ape-v1.mp3")
a = APEv2(); a["Title"] = "Привет"; a["Artist"] = "Band"; a["Track"] = "4"; a.save(path)
t = frames(); t.save(path, v1=2); ID3(path).delete(delete_v1=False, delete_v2=True)
# ID3v2.2, byte for byte: mutagen cannot write it.
def f22(fid, body):
    return fid + struct.pack(">I", len(body))[1:] + body
body = f22(b"TT2", b"\x01\xff\xfeA\x00b\x00") + f22(b"TP1", b"\x00Caf\xe9") + f22(b"TRK", b"\x007") + bytes(20)
head = b"ID3\x02\x00\x00" + bytes([(len(body) >> 21) & 0x7F, (len(body) >> 14) & 0x7F, (len(body) >> 7) & 0x7F, len(body) & 0x7F])
open(os.path.join(out, "v22.mp3"), "wb").write(head + body + open(tone, "rb").read())
# A Lyrics3 v2.00 block in front of an ID3v1.1 record.
def field(fid, text):
    return fid + b"%05d" % len(text) + text
lyrics = b"LYRICSBEGIN" + field(b"IND", b"10") + field(b"ETT", b"A title longer than thirty characters") + field(b"LYR", b"la\rla")
lyrics += b"%06d" % len(lyrics) + b"LYRICS200"
record = b"TAG" + b"Title".ljust(30, b"\0") + b"Artist".ljust(30, b"\0") + b"Album".ljust(30, b"\0") + b"1999" + b"Comment".ljust(28, b"\0") + b"\x00\x05\x11"
open(os.path.join(out, "lyrics3.mp3"), "wb").write(open(tone, "rb").read() + lyrics + record)
PY

# Seeds for the stream readers: a short file of every format, made by the real encoders, and
# byte-built Monkey's Audio and CD track headers.
ffmpeg -nostdin -v error -f lavfi -i sine=duration=0.2 -ac 2 "$work/tone.wav"
cp "$work/tone.wav" "$seeds/tone.wav"
oggenc -Q -t Title "$work/tone.wav" -o "$seeds/tone.ogg"
flac -s -T TITLE=Title "$work/tone.wav" -o "$seeds/tone.flac"
ffmpeg -nostdin -v error -i "$work/tone.wav" -metadata title=Title "$seeds/tone.wma"
wavpack -q "$work/tone.wav" -o "$seeds/tone.wv"
mpcenc --silent --title Title "$work/tone.wav" "$seeds/tone.mpc"
opusenc --quiet --title Title "$work/tone.wav" "$seeds/tone.opus"
ffmpeg -nostdin -v error -i "$work/tone.wav" -c:a aac -metadata title=Title "$seeds/aac.m4a"
ffmpeg -nostdin -v error -i "$work/tone.wav" -c:a alac "$seeds/alac.m4a"
# The same files with a small picture in each one's own tag.
/usr/bin/python3 - "$seeds" <<'PY'
import base64, os, shutil, struct, sys, mutagen, mutagen.flac, mutagen.apev2, mutagen.asf
out = sys.argv[1]
img = b"\x89PNG\r\n\x1a\n" + bytes(range(40))
pic = mutagen.flac.Picture(); pic.type = 3; pic.mime = "image/png"; pic.desc = "d"; pic.data = img
for name in ("tone.flac", "tone.ogg", "tone.mpc", "tone.wma"):
    path = os.path.join(out, "cover-" + name)
    shutil.copy(os.path.join(out, name), path)
    if name.endswith(".flac"):
        f = mutagen.flac.FLAC(path); f.add_picture(pic); f.save()
    elif name.endswith(".ogg"):
        f = mutagen.File(path); f["metadata_block_picture"] = [base64.b64encode(pic.write()).decode()]; f.save()
    elif name.endswith(".mpc"):
        t = mutagen.apev2.APEv2(path); t["Cover Art (Front)"] = mutagen.apev2.APEValue(b"c.png\0" + img, mutagen.apev2.BINARY); t.save()
    else:
        f = mutagen.asf.ASF(path)
        v = struct.pack("<bI", 3, len(img)) + "image/png".encode("utf-16-le") + b"\0\0" + b"\0\0" + img
        f["WM/Picture"] = [mutagen.asf.ASFByteArrayAttribute(v)]; f.save()
PY
/usr/bin/python3 - "$seeds" <<'PY'
import os, struct, sys
out = sys.argv[1]
desc = b"MAC " + struct.pack("<HHIIIIIII", 3990, 0, 52, 24, 0, 0, 0, 0, 0) + bytes(16)
head = struct.pack("<HHIIIHHI", 2000, 0, 73728, 100, 1, 16, 2, 44100)
open(os.path.join(out, "tone.ape"), "wb").write(desc + head + bytes(64))
old = b"MAC " + struct.pack("<HHHHIIIIII", 3970, 2000, 0, 2, 44100, 44, 0, 1, 100, 0)
open(os.path.join(out, "old.ape"), "wb").write(old + bytes(64))
cda = b"RIFF" + struct.pack("<I", 36) + b"CDDAfmt " + struct.pack("<IHHIII", 24, 1, 1, 0x1234, 150, 7500) + bytes(8)
open(os.path.join(out, "track.cda"), "wb").write(cda)
PY

# One target a core at a time; each writes its own log and leaves "failed" beside it when it
# found something.
fuzz() {
    local target=$1 corpus="$work/corpus-$1"
    mkdir -p "$corpus" "$work/artifacts-$target"
    cp "$seeds"/* "$corpus"/
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts-$target/" "$corpus" \
        >"$work/$target.log" 2>&1 || touch "$work/$target.failed"
}
running=0
for target in "${targets[@]}"; do
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz "$target" &
    running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do
    echo "== $target: ${seconds}s on $(ls "$seeds" | wc -l) seed files"
    if [ -e "$work/$target.failed" ]; then
        echo "$target failed:"
        tail -n 60 "$work/$target.log"
        mkdir -p "$build/fuzz-artifacts"
        cp "$work/artifacts-$target"/* "$build/fuzz-artifacts/" 2>/dev/null || true
        status=1
    else
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$target.log" || true
    fi
done
exit $status
