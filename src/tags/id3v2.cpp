#include "tags/id3v2.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <algorithm>

namespace bw {

namespace {

// Frame identifiers by slot: versions 2.3 and 2.4, then version 2.2. Slots 12 to 15 are
// read-only fall-backs for year, artist, title and album.
constexpr std::array<std::string_view, TID3v2::kSlotCount> kIds3 = {
    "TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON", "COMM", "TCOM",
    "TENC", "TCOP", "TLAN", "WXXX", "TDRC", "TOPE", "TIT1", "TOAL"};
constexpr std::array<std::string_view, TID3v2::kSlotCount> kIds2 = {
    "TT2", "TP1", "TAL", "TRK", "TYE", "TCO", "COM", "TCM",
    "TEN", "TCR", "TLA", "WXX", "TOR", "TOA", "TT1", "TOT"};
enum ESlot { kTitle, kArtist, kAlbum, kTrack, kYear, kGenre, kComment, kComposer, kEncoder,
             kCopyright, kLanguage, kLink, kYearFallback, kArtistFallback, kTitleFallback,
             kAlbumFallback };
constexpr int kWrittenSlots = 12;

constexpr uint8_t kLatin1 = 0, kUtf16Bom = 1, kUtf16BE = 2, kUtf8 = 3;
constexpr uint32_t kMaxSyncSafe = (1u << 28) - 1;

uint32_t SyncSafe(uint32_t v) {
    return ((v >> 24) & 0xFF) << 21 | ((v >> 16) & 0xFF) << 14 | ((v >> 8) & 0xFF) << 7 | (v & 0xFF);
}

void PutSyncSafe(std::vector<std::byte>& out, uint32_t v) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<std::byte>((v >> shift) & 0x7F));
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// True when every byte from begin up to end is zero; false also when they cannot be read.
bool AllZero(TTagSource& source, uint64_t begin, uint64_t end) {
    constexpr size_t kChunk = 4096;
    std::vector<std::byte> buf;
    for (uint64_t p = begin; p < end; p += buf.size()) {
        if (!source.ReadExact(p, static_cast<size_t>(std::min<uint64_t>(kChunk, end - p)), buf))
            return false;
        if (std::any_of(buf.begin(), buf.end(), [](std::byte c) { return c != std::byte{0}; }))
            return false;
    }
    return true;
}

// Text of one encoding, up to its terminator, as it stands.
std::string DecodeUntrimmed(uint8_t encoding, std::span<const std::byte> body, bool wasCut) {
    if (encoding == kUtf16Bom || encoding == kUtf16BE) {
        bool bigEndian = encoding == kUtf16BE;
        if (body.size() >= 2) {
            const auto a = static_cast<uint8_t>(body[0]), b = static_cast<uint8_t>(body[1]);
            if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
                bigEndian = a == 0xFE;
                body = body.subspan(2);
            }
        }
        return Utf16ToUtf8(body, bigEndian);
    }
    std::string_view s = AsText(body);
    const size_t zero = s.find('\0');
    if (zero != std::string_view::npos) {
        s = s.substr(0, zero);
        wasCut = false;
    }
    return encoding == kUtf8 ? Utf8OrLatin1(s, wasCut) : Latin1ToUtf8(s);
}

// Text of one encoding, up to its terminator, trimmed of control bytes at both ends.
std::string DecodeEncoded(uint8_t encoding, std::span<const std::byte> body, bool wasCut) {
    return std::string(TrimControl(DecodeUntrimmed(encoding, body, wasCut)));
}

// Undoes unsynchronisation: every 0xFF 0x00 pair loses its zero.
std::vector<std::byte> Resynchronise(std::span<const std::byte> in) {
    std::vector<std::byte> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == std::byte{0xFF} && i + 1 < in.size() && in[i + 1] == std::byte{0})
            ++i;
    }
    return out;
}

// What a frame's format flags (2.3 and 2.4) say about its content: the bytes in front of it
// (group byte, data length), whether we cannot read it (compressed or encrypted) and
// whether the frame alone is unsynchronised. Version 2.2 frames have no flags.
struct TFrameFormat {
    size_t Skip = 0;
    bool Unreadable = false;
    bool Unsynchronised = false;
};
TFrameFormat FrameFormat(uint8_t version, uint8_t frameFlags) {
    TFrameFormat f;
    if (version == 3) {
        f.Unreadable = frameFlags & 0xC0;
        f.Skip = (frameFlags & 0x20) ? 1 : 0;
    } else if (version == 4) {
        f.Unreadable = frameFlags & 0x0C;
        f.Skip = ((frameFlags & 0x40) ? 1 : 0) + ((frameFlags & 0x01) ? 4 : 0);
        f.Unsynchronised = frameFlags & 0x02;
    }
    return f;
}

// A frame header's size and flags, read after its id. 2.4 frame sizes are sync-safe
// (ID3v2.4 structure, section 4), but some writers put plain 32-bit sizes in 2.4 frames: the
// plain reading is taken when the sync-safe one does not land on a frame (landsWell, given
// where the frame would end) and the plain one does. Version 2.2 frames have no flags.
struct TFrameHead {
    uint64_t Size = 0;
    uint8_t Flags = 0;
};
template <class LandsWell>
TFrameHead ReadFrameHead(TByteReader& r, bool v22, int version, uint64_t contentStart,
                         const LandsWell& landsWell) {
    TFrameHead head;
    if (v22) {
        head.Size = r.U24BE();
        return head;
    }
    const uint32_t raw = r.U32BE();
    r.Skip(1);
    head.Flags = r.U8();
    head.Size = raw;
    if (version == 4 && (raw & 0x80808080u) == 0) {
        const uint32_t sync = SyncSafe(raw);
        if (landsWell(contentStart + sync) || !landsWell(contentStart + raw))
            head.Size = sync;
    }
    return head;
}

// The frame texts as stored: the encoding byte, then up to 499 bytes.
std::string DecodeText(const std::vector<std::byte>& slot, bool wasCut) {
    if (slot.empty())
        return {};
    return DecodeEncoded(static_cast<uint8_t>(slot[0]), std::span(slot).subspan(1), wasCut);
}

// COMM and WXXX: after the encoding byte (and COMM's language) comes a description ended by
// its terminator, then the text.
std::string DecodeDescribed(const std::vector<std::byte>& slot, bool withLanguage, bool wasCut) {
    if (slot.empty())
        return {};
    const auto encoding = static_cast<uint8_t>(slot[0]);
    std::span<const std::byte> rest = std::span(slot).subspan(1);
    if (withLanguage)
        rest = rest.subspan(std::min<size_t>(3, rest.size()));
    const bool wide = encoding == kUtf16Bom || encoding == kUtf16BE;
    const size_t step = wide ? 2 : 1;
    for (size_t i = 0; i + step <= rest.size(); i += step) {
        if (rest[i] == std::byte{0} && (!wide || rest[i + 1] == std::byte{0})) {
            // The link of a WXXX frame is always ISO-8859-1, whatever the description used.
            const uint8_t textEncoding = withLanguage ? encoding : kLatin1;
            return DecodeEncoded(textEncoding, rest.subspan(i + step), wasCut);
        }
    }
    return {};
}

// The release field a TXXX or UFID frame holds (v22: the TXX and UFI frames of version
// 2.2), by its description or owner; the value goes into release. A TXXX body is the
// encoding byte, a description ended by its terminator and the value; a UFID body is the
// owner in ISO-8859-1 ended by a zero byte and the identifier, up to 64 bytes.
void TakeReleaseFrame(std::string_view id, bool v22, std::span<const std::byte> body,
                      TReleaseTexts& release) {
    const bool ufid = id == (v22 ? "UFI" : "UFID");
    if (!ufid && id != (v22 ? "TXX" : "TXXX"))
        return;
    uint8_t encoding = kLatin1;
    if (!ufid) {
        if (body.empty() || static_cast<uint8_t>(body[0]) > kUtf8)
            return;
        encoding = static_cast<uint8_t>(body[0]);
        body = body.subspan(1);
    }
    const bool wide = encoding == kUtf16Bom || encoding == kUtf16BE;
    const size_t step = wide ? 2 : 1;
    size_t end = 0;
    while (end + step <= body.size() &&
           !(body[end] == std::byte{0} && (!wide || body[end + 1] == std::byte{0})))
        end += step;
    if (end + step > body.size())
        return;
    const std::string name = DecodeEncoded(encoding, body.first(end), false);
    const std::string value = DecodeEncoded(encoding, body.subspan(end + step), true);
    if (ufid) {
        if (name == TID3v2::kMusicBrainzOwner)
            release[kMbTrackId] = value;
        return;
    }
    for (size_t field = kMbAlbumId; field < kMbTrackId; ++field)
        if (AsciiLower(name) == AsciiLower(kMusicBrainzIdNames[field]))
            release[field] = value;
}

std::string Trimmed(std::string_view v) { return std::string(TrimControl(v)); }

void AppendText(std::vector<std::byte>& out, std::string_view s) {
    const auto b = AsBytes(s);
    out.insert(out.end(), b.begin(), b.end());
}

// A frame body's text: ISO-8859-1 when it can hold the text, else UTF-16 with a byte-order
// mark, so no character is lost.
struct TEncodedText {
    uint8_t Encoding;
    std::string Bytes;
    std::string Terminator;
};
TEncodedText EncodeText(std::string_view utf8) {
    if (FitsLatin1(utf8))
        return {kLatin1, Utf8ToLatin1(utf8), std::string(1, '\0')};
    return {kUtf16Bom, "\xFF\xFE" + Utf8ToUtf16(utf8, false), std::string("\xFF\xFE\0\0", 4)};
}

void PutFrameHeader(std::vector<std::byte>& out, std::string_view id, uint64_t size) {
    AppendText(out, id);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::byte>((size >> shift) & 0xFF));
    out.push_back(std::byte{0});
    out.push_back(std::byte{0});
}

// An APIC body's text part: encoding, MIME type, picture type and description.
std::string PictureHead(const TCoverArt& cover) {
    const TEncodedText enc = EncodeText(cover.Description);
    std::string head(1, static_cast<char>(enc.Encoding));
    head += Utf8ToLatin1(cover.MimeType);
    head += '\0';
    head += static_cast<char>(cover.PictureType);
    return head + enc.Bytes + enc.Terminator;
}

} // namespace

uint64_t TID3v2::PictureFrameSize(const TCoverArt& cover) {
    return 10 + PictureHead(cover).size() + cover.Data.size();
}

void TID3v2::Clear() {
    present_ = false;
    versionId_ = 0;
    size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    track_ = 0;
    trackText_.clear();
    year_.clear();
    genre_.clear();
    comment_.clear();
    composer_.clear();
    encoder_.clear();
    copyright_.clear();
    language_.clear();
    link_.clear();
    isrc_.clear();
    barcode_.clear();
    release_ = {};
    picture_.reset();
    error_.clear();
}

void TID3v2::SetTitle(std::string_view v) { title_ = Trimmed(v); }
void TID3v2::SetArtist(std::string_view v) { artist_ = Trimmed(v); }
void TID3v2::SetAlbum(std::string_view v) { album_ = Trimmed(v); }
void TID3v2::SetYear(std::string_view v) { year_ = Trimmed(v); }
void TID3v2::SetGenre(std::string_view v) { genre_ = Trimmed(v); }
void TID3v2::SetComment(std::string_view v) { comment_ = Trimmed(v); }
void TID3v2::SetIsrc(std::string_view v) { isrc_ = Trimmed(v); }
void TID3v2::SetBarcode(std::string_view v) { barcode_ = Trimmed(v); }
void TID3v2::SetRelease(const TReleaseTexts& v) {
    for (size_t i = 0; i < kReleaseFieldCount; ++i)
        release_[i] = Trimmed(v[i]);
}

bool TID3v2::Load(const std::string& path) {
    Clear();
    TFileSource source;
    return OpenTagFile(path, source, error_) && Load(source);
}

bool TID3v2::Load(TTagSource& source) {
    Clear();
    std::vector<std::byte> header;
    if (!source.ReadExact(0, kHeaderSize, header)) {
        error_ = "the file is shorter than an ID3v2 header";
        return false;
    }
    if (AsText(header).substr(0, 3) != "ID3")
        return true;
    present_ = true;
    TByteReader r(header);
    r.Skip(3);
    versionId_ = r.U8();
    r.Skip(1);
    const uint8_t flags = r.U8();
    // The size bytes are taken as they stand, even with a top bit set.
    const uint64_t size = uint64_t{SyncSafe(r.U32BE())} + kHeaderSize + ((flags & 0x10) ? 10 : 0);
    size_ = size > source.Size() ? 0 : static_cast<int32_t>(size);
    if (versionId_ < 2 || versionId_ > 4 || size_ == 0)
        return true;
    TSlots slots;
    ReadFrames(source, flags, slots);
    DecodeSlots(slots);
    return true;
}

void TID3v2::ReadFrames(TTagSource& source, uint8_t flags, TSlots& slots) {
    // Frames end where the footer (if any) begins.
    const uint64_t framesEnd = static_cast<uint64_t>(size_) - ((flags & 0x10) ? 10 : 0);
    const bool v22 = versionId_ < 3;
    const size_t frameHeader = v22 ? 6 : 10;
    const auto& ids = v22 ? kIds2 : kIds3;
    std::vector<std::byte> buf;
    uint64_t pos = kHeaderSize;

    if (flags & 0x40) {
        // Version 2.2 used this bit for a compression that was never defined: nothing to read.
        if (v22 || !source.ReadExact(pos, 4, buf))
            return;
        // The extended header's size leaves itself out in 2.3 and counts itself in 2.4.
        const uint32_t raw = TByteReader(buf).U32BE();
        pos += versionId_ == 3 ? uint64_t{raw} + 4 : uint64_t{SyncSafe(raw)};
    }

    // True when a 2.4 frame may end at p: at the end of the frames, at padding (zero bytes
    // all the way to the end of the frames), or at a frame header whose identifier is one
    // and whose own size fits what is left of the tag. Four letters alone or one zero byte
    // are not enough: a title in capitals or a picture's zero bytes look like that.
    auto landsWell = [&](uint64_t p) {
        if (p == framesEnd)
            return true;
        std::vector<std::byte> head;
        if (p > framesEnd || !source.ReadExact(p, 1, head))
            return false;
        if (head[0] == std::byte{0})
            return AllZero(source, p, framesEnd);
        if (framesEnd - p < frameHeader || !source.ReadExact(p, frameHeader, head))
            return false;
        const auto isIdChar = [](std::byte c) { return IsFrameIdChar(static_cast<uint8_t>(c)); };
        if (!std::all_of(head.begin(), head.begin() + 4, isIdChar))
            return false;
        TByteReader r(head);
        r.Skip(4);
        const uint32_t raw = r.U32BE();
        // Either reading may be the right one here too; the smaller must fit.
        const uint64_t size = (raw & 0x80808080u) == 0 ? SyncSafe(raw) : raw;
        return size <= framesEnd - p - frameHeader;
    };

    while (pos < framesEnd && framesEnd - pos >= frameHeader) {
        if (!source.ReadExact(pos, frameHeader, buf))
            return;
        TByteReader r(buf);
        const std::string id = r.Text(v22 ? 3 : 4);
        if (id[0] < 'A' || id[0] > 'Z')
            return; // padding
        const uint64_t contentStart = pos + frameHeader;
        const auto [size, frameFlags] = ReadFrameHead(r, v22, versionId_, contentStart, landsWell);
        if (size > framesEnd - contentStart)
            return; // a frame running past the tag: the rest cannot be trusted

        // Frame format flags: what precedes the content, and what we cannot read.
        const TFrameFormat format = FrameFormat(versionId_, frameFlags);
        const uint64_t skip = format.Skip;
        const auto slot = std::find(ids.begin(), ids.end(), id);
        if (slot != ids.end() && !format.Unreadable && skip < size) {
            // Twice the buffer covers the bytes an unsynchronised frame drops.
            const size_t want = static_cast<size_t>(std::min<uint64_t>(size - skip, 2 * kFrameBuffer));
            if (!source.ReadExact(contentStart + skip, want, buf))
                return;
            if (format.Unsynchronised)
                buf = Resynchronise(buf);
            buf.resize(kFrameBuffer); // zero-filled past the frame's end, cut past the buffer
            if (static_cast<uint8_t>(buf[0]) <= kUtf8)
                slots[static_cast<size_t>(slot - ids.begin())] = buf;
        }
        // The release fields: TPE2 and TPOS are plain texts, the ids are told apart by their
        // frame's description or owner.
        const bool release = id == (v22 ? "TP2" : "TPE2") || id == (v22 ? "TPA" : "TPOS") ||
                             id == (v22 ? "TXX" : "TXXX") || id == (v22 ? "UFI" : "UFID");
        if (release && !format.Unreadable && skip < size) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(size - skip, 2 * kFrameBuffer));
            if (!source.ReadExact(contentStart + skip, want, buf))
                return;
            if (format.Unsynchronised)
                buf = Resynchronise(buf);
            buf.resize(std::min(buf.size(), kFrameBuffer));
            const bool cut = size - skip > kFrameBuffer;
            if (id == (v22 ? "TP2" : "TPE2"))
                release_[kAlbumArtist] = DecodeText(buf, cut);
            else if (id == (v22 ? "TPA" : "TPOS"))
                release_[kDiscNumber] = DecodeText(buf, cut);
            else
                TakeReleaseFrame(id, v22, buf, release_);
        }
        pos = contentStart + size;
    }
}

void TID3v2::DecodeSlots(const TSlots& slots) {
    auto text = [&](int slot) { return DecodeText(slots[static_cast<size_t>(slot)], true); };
    auto either = [&](int slot, int fallback) {
        std::string s = text(slot);
        return s.empty() ? text(fallback) : s;
    };
    title_ = either(kTitle, kTitleFallback);
    artist_ = either(kArtist, kArtistFallback);
    album_ = either(kAlbum, kAlbumFallback);
    trackText_ = text(kTrack);
    const std::string number = trackText_.substr(0, trackText_.find('/'));
    track_ = 0;
    if (!number.empty() && number.size() <= 5 &&
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int value = std::stoi(number);
        track_ = value <= 0xFFFF ? static_cast<uint16_t>(value) : 0;
    }
    year_ = text(kYear);
    if (year_.empty())
        year_ = Utf8Left(text(kYearFallback), 4);
    // "(17)Rock" gives "Rock": the numeric reference in front is dropped.
    genre_ = text(kGenre);
    if (const size_t close = genre_.rfind(')'); close != std::string::npos)
        genre_ = Trimmed(std::string_view(genre_).substr(close + 1));
    comment_ = DecodeDescribed(slots[kComment], true, true);
    link_ = DecodeDescribed(slots[kLink], false, true);
    composer_ = text(kComposer);
    encoder_ = text(kEncoder);
    copyright_ = text(kCopyright);
    language_ = text(kLanguage);
}

int64_t TID3v2::NeededSize() const {
    return static_cast<int64_t>(BuildTag(0).size());
}

std::vector<std::byte> TID3v2::BuildTag(int64_t totalSize) const {
    const std::string trackText = track_ != 0 ? std::to_string(track_) : std::string();
    const std::array<const std::string*, kWrittenSlots> values = {
        &title_, &artist_, &album_, &trackText, &year_, &genre_, &comment_,
        &composer_, &encoder_, &copyright_, &language_, &link_};
    std::vector<std::byte> frames;
    for (int slot = 0; slot < kWrittenSlots; ++slot) {
        const std::string& value = *values[static_cast<size_t>(slot)];
        if (value.empty())
            continue;
        std::string body;
        if (slot == kLink) {
            // A URL is ISO-8859-1; the empty description is one zero byte.
            body = std::string(2, '\0') + Utf8ToLatin1(value);
        } else {
            const TEncodedText enc = EncodeText(value);
            body = static_cast<char>(enc.Encoding);
            if (slot == kComment)
                body += "eng" + enc.Terminator; // language, empty description
            body += enc.Bytes;
        }
        PutFrameHeader(frames, kIds3[static_cast<size_t>(slot)], body.size());
        AppendText(frames, body);
    }
    if (!isrc_.empty()) {
        const TEncodedText enc = EncodeText(isrc_);
        const std::string body = static_cast<char>(enc.Encoding) + enc.Bytes;
        PutFrameHeader(frames, "TSRC", body.size());
        AppendText(frames, body);
    }
    if (!barcode_.empty()) {
        // Described by "BARCODE"; the digits of a catalogue number need nothing but
        // ISO-8859-1.
        const std::string body = std::string(1, '\0') + "BARCODE" + '\0' + Utf8ToLatin1(barcode_);
        PutFrameHeader(frames, "TXXX", body.size());
        AppendText(frames, body);
    }
    for (size_t field = 0; field < kReleaseFieldCount; ++field) {
        const std::string& value = release_[field];
        if (value.empty())
            continue;
        std::string id = "TXXX", body;
        if (field == kMbTrackId) {
            // An identifier is at most 64 bytes; a MusicBrainz id is 36 ASCII characters.
            id = "UFID";
            body = std::string(kMusicBrainzOwner) + '\0' + Utf8ToLatin1(value).substr(0, 64);
        } else {
            const TEncodedText enc = EncodeText(value);
            body = static_cast<char>(enc.Encoding);
            if (field == kAlbumArtist || field == kDiscNumber) {
                id = field == kAlbumArtist ? "TPE2" : "TPOS";
            } else {
                // The description shares the value's encoding; a UTF-16 one has its own
                // byte-order mark and ends in two zero bytes.
                const std::string_view name = kMusicBrainzIdNames[field];
                body += enc.Encoding == kLatin1
                            ? std::string(name) + '\0'
                            : "\xFF\xFE" + Utf8ToUtf16(name, false) + std::string(2, '\0');
            }
            body += enc.Bytes;
        }
        PutFrameHeader(frames, id, body.size());
        AppendText(frames, body);
    }
    if (picture_) {
        // Too large for the tag's size field: refused below like texts that do not fit.
        if (PictureFrameSize(*picture_) > kMaxSyncSafe)
            return {};
        const std::string head = PictureHead(*picture_);
        PutFrameHeader(frames, "APIC", head.size() + picture_->Data.size());
        AppendText(frames, head);
        frames.insert(frames.end(), picture_->Data.begin(), picture_->Data.end());
    }
    const uint64_t needed = kHeaderSize + frames.size();
    const uint64_t total = std::max<uint64_t>(needed, static_cast<uint64_t>(std::max<int64_t>(totalSize, 0)));
    if (total - kHeaderSize > kMaxSyncSafe)
        return {};
    std::vector<std::byte> tag;
    tag.reserve(total);
    AppendText(tag, "ID3");
    tag.push_back(std::byte{3});
    tag.push_back(std::byte{0});
    tag.push_back(std::byte{0});
    PutSyncSafe(tag, static_cast<uint32_t>(total - kHeaderSize));
    tag.insert(tag.end(), frames.begin(), frames.end());
    tag.resize(total); // zero padding
    return tag;
}

bool TID3v2::Save(const std::string& path) {
    error_.clear();
    if (!MakeWritable(path, error_))
        return false;
    // A file too short for a header simply has no tag; one we cannot open fails below.
    TID3v2 old;
    old.Load(path);
    const int64_t needed = NeededSize();
    if (needed == 0) {
        error_ = "the texts are too long for an ID3v2 tag";
        return false;
    }
    // Only a tag of exactly the old tag's size may be written over it; anything else
    // moves the audio and is written into a new file.
    const bool rewrite = !old.Present() || old.Size() < needed || old.Size() > kPaddedSize;
    const int64_t total = rewrite ? std::max<int64_t>(needed, kPaddedSize) : old.Size();
    const std::vector<std::byte> tag = BuildTag(total);
    const bool ok = rewrite ? RebuildFileWithHead(path, tag, old.Present() ? static_cast<uint64_t>(old.Size()) : 0, error_)
                            : OverwriteFileHead(path, tag, error_);
    if (!ok)
        return false;
    present_ = true;
    versionId_ = 3;
    size_ = static_cast<int32_t>(tag.size());
    return true;
}

namespace {

// A whole ID3v2 tag is read into memory to undo its unsynchronisation: room for the
// largest picture with every byte doubled.
constexpr uint64_t kMaxPictureTagBytes = 2 * uint64_t{kMaxCoverBytes} + 1024 * 1024;

// Splits a text ended by its encoding's terminator off the front of rest; false when the
// terminator is missing.
bool TakeTerminated(std::span<const std::byte>& rest, bool wide, std::span<const std::byte>& text) {
    const size_t step = wide ? 2 : 1;
    for (size_t i = 0; i + step <= rest.size(); i += step) {
        if (rest[i] == std::byte{0} && (!wide || rest[i + 1] == std::byte{0})) {
            text = rest.first(i);
            rest = rest.subspan(i + step);
            return true;
        }
    }
    return false;
}

// An APIC (2.3, 2.4) or PIC (2.2) frame body.
std::optional<TCoverArt> ParseApic(std::span<const std::byte> body, bool v22) {
    TCoverArt cover;
    if (body.empty())
        return std::nullopt;
    const auto encoding = static_cast<uint8_t>(body[0]);
    if (encoding > kUtf8)
        return std::nullopt;
    std::span<const std::byte> rest = body.subspan(1), field;
    if (v22) {
        if (rest.size() < 4)
            return std::nullopt;
        const std::string format = AsciiUpper(AsText(rest.first(3)));
        cover.MimeType = format == "JPG" ? "image/jpeg" : format == "PNG" ? "image/png" : "";
        if (format == "-->")
            cover.MimeType = format;
        rest = rest.subspan(3);
    } else {
        if (!TakeTerminated(rest, false, field))
            return std::nullopt;
        cover.MimeType = AsciiLower(TrimControl(Latin1ToUtf8(AsText(field))));
        if (cover.MimeType == "jpg" || cover.MimeType == "image/jpg")
            cover.MimeType = "image/jpeg";
        else if (cover.MimeType == "png")
            cover.MimeType = "image/png";
    }
    if (rest.empty())
        return std::nullopt;
    cover.PictureType = static_cast<uint8_t>(rest[0]);
    rest = rest.subspan(1);
    if (!TakeTerminated(rest, encoding == kUtf16Bom || encoding == kUtf16BE, field))
        return std::nullopt;
    cover.Description = DecodeUntrimmed(encoding, field, false);
    cover.Data.assign(rest.begin(), rest.end());
    FillPictureMimeType(cover);
    return cover;
}

} // namespace

void TID3v2::ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why) {
    std::vector<std::byte> head;
    if (!source.ReadExact(0, kHeaderSize, head) || AsText(head).substr(0, 3) != "ID3")
        return;
    TByteReader h(head);
    h.Skip(3);
    const uint8_t version = h.U8();
    h.Skip(1);
    const uint8_t flags = h.U8();
    // Here the size's top bits are dropped, as a sync-safe number's are.
    const uint64_t size = SyncSafe(h.U32BE() & 0x7F7F7F7Fu);
    if (version < 2 || version > 4)
        return;
    if (size > kMaxPictureTagBytes) {
        SetPictureWhy(why, "the ID3v2 tag is too large to look for a picture in");
        return;
    }
    std::vector<std::byte> raw;
    if (!source.ReadExact(kHeaderSize, static_cast<size_t>(size), raw)) {
        SetPictureWhy(why, "the ID3v2 tag runs past the end of the file");
        return;
    }
    const bool v22 = version == 2;
    if (v22 && (flags & 0x40)) {
        SetPictureWhy(why, "the ID3v2.2 tag is compressed");
        return;
    }
    // Before 2.4 unsynchronisation covers the whole tag, frame headers included.
    const std::vector<std::byte> tag = (version < 4 && (flags & 0x80)) ? Resynchronise(raw) : std::move(raw);
    const std::span<const std::byte> all(tag);
    size_t pos = 0;
    if (!v22 && (flags & 0x40)) {
        TByteReader r(all);
        const uint32_t ext = r.U32BE();
        // 2.3 leaves the size field out of the extended header's size; 2.4 counts it.
        const uint64_t skip = version == 3 ? uint64_t{ext} + 4 : uint64_t{SyncSafe(ext & 0x7F7F7F7Fu)};
        if (r.Failed() || skip > all.size())
            return;
        pos = static_cast<size_t>(skip);
    }
    const size_t frameHeader = v22 ? 6 : 10;
    auto idOk = [&](size_t p) {
        for (size_t i = 0; i < (v22 ? 3u : 4u); ++i)
            if (!IsFrameIdChar(static_cast<uint8_t>(all[p + i])))
                return false;
        return true;
    };
    // Where a 2.4 frame may end: the end, padding, or another frame's header.
    auto landsWell = [&](uint64_t p) {
        return p == all.size() ||
               (p < all.size() && (all[p] == std::byte{0} || (all.size() - p >= frameHeader && idOk(p))));
    };
    bool refused = false, found = false;
    while (all.size() - pos >= frameHeader && idOk(pos)) {
        TByteReader r(all.subspan(pos, frameHeader));
        const std::string id = r.Text(v22 ? 3 : 4);
        const auto [length, frameFlags] = ReadFrameHead(r, v22, version, pos + frameHeader, landsWell);
        const size_t start = pos + frameHeader;
        if (length > all.size() - start) {
            SetPictureWhy(why, "an ID3v2 frame runs past the end of its tag");
            return;
        }
        pos = start + static_cast<size_t>(length);
        if (id != (v22 ? "PIC" : "APIC"))
            continue;
        std::span<const std::byte> body = all.subspan(start, static_cast<size_t>(length));
        const TFrameFormat format = FrameFormat(version, frameFlags);
        if (format.Unreadable) {
            refused = true;
            continue;
        }
        // In 2.4 the tag's flag marks every frame unsynchronised.
        const bool unsynchronised = format.Unsynchronised || (version == 4 && (flags & 0x80));
        if (format.Skip > body.size())
            continue;
        body = body.subspan(format.Skip);
        std::optional<TCoverArt> cover =
            unsynchronised ? ParseApic(Resynchronise(body), v22) : ParseApic(body, v22);
        if (!cover)
            continue;
        found = found || IsUsablePicture(*cover);
        if (offer(std::move(*cover)))
            return;
    }
    if (refused && !found)
        SetPictureWhy(why, "the ID3v2 picture is compressed or encrypted");
}

namespace {

void Append(std::vector<std::byte>& out, std::span<const std::byte> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutFrameSize(std::vector<std::byte>& out, uint32_t size, bool syncSafe) {
    if (syncSafe)
        return PutSyncSafe(out, size);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::byte>((size >> shift) & 0xFF));
}

} // namespace

bool TID3v2::WriteUserTexts(const std::string& path,
                            std::span<const std::pair<std::string, std::string>> texts,
                            std::string& error, bool fresh) {
    if (!MakeWritable(path, error))
        return false;
    TFileSource source;
    if (!OpenTagFile(path, source, error))
        return false;
    std::vector<std::byte> head;
    uint8_t version = 3;
    uint64_t oldSize = 0; // the whole old tag, header included; 0: none
    std::vector<std::byte> frames;
    const auto wanted = [&texts](std::string_view description) {
        return std::any_of(texts.begin(), texts.end(), [&](const auto& t) {
            return AsciiUpper(t.first) == AsciiUpper(description);
        });
    };
    if (source.ReadExact(0, kHeaderSize, head) && AsText(head).substr(0, 3) == "ID3") {
        TByteReader h(head);
        h.Skip(3);
        version = h.U8();
        h.Skip(1);
        const uint8_t flags = h.U8();
        const uint64_t size = SyncSafe(h.U32BE() & 0x7F7F7F7Fu);
        if ((version != 3 && version != 4) || flags != 0) {
            error = "the ID3v2 tag of " + path + " is of a kind that cannot be edited";
            return false;
        }
        std::vector<std::byte> raw;
        if (size > kMaxPictureTagBytes ||
            !source.ReadExact(kHeaderSize, static_cast<size_t>(size), raw)) {
            error = "the ID3v2 tag of " + path + " cannot be read";
            return false;
        }
        oldSize = kHeaderSize + size;
        // Every frame is kept byte for byte but the TXXX frames being replaced.
        for (size_t at = 0;
             at + kHeaderSize <= raw.size() && IsFrameIdChar(static_cast<uint8_t>(raw[at]));) {
            const std::span<const std::byte> all(raw);
            TByteReader f{all.subspan(at, kHeaderSize)};
            const std::string id(AsText(all.subspan(at, 4)));
            f.Skip(4);
            const uint32_t stated = f.U32BE();
            const uint64_t length = version == 4 ? SyncSafe(stated & 0x7F7F7F7Fu) : stated;
            if (length > raw.size() - at - kHeaderSize) {
                error = "the ID3v2 tag of " + path + " is broken";
                return false;
            }
            const auto frame = all.subspan(at, kHeaderSize + static_cast<size_t>(length));
            const auto body = frame.subspan(kHeaderSize);
            const bool replaced =
                id == "TXXX" && !body.empty() && static_cast<uint8_t>(body[0]) <= kUtf8 &&
                wanted(DecodeUntrimmed(static_cast<uint8_t>(body[0]), body.subspan(1), false));
            if (!replaced)
                frames.insert(frames.end(), frame.begin(), frame.end());
            at += frame.size();
        }
    }
    for (const auto& [description, value] : texts) {
        const std::string body = std::string(1, '\0') + description + '\0' + value; // ISO-8859-1
        Append(frames, AsBytes("TXXX"));
        PutFrameSize(frames, static_cast<uint32_t>(body.size()), version == 4);
        frames.push_back(std::byte{0});
        frames.push_back(std::byte{0});
        Append(frames, AsBytes(body));
    }
    // The tag keeps its size when the frames fit it (its padding shrinks), else takes the
    // usual padding. The file is rebuilt under a temporary name either way, so that a write
    // cut short never leaves a half-written tag over the audio.
    const uint64_t needed = kHeaderSize + frames.size();
    const uint64_t total = oldSize >= needed ? oldSize : std::max<uint64_t>(needed, kPaddedSize);
    if (total - kHeaderSize > kMaxSyncSafe) {
        error = "the ID3v2 tag of " + path + " would be too large";
        return false;
    }
    std::vector<std::byte> tag;
    Append(tag, AsBytes("ID3"));
    tag.push_back(static_cast<std::byte>(version));
    tag.push_back(std::byte{0});
    tag.push_back(std::byte{0});
    PutSyncSafe(tag, static_cast<uint32_t>(total - kHeaderSize));
    tag.insert(tag.end(), frames.begin(), frames.end());
    tag.resize(static_cast<size_t>(total), std::byte{0});
    return RebuildFileWithHead(path, tag, oldSize, error, !fresh);
}

} // namespace bw
