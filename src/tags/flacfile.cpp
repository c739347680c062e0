#include "tags/flacfile.h"

#include "common/bytereader.h"
#include "tags/streamhead.h"
#include "tags/vorbiscomment.h"

namespace bw {

namespace {

constexpr uint8_t kVorbisCommentBlock = 4;
constexpr uint8_t kInvalidBlock = 127;
constexpr size_t kCommentBytesKept = 64 * 1024; // a longer comment is cut, not refused
constexpr int kMaxBlocks = 100000;

// A metadata block's bytes, read from the file as they are needed.
class TBlockStream final : public TByteStream {
public:
    TBlockStream(TTagSource& source, uint64_t start, uint64_t length)
        : source_(source), pos_(start), end_(start + length) {}
    bool Read(size_t n, std::string& out) override {
        out.clear();
        if (n > end_ - pos_)
            return false;
        std::vector<std::byte> b;
        if (!source_.ReadExact(pos_, n, b))
            return false;
        out.assign(reinterpret_cast<const char*>(b.data()), b.size());
        pos_ += n;
        return true;
    }
    bool Skip(uint64_t n) override {
        if (n > end_ - pos_)
            return false;
        pos_ += n;
        return true;
    }

private:
    TTagSource& source_;
    uint64_t pos_;
    uint64_t end_;
};

} // namespace

void TFLACfile::Clear() {
    signature_ = false;
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    samples_ = 0;
    audioOffset_ = 0;
    id3v2_.Clear();
    trackText_.clear();
    title_.clear();
    artist_.clear();
    album_.clear();
    date_.clear();
    genre_.clear();
    comment_.clear();
}

bool TFLACfile::Load(const std::string& path) { return LoadFromPath(*this, path); }

bool TFLACfile::Load(TTagSource& source) {
    Clear();
    const TStreamHead stream = ReadStreamHead(source, &id3v2_, 42);
    if (!stream.TagRead)
        return false;
    fileSize_ = static_cast<int64_t>(source.Size());
    const uint64_t start = stream.Start;
    if (!stream.Read)
        return false;
    TByteReader r(stream.Bytes);
    signature_ = r.Expect("fLaC");
    const uint8_t firstHeader = r.U8();
    r.Skip(3);
    auto info = r.Sub(34);
    if (!signature_ || r.Failed())
        return true;
    info.Seek(10);
    const uint32_t b10 = info.U8(), b11 = info.U8(), b12 = info.U8(), b13 = info.U8();
    sampleRate_ = static_cast<int32_t>((b10 << 12) | (b11 << 4) | (b12 >> 4));
    channels_ = static_cast<int>(((b12 >> 1) & 7) + 1);
    bitsPerSample_ = static_cast<int>((((b12 & 1) << 4) | (b13 >> 4)) + 1);
    // The total is 36 bits: the low 4 bits of byte 13 and the 32 bits after it.
    samples_ = static_cast<int64_t>((static_cast<uint64_t>(b13 & 0x0F) << 32) | info.U32BE());

    uint64_t pos = start + 42;
    bool last = (firstHeader & 0x80) != 0;
    std::vector<std::byte> blockHead;
    for (int i = 0; !last && i < kMaxBlocks; ++i) {
        if (!source.ReadExact(pos, 4, blockHead))
            break;
        TByteReader h(blockHead);
        const uint8_t flags = h.U8();
        const uint32_t length = h.U24BE();
        last = (flags & 0x80) != 0;
        const uint8_t type = flags & 0x7F;
        if (length == 0)
            break;
        if (type == kInvalidBlock) {
            samples_ = 0;
            break;
        }
        pos += 4;
        if (type == kVorbisCommentBlock) {
            TBlockStream block(source, pos, length);
            TVorbisFields f;
            ReadVorbisComment(block, f, TCommentRule::FirstWins, kCommentBytesKept);
            title_ = f.Title;
            artist_ = f.Artist;
            album_ = f.Album;
            trackText_ = f.TrackText;
            date_ = f.Date;
            genre_ = f.Genre;
            comment_ = f.Comment;
        }
        // Every other block (padding, seek table, application, cue sheet, pictures and
        // the types defined later) is skipped by its length.
        pos += length;
    }
    audioOffset_ = static_cast<int64_t>(pos);
    return true;
}

bool TFLACfile::Valid() const {
    return signature_ && channels_ > 0 && sampleRate_ > 0 && bitsPerSample_ > 0 && samples_ > 0;
}

double TFLACfile::Duration() const {
    return Valid() ? static_cast<double>(samples_) / sampleRate_ : 0;
}

} // namespace bw
