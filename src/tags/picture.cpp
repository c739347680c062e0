#include "tags/picture.h"

#include "common/asciicase.h"
#include "tags/textcodec.h"

namespace bw {

std::string GuessImageMimeType(std::span<const std::byte> data) {
    const std::string_view s = AsText(data);
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

void FillPictureMimeType(TCoverArt& cover, std::string_view fileName) {
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

} // namespace bw
