#include "tags/vorbiscomment.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "tags/textcodec.h"

#include <algorithm>
#include <array>
#include <vector>

namespace bw {

namespace {

bool ReadU32(TByteStream& in, uint32_t& v) {
    std::string b;
    if (!in.Read(4, b) || b.size() < 4)
        return false;
    v = static_cast<uint8_t>(b[0]) | static_cast<uint8_t>(b[1]) << 8 |
        static_cast<uint8_t>(b[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[3])) << 24;
    return true;
}

} // namespace

bool WalkVorbisComment(TByteStream& in, const std::function<bool(TByteStream&, uint32_t)>& take) {
    uint32_t vendorLength = 0, count = 0;
    if (!ReadU32(in, vendorLength) || !in.Skip(vendorLength) || !ReadU32(in, count))
        return false;
    // Every comment takes at least its 4-byte length, so the count is bounded by the
    // stream's end: a hostile count simply runs into it.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!ReadU32(in, length))
            return false;
        if (!take(in, length))
            return true;
    }
    return true;
}

bool ReadVorbisComment(TByteStream& in, TVorbisFields& f, TCommentRule rule, size_t maxKept) {
    const std::array<std::pair<const char*, std::string*>, 9> names{{
        {"TITLE", &f.Title}, {"ARTIST", &f.Artist}, {"PERFORMER", &f.Performer},
        {"ALBUM", &f.Album}, {"TRACKNUMBER", &f.TrackText}, {"DATE", &f.Date},
        {"GENRE", &f.Genre}, {"COMMENT", &f.Comment}, {"DESCRIPTION", &f.Description},
    }};
    std::array<bool, 9> seen{};
    std::array<bool, kReleaseFieldCount> releaseSeen{};
    bool broken = false;
    const bool walked = WalkVorbisComment(in, [&](TByteStream& comment, uint32_t length) {
        std::string text;
        const size_t keep = std::min<size_t>(length, maxKept);
        if (!comment.Read(keep, text) || text.size() < keep ||
            (length > keep && !comment.Skip(length - keep))) {
            broken = true;
            return false;
        }
        const size_t eq = text.find('=');
        if (eq == std::string::npos)
            return true;
        const std::string name = AsciiUpper(text.substr(0, eq));
        for (size_t k = 0; k < names.size(); ++k) {
            if (name != names[k].first)
                continue;
            if (rule == TCommentRule::FirstWins && seen[k])
                break;
            seen[k] = true;
            const bool cut = length > keep;
            *names[k].second = std::string(TrimControl(Utf8OrLatin1(text.substr(eq + 1), cut)));
            break;
        }
        for (size_t k = 0; k < kReleaseFieldCount; ++k) {
            if (name != kVorbisReleaseNames[k] ||
                (rule == TCommentRule::FirstWins && releaseSeen[k]))
                continue;
            releaseSeen[k] = true;
            f.Release[k] =
                std::string(TrimControl(Utf8OrLatin1(text.substr(eq + 1), length > keep)));
        }
        return true;
    });
    return walked && !broken;
}

namespace {

void PutU32LE(std::string& out, size_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

} // namespace

std::optional<std::string>
ReplaceVorbisComments(std::string_view body,
                      std::span<const std::pair<std::string, std::string>> items) {
    TByteReader r(AsBytes(body));
    const std::string vendor = r.Text(r.U32LE());
    const uint32_t count = r.U32LE();
    std::vector<std::string> kept;
    for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
        std::string comment = r.Text(r.U32LE());
        const std::string name = AsciiUpper(std::string_view(comment).substr(0, comment.find('=')));
        if (std::none_of(items.begin(), items.end(),
                         [&](const auto& item) { return AsciiUpper(item.first) == name; }))
            kept.push_back(std::move(comment));
    }
    if (r.Failed())
        return std::nullopt;
    for (const auto& [name, value] : items)
        kept.push_back(name + "=" + value);
    std::string out;
    PutU32LE(out, vendor.size());
    out += vendor;
    PutU32LE(out, kept.size());
    for (const std::string& comment : kept) {
        PutU32LE(out, comment.size());
        out += comment;
    }
    out += body.substr(body.size() - r.Remaining());
    return out;
}

} // namespace bw
