#include "tags/oggopus.h"

#include "common/bytereader.h"
#include "tags/oggpacket.h"
#include "tags/oggvorbis.h"
#include "tags/tagsource.h"
#include "tags/vorbiscomment.h"

#include <string_view>
#include <vector>

namespace bw {

namespace {

constexpr size_t kPageHeader = 27;
constexpr size_t kCommentBytesKept = 250;
constexpr size_t kOpusHeadSize = 19; // the fixed part, before any channel mapping table

} // namespace

bool TOggOpus::Load(const std::string& path) {
    *this = TOggOpus{};
    TFileSource source;
    return source.Open(path) && Load(source);
}

bool TOggOpus::Load(TTagSource& source) {
    *this = TOggOpus{};
    fileSize_ = static_cast<int64_t>(source.Size());

    // The identification header is the first page's only packet.
    std::vector<std::byte> head;
    if (!source.ReadExact(0, kPageHeader, head))
        return false;
    TByteReader page(head);
    if (!page.Expect("OggS"))
        return false;
    page.Seek(26);
    const uint64_t segments = page.U8();
    std::vector<std::byte> id;
    const uint64_t idPos = kPageHeader + segments;
    if (!source.ReadExact(idPos, kOpusHeadSize, id))
        return false;
    TByteReader r(id);
    if (!r.Expect("OpusHead"))
        return false;
    const uint8_t version = r.U8();
    channels_ = r.U8();
    const uint16_t preSkip = r.U16LE();
    inputRate_ = r.U32LE();
    // Versions 0..15 share this layout; a later major version need not.
    if (version > 15 || channels_ == 0) {
        *this = TOggOpus{};
        return false;
    }

    // The comment header starts on the page after the identification page.
    uint64_t body = 0;
    std::vector<std::byte> table;
    if (!source.ReadExact(kPageHeader, segments, table))
        return false;
    for (std::byte b : table)
        body += static_cast<uint8_t>(b);
    TOggPacketStream packet(source, idPos + body);
    std::string magic;
    if (packet.Read(8, magic) && magic == "OpusTags") {
        TVorbisFields f;
        ReadVorbisComment(packet, f, TCommentRule::LastWins, kCommentBytesKept);
        title_ = f.Title;
        artist_ = f.Artist.empty() ? f.Performer : f.Artist;
        album_ = f.Album;
        date_ = f.Date;
        genre_ = f.Genre;
        comment_ = f.Comment.empty() ? f.Description : f.Comment;
        trackText_ = f.TrackText;
        release_ = f.Release;
    }

    const int64_t granule = LastOggGranule(source, kMaxOggPage);
    samples_ = granule > preSkip ? granule - preSkip : 0;
    return true;
}

double TOggOpus::Duration() const {
    return static_cast<double>(samples_) / kDecodeRate;
}

int64_t TOggOpus::BitRate() const {
    const double d = Duration();
    return d > 0 ? static_cast<int64_t>(static_cast<double>(fileSize_) * 8 / d) : 0;
}

} // namespace bw
