#include "tags/wmafile.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "tags/asfguids.h"
#include "tags/channeltext.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

namespace bw {

namespace {

constexpr size_t kMaxTextUnits = 250;   // UTF-16 units of a text that are kept
constexpr uint32_t kMaxObjects = 1000;  // header objects looked at
constexpr size_t kMaxObjectBytes = 16 * 1024 * 1024; // larger description objects are skipped

// A UTF-16LE text of byteLength bytes: its first 250 units are kept, the rest skipped.
std::string ReadText(TByteReader& r, size_t byteLength) {
    auto bytes = r.Bytes(byteLength);
    const size_t keep = std::min(byteLength / 2, kMaxTextUnits) * 2;
    std::string s = Utf16ToUtf8(bytes.first(std::min(keep, bytes.size())), false);
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

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
    FillPictureMimeType(cover);
    return cover;
}

bool IsWmPicture(std::span<const std::byte> utf16Name) {
    return AsciiUpper(TrimControl(Utf16ToUtf8(utf16Name, false))) == "WM/PICTURE";
}

// Extended Content Description: count, then name, type, value per descriptor.
bool ReadAsfExtendedContent(TByteReader r, const TPictureOffer& offer) {
    const uint16_t count = r.U16LE();
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        const auto name = r.Bytes(r.U16LE());
        const uint16_t type = r.U16LE();
        const auto value = r.Bytes(r.U16LE());
        if (r.Failed() || type != 1 || !IsWmPicture(name))
            continue;
        if (auto cover = ParseWmPicture(value); cover && offer(std::move(*cover)))
            return true;
    }
    return false;
}

// Metadata Library: the place for values of 64 KB or more.
bool ReadAsfMetadataLibrary(TByteReader r, const TPictureOffer& offer) {
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
        if (auto cover = ParseWmPicture(value); cover && offer(std::move(*cover)))
            return true;
    }
    return false;
}

} // namespace

void TWMAfile::Clear() {
    valid_ = false;
    fileSize_ = 0;
    channels_ = 0;
    sampleRate_ = maxBitRate_ = avgBytesPerSecond_ = 0;
    duration_ = 0;
    bitRate_ = 0;
    track_ = 0;
    for (auto& s : slots_)
        s.clear();
    release_ = {};
}

bool TWMAfile::Load(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return Load(source);
}

bool TWMAfile::ReadObjects(TTagSource& source, uint64_t& playDuration, uint64_t& preroll) {
    std::vector<std::byte> buf;
    if (!source.Read(0, 30, buf))
        return false;
    TByteReader head(buf);
    if (!IsAsfGuid(head.Bytes(16), kAsfHeaderObject))
        return true;
    head.Skip(8);
    const uint32_t count = head.U32LE();
    if (head.Failed())
        return true;
    uint64_t pos = 30;
    const uint64_t size = source.Size();
    for (uint32_t i = 0; i < count && i < kMaxObjects && pos < size; ++i) {
        if (!source.Read(pos, 24, buf))
            return false;
        TByteReader o(buf);
        std::array<std::byte, 16> idBytes{};
        const auto idSpan = o.Bytes(16);
        std::copy(idSpan.begin(), idSpan.end(), idBytes.begin());
        const std::span<const std::byte> id(idBytes); // buf is read into again below
        const uint64_t objectSize = o.U64LE();
        // An object smaller than its own header would never move the walk on.
        if (o.Failed() || objectSize < 24)
            break;
        const bool wanted = IsAsfGuid(id, kAsfFileProperties) || IsAsfGuid(id, kAsfStreamProperties) ||
                            IsAsfGuid(id, kAsfContentDescription) || IsAsfGuid(id, kAsfExtendedContent);
        if (wanted && objectSize <= kMaxObjectBytes) {
            if (!source.Read(pos, static_cast<size_t>(objectSize), buf))
                return false;
            TByteReader r(buf);
            if (IsAsfGuid(id, kAsfFileProperties)) {
                r.Seek(64);
                playDuration = r.U64LE();
                r.Skip(8); // send duration
                preroll = r.U64LE();
                r.Seek(100);
                const uint32_t maxRate = r.U32LE();
                if (!r.Failed())
                    maxBitRate_ = static_cast<int32_t>(maxRate);
            } else if (IsAsfGuid(id, kAsfStreamProperties)) {
                r.Seek(80);
                const uint16_t ch = r.U16LE();
                const uint32_t rate = r.U32LE();
                const uint32_t avg = r.U32LE();
                if (!r.Failed()) {
                    channels_ = ch;
                    sampleRate_ = static_cast<int32_t>(rate);
                    avgBytesPerSecond_ = static_cast<int32_t>(avg);
                }
            } else if (IsAsfGuid(id, kAsfContentDescription)) {
                r.Seek(24);
                std::array<uint16_t, 5> len{};
                for (auto& l : len)
                    l = r.U16LE();
                const std::string title = ReadText(r, len[0]);
                const std::string author = ReadText(r, len[1]);
                ReadText(r, len[2]); // copyright
                const std::string description = ReadText(r, len[3]);
                if (!r.Failed()) {
                    slots_[0] = title;
                    slots_[1] = author;
                    slots_[6] = description;
                }
            } else {
                r.Seek(24);
                const uint16_t n = r.U16LE();
                for (uint16_t d = 0; d < n && !r.Failed(); ++d) {
                    const uint16_t nameLength = r.U16LE();
                    const std::string name = AsciiUpper(TrimControl(ReadText(r, nameLength)));
                    const uint16_t type = r.U16LE();
                    const uint16_t valueLength = r.U16LE();
                    if (r.Failed())
                        break;
                    if (type != 0) {
                        r.Skip(valueLength);
                        continue;
                    }
                    const std::string value = ReadText(r, valueLength);
                    static constexpr std::array<const char*, 7> kNames{
                        "WM/TITLE", "WM/AUTHOR", "WM/ALBUMTITLE", "WM/TRACK",
                        "WM/YEAR",  "WM/GENRE",  "WM/DESCRIPTION"};
                    for (size_t s = 0; s < kNames.size(); ++s)
                        if (name == kNames[s] && !r.Failed())
                            slots_[s] = value;
                    for (size_t s = 0; s < kReleaseFieldCount; ++s)
                        if (name == AsciiUpper(kWmaReleaseNames[s]) && !r.Failed())
                            release_[s] = std::string(TrimControl(value));
                }
            }
        }
        pos += objectSize;
    }
    return true;
}

bool TWMAfile::Load(TTagSource& source) {
    Clear();
    uint64_t playDuration = 0, preroll = 0;
    if (!ReadObjects(source, playDuration, preroll))
        return false;
    // 320 kbit/s itself is a rate WMA encoders write (the WMA target's own default): the
    // top of the range is taken, not refused.
    valid_ = maxBitRate_ > 0 && maxBitRate_ <= 320000 && (channels_ == 1 || channels_ == 2) &&
             sampleRate_ >= 8000 && sampleRate_ <= 96000 && avgBytesPerSecond_ > 0 &&
             avgBytesPerSecond_ <= 40000;
    if (!valid_)
        return true;
    fileSize_ = static_cast<int64_t>(source.Size());
    // The header states the play time (in 100 ns units, preroll included); the file size
    // over the maximum bit rate is only an estimate that counts the header and the index,
    // so it is the fallback when no play time is stated.
    const double stated = static_cast<double>(playDuration) / 1e7 - static_cast<double>(preroll) / 1000.0;
    duration_ = stated > 0 ? stated : static_cast<double>(fileSize_) * 8 / maxBitRate_;
    bitRate_ = avgBytesPerSecond_ * 8 / 1000;
    for (auto& s : slots_)
        s = std::string(TrimControl(s));
    // The stored track counts from 0.
    int track = 0;
    const std::string& t = slots_[3];
    const auto res = std::from_chars(t.data(), t.data() + t.size(), track);
    if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size())
        track_ = 1;
    else
        track_ = static_cast<uint8_t>(track + 1);
    return true;
}

std::string TWMAfile::ChannelModeText() const { return ChannelCountText(channels_); }

void TWMAfile::ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why) {
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
    for (uint32_t i = 0; i < count && i < kMaxObjects && end - pos >= 24; ++i) {
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
            SetPictureWhy(why, "the WMA header's tag object is too large to look for a picture in");
        } else if (extended || extension) {
            if (!source.ReadExact(pos, static_cast<size_t>(size), buf))
                return;
            TByteReader r(buf);
            r.Skip(24);
            if (extended && ReadAsfExtendedContent(r, offer))
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
                    if (library && ReadAsfMetadataLibrary(object, offer))
                        return;
                }
            }
        }
        pos += size;
    }
}

} // namespace bw
