#include "cd/localcddb.h"
#include "common/asciicase.h"

#include <charconv>
#include <optional>
#include <vector>

namespace bw {

namespace {

// The completeness flags: every one must be seen for a complete record.
enum : unsigned {
    kFlagXmcd = 1,
    kFlagOffsets = 2,
    kFlagLength = 4,
    kFlagRevision = 8,
    kFlagDiscId = 16,
    kFlagDTitle = 32,
    kFlagTTitle = 64,
    kFlagExtd = 128,
    kFlagExtt = 256,
    kFlagPlayOrder = 512,
    kAllFlags = 1023,
};

enum class TKind : uint8_t {
    Offset = 1, Length, Revision, DiscId, DTitle, DYear, DGenre, TTitle, Extd, Extt, PlayOrder,
};

struct TEntryParseRecord {
    TKind Kind;
    int32_t Index = 0;
    std::string Value;
    bool BadIndex = false; // the digits before "=" are no number
};

constexpr size_t kMaxLines = 1024;
constexpr size_t kMaxTracks = 100;

// Characters from position from (counted from 1) on, count of them; fewer at the end.
std::string_view Mid(std::string_view s, size_t from, size_t count = std::string_view::npos) {
    return from - 1 < s.size() ? s.substr(from - 1, count) : std::string_view();
}

std::optional<int64_t> Number(std::string_view s) {
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

// A TTITLEn= or EXTTn= line: the index is the one or two digits between the keyword and
// the first "="; any other form adds nothing.
TEntryParseRecord Indexed(TKind kind, std::string_view line, size_t keywordLength) {
    TEntryParseRecord r{kind, 0, {}};
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return r;
    const size_t digits = eq - keywordLength;
    if (digits != 1 && digits != 2)
        return r;
    const auto n = Number(line.substr(keywordLength, digits));
    if (!n || *n < 0) {
        r.BadIndex = true;
        return r;
    }
    r.Index = static_cast<int32_t>(*n);
    r.Value = DecodeXmcdValue(line.substr(eq + 1));
    return r;
}

} // namespace

std::string DecodeXmcdValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[i + 1];
            if (next == 'n') {
                out += "\r\n";
                ++i;
                continue;
            }
            if (next == 't' || next == '\\') {
                out += next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        out += value[i];
    }
    return out;
}

int TLocalCDDB::ParseXmcd(std::span<const std::string> lines, TCDInfo& info) {
    const std::string category = info.Category;
    info = TCDInfo{};
    info.Category = category;
    if (lines.size() > kMaxLines)
        lines = lines.first(kMaxLines);

    unsigned flags = 0;
    std::vector<TEntryParseRecord> records;
    int32_t offsets = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.find("# xmcd") != std::string_view::npos)
            flags |= kFlagXmcd;
        if (!line.empty() && line[0] == '#') {
            if (Mid(line, 3, 20) == "Track frame offsets:") {
                flags |= kFlagOffsets;
                // The list runs to a bare "#", a "Disc length:" line or the last line.
                while (i + 1 < lines.size()) {
                    const std::string_view next = lines[i + 1];
                    if (TrimControlAndSpace(next) == "#") {
                        ++i;
                        break;
                    }
                    if (Mid(next, 3, 12) == "Disc length:")
                        break;
                    ++i;
                    if (next.find("# xmcd") != std::string_view::npos)
                        flags |= kFlagXmcd;
                    records.push_back({TKind::Offset, offsets++, TrimControlAndSpace(Mid(next, 3))});
                }
            } else if (Mid(line, 3, 12) == "Disc length:") {
                flags |= kFlagLength;
                const std::string_view rest = Mid(line, 16);
                records.push_back({TKind::Length, 0, std::string(rest.substr(0, rest.find(' ')))});
            } else if (Mid(line, 3, 9) == "Revision:") {
                flags |= kFlagRevision;
                records.push_back({TKind::Revision, 0, std::string(Mid(line, 13))});
            }
            continue;
        }
        const auto starts = [&line](std::string_view keyword) { return line.substr(0, keyword.size()) == keyword; };
        const auto value = [&line] { return DecodeXmcdValue(line.substr(line.find('=') + 1)); };
        if (starts("DISCID=")) {
            flags |= kFlagDiscId;
            records.push_back({TKind::DiscId, 0, value()});
        } else if (starts("DTITLE=")) {
            flags |= kFlagDTitle;
            records.push_back({TKind::DTitle, 0, value()});
        } else if (starts("DYEAR=")) {
            records.push_back({TKind::DYear, 0, value()});
        } else if (starts("DGENRE=")) {
            records.push_back({TKind::DGenre, 0, value()});
        } else if (starts("TTITLE")) {
            flags |= kFlagTTitle;
            records.push_back(Indexed(TKind::TTitle, line, 6));
        } else if (starts("EXTD=")) {
            flags |= kFlagExtd;
            records.push_back({TKind::Extd, 0, value()});
        } else if (starts("EXTT")) {
            flags |= kFlagExtt;
            records.push_back(Indexed(TKind::Extt, line, 4));
        } else if (starts("PLAYORDER=")) {
            flags |= kFlagPlayOrder;
            records.push_back({TKind::PlayOrder, 0, value()});
        }
    }
    info.Toc.TrackCount = static_cast<uint8_t>(std::min<size_t>(static_cast<size_t>(offsets), kMaxTracks));

    bool titleSplit = false;
    for (const TEntryParseRecord& r : records) {
        if (r.BadIndex)
            return -4;
        switch (r.Kind) {
        case TKind::Offset: {
            if (r.Value.empty() || static_cast<size_t>(r.Index) >= kMaxTracks)
                break;
            const auto n = Number(r.Value);
            // Minutes are a byte: a longer offset is no disc address.
            if (!n || *n < 0 || *n >= 256 * 4500)
                return -4;
            auto& t = info.Toc.Tracks[static_cast<size_t>(r.Index)];
            const auto minute = *n / 4500;
            const auto second = *n / 75 - minute * 60;
            t.Start = {static_cast<uint8_t>(minute), static_cast<uint8_t>(second),
                       static_cast<uint8_t>(*n - minute * 4500 - second * 75)};
            t.IsAudio = -1;
            break;
        }
        case TKind::Length: {
            const auto d = Number(r.Value);
            if (!d || *d < 0 || *d >= 256 * 60)
                return -4;
            info.Toc.LeadOut = {static_cast<uint8_t>(*d / 60), static_cast<uint8_t>(*d % 60), 0};
            break;
        }
        case TKind::Revision: {
            const auto v = Number(r.Value);
            if (!v || *v < INT32_MIN || *v > INT32_MAX)
                return -4;
            info.Revision = static_cast<int32_t>(*v);
            break;
        }
        case TKind::DiscId: info.DiscId += r.Value; break;
        case TKind::DTitle: {
            const size_t split = r.Value.find(" / ");
            if (split != std::string::npos) {
                info.Artist += r.Value.substr(0, split);
                info.Title = r.Value.substr(split + 3);
                titleSplit = true;
            } else {
                (titleSplit ? info.Title : info.Artist) += r.Value;
            }
            break;
        }
        case TKind::DYear: info.Year += r.Value; break;
        case TKind::DGenre: info.Genre += r.Value; break;
        case TKind::TTitle: info.TrackTitles[static_cast<size_t>(r.Index)] += r.Value; break;
        case TKind::Extd: info.ExtendedData += r.Value; break;
        case TKind::Extt: info.TrackExtended[static_cast<size_t>(r.Index)] += r.Value; break;
        case TKind::PlayOrder: break; // only required to be there
        }
    }
    return flags == kAllFlags ? 0 : -4;
}

} // namespace bw
