#include "tags/flacfile.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "tags/streamhead.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"
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

constexpr uint8_t kPictureBlock = 6;
constexpr uint8_t kPaddingBlock = 1;
constexpr uint8_t kCommentBlock = 4;

// How a walk over the metadata blocks ended: after the block marked last, where the visitor
// stopped it, at a header that could not be read, or after kMaxBlocks blocks.
enum class EWalkEnd { Last, Stopped, Unreadable, TooMany };

// Walks the metadata blocks whose first header stands at pos: visit(index, flags, length,
// headerPos) answers false to stop at that block. pos ends after the last block passed.
template <class TVisit>
EWalkEnd WalkBlocks(TTagSource& source, uint64_t& pos, TVisit visit) {
    std::vector<std::byte> head;
    for (int i = 0; i < kMaxBlocks; ++i) {
        if (!source.ReadExact(pos, 4, head))
            return EWalkEnd::Unreadable;
        TByteReader h(head);
        const uint8_t flags = h.U8();
        const uint32_t length = h.U24BE();
        if (!visit(i, flags, length, pos))
            return EWalkEnd::Stopped;
        pos += 4 + uint64_t{length};
        if (flags & 0x80)
            return EWalkEnd::Last;
    }
    return EWalkEnd::TooMany;
}

void PutU32BE(std::vector<std::byte>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::byte>((v >> shift) & 0xFF));
}

void PutText(std::vector<std::byte>& out, std::string_view s) {
    const auto b = AsBytes(s);
    out.insert(out.end(), b.begin(), b.end());
}

} // namespace

uint64_t PictureBlockSize(const TCoverArt& cover) {
    return 32 + cover.MimeType.size() + cover.Description.size() + cover.Data.size();
}

std::vector<std::byte> BuildPictureBlock(const TCoverArt& cover) {
    std::vector<std::byte> out;
    out.reserve(static_cast<size_t>(PictureBlockSize(cover)));
    PutU32BE(out, cover.PictureType);
    PutU32BE(out, static_cast<uint32_t>(cover.MimeType.size()));
    PutText(out, cover.MimeType);
    PutU32BE(out, static_cast<uint32_t>(cover.Description.size()));
    PutText(out, cover.Description);
    for (uint32_t v : {cover.Width, cover.Height, cover.Depth, cover.Colors})
        PutU32BE(out, v);
    PutU32BE(out, static_cast<uint32_t>(cover.Data.size()));
    out.insert(out.end(), cover.Data.begin(), cover.Data.end());
    return out;
}

std::optional<TCoverArt> ParsePictureBlock(std::span<const std::byte> block, std::string* why) {
    TByteReader r(block);
    TCoverArt cover;
    const uint32_t type = r.U32BE();
    cover.MimeType = AsciiLower(TrimControl(r.Text(r.U32BE())));
    cover.Description = Utf8OrLatin1(r.Text(r.U32BE()));
    cover.Width = r.U32BE();
    cover.Height = r.U32BE();
    cover.Depth = r.U32BE();
    cover.Colors = r.U32BE();
    const auto data = r.Bytes(r.U32BE());
    if (r.Failed() || type > 255) {
        SetPictureWhy(why, "a picture block's lengths run past its end");
        return std::nullopt;
    }
    cover.PictureType = static_cast<uint8_t>(type);
    cover.Data.assign(data.begin(), data.end());
    FillPictureMimeType(cover);
    return cover;
}

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
    release_ = {};
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
    if ((firstHeader & 0x80) == 0) {
        WalkBlocks(source, pos, [&](int, uint8_t flags, uint32_t length, uint64_t at) {
            const uint8_t type = flags & 0x7F;
            if (length == 0)
                return false;
            if (type == kInvalidBlock) {
                samples_ = 0;
                return false;
            }
            if (type == kVorbisCommentBlock)
                ReadComment(source, at + 4, length);
            // Every other block (padding, seek table, application, cue sheet, pictures and
            // the types defined later) is skipped by its length.
            return true;
        });
    }
    audioOffset_ = static_cast<int64_t>(pos);
    return true;
}

void TFLACfile::ReadComment(TTagSource& source, uint64_t pos, uint32_t length) {
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
    release_ = f.Release;
}

bool TFLACfile::Valid() const {
    return signature_ && channels_ > 0 && sampleRate_ > 0 && bitsPerSample_ > 0 && samples_ > 0;
}

double TFLACfile::Duration() const {
    return Valid() ? static_cast<double>(samples_) / sampleRate_ : 0;
}

void TFLACfile::ReadPictures(TTagSource& source, uint64_t streamStart, const TPictureOffer& offer,
                             std::string* why) {
    uint64_t pos = streamStart + 4;
    std::vector<std::byte> body;
    WalkBlocks(source, pos, [&](int, uint8_t flags, uint32_t length, uint64_t at) {
        if ((flags & 0x7F) != kPictureBlock)
            return true;
        if (!source.ReadExact(at + 4, length, body)) {
            SetPictureWhy(why, "a FLAC picture block runs past the end of the file");
            return false;
        }
        auto cover = ParsePictureBlock(body, why);
        return !(cover && offer(std::move(*cover)));
    });
}

namespace {

// The bytes a rewrite keeps in front of the metadata blocks: whatever precedes the stream
// (an ID3v2 tag) as it is, then the stream's marker; start is where the marker was.
bool ReadHeadUpToBlocks(TTagSource& source, const std::string& path, std::vector<std::byte>& head,
                        uint64_t& start, std::string& error) {
    TID3v2 id3;
    id3.Load(source);
    start = id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
    std::vector<std::byte> marker;
    if (!source.ReadExact(0, static_cast<size_t>(start), head) || !source.ReadExact(start, 4, marker) ||
        AsText(marker) != "fLaC") {
        error = "not a FLAC file: " + path;
        return false;
    }
    PutText(head, "fLaC");
    return true;
}

} // namespace

bool TFLACfile::WritePicture(const std::string& path, const TCoverArt& cover, bool fresh,
                             std::string& error) {
    TFileSource source;
    if (!OpenTagFile(path, source, error))
        return false;
    uint64_t start = 0;
    std::vector<std::byte> head;
    if (!ReadHeadUpToBlocks(source, path, head, start, error))
        return false;
    // Every block stays in its order but pictures of the same type, and the new picture goes
    // in front of the padding (or last), so the audio is copied behind it unchanged.
    std::vector<std::byte> picture;
    picture.push_back(std::byte{kPictureBlock});
    const std::vector<std::byte> body = BuildPictureBlock(cover);
    for (int shift = 16; shift >= 0; shift -= 8)
        picture.push_back(static_cast<std::byte>((body.size() >> shift) & 0xFF));
    picture.insert(picture.end(), body.begin(), body.end());
    std::vector<std::vector<std::byte>> blocks;
    uint64_t pos = start + 4;
    bool placed = false;
    const EWalkEnd end = WalkBlocks(source, pos, [&](int i, uint8_t flags, uint32_t length, uint64_t at) {
        std::vector<std::byte> block;
        if (!source.ReadExact(at, 4 + size_t{length}, block))
            return false;
        const uint8_t type = flags & 0x7F;
        if (type == kPictureBlock) {
            auto old = ParsePictureBlock(std::span(block).subspan(4), nullptr);
            if (old && old->PictureType == cover.PictureType)
                return true;
        }
        if (type == kPaddingBlock && !placed && i > 0) {
            blocks.push_back(picture);
            placed = true;
        }
        blocks.push_back(std::move(block));
        return true;
    });
    if (end != EWalkEnd::Last) {
        error = "the FLAC metadata of " + path + " is broken";
        return false;
    }
    if (!placed)
        blocks.push_back(picture);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto flags = static_cast<uint8_t>(blocks[i][0]) & 0x7F;
        blocks[i][0] = static_cast<std::byte>(flags | (i + 1 == blocks.size() ? 0x80 : 0));
        head.insert(head.end(), blocks[i].begin(), blocks[i].end());
    }
    return RebuildFileWithHead(path, head, pos, error, !fresh);
}

bool TFLACfile::WriteComments(const std::string& path,
                              std::span<const std::pair<std::string, std::string>> items,
                              std::string& error, bool fresh) {
    TFileSource source;
    if (!OpenTagFile(path, source, error))
        return false;
    uint64_t start = 0;
    std::vector<std::byte> head;
    if (!ReadHeadUpToBlocks(source, path, head, start, error))
        return false;
    std::vector<std::vector<std::byte>> blocks;
    bool placed = false, broken = false;
    uint64_t pos = start + 4;
    const EWalkEnd end =
        WalkBlocks(source, pos, [&](int, uint8_t flags, uint32_t length, uint64_t at) {
            std::vector<std::byte> block;
            if (!source.ReadExact(at, 4 + size_t{length}, block))
                return false;
            if ((flags & 0x7F) == kCommentBlock) {
                const auto comment =
                    ReplaceVorbisComments(AsText(std::span(block).subspan(4)), items);
                if (!comment || placed) {
                    broken = !comment;
                    return !broken; // a second comment block goes
                }
                block.resize(4);
                PutText(block, *comment);
                placed = true;
            }
            blocks.push_back(std::move(block));
            return true;
        });
    if (end != EWalkEnd::Last || broken || blocks.empty()) {
        error = "the FLAC metadata of " + path + " is broken";
        return false;
    }
    if (!placed) {
        std::vector<std::byte> block(4);
        block[0] = std::byte{kCommentBlock};
        PutText(block, *ReplaceVorbisComments(std::string_view("\0\0\0\0\0\0\0\0", 8), items));
        blocks.insert(blocks.begin() + 1, std::move(block));
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        const size_t length = blocks[i].size() - 4;
        if (length > kMaxFlacBlockBytes) {
            error = "the Vorbis comment of " + path + " is too large";
            return false;
        }
        const auto type = static_cast<uint8_t>(blocks[i][0]) & 0x7F;
        blocks[i][0] = static_cast<std::byte>(type | (i + 1 == blocks.size() ? 0x80 : 0));
        for (int k = 0; k < 3; ++k)
            blocks[i][1 + static_cast<size_t>(k)] =
                static_cast<std::byte>((length >> (16 - 8 * k)) & 0xFF);
        head.insert(head.end(), blocks[i].begin(), blocks[i].end());
    }
    return RebuildFileWithHead(path, head, pos, error, !fresh);
}

} // namespace bw
