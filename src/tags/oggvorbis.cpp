#include "tags/oggvorbis.h"

#include "common/bytereader.h"
#include "tags/channeltext.h"
#include "tags/oggpacket.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"
#include "tags/vorbiscomment.h"

#include <charconv>
#include <cmath>

namespace bw {

namespace {

constexpr size_t kPageHeader = 27;
constexpr size_t kCommentBytesKept = 250;
constexpr int kTailWindows = 50;  // how far from the end the last page is looked for
constexpr int kWindowStep = 241;

uint8_t TrackFrom(std::string_view text) {
    const auto slash = text.find('/');
    const std::string_view number = text.substr(0, slash);
    int v = 0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), v);
    if (number.empty() || res.ec != std::errc() || res.ptr != number.data() + number.size() || v < 0)
        return 0;
    return static_cast<uint8_t>(v);
}

} // namespace

void TOggVorbis::Clear() {
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = 0;
    nominalBitRate_ = 0;
    samples_ = 0;
    id3v2Size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    date_.clear();
    genre_.clear();
    comment_.clear();
    track_ = 0;
}

bool TOggVorbis::Load(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return Load(source);
}

bool TOggVorbis::Load(TTagSource& source) {
    Clear();
    fileSize_ = static_cast<int64_t>(source.Size());
    TID3v2 id3;
    if (id3.Load(source) && id3.Present() && id3.Size() > 0 && id3.Size() <= fileSize_)
        id3v2Size_ = id3.Size();

    std::vector<std::byte> head;
    const uint64_t start = static_cast<uint64_t>(id3v2Size_);
    if (!source.ReadExact(start, kPageHeader, head))
        return false;
    TByteReader page(head);
    if (!page.Expect("OggS"))
        return false;
    page.Seek(26);
    const uint8_t s1 = page.U8();

    // The identification header is the first page's only packet.
    const uint64_t idPos = start + kPageHeader + s1;
    std::vector<std::byte> id;
    if (!source.ReadExact(idPos, 30, id))
        return false;
    TByteReader r(id);
    if (r.U8() != 1 || !r.Expect("vorbis"))
        return false;
    r.Skip(4); // version
    channels_ = r.U8();
    sampleRate_ = r.S32LE();
    r.Skip(4); // maximum bit rate
    const int32_t nominal = r.S32LE();
    nominalBitRate_ = nominal > 0 ? static_cast<uint16_t>(std::lround(nominal / 1000.0)) : 0;

    ReadComment(source, idPos + 30);
    ReadSamples(source);
    return true;
}

bool TOggVorbis::ReadComment(TTagSource& source, uint64_t pageStart) {
    TOggPacketStream packet(source, pageStart);
    std::string kind;
    if (!packet.Read(7, kind) || kind != std::string("\x03vorbis", 7))
        return false;
    TVorbisFields f;
    const bool ok = ReadVorbisComment(packet, f, TCommentRule::LastWins, kCommentBytesKept);
    title_ = f.Title;
    artist_ = f.Artist.empty() ? f.Performer : f.Artist;
    album_ = f.Album;
    track_ = TrackFrom(f.TrackText);
    date_ = f.Date;
    genre_ = f.Genre;
    comment_ = f.Comment.empty() ? f.Description : f.Comment;
    return ok;
}

void TOggVorbis::ReadSamples(TTagSource& source) {
    // The last page's granule position is the stream's length in samples. Look for the
    // last "OggS" in windows stepping back from the end of the file.
    const int64_t size = fileSize_;
    std::vector<std::byte> window;
    for (int k = 1; k <= kTailWindows; ++k) {
        const int64_t from = size - (kWindowStep * k + 10);
        if (from < 0)
            break;
        if (!source.Read(static_cast<uint64_t>(from), 251, window))
            return;
        for (int off = std::min<int>(241, static_cast<int>(window.size()) - 4); off >= 0; --off) {
            TByteReader w(window);
            w.Seek(static_cast<size_t>(off));
            if (!w.Expect("OggS"))
                continue;
            std::vector<std::byte> head;
            if (!source.ReadExact(static_cast<uint64_t>(from + off), kPageHeader, head))
                return;
            TByteReader h(head);
            h.Seek(6);
            const int64_t granule = static_cast<int64_t>(h.U64LE());
            samples_ = granule > 0 ? granule : 0;
            return;
        }
    }
}

double TOggVorbis::Duration() const {
    if (samples_ > 0 && sampleRate_ > 0)
        return static_cast<double>(samples_) / sampleRate_;
    if (nominalBitRate_ > 0 && channels_ > 0)
        return static_cast<double>(fileSize_ - id3v2Size_) / nominalBitRate_ / channels_ / 125 * 2;
    return 0;
}

uint16_t TOggVorbis::BitRate() const {
    const double d = Duration();
    if (d <= 0)
        return 0;
    const double kbps = std::round(static_cast<double>(fileSize_ - id3v2Size_) / d / 125);
    return kbps > 65535 ? 65535 : static_cast<uint16_t>(kbps);
}

bool TOggVorbis::Valid() const { return (channels_ == 1 || channels_ == 2) && HeaderValid(); }

bool TOggVorbis::HeaderValid() const {
    return channels_ > 0 && sampleRate_ > 0 && Duration() > 0.1 && BitRate() != 0;
}

std::string TOggVorbis::ChannelModeText() const { return ChannelCountText(channels_); }

} // namespace bw
