#include "tags/mpegaudio.h"

#include "common/bytereader.h"
#include "tags/tagsource.h"

#include <array>
#include <cmath>
#include <cstring>

namespace bw {

namespace {

// Bit rates in kbit/s by [MPEG 1 or not][layer: III, II, I][index], from ISO/IEC 11172-3
// and 13818-3; MPEG 2.5 uses the MPEG 2 rows.
constexpr int kBitRates[2][3][16] = {
    {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},     // L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},    // L2
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}, // L1
    },
    {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    },
};

constexpr int kSampleRates[4][4] = {
    {11025, 12000, 8000, 0}, // MPEG 2.5
    {0, 0, 0, 0},            // reserved
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
};

constexpr std::array<const char*, 5> kModeNames{"Stereo", "Joint Stereo", "Dual Channel", "Mono",
                                                "Unknown"};

constexpr uint8_t kMpeg1 = 3;
constexpr uint8_t kLayer1 = 3;
constexpr uint8_t kLayer2 = 2;
constexpr uint8_t kMono = 3;

uint8_t U(std::span<const std::byte> b, size_t i) { return static_cast<uint8_t>(b[i]); }

} // namespace

void TMPEGaudio::Clear() {
    fileSize_ = 0;
    id3v1_.Clear();
    id3v2_.Clear();
    vbr_ = TVBR{};
    frame_ = TFrame{};
    audioStart_ = 0;
    audioEnd_ = 0;
}

bool TMPEGaudio::IsFrameHeader(std::span<const std::byte> b) {
    if (b.size() < 4)
        return false;
    const uint8_t b0 = U(b, 0), b1 = U(b, 1), b2 = U(b, 2), b3 = U(b, 3);
    const int version = (b1 >> 3) & 3;
    const int layer = (b1 >> 1) & 3;
    const int rateIndex = (b2 >> 2) & 3;
    return b0 == 0xFF && b1 > 0xDF && version != 1 && layer != 0 &&
           b2 < 0xF0 && b2 > 0x0F && rateIndex != 3 && (b3 & 3) != 2;
}

TMPEGaudio::TFrame TMPEGaudio::DecodeHeader(std::span<const std::byte> b) {
    TFrame f;
    f.VersionID = (U(b, 1) >> 3) & 3;
    f.LayerID = (U(b, 1) >> 1) & 3;
    f.BitRateIndex = U(b, 2) >> 4;
    f.SampleRateIndex = (U(b, 2) >> 2) & 3;
    f.Padding = (U(b, 2) >> 1) & 1;
    f.ModeID = U(b, 3) >> 6;
    return f;
}

int TMPEGaudio::TableBitRate(const TFrame& f) {
    if (f.VersionID == 1 || f.LayerID == 0 || f.BitRateIndex > 15)
        return 0;
    return kBitRates[f.VersionID == kMpeg1 ? 0 : 1][f.LayerID - 1][f.BitRateIndex];
}

int TMPEGaudio::TableSampleRate(const TFrame& f) {
    return kSampleRates[f.VersionID & 3][f.SampleRateIndex & 3];
}

int TMPEGaudio::Coefficient(const TFrame& f) {
    if (f.LayerID == kLayer1)
        return 48;
    if (f.VersionID == kMpeg1 || f.LayerID == kLayer2)
        return 144;
    return 72;
}

int TMPEGaudio::SlotSize(const TFrame& f) { return f.LayerID == kLayer1 ? 4 : 1; }

int TMPEGaudio::PaddingSize(const TFrame& f) { return f.Padding ? SlotSize(f) : 0; }

int TMPEGaudio::FrameSize(const TFrame& f) {
    const int rate = TableSampleRate(f);
    if (rate <= 0)
        return 0;
    // A frame is a whole number of slots (ISO/IEC 11172-3, 2.4.3.1): the slot count is cut
    // before it is multiplied out, which matters for Layer I's 4-byte slots wherever the
    // rate does not divide evenly (44100 Hz and its halves).
    const int slot = SlotSize(f);
    const int64_t slots = int64_t{Coefficient(f) / slot} * TableBitRate(f) * 1000 / rate;
    return static_cast<int>((slots + (f.Padding ? 1 : 0)) * slot);
}

bool TMPEGaudio::SearchBlock(std::span<const std::byte> block) {
    if (block.empty())
        return false;
    const size_t n = block.size() - 1;
    if (n < kSearchReserve)
        return false;
    for (size_t k = 0; k <= n - kSearchReserve; ++k) {
        if (!IsFrameHeader(block.subspan(k, 4)))
            continue;
        const TFrame f = DecodeHeader(block.subspan(k, 4));
        const size_t size = static_cast<size_t>(FrameSize(f));
        // The next frame must start with a valid header too, inside this block.
        if (size == 0 || size > n - k || block.size() - (k + size) < 4 ||
            !IsFrameHeader(block.subspan(k + size, 4)))
            continue;
        frame_ = f;
        frame_.Found = true;
        frame_.Position = static_cast<int32_t>(k);
        frame_.Size = static_cast<uint16_t>(size);
        ReadVbrHeader(block, k);
        return true;
    }
    return false;
}

void TMPEGaudio::ReadVbrHeader(std::span<const std::byte> block, size_t frameOffset) {
    size_t offset;
    if (frame_.VersionID == kMpeg1)
        offset = frame_.ModeID != kMono ? 36 : 21;
    else
        offset = frame_.ModeID != kMono ? 21 : 13;
    TByteReader r(block);
    r.Seek(frameOffset + offset);
    if (r.Failed())
        return;
    TByteReader xing = r;
    if (xing.Expect("Xing")) {
        xing.Skip(4); // the flags word is not consulted
        const int32_t frames = static_cast<int32_t>(xing.U32BE());
        const int32_t bytes = static_cast<int32_t>(xing.U32BE());
        if (!xing.Failed()) {
            vbr_ = {true, frames, bytes};
        }
        return;
    }
    TByteReader vbri = r;
    if (vbri.Expect("VBRI")) {
        vbri.Skip(6);
        const int32_t bytes = static_cast<int32_t>(vbri.U32BE());
        const int32_t frames = static_cast<int32_t>(vbri.U32BE());
        if (!vbri.Failed())
            vbr_ = {true, frames, bytes};
    }
}

bool TMPEGaudio::Load(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return Load(source);
}

bool TMPEGaudio::Load(TTagSource& source) {
    Clear();
    if (!id3v2_.Load(source) || !id3v1_.Load(source)) {
        Clear();
        return true;
    }
    const uint64_t size = source.Size();
    fileSize_ = static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX));
    uint64_t blockStart = id3v2_.Present() ? static_cast<uint64_t>(std::max(id3v2_.Size(), 0)) : 0;
    std::vector<std::byte> block;
    // Blocks follow each other without overlap; a short block is the last one.
    while (blockStart < size) {
        if (!source.Read(blockStart, kBlockSize, block))
            return false;
        if (SearchBlock(block)) {
            frame_.Position += static_cast<int32_t>(blockStart);
            audioStart_ = frame_.Position;
            audioEnd_ = static_cast<int64_t>(size) - id3v1_.TotalSize();
            return true;
        }
        if (block.size() < kBlockSize)
            break;
        blockStart += kBlockSize;
    }
    Clear();
    return true;
}

int TMPEGaudio::SampleRate() const { return frame_.Found ? TableSampleRate(frame_) : 0; }

std::string TMPEGaudio::ChannelModeText() const { return kModeNames[std::min<int>(frame_.ModeID, 4)]; }

uint16_t TMPEGaudio::BitRate() const {
    if (!frame_.Found)
        return 0;
    if (!vbr_.Found || vbr_.Frames <= 0)
        return static_cast<uint16_t>(TableBitRate(frame_));
    const double perFrame = static_cast<double>(vbr_.Bytes) / vbr_.Frames - PaddingSize(frame_);
    const double kbps = perFrame * TableSampleRate(frame_) / Coefficient(frame_) / 1000.0;
    // Rounds half to even, like the rounding of the figures users compare against.
    const double r = std::nearbyint(kbps);
    return r < 0 || r > 65535 ? 0 : static_cast<uint16_t>(r);
}

double TMPEGaudio::Duration() const {
    if (!frame_.Found)
        return 0;
    const int rate = TableSampleRate(frame_);
    if (vbr_.Found && vbr_.Frames > 0)
        return rate > 0 ? static_cast<double>(vbr_.Frames) * 8 * Coefficient(frame_) / rate : 0;
    const int kbps = TableBitRate(frame_);
    if (kbps <= 0)
        return 0;
    return static_cast<double>(audioEnd_ - audioStart_) / kbps / 1000.0 * 8;
}

bool TMPEGaudio::Valid() const {
    const int rate = BitRate();
    return frame_.Found && rate >= 8 && rate <= 448 && Duration() >= 0.1;
}

} // namespace bw
