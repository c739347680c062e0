#include "tags/vorbiscomment.h"

#include "common/asciicase.h"

#include "tags/textcodec.h"

#include <array>

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

} // namespace bw
