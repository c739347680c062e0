#include "tags/apetag.h"

#include "common/asciicase.h"

#include "common/bytereader.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <algorithm>

namespace bw {

namespace {

constexpr std::string_view kPreamble = "APETAGEX";
constexpr int32_t kWrittenVersion = 2000;
constexpr size_t kID3v1Size = 128;

void PutU32LE(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Version 1.0 tags hold text only; 2.0 gives each item a kind in bits 1-2 of its flags.
// The reserved fourth kind is not text we know, so it is taken as binary.
TAPETag::EItemKind ItemKind(int32_t version, uint32_t flags) {
    if (version < 2000)
        return TAPETag::EItemKind::Text;
    switch ((flags >> 1) & 3) {
    case 0:
        return TAPETag::EItemKind::Text;
    case 2:
        return TAPETag::EItemKind::Locator;
    default:
        return TAPETag::EItemKind::Binary;
    }
}

// The name a cover item gives its picture, by the picture's MIME type.
std::string FileNameFor(const TCoverArt& cover) {
    const std::string& m = cover.MimeType;
    const char* ext = m == "image/png" ? ".png" : m == "image/gif" ? ".gif" : m == "image/bmp" ? ".bmp"
                    : m == "image/webp" ? ".webp" : ".jpg";
    return std::string("cover") + ext;
}

} // namespace

void TAPETag::Clear() {
    present_ = false;
    version_ = 0;
    size_ = 0;
    items_.clear();
    itemInfos_.clear();
    error_.clear();
}

void TAPETag::AddItem(std::string_view name, std::string_view value) {
    items_.emplace_back(name, value);
    itemInfos_.push_back(
        {EItemKind::Text, static_cast<uint32_t>(std::min<size_t>(value.size(), UINT32_MAX))});
}

void TAPETag::AddBinaryItem(std::string_view name, std::string_view value) {
    AddItem(name, value);
    itemInfos_.back().Kind = EItemKind::Binary;
}

void TAPETag::RemoveItems(std::string_view name) {
    const std::string wanted = AsciiUpper(name);
    for (size_t i = items_.size(); i-- > 0;) {
        if (AsciiUpper(items_[i].first) != wanted)
            continue;
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        itemInfos_.erase(itemInfos_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

std::string TAPETag::GetItem(std::string_view name) const {
    const std::string wanted = AsciiUpper(name);
    for (const auto& [itemName, value] : items_)
        if (AsciiUpper(itemName) == wanted)
            return value;
    return {};
}

void TAPETag::SetFrontCover(const TCoverArt& cover) {
    RemoveItems(kFrontCoverItem);
    std::string value = FileNameFor(cover);
    value += '\0';
    value += AsText(cover.Data);
    AddBinaryItem(kFrontCoverItem, value);
}

bool TAPETag::ProbeFooter(TTagSource& source, TProbe& probe) {
    probe = TProbe{};
    probe.FileSize = source.Size();
    std::vector<std::byte> buf;
    if (probe.FileSize > kID3v1Size && source.ReadExact(probe.FileSize - kID3v1Size, 3, buf) &&
        AsText(buf) == "TAG")
        probe.Shift = kID3v1Size;
    if (probe.FileSize <= probe.Shift + kFooterSize ||
        !source.ReadExact(probe.FileSize - probe.Shift - kFooterSize, kFooterSize, buf)) {
        error_ = "the file is too short for an APE tag footer";
        return false;
    }
    TByteReader r(buf);
    probe.IsApe = r.Expect(kPreamble);
    probe.Version = r.S32LE();
    probe.TagSize = r.U32LE();
    probe.ItemCount = r.U32LE();
    probe.Flags = r.U32LE();
    return true;
}

bool TAPETag::Load(const std::string& path) {
    Clear();
    TFileSource source;
    return OpenTagFile(path, source, error_) && Load(source);
}

bool TAPETag::Load(TTagSource& source) {
    Clear();
    TProbe probe;
    if (!ProbeFooter(source, probe))
        return false;
    if (probe.IsApe) {
        present_ = true;
        version_ = probe.Version;
        size_ = static_cast<int32_t>(probe.TagSize);
        ReadItems(source, probe, kValueBuffer, false);
    }
    return true;
}

bool TAPETag::LoadWhole(const std::string& path, size_t maxValueBytes) {
    Clear();
    TFileSource source;
    TProbe probe;
    if (!OpenTagFile(path, source, error_) || !ProbeFooter(source, probe))
        return false;
    if (!probe.IsApe)
        return true;
    present_ = true;
    version_ = probe.Version;
    size_ = static_cast<int32_t>(probe.TagSize);
    if (ReadItems(source, probe, maxValueBytes, true))
        return true;
    items_.clear();
    itemInfos_.clear();
    error_ = "the APE tag of " + path + " cannot be read whole";
    return false;
}

bool TAPETag::ReadItems(TTagSource& source, const TProbe& probe, size_t valueLimit, bool whole) {
    // The items lie between the stated start and the footer; a size pointing outside the
    // file leaves the tag without items.
    const uint64_t footerAt = probe.FileSize - probe.Shift - kFooterSize;
    if (probe.TagSize < kFooterSize || probe.TagSize - kFooterSize > footerAt)
        return false;
    uint64_t pos = footerAt - (probe.TagSize - kFooterSize);
    std::vector<std::byte> buf;
    // Each item takes at least 9 bytes, so the walk ends with the items area whatever the
    // stated count; items not read are not listed.
    for (uint32_t i = 0; i < probe.ItemCount && footerAt - pos >= 9; ++i) {
        if (!source.ReadExact(pos, 8, buf))
            return false;
        TByteReader r(buf);
        const uint32_t length = r.U32LE();
        const uint32_t itemFlags = r.U32LE();
        const uint64_t nameAt = pos + 8;
        if (!source.Read(nameAt, static_cast<size_t>(std::min<uint64_t>(kMaxNameSize + 1, footerAt - nameAt)), buf))
            return false;
        const auto zero = std::find(buf.begin(), buf.end(), std::byte{0});
        if (zero == buf.end())
            return false; // a name without its terminator
        const std::string name = Utf8OrLatin1(TrimControl(AsText(std::span(buf.begin(), zero))));
        const uint64_t valueAt = nameAt + static_cast<uint64_t>(zero - buf.begin()) + 1;
        if (length > footerAt - valueAt || (whole && length > valueLimit))
            return false;
        if (!source.ReadExact(valueAt, std::min<size_t>(length, valueLimit), buf))
            return false;
        if (whole) {
            items_.emplace_back(name, std::string(AsText(buf)));
        } else {
            const std::string value = Utf8OrLatin1(AsText(buf), length > valueLimit);
            items_.emplace_back(name, std::string(TrimControl(value)));
        }
        itemInfos_.push_back({ItemKind(probe.Version, itemFlags), length, valueAt});
        pos = valueAt + length;
    }
    return true;
}

uint64_t TAPETag::TagBytes() const {
    uint64_t tagSize = kFooterSize;
    for (const auto& [name, value] : items_)
        tagSize += name.size() + value.size() + 9; // length, flags, name terminator
    return tagSize;
}

std::string TAPETag::BuildTag() const {
    const uint64_t tagSize = TagBytes();
    auto frame = [&](uint32_t flags) {
        std::string out(kPreamble);
        PutU32LE(out, kWrittenVersion);
        PutU32LE(out, static_cast<uint32_t>(tagSize));
        PutU32LE(out, static_cast<uint32_t>(items_.size()));
        PutU32LE(out, flags);
        out.append(8, '\0');
        return out;
    };
    std::string out = frame(kHasHeader | kIsHeader);
    for (size_t i = 0; i < items_.size(); ++i) {
        const auto& [name, value] = items_[i];
        PutU32LE(out, static_cast<uint32_t>(value.size()));
        // Bits 1-2 keep the item's kind: 0 text, 1 binary, 2 a link.
        const EItemKind kind = i < itemInfos_.size() ? itemInfos_[i].Kind : EItemKind::Text;
        PutU32LE(out, kind == EItemKind::Binary ? 2u : kind == EItemKind::Locator ? 4u : 0u);
        out += name;
        out += '\0';
        out += value;
    }
    return out + frame(kHasHeader);
}

bool TAPETag::Save(const std::string& path) {
    error_.clear();
    TFileSource source;
    if (!OpenTagFile(path, source, error_))
        return false;
    TProbe probe;
    if (!ProbeFooter(source, probe)) {
        // Too short for a footer: there is no tag to replace.
        probe.FileSize = source.Size();
        probe.IsApe = false;
        error_.clear();
    }
    uint64_t cut = probe.FileSize - probe.Shift;
    if (probe.IsApe) {
        const uint64_t footerAt = cut - kFooterSize;
        if (probe.TagSize < kFooterSize || probe.TagSize - kFooterSize > footerAt) {
            error_ = "the APE tag's size points outside " + path;
            return false;
        }
        cut = footerAt - (probe.TagSize - kFooterSize);
        // Remove the header too, but only where one really stands, so a version 1.0 tag
        // without a header never costs the audio in front of it.
        std::vector<std::byte> header;
        if ((probe.Flags & kHasHeader) && cut >= kFooterSize && source.ReadExact(cut - kFooterSize, 8, header) &&
            AsText(header) == kPreamble)
            cut -= kFooterSize;
    }
    const uint64_t tagBytes = TagBytes();
    if (tagBytes > UINT32_MAX) {
        error_ = "the items are too large for an APE tag";
        return false;
    }
    // The ID3v1 record stays behind the tag, whether the tag is new or replaced.
    std::string tail = BuildTag();
    if (probe.Shift != 0) {
        std::vector<std::byte> id3v1;
        if (!source.ReadExact(probe.FileSize - kID3v1Size, kID3v1Size, id3v1)) {
            error_ = "cannot read the ID3v1 record of " + path;
            return false;
        }
        tail += AsText(id3v1);
    }
    if (!ReplaceFileTail(path, cut, AsBytes(tail), error_))
        return false;
    present_ = true;
    version_ = kWrittenVersion;
    size_ = static_cast<int32_t>(tagBytes);
    return true;
}

void TAPETag::ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why) {
    TAPETag tag;
    if (!tag.Load(source) || !tag.Present())
        return;
    const auto& items = tag.Items();
    const auto& infos = tag.ItemInfos();
    for (size_t i = 0; i < items.size() && i < infos.size(); ++i) {
        const std::string name = AsciiUpper(items[i].first);
        if (!name.starts_with("COVER ART (") || infos[i].Kind != TAPETag::EItemKind::Binary)
            continue;
        if (infos[i].Length > kMaxPictureItemBytes) {
            SetPictureWhy(why, "the APE tag's cover art item is too large");
            continue;
        }
        std::vector<std::byte> value;
        if (!source.ReadExact(infos[i].ValueOffset, infos[i].Length, value))
            continue;
        // The value is a file name, a zero byte, then the picture.
        const auto zero = std::find(value.begin(), value.end(), std::byte{0});
        TCoverArt cover;
        const bool named = zero != value.end();
        cover.Description = named ? Utf8OrLatin1(AsText(std::span(value.begin(), zero))) : std::string();
        cover.Data.assign(named ? zero + 1 : value.begin(), value.end());
        cover.PictureType = name == AsciiUpper(kFrontCoverItem) ? kFrontCoverType
                            : name == "COVER ART (BACK)"        ? 4
                                                                : 0;
        FillPictureMimeType(cover, cover.Description);
        if (offer(std::move(cover)))
            return;
    }
}

bool TAPETag::WriteItems(const std::string& path,
                         std::span<const std::pair<std::string, std::string>> items,
                         std::string& error) {
    TAPETag tag;
    if (!tag.LoadWhole(path, kMaxPictureItemBytes)) {
        error = tag.LastError().empty() ? "cannot read the APE tag of " + path : tag.LastError();
        return false;
    }
    for (const auto& [name, value] : items) {
        tag.RemoveItems(name);
        tag.AddItem(name, value);
    }
    if (!tag.Save(path)) {
        error = tag.LastError();
        return false;
    }
    return true;
}

} // namespace bw
