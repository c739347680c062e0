#include "tags/wavfile.h"

#include "common/bytereader.h"
#include "tags/channeltext.h"
#include "tags/tagsource.h"

#include <algorithm>

namespace bw {

namespace {
constexpr int kMaxChunks = 10000; // a walk over more chunks than this is a hostile file
}

void TWAVfile::Clear() {
    valid_ = false;
    headerValid_ = false;
    dataWhole_ = false;
    formatTag_ = channels_ = blockAlign_ = bitsPerSample_ = 0;
    sampleRate_ = bytesPerSecond_ = 0;
    sampleCount_ = headerSize_ = fileSize_ = 0;
}

bool TWAVfile::Load(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return Load(source);
}

bool TWAVfile::Load(TTagSource& source) {
    Clear();
    std::vector<std::byte> head;
    if (!source.Read(0, 36, head))
        return false;
    TByteReader r(head);
    const bool riff = r.Expect("RIFF");
    const uint32_t riffSize = r.U32LE();
    const bool wave = r.Expect("WAVE");
    const bool fmt = r.Expect("fmt ");
    const uint32_t fmtSize = r.U32LE();
    formatTag_ = r.U16LE();
    channels_ = r.U16LE();
    sampleRate_ = r.S32LE();
    bytesPerSecond_ = r.S32LE();
    blockAlign_ = r.U16LE();
    bitsPerSample_ = r.U16LE();
    if (r.Failed() || !riff || !wave || !fmt || channels_ == 0) {
        Clear();
        return true;
    }
    const uint64_t size = source.Size();
    fileSize_ = static_cast<int64_t>(riffSize) + 8;

    // The audio is the "data" chunk, wherever it lies: many writers put a LIST or fact
    // chunk between "fmt " and "data", so the chunk right after "fmt " is not the data.
    uint64_t pos = 20 + static_cast<uint64_t>(fmtSize) + (fmtSize & 1);
    uint64_t dataSize = 0;
    bool found = false;
    std::vector<std::byte> chunk;
    for (int i = 0; i < kMaxChunks && pos < size; ++i) {
        if (!source.Read(pos, 8, chunk))
            return false;
        if (chunk.size() < 8)
            break;
        TByteReader c(chunk);
        const std::string id = c.Text(4);
        const uint32_t len = c.U32LE();
        if (id == "data") {
            // A size past the end of the file (a stream that was never finished, or a
            // writer that put the largest size) counts only what is there.
            dataSize = std::min<uint64_t>(len, size - (pos + 8));
            dataWhole_ = len != 0 && len != UINT32_MAX && dataSize == len;
            headerSize_ = static_cast<int64_t>(pos + 8);
            found = true;
            break;
        }
        pos += 8 + static_cast<uint64_t>(len) + (len & 1);
    }
    if (!found)
        headerSize_ = std::min<int64_t>(28 + static_cast<int64_t>(fmtSize), fileSize_);
    sampleCount_ = blockAlign_ > 0 ? static_cast<int64_t>(dataSize / blockAlign_) : 0;
    headerValid_ = true;
    valid_ = channels_ == 1 || channels_ == 2;
    return true;
}

double TWAVfile::Duration() const {
    if (!headerValid_)
        return 0;
    if (sampleCount_ > 0 && sampleRate_ > 0)
        return static_cast<double>(sampleCount_) / sampleRate_;
    if (bytesPerSecond_ > 0 && fileSize_ > headerSize_)
        return static_cast<double>(fileSize_ - headerSize_) / bytesPerSecond_;
    return 0;
}

std::string TWAVfile::ChannelModeText() const { return ChannelCountText(channels_); }

} // namespace bw
