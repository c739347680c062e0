#include "encoders/outputcheck.h"

#include "audio/audiostream.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "tags/flacfile.h"
#include "tags/mpegaudio.h"
#include "tags/mpegplus.h"
#include "tags/oggvorbis.h"
#include "tags/wavpackfile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace bw {

namespace {

// Opus streams decode at this rate whatever the source's.
constexpr int kOpusRate = 48000;

// How far the recorded count may stray from what was fed, in samples at the output rate:
// one frame of the encoder. FLAC counts exactly what it was given.
uint64_t FrameTolerance(TTargetType target) {
    switch (target) {
    case TTargetType::Mp3: return 1152;
    case TTargetType::Ogg: return 2048; // a long Vorbis block's hop
    case TTargetType::Mpc: return 1152;
    case TTargetType::Opus: return kOpusRate / 1000; // 1 ms: Opus counts exactly at its own rate
    default: return 0;
    }
}

// The samples an Opus file holds at 48 kHz: its last page's granule position less the
// pre-skip its OpusHead packet states; -1 when either cannot be read.
int64_t OpusRecordedSamples(const std::string& path) {
    constexpr size_t kPageHeader = 27;
    const auto head = ReadFileRange(path, 0, kPageHeader + 1 + 19);
    if (!head || head->size() < kPageHeader + 1 + 19)
        return -1;
    // The first page holds the OpusHead packet alone, after the page's segment table.
    const auto segments = static_cast<uint8_t>((*head)[26]);
    const auto packet = ReadFileRange(path, kPageHeader + segments, 19);
    if (!packet || packet->size() < 19 || std::memcmp(head->data(), "OggS", 4) != 0 ||
        std::memcmp(packet->data(), "OpusHead", 8) != 0)
        return -1;
    TByteReader p(*packet);
    p.Seek(10);
    const uint16_t preSkip = p.U16LE();
    // The last page starts within the largest page's size of the end.
    constexpr uint64_t kMaxPage = 65307;
    const auto size = FileSizeOf(path);
    if (!size || *size < kPageHeader)
        return -1;
    const uint64_t from = *size > kMaxPage ? *size - kMaxPage : 0;
    const auto tail = ReadFileRange(path, from, static_cast<size_t>(*size - from));
    if (!tail)
        return -1;
    for (size_t at = tail->size() - kPageHeader + 1; at-- > 0;) {
        if (std::memcmp(tail->data() + at, "OggS", 4) != 0)
            continue;
        TByteReader t(*tail);
        t.Seek(at + 6);
        const auto granule = static_cast<int64_t>(t.U64LE());
        if (t.Failed() || granule < 0)
            continue;
        return std::max<int64_t>(granule - preSkip, 0);
    }
    return -1;
}

// The sample count the output's header records and the rate it records it at; count -1
// when there is none to read.
int64_t RecordedSamples(TTargetType target, const std::string& path, int& rate) {
    rate = 0;
    switch (target) {
    case TTargetType::Mp3: return Mp3RecordedSamples(path, &rate);
    case TTargetType::Ogg: {
        TOggVorbis ogg;
        if (!ogg.Load(path) || !ogg.Valid())
            return -1;
        rate = ogg.SampleRate();
        return ogg.Samples();
    }
    case TTargetType::Flac: {
        TFLACfile flac;
        if (!flac.Load(path) || !flac.Valid())
            return -1;
        rate = flac.SampleRate();
        return flac.Samples();
    }
    case TTargetType::Mpc: {
        TMPEGplus mpc;
        if (!mpc.Load(path) || !mpc.Valid())
            return -1;
        rate = mpc.SampleRate();
        return mpc.Samples();
    }
    case TTargetType::WavPack: {
        TWAVPackfile wv;
        if (!wv.Load(path) || !wv.Valid())
            return -1;
        rate = wv.SampleRate();
        return wv.Samples();
    }
    case TTargetType::Opus: {
        const int64_t samples = OpusRecordedSamples(path);
        rate = samples >= 0 ? kOpusRate : 0;
        return samples;
    }
    default: return -1;
    }
}

// A Musepack stream header states its length before the audio, so a file cut short
// still states it whole: its packets must reach the stream's end packet within the file,
// with as many audio packets as that length takes.
std::string CheckMpcPackets(const std::string& path) {
    const auto size = FileSizeOf(path);
    const auto magic = ReadFileRange(path, 0, 4);
    if (!size || !magic || magic->size() != 4 || std::memcmp(magic->data(), "MPCK", 4) != 0)
        return "it is not a Musepack stream";
    uint64_t samples = 0;
    uint64_t framesPerPacket = 0;
    uint64_t audioPackets = 0;
    // Each packet: a two-letter key, a size that counts the key and itself, the payload.
    for (uint64_t pos = 4; pos < *size;) {
        const auto head = ReadFileRange(path, pos, 32);
        if (!head)
            return "it cannot be read";
        TByteReader r(*head);
        const std::string key = r.Text(2);
        uint64_t packetSize = 0;
        if (!r.VarLen(packetSize) || packetSize < r.Pos() || packetSize > *size - pos)
            return "its packets run past its end";
        if (key == "SH") {
            r.Skip(5); // check sum, version
            uint64_t silence = 0;
            r.VarLen(samples);
            r.VarLen(silence);
            r.Skip(1);
            framesPerPacket = uint64_t{1} << (2 * (r.U8() & 7));
            samples += silence;
            if (r.Failed())
                return "its stream header cannot be read";
        } else if (key == "AP") {
            ++audioPackets;
        } else if (key == "SE") {
            const uint64_t perPacket = framesPerPacket * 1152;
            if (perPacket == 0 || audioPackets * perPacket < samples ||
                (audioPackets > 0 && (audioPackets - 1) * perPacket >= samples))
                return "it holds " + std::to_string(audioPackets) +
                       " audio packets where its header's length takes another number";
            return {};
        }
        pos += packetSize;
    }
    return "it has no end packet";
}

// Decodes the end of the file: it must decode, and (where the decoder can tell positions
// to the sample: exactPositions) reach where the audio fed in ends (expected sample frames,
// at the output's rate), and go at most longer frames past it. Empty when it does.
std::string CheckEndDecodes(const std::string& path, uint64_t expected, uint64_t tolerance,
                            bool exactPositions, uint64_t longer = UINT64_MAX) {
    TAudioError error = TAudioError::Ok;
    auto stream = TAudioStream::OpenFile(path, &error, TChannelPolicy::KeepAll);
    if (!stream)
        return "it cannot be decoded (error code " + std::to_string(static_cast<int>(error)) + ")";
    const TChannelInfo info = stream->Info();
    const auto blockAlign = static_cast<uint64_t>(info.BlockAlign());
    // Where positions are not exact (Musepack seeks only to its packets of 64 frames, 1.7 s
    // at 44.1 kHz, and the length the library estimates for it may fall short): go back far
    // enough, and leave the end to the format's own count.
    const auto window = static_cast<uint64_t>(info.SampleRate) * (exactPositions ? 1 : 4);
    uint64_t from = expected;
    if (!exactPositions && stream->LengthBytes() > 0)
        from = std::min(from, stream->LengthBytes() / blockAlign);
    if (from > window && !stream->Seek((from - window) * blockAlign))
        return "its end cannot be reached";
    std::vector<std::byte> block(64 * 1024);
    uint64_t decoded = 0;
    for (;;) {
        const int64_t n = stream->Read(block);
        if (n < 0)
            return "its last frames do not decode";
        if (n == 0)
            break;
        decoded += static_cast<uint64_t>(n);
    }
    const uint64_t end = stream->Position() / blockAlign;
    if (decoded == 0 || (exactPositions && (end + tolerance < expected ||
                                            (end > expected && end - expected > longer))))
        return "it decodes to " + std::to_string(end) + " of " + std::to_string(expected) +
               " samples";
    return {};
}

} // namespace

int64_t Mp3RecordedSamples(const std::string& path, int* rate) {
    TMPEGaudio mpeg;
    if (!mpeg.Load(path) || !mpeg.Valid())
        return -1;
    const TMPEGaudio::TFrame& f = mpeg.Frame();
    if (rate)
        *rate = TMPEGaudio::TableSampleRate(f);
    // Only Layer III files carry the header lame writes.
    if (f.LayerID != 1)
        return -1;
    const bool mpeg1 = f.VersionID == 3;
    const bool mono = f.ModeID == 3;
    const size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const auto bytes = ReadFileRange(path, static_cast<uint64_t>(f.Position), 4 + 2 + 32 + 200);
    if (!bytes || bytes->size() < 4)
        return -1;
    const bool crc = (static_cast<uint8_t>((*bytes)[1]) & 0x01) == 0;
    TByteReader r(*bytes);
    r.Skip(4 + (crc ? 2 : 0) + sideInfo);
    const size_t xingStart = r.Pos();
    const auto tag = r.Bytes(4);
    if (r.Failed() || (std::memcmp(tag.data(), "Xing", 4) != 0 &&
                       std::memcmp(tag.data(), "Info", 4) != 0))
        return -1;
    const uint32_t flags = r.U32BE();
    const uint32_t frames = r.U32BE();
    if (r.Failed() || !(flags & 0x1))
        return -1;
    const int64_t perFrame = mpeg1 ? 1152 : 576;
    int64_t samples = static_cast<int64_t>(frames) * perFrame;
    // The LAME extension follows the byte count, table of contents and quality, each where
    // its flag says it is there: encoder name (9), revision (1), low-pass (1), replay gain
    // (8), flags (1), bit rate (1), then 12 bits of delay and 12 of padding.
    r.Seek(xingStart + 12 + ((flags & 0x2) ? 4 : 0) + ((flags & 0x4) ? 100 : 0) +
           ((flags & 0x8) ? 4 : 0));
    const auto encoder = r.Bytes(4);
    r.Skip(21 - 4);
    const uint32_t delayPadding = r.U24BE();
    if (!r.Failed() && std::memcmp(encoder.data(), "LAME", 4) == 0)
        samples -= static_cast<int64_t>((delayPadding >> 12) + (delayPadding & 0xFFF));
    return std::max<int64_t>(samples, 0);
}

std::string CheckEncoderOutput(TTargetType target, const std::string& path, const TFedAudio& fed) {
    const auto size = FileSizeOf(path);
    if (!size)
        return "the encoder wrote no file";
    if (*size == 0)
        return "the encoder wrote an empty file";
    // The header's count where the format's reader takes the file; a very short output
    // (below a tenth of a second) or an MP3 whose first frame had no room for lame's header
    // has none to read, and its decoded end alone is checked.
    int rate = 0;
    const int64_t recorded = RecordedSamples(target, path, rate);
    if (rate <= 0) {
        TAudioError error = TAudioError::Ok;
        const auto stream = TAudioStream::OpenFile(path, &error, TChannelPolicy::KeepAll);
        if (!stream)
            return "it cannot be decoded (error code " + std::to_string(static_cast<int>(error)) +
                   ")";
        rate = stream->Info().SampleRate;
    }
    if (fed.SampleRate <= 0)
        return "no audio was given to it";
    // An encoder that resamples counts at its own rate.
    const auto expected = static_cast<uint64_t>(static_cast<unsigned __int128>(fed.Frames) *
                                                static_cast<unsigned>(rate) /
                                                static_cast<unsigned>(fed.SampleRate));
    const uint64_t tolerance = FrameTolerance(target) + (rate != fed.SampleRate ? 1 : 0);
    if (recorded >= 0) {
        const auto got = static_cast<uint64_t>(recorded);
        const uint64_t diff = got > expected ? got - expected : expected - got;
        if (diff > tolerance)
            return "it holds " + std::to_string(got) + " samples of the " +
                   std::to_string(expected) + " it was given";
    }
    if (target == TTargetType::Mpc)
        if (std::string bad = CheckMpcPackets(path); !bad.empty())
            return bad;
    return CheckEndDecodes(path, expected, tolerance, target != TTargetType::Mpc);
}

std::string CheckDecodedLength(const std::string& path, const TFedAudio& fed, uint64_t longer) {
    return CheckEndDecodes(path, fed.Frames, 0, true, longer);
}

} // namespace bw
