#include "tags/mpegplus.h"

#include "common/bytereader.h"
#include "tags/streamhead.h"

#include <array>
#include <cmath>

namespace bw {

namespace {

constexpr std::array<int32_t, 4> kSampleRates{44100, 48000, 37800, 32000};
constexpr int kSamplesPerFrame = 1152;
constexpr int kMaxPackets = 64; // the stream header comes among the first few packets

} // namespace

void TMPEGplus::Clear() {
    valid_ = false;
    fileSize_ = 0;
    streamVersion_ = 0;
    channelMode_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    frames_ = 0;
    samples8_ = 0;
    streamBitRate_ = 0;
    id3v1_.Clear();
    id3v2_.Clear();
    apeTag_.Clear();
}

bool TMPEGplus::Load(const std::string& path) { return LoadFromPath(*this, path); }

bool TMPEGplus::Load(TTagSource& source) {
    Clear();
    const TStreamHead stream = ReadStreamHead(source, &id3v2_, 32);
    if (!stream.Has(32))
        return false;
    const uint64_t start = stream.Start;
    const std::vector<std::byte>& head = stream.Bytes;
    fileSize_ = static_cast<int64_t>(source.Size());
    TByteReader r(head);
    if (r.Expect("MPCK")) {
        if (ReadVersion8(source, start + 4)) {
            id3v1_.Load(source);
            apeTag_.Load(source);
        }
        return true;
    }
    auto byte = [&](size_t i) { return static_cast<uint8_t>(head[i]); };
    r.Seek(0);
    if (r.Expect("MP+") && (byte(3) & 0xFF) == 0x07)
        streamVersion_ = 7;
    else if (byte(0) == 'M' && byte(1) == 'P' && byte(2) == '+' && byte(3) == 0x17)
        streamVersion_ = 71;
    else {
        switch ((byte(1) >> 1) & 0x0F) {
        case 3: streamVersion_ = 4; break;
        case 7: streamVersion_ = 5; break;
        case 11: streamVersion_ = 6; break;
        default: return true; // not Musepack
        }
    }
    if (fileSize_ <= 0)
        return true;
    valid_ = true;
    sampleRate_ = kSampleRates[byte(10) & 3];
    if (streamVersion_ == 7 || streamVersion_ == 71)
        channelMode_ = (byte(11) & 0x40) ? 2 : 1;
    else
        channelMode_ = (byte(2) & 0x7F) ? 2 : 1;
    channels_ = 2;
    TByteReader w(head);
    w.Seek(4);
    const uint32_t frames = w.U32LE();
    frames_ = static_cast<int32_t>(streamVersion_ == 4 ? frames >> 16 : frames);
    w.Seek(0);
    const uint32_t word0 = w.U32LE();
    streamBitRate_ = (streamVersion_ == 4 || streamVersion_ == 5) ? static_cast<int>(word0 >> 23) : 0;
    id3v1_.Load(source);
    apeTag_.Load(source);
    return true;
}

bool TMPEGplus::ReadVersion8(TTagSource& source, uint64_t pos) {
    // Packets: a two-letter key, a size that counts the key and itself, then the payload.
    std::vector<std::byte> buf;
    for (int i = 0; i < kMaxPackets && pos < static_cast<uint64_t>(fileSize_); ++i) {
        if (!source.Read(pos, 64, buf))
            return false;
        TByteReader r(buf);
        const std::string key = r.Text(2);
        uint64_t size = 0;
        if (r.Failed() || !r.VarLen(size) || size < r.Pos())
            return false;
        if (key == "SH") {
            r.Skip(4); // CRC
            const uint8_t version = r.U8();
            uint64_t samples = 0, silence = 0;
            if (!r.VarLen(samples) || !r.VarLen(silence))
                return false;
            const uint8_t rateBands = r.U8();
            const uint8_t channelsMs = r.U8();
            if (r.Failed() || version != kStreamVersion8)
                return false;
            streamVersion_ = kStreamVersion8;
            sampleRate_ = kSampleRates[(rateBands >> 5) & 3];
            channels_ = (channelsMs >> 4) + 1;
            channelMode_ = (channelsMs & 0x08) ? 2 : 1;
            samples8_ = samples > silence ? static_cast<int64_t>(samples - silence) : 0;
            frames_ = static_cast<int32_t>(std::min<int64_t>(samples8_ / kSamplesPerFrame, INT32_MAX));
            valid_ = samples8_ > 0;
            return valid_;
        }
        if (key == "SE" || key == "AP")
            return false; // audio or the end came before a stream header
        pos += size;
    }
    return false;
}

int64_t TMPEGplus::Samples() const {
    if (streamVersion_ == kStreamVersion8)
        return samples8_;
    return frames_ > 0 ? static_cast<int64_t>(frames_) * kSamplesPerFrame : 0;
}

double TMPEGplus::Duration() const {
    return sampleRate_ > 0 ? static_cast<double>(Samples()) / sampleRate_ : 0;
}

int TMPEGplus::BitRate() const {
    if (streamBitRate_ != 0)
        return streamBitRate_;
    if (frames_ <= 0 && Samples() <= 0)
        return 0;
    const double duration = Duration();
    if (duration <= 0)
        return 0;
    int64_t audio = fileSize_ - (id3v2_.Present() ? id3v2_.Size() : 0) - apeTag_.Size();
    if (id3v1_.Present())
        audio -= 128;
    return static_cast<int>(std::lround(static_cast<double>(audio) * 8 / 1000.0 / duration));
}

} // namespace bw
