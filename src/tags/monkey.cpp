#include "tags/monkey.h"

#include "common/bytereader.h"
#include "tags/streamhead.h"

#include <cstdint>

namespace bw {

void TMonkey::Clear() {
    valid_ = false;
    fileSize_ = 0;
    version_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    samples_ = 0;
    id3v2_.Clear();
    apeTag_.Clear();
}

bool TMonkey::Load(const std::string& path) { return LoadFromPath(*this, path); }

bool TMonkey::Load(TTagSource& source) {
    Clear();
    const TStreamHead head = ReadStreamHead(source, &id3v2_, 6);
    apeTag_.Load(source);
    fileSize_ = static_cast<int64_t>(source.Size());
    const uint64_t start = head.Start;
    if (!head.Has(6))
        return false;
    TByteReader r(head.Bytes);
    std::vector<std::byte> buf;
    if (!r.Expect("MAC "))
        return false;
    version_ = r.U16LE();

    uint32_t totalFrames = 0, finalFrameBlocks = 0, blocksPerFrame = 0;
    if (version_ < 3980) {
        // The old header follows "MAC " and the version directly.
        if (!source.ReadExact(start + 6, 30, buf))
            return false;
        TByteReader h(buf);
        const uint16_t level = h.U16LE();
        const uint16_t flags = h.U16LE();
        channels_ = h.U16LE();
        sampleRate_ = h.S32LE();
        h.Skip(8); // WAV header bytes, terminating bytes
        totalFrames = h.U32LE();
        finalFrameBlocks = h.U32LE();
        bitsPerSample_ = (flags & 8) ? 24 : (flags & 1) ? 8 : 16;
        if (version_ >= 3950)
            blocksPerFrame = 73728 * 4;
        else if (version_ >= 3900 || (version_ >= 3800 && level == 4000))
            blocksPerFrame = 73728;
        else
            blocksPerFrame = 9216;
    } else {
        // A descriptor, then the header it gives the size of.
        if (!source.ReadExact(start + 6, 46, buf))
            return false;
        TByteReader d(buf);
        d.Skip(2); // padding
        const uint32_t descriptorBytes = d.U32LE();
        const uint32_t headerBytes = d.U32LE();
        const uint64_t headerPos = start + (descriptorBytes >= 52 ? descriptorBytes : 52);
        const size_t wanted = std::min<uint32_t>(headerBytes, 24);
        if (!source.ReadExact(headerPos, wanted, buf) || wanted < 24)
            return false;
        TByteReader h(buf);
        h.Skip(4); // compression level, format flags
        blocksPerFrame = h.U32LE();
        finalFrameBlocks = h.U32LE();
        totalFrames = h.U32LE();
        bitsPerSample_ = h.U16LE();
        channels_ = h.U16LE();
        sampleRate_ = h.S32LE();
    }
    // Both counts come from the file: a product past any real length means a damaged header.
    const uint64_t whole = totalFrames > 0 ? static_cast<uint64_t>(totalFrames - 1) * blocksPerFrame : 0;
    samples_ = totalFrames > 0 && whole <= static_cast<uint64_t>(INT64_MAX) - finalFrameBlocks
                   ? static_cast<int64_t>(whole + finalFrameBlocks)
                   : 0;
    valid_ = bitsPerSample_ > 0 && sampleRate_ > 0 && samples_ > 0 && channels_ > 0;
    return valid_;
}

} // namespace bw
