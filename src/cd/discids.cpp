#include "cd/discids.h"

#include "cd/cddb.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace bw {

namespace {

constexpr int32_t kLeadIn = 150;
// 99 minutes: past any disc, and small enough that every sum stays in 32 bits per track.
constexpr int32_t kMaxSector = 99 * 60 * 75;

int32_t Sector(const TCdMsf& msf) {
    return msf.FrameOffset() - kLeadIn;
}

// The gap between the audio session of an enhanced CD and its data session.
constexpr int32_t kSessionGap = 11400;

std::string MusicBrainzIdOf(const TCDToc& toc, const TDiscIds& ids) {
    if (ids.AudioStarts.empty())
        return {};
    const int first = ids.TocIndex.front() + 1;
    const int last = ids.TocIndex.back() + 1;
    int32_t leadOut = ids.LeadOut + kLeadIn;
    if (last < toc.TrackCount && !toc.Tracks[static_cast<size_t>(last)].IsAudio)
        leadOut = toc.Tracks[static_cast<size_t>(last)].Start.FrameOffset() - kSessionGap;
    std::array<int32_t, 100> offsets{};
    offsets[0] = leadOut;
    for (size_t i = 0; i < ids.AudioStarts.size(); ++i)
        offsets[static_cast<size_t>(ids.TocIndex[i]) + 1] = ids.AudioStarts[i] + kLeadIn;
    char text[8 * 100 + 5];
    int at = std::snprintf(text, sizeof text, "%02X%02X", first, last);
    for (const int32_t offset : offsets)
        at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), "%08X", static_cast<uint32_t>(offset));
    QByteArray id = QCryptographicHash::hash(QByteArray(text, at), QCryptographicHash::Sha1).toBase64();
    id.replace('+', '.').replace('/', '_').replace('=', '-');
    return id.toStdString();
}

} // namespace

std::string TDiscIds::AccurateRipId() const {
    char text[40];
    std::snprintf(text, sizeof text, "%03d-%08x-%08x-%08x", AudioCount(), Id1, Id2, FreedbId);
    return text;
}

TDiscIds ComputeDiscIds(const TCDToc& toc) {
    TDiscIds ids;
    for (int i = 0; i < toc.TrackCount; ++i) {
        const TCDTocTrack& t = toc.Tracks[static_cast<size_t>(i)];
        if (!t.IsAudio)
            continue;
        ids.AudioStarts.push_back(Sector(t.Start));
        ids.TocIndex.push_back(i);
    }
    ids.LeadOut = Sector(toc.LeadOut);
    uint32_t number = 0;
    for (const int32_t start : ids.AudioStarts) {
        ids.Id1 += static_cast<uint32_t>(start);
        ids.Id2 += static_cast<uint32_t>(std::max(start, 1)) * ++number;
    }
    ids.Id1 += static_cast<uint32_t>(ids.LeadOut);
    ids.Id2 += static_cast<uint32_t>(ids.LeadOut) * (number + 1);
    ids.FreedbId = ComputeDiscId(toc);
    ids.MusicBrainzId = MusicBrainzIdOf(toc, ids);
    return ids;
}

bool ParseTocText(std::string_view text, TCDToc& toc, std::string& why) {
    toc = TCDToc{};
    bool leadOut = false;
    int32_t last = -1;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ',') {
            ++pos;
            continue;
        }
        size_t end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != ',')
            ++end;
        const std::string_view word = text.substr(pos, end - pos);
        pos = end;
        const char kind = word[0];
        int32_t sector = -1;
        const auto [ptr, ec] = std::from_chars(word.data() + 1, word.data() + word.size(), sector);
        if ((kind != 'A' && kind != 'D' && kind != 'L') || word.size() < 2 || ec != std::errc() ||
            ptr != word.data() + word.size()) {
            why = "\"" + std::string(word) + "\" is no A, D or L followed by a start sector";
            return false;
        }
        if (leadOut) {
            why = "the lead-out (L) must come last";
            return false;
        }
        if (sector < kLeadIn || sector > kMaxSector + kLeadIn || sector <= last) {
            why = "\"" + std::string(word) + "\": the sectors must rise, from 150 to " +
                  std::to_string(kMaxSector + kLeadIn);
            return false;
        }
        last = sector;
        const TCdMsf at = TCdMsf::FromLsn(sector - kLeadIn);
        if (kind == 'L') {
            toc.LeadOut = at;
            leadOut = true;
            continue;
        }
        if (toc.TrackCount >= 99) {
            why = "a disc holds at most 99 tracks";
            return false;
        }
        toc.Tracks[toc.TrackCount].Start = at;
        toc.Tracks[toc.TrackCount].IsAudio = kind == 'A' ? -1 : 0;
        ++toc.TrackCount;
    }
    if (toc.TrackCount == 0 || !leadOut) {
        why = "a table of contents needs at least one track and the lead-out (L) last";
        return false;
    }
    return true;
}

} // namespace bw
