#include "tags/wavpackfile.h"

#include "common/bytereader.h"
#include "tags/streamhead.h"

#include <array>
#include <vector>

namespace bw {

namespace {
constexpr std::array<int32_t, 15> kSampleRates{6000,  8000,  9600,  11025, 12000,
                                               16000, 22050, 24000, 32000, 44100,
                                               48000, 64000, 88200, 96000, 192000};
constexpr int kMaxChunks = 10000;
constexpr size_t kBlockHeader = 32;
constexpr size_t kMaxBlockBytes = 1 << 20; // WavPack blocks are far smaller
constexpr uint8_t kIdChannelInfo = 0x0D;
constexpr uint8_t kIdSampleRate = 0x27;
constexpr uint8_t kIdUnique = 0x3F;   // the sub-block's kind, without the flags
constexpr uint8_t kIdOddSize = 0x40;  // the data is one byte shorter than its words
constexpr uint8_t kIdLarge = 0x80;    // the size takes three bytes

// What the first block's metadata adds to its header: the channel count of a file of more
// than two, and a sample rate outside the header's table (0 where it says nothing).
struct TBlockExtras {
    int Channels = 0;
    int32_t SampleRate = 0;
};

TBlockExtras FirstBlockExtras(TTagSource& source, uint32_t blockBytes) {
    TBlockExtras extras;
    std::vector<std::byte> block;
    if (blockBytes <= kBlockHeader || blockBytes > kMaxBlockBytes ||
        !source.ReadExact(0, blockBytes, block))
        return extras;
    TByteReader r(block);
    r.Seek(kBlockHeader);
    while (!r.AtEnd() && !r.Failed()) {
        const uint8_t id = r.U8();
        size_t words = r.U8();
        if (id & kIdLarge)
            words |= static_cast<size_t>(r.U16LE()) << 8;
        size_t bytes = words * 2;
        if ((id & kIdOddSize) && bytes > 0)
            --bytes;
        TByteReader data = r.Sub(words * 2);
        if (r.Failed())
            break;
        if ((id & kIdUnique) == kIdChannelInfo && bytes >= 1)
            extras.Channels = data.U8();
        else if ((id & kIdUnique) == kIdSampleRate && bytes >= 3)
            extras.SampleRate = static_cast<int32_t>(data.U24LE());
    }
    return extras;
}

} // namespace

void TWAVPackfile::Clear() {
    valid_ = false;
    fileSize_ = 0;
    version_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    samples_ = 0;
    apeTag_.Clear();
}

bool TWAVPackfile::Load(const std::string& path) { return LoadFromPath(*this, path); }

bool TWAVPackfile::Load(TTagSource& source) {
    Clear();
    apeTag_.Load(source);
    fileSize_ = static_cast<int64_t>(source.Size());
    const TStreamHead head = ReadStreamHead(source, nullptr, 4);
    if (!head.Has(4))
        return false;
    TByteReader m(head.Bytes);
    if (m.Expect("wvpk"))
        return ReadVersion4(source);
    m.Seek(0);
    if (m.Expect("RIFF"))
        return ReadVersion3(source);
    return false;
}

bool TWAVPackfile::ReadVersion4(TTagSource& source) {
    std::vector<std::byte> buf;
    if (!source.ReadExact(0, 32, buf))
        return false;
    TByteReader h(buf);
    h.Skip(4);
    const uint32_t blockSize = h.U32LE(); // the block's size less these first eight bytes
    version_ = h.U16LE() >> 8;
    h.Skip(2); // track and index numbers
    const uint32_t total = h.U32LE();
    h.Skip(8); // block index, samples in this block
    const uint32_t flags = h.U32LE();
    // All ones means the writer did not know the length.
    samples_ = total == 0xFFFFFFFFu ? 0 : total;
    channels_ = (flags & 4) ? 1 : 2;
    // Each block holds one or two channels; a file of more says how many in its first one.
    const TBlockExtras extras = FirstBlockExtras(source, blockSize + 8);
    if (extras.Channels > 2)
        channels_ = extras.Channels;
    bitsPerSample_ = static_cast<int>(((flags & 3) + 1) * 8);
    const uint32_t rateIndex = (flags >> 23) & 0x1F;
    // Index 15 is a rate of the writer's own, which the block's metadata holds.
    sampleRate_ = rateIndex < kSampleRates.size() ? kSampleRates[rateIndex]
                  : extras.SampleRate > 0        ? extras.SampleRate
                                                 : 44100;
    valid_ = true;
    return true;
}

bool TWAVPackfile::ReadVersion3(TTagSource& source) {
    std::vector<std::byte> buf;
    if (!source.ReadExact(0, 12, buf))
        return false;
    TByteReader riff(buf);
    riff.Skip(8);
    if (!riff.Expect("WAVE"))
        return false;
    uint64_t pos = 12;
    bool formatRead = false;
    for (int i = 0; i < kMaxChunks && pos < static_cast<uint64_t>(fileSize_); ++i) {
        if (!source.ReadExact(pos, 8, buf))
            break;
        TByteReader c(buf);
        const std::string id = c.Text(4);
        const uint32_t size = c.U32LE();
        if (size == 0)
            break;
        if (id == "fmt ") {
            if (size < 16 || !source.ReadExact(pos + 8, 16, buf))
                break;
            TByteReader f(buf);
            f.Skip(2);
            channels_ = f.U16LE();
            sampleRate_ = f.S32LE();
            f.Skip(6);
            bitsPerSample_ = f.U16LE();
            formatRead = true;
            valid_ = true;
            pos += 8 + static_cast<uint64_t>(size);
            continue;
        }
        if (id == "data" && formatRead) {
            if (!source.ReadExact(pos + 8, 36, buf))
                break;
            TByteReader d(buf);
            if (!d.Expect("wvpk"))
                break;
            d.Skip(4);
            version_ = d.U16LE();
            d.Skip(2); // bits
            const uint16_t flags = d.U16LE();
            d.Skip(2); // shift
            samples_ = d.U32LE();
            channels_ = (flags & 1) ? 1 : 2;
            if (sampleRate_ <= 0)
                sampleRate_ = 44100;
            break;
        }
        break;
    }
    return formatRead;
}

} // namespace bw
