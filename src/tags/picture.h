#pragma once

// One picture of a tag, as each format that holds pictures reads and writes it (an ID3v2
// APIC frame, a FLAC PICTURE block, a Vorbis comment, an APEv2 item, a WM/Picture value).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// One picture with the fields the picture formats share (those of a FLAC PICTURE block):
// ID3v2 and WMA pictures carry only the type, MIME type and description, so the sizes stay
// zero there ("unknown", as a FLAC block may say too).
struct TCoverArt {
    std::vector<std::byte> Data;
    std::string MimeType;    // e.g. "image/jpeg"; "-->" would mean a link, which is never taken
    std::string Description; // UTF-8
    uint8_t PictureType = 3; // 3 is the front cover
    uint32_t Width = 0, Height = 0, Depth = 0, Colors = 0;
};

inline constexpr uint8_t kFrontCoverType = 3;

// No picture is read larger than this: a tag claiming more is refused as broken.
inline constexpr size_t kMaxCoverBytes = 64 * 1024 * 1024;

// Takes each picture a tag holds, in the tag's order; answers true when the walk may stop.
using TPictureOffer = std::function<bool(TCoverArt&&)>;

// A picture worth taking: it has data and is not a link to one elsewhere.
inline bool IsUsablePicture(const TCoverArt& cover) {
    return !cover.Data.empty() && cover.MimeType != "-->";
}

// The MIME type the data's first bytes show (JPEG, PNG, GIF, BMP, WebP); empty when unknown.
std::string GuessImageMimeType(std::span<const std::byte> data);
// Gives a picture stored without a MIME type the one its data shows, else the one its file
// name's extension (PNG or JPEG) suggests.
void FillPictureMimeType(TCoverArt& cover, std::string_view fileName = {});

// Says why (when the caller asked) a picture was not found or not written.
inline void SetPictureWhy(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
}

} // namespace bw
