#include "tags/covers.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "common/outputfile.h"
#include "tags/apetag.h"
#include "tags/asfguids.h"
#include "tags/id3v2.h"
#include "tags/oggpacket.h"
#include "tags/oggvorbis.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bw {

namespace {

constexpr uint8_t kFrontCover = 3;
constexpr std::string_view kApeCoverItem = "Cover Art (Front)";
constexpr std::string_view kVorbisPictureName = "METADATA_BLOCK_PICTURE=";
// A whole ID3v2 tag is read into memory to undo its unsynchronisation: room for the
// largest picture with every byte doubled.
constexpr uint64_t kMaxId3v2Bytes = 2 * uint64_t{kMaxCoverBytes} + 1024 * 1024;
constexpr int kMaxFlacBlocks = 100000;
constexpr uint32_t kMaxAsfObjects = 1000;

void SetWhy(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
}

std::string_view Text(std::span<const std::byte> b) { return AsText(b); }

// Pictures of one source as they are found: the first front cover wins, else the first.
class TPicked {
public:
    // True once a front cover is held and the search may stop.
    bool Offer(TCoverArt&& cover) {
        if (cover.Data.empty() || cover.MimeType == "-->")
            return Done();
        if (!picked_ || (picked_->PictureType != kFrontCover && cover.PictureType == kFrontCover))
            picked_ = std::move(cover);
        return Done();
    }
    bool Done() const { return picked_ && picked_->PictureType == kFrontCover; }
    std::optional<TCoverArt> Take() { return std::move(picked_); }
    bool Any() const { return picked_.has_value(); }

private:
    std::optional<TCoverArt> picked_;
};

void FillMimeType(TCoverArt& cover, std::string_view fileName = {}) {
    if (!cover.MimeType.empty())
        return;
    cover.MimeType = GuessImageMimeType(cover.Data);
    if (cover.MimeType.empty()) {
        const std::string lower = AsciiLower(fileName);
        if (lower.ends_with(".png"))
            cover.MimeType = "image/png";
        else if (lower.ends_with(".jpg") || lower.ends_with(".jpeg"))
            cover.MimeType = "image/jpeg";
    }
}

// ---- ID3v2 ----------------------------------------------------------------------------

uint32_t SyncSafe(uint32_t v) {
    return ((v >> 24) & 0x7F) << 21 | ((v >> 16) & 0x7F) << 14 | ((v >> 8) & 0x7F) << 7 | (v & 0x7F);
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

std::string DecodeId3Text(uint8_t encoding, std::span<const std::byte> b) {
    if (encoding == 1 || encoding == 2) {
        bool bigEndian = encoding == 2;
        if (b.size() >= 2 && ((b[0] == std::byte{0xFF} && b[1] == std::byte{0xFE}) ||
                              (b[0] == std::byte{0xFE} && b[1] == std::byte{0xFF}))) {
            bigEndian = b[0] == std::byte{0xFE};
            b = b.subspan(2);
        }
        return Utf16ToUtf8(b, bigEndian);
    }
    return encoding == 3 ? Utf8OrLatin1(Text(b)) : Latin1ToUtf8(Text(b));
}

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
    if (encoding > 3)
        return std::nullopt;
    std::span<const std::byte> rest = body.subspan(1), field;
    if (v22) {
        if (rest.size() < 4)
            return std::nullopt;
        const std::string format = AsciiUpper(Text(rest.first(3)));
        cover.MimeType = format == "JPG" ? "image/jpeg" : format == "PNG" ? "image/png" : "";
        if (format == "-->")
            cover.MimeType = format;
        rest = rest.subspan(3);
    } else {
        if (!TakeTerminated(rest, false, field))
            return std::nullopt;
        cover.MimeType = AsciiLower(TrimControl(Latin1ToUtf8(Text(field))));
        if (cover.MimeType == "jpg" || cover.MimeType == "image/jpg")
            cover.MimeType = "image/jpeg";
        else if (cover.MimeType == "png")
            cover.MimeType = "image/png";
    }
    if (rest.empty())
        return std::nullopt;
    cover.PictureType = static_cast<uint8_t>(rest[0]);
    rest = rest.subspan(1);
    if (!TakeTerminated(rest, encoding == 1 || encoding == 2, field))
        return std::nullopt;
    cover.Description = DecodeId3Text(encoding, field);
    cover.Data.assign(rest.begin(), rest.end());
    FillMimeType(cover);
    return cover;
}

void ReadId3v2Pictures(TTagSource& source, TPicked& picked, std::string* why) {
    std::vector<std::byte> head;
    if (!source.ReadExact(0, TID3v2::kHeaderSize, head) || Text(head).substr(0, 3) != "ID3")
        return;
    TByteReader h(head);
    h.Skip(3);
    const uint8_t version = h.U8();
    h.Skip(1);
    const uint8_t flags = h.U8();
    const uint64_t size = SyncSafe(h.U32BE());
    if (version < 2 || version > 4)
        return;
    if (size > kMaxId3v2Bytes) {
        SetWhy(why, "the ID3v2 tag is too large to look for a picture in");
        return;
    }
    std::vector<std::byte> raw;
    if (!source.ReadExact(TID3v2::kHeaderSize, static_cast<size_t>(size), raw)) {
        SetWhy(why, "the ID3v2 tag runs past the end of the file");
        return;
    }
    const bool v22 = version == 2;
    if (v22 && (flags & 0x40)) {
        SetWhy(why, "the ID3v2.2 tag is compressed");
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
        const uint64_t skip = version == 3 ? uint64_t{ext} + 4 : uint64_t{SyncSafe(ext)};
        if (r.Failed() || skip > all.size())
            return;
        pos = static_cast<size_t>(skip);
    }
    const size_t frameHeader = v22 ? 6 : 10;
    auto idOk = [&](size_t p) {
        for (size_t i = 0; i < (v22 ? 3u : 4u); ++i) {
            const auto c = static_cast<uint8_t>(all[p + i]);
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
                return false;
        }
        return true;
    };
    // Where a 2.4 frame may end: the end, padding, or another frame's header.
    auto landsWell = [&](uint64_t p) {
        return p == all.size() ||
               (p < all.size() && (all[p] == std::byte{0} || (all.size() - p >= frameHeader && idOk(p))));
    };
    bool refused = false;
    while (all.size() - pos >= frameHeader && idOk(pos)) {
        TByteReader r(all.subspan(pos, frameHeader));
        const std::string id = r.Text(v22 ? 3 : 4);
        uint64_t length = 0;
        uint8_t frameFlags = 0;
        if (v22) {
            length = r.U24BE();
        } else {
            const uint32_t plain = r.U32BE();
            r.Skip(1);
            frameFlags = r.U8();
            length = plain;
            // 2.4 sizes are sync-safe, but some writers put plain ones there.
            if (version == 4 && (plain & 0x80808080u) == 0) {
                const uint32_t sync = SyncSafe(plain);
                if (landsWell(pos + frameHeader + sync) || !landsWell(pos + frameHeader + plain))
                    length = sync;
            }
        }
        const size_t start = pos + frameHeader;
        if (length > all.size() - start) {
            SetWhy(why, "an ID3v2 frame runs past the end of its tag");
            return;
        }
        pos = start + static_cast<size_t>(length);
        if (id != (v22 ? "PIC" : "APIC"))
            continue;
        std::span<const std::byte> body = all.subspan(start, static_cast<size_t>(length));
        bool unsynchronised = false;
        size_t skip = 0;
        if (version == 3) {
            if (frameFlags & 0xC0) { // compressed or encrypted
                refused = true;
                continue;
            }
            skip = (frameFlags & 0x20) ? 1 : 0;
        } else if (version == 4) {
            if (frameFlags & 0x0C) {
                refused = true;
                continue;
            }
            skip = ((frameFlags & 0x40) ? 1 : 0) + ((frameFlags & 0x01) ? 4 : 0);
            unsynchronised = (frameFlags & 0x02) || (flags & 0x80);
        }
        if (skip > body.size())
            continue;
        body = body.subspan(skip);
        std::optional<TCoverArt> cover;
        if (unsynchronised) {
            const std::vector<std::byte> plain = Resynchronise(body);
            cover = ParseApic(plain, v22);
        } else {
            cover = ParseApic(body, v22);
        }
        if (cover && picked.Offer(std::move(*cover)))
            return;
    }
    if (refused && !picked.Any())
        SetWhy(why, "the ID3v2 picture is compressed or encrypted");
}

// ---- FLAC PICTURE blocks and Vorbis comments --------------------------------------------

void PutU32BE(std::vector<std::byte>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::byte>((v >> shift) & 0xFF));
}

void PutText(std::vector<std::byte>& out, std::string_view s) {
    const auto b = AsBytes(s);
    out.insert(out.end(), b.begin(), b.end());
}

uint64_t PictureBlockSize(const TCoverArt& cover) {
    return 32 + cover.MimeType.size() + cover.Description.size() + cover.Data.size();
}

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(std::span<const std::byte> in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (size_t i = 0; i < in.size(); i += 3) {
        const size_t n = std::min<size_t>(3, in.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<uint8_t>(in[i + k]) : 0u);
        for (size_t k = 0; k < 4; ++k)
            out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

// Ignores line breaks and stops at the padding; nothing on any other stray character.
std::optional<std::vector<std::byte>> Base64Decode(std::string_view in) {
    std::vector<std::byte> out;
    out.reserve(in.size() / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        if (c == '=')
            break;
        if (c == '\r' || c == '\n')
            continue;
        const size_t at = kBase64.find(c);
        if (at == std::string_view::npos)
            return std::nullopt;
        acc = (acc << 6) | static_cast<uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::byte>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

void ReadFlacPictures(TTagSource& source, uint64_t start, TPicked& picked, std::string* why) {
    std::vector<std::byte> buf;
    uint64_t pos = start + 4;
    for (int i = 0; i < kMaxFlacBlocks; ++i) {
        if (!source.ReadExact(pos, 4, buf))
            return;
        TByteReader h(buf);
        const uint8_t flags = h.U8();
        const uint32_t length = h.U24BE();
        pos += 4;
        if ((flags & 0x7F) == 6) {
            if (!source.ReadExact(pos, length, buf)) {
                SetWhy(why, "a FLAC picture block runs past the end of the file");
                return;
            }
            auto cover = ParsePictureBlock(buf, why);
            if (cover && picked.Offer(std::move(*cover)))
                return;
        }
        pos += length;
        if (flags & 0x80)
            return;
    }
}

// Walks the comment packet of an Ogg Vorbis or Opus stream starting at start: each comment
// is given to take with its length and the stream positioned after the length; take reads
// or skips exactly that many bytes and answers false to stop. False when the stream is
// not one of these or the packet is broken.
template <class TTake>
bool WalkOggComments(TTagSource& source, uint64_t start, TTake take) {
    // The identification header fills the first page alone; the comment starts the second.
    TOggPacketStream first(source, start);
    std::string kind;
    if (!first.Read(8, kind))
        return false;
    std::string_view commentMagic;
    if (kind.starts_with("\x01vorbis"))
        commentMagic = std::string_view("\x03vorbis", 7);
    else if (kind == "OpusHead")
        commentMagic = "OpusTags";
    else
        return false;
    TOggPacketStream in(source, first.NextPageStart());
    std::string b;
    auto u32 = [&](uint32_t& v) {
        if (!in.Read(4, b))
            return false;
        TByteReader r(b.data(), b.size());
        v = r.U32LE();
        return true;
    };
    uint32_t vendor = 0, count = 0;
    if (!in.Read(commentMagic.size(), b) || b != commentMagic || !u32(vendor) || !in.Skip(vendor) || !u32(count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!u32(length))
            return false;
        if (!take(in, length))
            return true;
    }
    return true;
}

// Longest METADATA_BLOCK_PICTURE value looked at: the base64 of the largest picture read.
constexpr uint64_t kMaxPictureComment = (uint64_t{kMaxCoverBytes} + 1024) / 3 * 4 + 8;

// The picture of a METADATA_BLOCK_PICTURE comment whose name the stream is past.
std::optional<TCoverArt> ReadPictureComment(TByteStream& in, uint32_t valueLength, std::string* why) {
    std::string b;
    if (valueLength > kMaxPictureComment) {
        SetWhy(why, "a METADATA_BLOCK_PICTURE comment is too large");
        in.Skip(valueLength);
        return std::nullopt;
    }
    if (!in.Read(valueLength, b)) {
        SetWhy(why, "a METADATA_BLOCK_PICTURE comment runs past the end of its packet");
        return std::nullopt;
    }
    const auto block = Base64Decode(b);
    if (!block) {
        SetWhy(why, "a METADATA_BLOCK_PICTURE comment is not base64");
        return std::nullopt;
    }
    return ParsePictureBlock(*block, why);
}

void ReadOggPictures(TTagSource& source, uint64_t start, TPicked& picked, std::string* why) {
    const size_t nameSize = kVorbisPictureName.size();
    WalkOggComments(source, start, [&](TByteStream& in, uint32_t length) {
        std::string name;
        const size_t head = std::min<size_t>(length, nameSize);
        if (!in.Read(head, name))
            return false;
        if (head < nameSize || AsciiUpper(name) != kVorbisPictureName)
            return in.Skip(length - head);
        auto cover = ReadPictureComment(in, static_cast<uint32_t>(length - nameSize), why);
        return !(cover && picked.Offer(std::move(*cover)));
    });
}

// ---- APEv2 ----------------------------------------------------------------------------

void ReadApePictures(TTagSource& source, TPicked& picked, std::string* why) {
    TAPETag tag;
    if (!tag.Load(source) || !tag.Present())
        return;
    const auto& items = tag.Items();
    const auto& infos = tag.ItemInfos();
    for (size_t i = 0; i < items.size() && i < infos.size(); ++i) {
        const std::string name = AsciiUpper(items[i].first);
        if (!name.starts_with("COVER ART (") || infos[i].Kind != TAPETag::EItemKind::Binary)
            continue;
        if (infos[i].Length > kMaxCoverBytes + TAPETag::kMaxNameSize + 1) {
            SetWhy(why, "the APE tag's cover art item is too large");
            continue;
        }
        std::vector<std::byte> value;
        if (!source.ReadExact(infos[i].ValueOffset, infos[i].Length, value))
            continue;
        // The value is a file name, a zero byte, then the picture.
        const auto zero = std::find(value.begin(), value.end(), std::byte{0});
        TCoverArt cover;
        const bool named = zero != value.end();
        cover.Description = named ? Utf8OrLatin1(Text(std::span(value.begin(), zero))) : std::string();
        cover.Data.assign(named ? zero + 1 : value.begin(), value.end());
        cover.PictureType = name == AsciiUpper(kApeCoverItem) ? kFrontCover : name == "COVER ART (BACK)" ? 4 : 0;
        FillMimeType(cover, cover.Description);
        if (picked.Offer(std::move(cover)))
            return;
    }
}

// ---- ASF (WMA) ------------------------------------------------------------------------

constexpr TGuid kAsfHeaderExtension{0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr TGuid kAsfMetadataLibrary{0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                    0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

// Takes a UTF-16LE text ended by a zero unit off the front of r.
std::optional<std::string> TakeUtf16z(TByteReader& r) {
    const size_t start = r.Pos();
    for (;;) {
        const uint16_t unit = r.U16LE();
        if (r.Failed())
            return std::nullopt;
        if (unit == 0)
            break;
    }
    TByteReader whole(r);
    whole.Seek(start);
    return Utf16ToUtf8(whole.Bytes(r.Pos() - start), false);
}

// A WM/Picture value: type, 32-bit size, MIME type, description, data.
std::optional<TCoverArt> ParseWmPicture(std::span<const std::byte> value) {
    TByteReader r(value);
    TCoverArt cover;
    cover.PictureType = r.U8();
    const uint32_t size = r.U32LE();
    auto mime = TakeUtf16z(r);
    auto description = mime ? TakeUtf16z(r) : std::nullopt;
    if (!description || r.Failed() || size > r.Remaining())
        return std::nullopt;
    cover.MimeType = AsciiLower(TrimControl(*mime));
    cover.Description = *description;
    const auto data = r.Bytes(size);
    cover.Data.assign(data.begin(), data.end());
    FillMimeType(cover);
    return cover;
}

bool IsWmPicture(std::span<const std::byte> utf16Name) {
    return AsciiUpper(TrimControl(Utf16ToUtf8(utf16Name, false))) == "WM/PICTURE";
}

// Extended Content Description: count, then name, type, value per descriptor.
bool ReadAsfExtendedContent(TByteReader r, TPicked& picked) {
    const uint16_t count = r.U16LE();
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        const auto name = r.Bytes(r.U16LE());
        const uint16_t type = r.U16LE();
        const auto value = r.Bytes(r.U16LE());
        if (r.Failed() || type != 1 || !IsWmPicture(name))
            continue;
        if (auto cover = ParseWmPicture(value); cover && picked.Offer(std::move(*cover)))
            return true;
    }
    return false;
}

// Metadata Library: the place for values of 64 KB or more.
bool ReadAsfMetadataLibrary(TByteReader r, TPicked& picked) {
    const uint16_t count = r.U16LE();
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        r.Skip(4); // language list index, stream number
        const uint16_t nameLength = r.U16LE();
        const uint16_t type = r.U16LE();
        const uint32_t dataLength = r.U32LE();
        const auto name = r.Bytes(nameLength);
        const auto value = r.Bytes(dataLength);
        if (r.Failed() || type != 1 || !IsWmPicture(name))
            continue;
        if (auto cover = ParseWmPicture(value); cover && picked.Offer(std::move(*cover)))
            return true;
    }
    return false;
}

void ReadAsfPictures(TTagSource& source, TPicked& picked, std::string* why) {
    std::vector<std::byte> buf;
    if (!source.ReadExact(0, 30, buf))
        return;
    TByteReader head(buf);
    if (!IsAsfGuid(head.Bytes(16), kAsfHeaderObject))
        return;
    const uint64_t headerSize = head.U64LE();
    const uint32_t count = head.U32LE();
    const uint64_t end = std::min<uint64_t>(headerSize, source.Size());
    const uint64_t maxObject = uint64_t{kMaxCoverBytes} + 1024 * 1024;
    uint64_t pos = 30;
    for (uint32_t i = 0; i < count && i < kMaxAsfObjects && end - pos >= 24; ++i) {
        if (!source.ReadExact(pos, 24, buf))
            return;
        TByteReader o(buf);
        const auto id = o.Bytes(16);
        const bool extended = IsAsfGuid(id, kAsfExtendedContent);
        const bool extension = IsAsfGuid(id, kAsfHeaderExtension);
        const uint64_t size = o.U64LE();
        if (size < 24 || size > end - pos)
            return;
        if ((extended || extension) && size > maxObject) {
            SetWhy(why, "the WMA header's tag object is too large to look for a picture in");
        } else if (extended || extension) {
            if (!source.ReadExact(pos, static_cast<size_t>(size), buf))
                return;
            TByteReader r(buf);
            r.Skip(24);
            if (extended && ReadAsfExtendedContent(r, picked))
                return;
            if (extension) {
                // Reserved GUID and number, then the size of the objects it holds.
                r.Skip(18);
                TByteReader inner = r.Sub(r.U32LE());
                while (!inner.Failed() && inner.Remaining() >= 24) {
                    const bool library = IsAsfGuid(inner.Bytes(16), kAsfMetadataLibrary);
                    const uint64_t innerSize = inner.U64LE();
                    if (innerSize < 24 || innerSize - 24 > inner.Remaining())
                        break;
                    TByteReader object = inner.Sub(static_cast<size_t>(innerSize - 24));
                    if (library && ReadAsfMetadataLibrary(object, picked))
                        return;
                }
            }
        }
        pos += size;
    }
}

// ---- Writing --------------------------------------------------------------------------

std::string SizeText(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string TooLarge(const TCoverArt& cover, std::string_view format) {
    return "The cover art (" + SizeText(cover.Data.size()) + ") is too large for " + std::string(format) +
           " and was left out.";
}

bool WriteMp3Cover(const std::string& path, const TCoverArt& cover, std::string* note) {
    TID3v2 tag;
    if (!tag.Load(path)) {
        SetWhy(note, tag.LastError());
        return false;
    }
    tag.SetPicture(cover);
    if (tag.NeededSize() == 0) {
        SetWhy(note, TooLarge(cover, "an MP3 file"));
        return true;
    }
    if (!tag.Save(path)) {
        SetWhy(note, "The cover art could not be written: " + tag.LastError());
        return false;
    }
    return true;
}

bool WriteFlacCover(const std::string& path, const TCoverArt& cover, std::string* note, bool fresh) {
    if (PictureBlockSize(cover) > kMaxFlacBlockBytes) {
        SetWhy(note, TooLarge(cover, "a FLAC file"));
        return true;
    }
    auto fail = [&](const std::string& why) {
        SetWhy(note, "The cover art could not be written: " + why);
        return false;
    };
    TFileSource source;
    std::string error;
    if (!OpenTagFile(path, source, error))
        return fail(error);
    TID3v2 id3;
    id3.Load(source);
    const uint64_t start = id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
    std::vector<std::byte> head, buf;
    // Whatever precedes the stream (an ID3v2 tag) stays as it is.
    if (!source.ReadExact(0, static_cast<size_t>(start), head) || !source.ReadExact(start, 4, buf) ||
        Text(buf) != "fLaC")
        return fail("not a FLAC file: " + path);
    PutText(head, "fLaC");
    // Every block stays in its order but pictures of the same type, and the new picture goes
    // in front of the padding (or last), so the audio is copied behind it unchanged.
    std::vector<std::byte> picture;
    picture.push_back(std::byte{6});
    const std::vector<std::byte> body = BuildPictureBlock(cover);
    for (int shift = 16; shift >= 0; shift -= 8)
        picture.push_back(static_cast<std::byte>((body.size() >> shift) & 0xFF));
    picture.insert(picture.end(), body.begin(), body.end());
    std::vector<std::vector<std::byte>> blocks;
    uint64_t pos = start + 4;
    bool last = false, placed = false;
    for (int i = 0; !last; ++i) {
        if (i == kMaxFlacBlocks || !source.ReadExact(pos, 4, buf))
            return fail("the FLAC metadata of " + path + " is broken");
        const uint8_t type = static_cast<uint8_t>(buf[0]) & 0x7F;
        last = (static_cast<uint8_t>(buf[0]) & 0x80) != 0;
        const uint32_t length = TByteReader(buf).U32BE() & 0xFFFFFF;
        std::vector<std::byte> block;
        if (!source.ReadExact(pos, 4 + size_t{length}, block))
            return fail("the FLAC metadata of " + path + " is broken");
        pos += 4 + uint64_t{length};
        if (type == 6) {
            auto old = ParsePictureBlock(std::span(block).subspan(4), nullptr);
            if (old && old->PictureType == cover.PictureType)
                continue;
        }
        if (type == 1 && !placed && i > 0) {
            blocks.push_back(picture);
            placed = true;
        }
        blocks.push_back(std::move(block));
    }
    if (!placed)
        blocks.push_back(picture);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto flags = static_cast<uint8_t>(blocks[i][0]) & 0x7F;
        blocks[i][0] = static_cast<std::byte>(flags | (i + 1 == blocks.size() ? 0x80 : 0));
        head.insert(head.end(), blocks[i].begin(), blocks[i].end());
    }
    if (!RebuildFileWithHead(path, head, pos, error, !fresh))
        return fail(error);
    return true;
}

// vorbiscomment's escapes (its -e): backslash, line breaks and zero bytes.
std::string EscapeComment(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        default: out += c;
        }
    }
    return out;
}

// The comments of an Ogg Vorbis file, one escaped line each, but pictures of type
// pictureType. No value when the comment packet cannot be read whole.
std::optional<std::string> KeptOggComments(const std::string& path, uint8_t pictureType, std::string& error) {
    TFileSource source;
    if (!OpenTagFile(path, source, error))
        return std::nullopt;
    TID3v2 id3;
    const uint64_t start = id3.Load(source) && id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
    std::string lines;
    bool whole = true;
    const bool walked = WalkOggComments(source, start, [&](TByteStream& in, uint32_t length) {
        std::string text;
        if (lines.size() + length > 2 * kMaxPictureComment || !in.Read(length, text)) {
            whole = false;
            return false;
        }
        if (AsciiUpper(std::string_view(text).substr(0, kVorbisPictureName.size())) == kVorbisPictureName) {
            const auto block = Base64Decode(std::string_view(text).substr(kVorbisPictureName.size()));
            const auto old = block ? ParsePictureBlock(*block, nullptr) : std::nullopt;
            if (old && old->PictureType == pictureType)
                return true;
        }
        lines += EscapeComment(text);
        lines += '\n';
        return true;
    });
    if (!walked || !whole) {
        error = "cannot read the comments of " + path;
        return std::nullopt;
    }
    return lines;
}

// Runs vorbiscomment with args; false with its messages in error when it fails.
bool RunVorbisComment(std::vector<std::string> args, std::string& error) {
    // Its messages go to a pipe, its other output nowhere.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("cannot start vorbiscomment: ") + std::strerror(errno);
        return false;
    }
    struct TCloser {
        int& fd;
        ~TCloser() {
            if (fd >= 0)
                ::close(fd);
        }
    } readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    args.insert(args.begin(), "vorbiscomment");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child is waited for on every way out, so none is left behind as a zombie.
    struct TChild {
        pid_t Pid = -1;
        int Status = 0;
        void Wait() {
            while (Pid > 0 && ::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
            }
            Pid = -1;
        }
        ~TChild() { Wait(); }
    } child;
    const int spawned = posix_spawnp(&child.Pid, "vorbiscomment", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    pipeFds[1] = -1;
    if (spawned != 0) {
        child.Pid = -1;
        error = std::string("cannot start vorbiscomment: ") + std::strerror(spawned);
        return false;
    }
    std::string messages;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (messages.size() < 4096)
            messages.append(chunk, static_cast<size_t>(got));
    }
    child.Wait();
    const int status = child.Status;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    error = "vorbiscomment failed: " + std::string(TrimControl(messages));
    return false;
}

// The comment packet is rewritten by vorbiscomment (vorbis-tools), which repages the
// headers: it is given every comment the file keeps and the picture, in a file, since a
// picture does not fit on a command line, as UTF-8 (-R) with escapes (-e) so that any
// value comes through unchanged. Its output is a new file that replaces the old one only
// when it is complete.
bool WriteOggCover(const std::string& path, const TCoverArt& cover, std::string* note) {
    const uint64_t commentSize = kVorbisPictureName.size() + (PictureBlockSize(cover) + 2) / 3 * 4;
    if (commentSize > kMaxPictureComment) {
        SetWhy(note, TooLarge(cover, "an Ogg Vorbis file"));
        return true;
    }
    auto fail = [&](const std::string& why) {
        SetWhy(note, "The cover art could not be written: " + why);
        return false;
    };
    std::string error;
    auto lines = KeptOggComments(path, cover.PictureType, error);
    if (!lines)
        return fail(error);
    *lines += kVorbisPictureName;
    *lines += Base64Encode(BuildPictureBlock(cover));
    *lines += '\n';
    TScopedFile comment(TemporaryPathFor(path + ".txt"));
    TScopedFile output(TemporaryPathFor(path));
    const int fd = ::open(comment.Path().c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot create a file beside " + path + ": " + std::strerror(errno));
    const bool written = WriteAllAt(fd, AsBytes(*lines), 0);
    if (::close(fd) != 0 || !written)
        return fail("cannot write a file beside " + path + ": " + std::strerror(errno));
    if (!RunVorbisComment({"-w", "-R", "-e", "-c", comment.Path(), path, output.Path()}, error))
        return fail(error);
    TOggVorbis check;
    if (!check.Load(output.Path()) || check.Samples() <= 0)
        return fail("vorbiscomment wrote no playable file");
    const std::string finished = output.Path();
    output.Keep();
    if (!ReplaceWithTemporary(finished, path, error))
        return fail("cannot replace " + path + ": " + error);
    return true;
}

std::string FileNameFor(const TCoverArt& cover) {
    const std::string& m = cover.MimeType;
    const char* ext = m == "image/png" ? ".png" : m == "image/gif" ? ".gif" : m == "image/bmp" ? ".bmp"
                    : m == "image/webp" ? ".webp" : ".jpg";
    return std::string("cover") + ext;
}

bool WriteApeCover(const std::string& path, const TCoverArt& cover, std::string_view format, std::string* note) {
    TAPETag tag;
    if (!tag.LoadWhole(path, kMaxCoverBytes + TAPETag::kMaxNameSize + 1)) {
        SetWhy(note, "The cover art could not be written: " + tag.LastError());
        return false;
    }
    tag.RemoveItems(kApeCoverItem);
    std::string value = FileNameFor(cover);
    value += '\0';
    value += Text(cover.Data);
    tag.AddBinaryItem(kApeCoverItem, value);
    if (tag.TagBytes() > UINT32_MAX) {
        SetWhy(note, TooLarge(cover, format));
        return true;
    }
    if (!tag.Save(path)) {
        SetWhy(note, "The cover art could not be written: " + tag.LastError());
        return false;
    }
    return true;
}

} // namespace

std::string GuessImageMimeType(std::span<const std::byte> data) {
    const std::string_view s = Text(data);
    if (s.starts_with("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (s.starts_with("\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (s.starts_with("GIF87a") || s.starts_with("GIF89a"))
        return "image/gif";
    if (s.starts_with("BM") && s.size() >= 14)
        return "image/bmp";
    if (s.size() >= 12 && s.starts_with("RIFF") && s.substr(8, 4) == "WEBP")
        return "image/webp";
    return {};
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
        SetWhy(why, "a picture block's lengths run past its end");
        return std::nullopt;
    }
    cover.PictureType = static_cast<uint8_t>(type);
    cover.Data.assign(data.begin(), data.end());
    FillMimeType(cover);
    return cover;
}

std::optional<TCoverArt> ReadEmbeddedCover(TTagSource& source, std::string* why) {
    SetWhy(why, {});
    TPicked picked;
    ReadId3v2Pictures(source, picked, why);
    if (!picked.Done()) {
        TID3v2 id3;
        const uint64_t start =
            id3.Load(source) && id3.Present() ? static_cast<uint64_t>(std::max(id3.Size(), 0)) : 0;
        std::vector<std::byte> magic;
        if (source.ReadExact(start, 4, magic)) {
            if (Text(magic) == "fLaC")
                ReadFlacPictures(source, start, picked, why);
            else if (Text(magic) == "OggS")
                ReadOggPictures(source, start, picked, why);
        }
    }
    if (!picked.Done())
        ReadAsfPictures(source, picked, why);
    if (!picked.Done())
        ReadApePictures(source, picked, why);
    auto cover = picked.Take();
    if (cover)
        SetWhy(why, {});
    return cover;
}

std::optional<TCoverArt> ReadSidecarCover(const std::string& sourcePath, std::string* why) {
    static constexpr std::array<std::string_view, 4> kNames{"cover.jpg", "folder.jpg", "front.jpg", "cover.png"};
    const std::filesystem::path folder = std::filesystem::path(sourcePath).parent_path();
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::filesystem::path(".") : folder, ec);
    size_t best = kNames.size();
    std::filesystem::path bestPath;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = AsciiLower(it->path().filename().string());
        const auto at = std::find(kNames.begin(), kNames.end(), name);
        const auto rank = static_cast<size_t>(at - kNames.begin());
        // A lower rank wins; between names differing only in case, the first in byte order.
        if (rank < best || (rank == best && it->path() < bestPath)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError))
                continue;
            best = rank;
            bestPath = it->path();
        }
    }
    if (best == kNames.size())
        return std::nullopt;
    const auto size = FileSizeOf(bestPath.string());
    if (size && *size > kMaxCoverBytes) {
        SetWhy(why, "the picture " + bestPath.string() + " is too large");
        return std::nullopt;
    }
    // Read at its own size: a buffer of the largest size allowed would be cleared page by
    // page for every file of a library.
    auto data = size ? ReadFileRange(bestPath.string(), 0, static_cast<size_t>(*size)) : std::nullopt;
    if (!data || data->empty()) {
        SetWhy(why, "cannot read the picture " + bestPath.string());
        return std::nullopt;
    }
    TCoverArt cover;
    cover.Data = std::move(*data);
    FillMimeType(cover, bestPath.filename().string());
    return cover;
}

std::optional<TCoverArt> ReadFrontCover(const std::string& sourcePath, std::string* why) {
    SetWhy(why, {});
    std::string embeddedWhy;
    TFileSource source;
    if (source.Open(sourcePath)) {
        if (auto cover = ReadEmbeddedCover(source, &embeddedWhy))
            return cover;
    }
    std::string sidecarWhy;
    if (auto cover = ReadSidecarCover(sourcePath, &sidecarWhy))
        return cover;
    SetWhy(why, !sidecarWhy.empty() ? sidecarWhy : embeddedWhy);
    return std::nullopt;
}

bool WriteFrontCover(const std::string& outputPath, TCoverTarget kind, const TCoverArt& cover,
                     std::string* note, bool fresh) {
    SetWhy(note, {});
    if (cover.Data.empty())
        return true;
    switch (kind) {
    case TCoverTarget::Mp3:
        return WriteMp3Cover(outputPath, cover, note);
    case TCoverTarget::Flac:
        return WriteFlacCover(outputPath, cover, note, fresh);
    case TCoverTarget::OggVorbis:
        return WriteOggCover(outputPath, cover, note);
    case TCoverTarget::Ape:
        return WriteApeCover(outputPath, cover, "a Monkey's Audio file", note);
    case TCoverTarget::Musepack:
        return WriteApeCover(outputPath, cover, "a Musepack file", note);
    case TCoverTarget::Wma:
    case TCoverTarget::Wav:
        // FFmpeg would store a WMA picture as a video stream, which players show as video.
        return true;
    }
    return true;
}

} // namespace bw
