#include "shell/riplog.h"

#include "common/buildinfo.h"
#include "common/outputfile.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace bw {

namespace {

std::string TwoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// CD frames as a sheet's "mm:ss:ff".
std::string CueTime(int64_t frames) {
    return TwoDigits(static_cast<int>(frames / 4500)) + ":" +
           TwoDigits(static_cast<int>(frames / 75 % 60)) + ":" +
           TwoDigits(static_cast<int>(frames % 75));
}

// A sheet's quoted text cannot hold a double quote: it would end the text early.
std::string CueQuoted(std::string text) {
    for (char& c : text)
        if (c == '"')
            c = '\'';
    return "\"" + text + "\"";
}

std::string Relative(const std::string& file, const std::string& folder) {
    std::error_code ec;
    const auto rel = std::filesystem::relative(file, folder, ec);
    return ec || rel.empty() ? file : rel.generic_string();
}

std::string LocalTimeText(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

std::string Hex8(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

bool WriteOne(const std::string& path, const std::string& text, std::string* why) {
    TPendingOutput pending(path);
    {
        std::ofstream out(pending.TemporaryPath(), std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            if (why)
                *why = "Can't write \"" + path + "\"";
            return false;
        }
    }
    std::string error;
    if (!pending.Commit(error)) {
        if (why)
            *why = "Can't write \"" + path + "\": " + error;
        return false;
    }
    return true;
}

} // namespace

bool TRipTrack::Verified() const {
    return !File.empty() && LostSectors == 0 && RipChecked && AccurateRip.starts_with("Accurate");
}

std::string RipLogText(const TRipRecord& r) {
    std::string log = std::string(kProgramName) + " " + kVersion + " rip log\n";
    log += "Date: " + LocalTimeText(r.Time) + "\n";
    log += "Drive: " + r.Drive + "\n";
    log += "Read mode: secure (every sector verified by re-reading)\n";
    log += "Retries: up to " + std::to_string(r.Retries) + " re-reads of a sector\n";
    log += "Read offset correction: " + std::string(r.ReadOffset > 0 ? "+" : "") +
           std::to_string(r.ReadOffset) + " samples\n";
    log += "Disc: " + r.Performer + " / " + r.Album + "\n";
    if (!r.DiscId.empty())
        log += "Disc id: " + r.DiscId + "\n";
    if (!r.Mcn.empty())
        log += "Catalogue number: " + r.Mcn + "\n";
    std::string unverified;
    for (const TRipTrack& t : r.Tracks) {
        log += "\nTrack " + TwoDigits(t.Number) + "\n";
        log += "  File: " + (t.File.empty() ? std::string("(not written)") : t.File) + "\n";
        log += "  Status: " + t.Status + "\n";
        if (!t.Isrc.empty())
            log += "  ISRC: " + t.Isrc + "\n";
        log += "  Lost sectors: " + std::to_string(t.LostSectors) + "\n";
        // What the checksums found, where they were taken.
        if (t.RipChecked) {
            char peak[16];
            std::snprintf(peak, sizeof peak, "%.1f %%", t.Peak * 100.0 / 32768);
            log += "  Peak: " + std::string(peak) + "\n";
            log += "  Copy CRC: " + Hex8(t.CopyCrc) + "\n";
        }
        if (!t.ReplayGain.empty())
            log += "  ReplayGain: " + t.ReplayGain + ", peak " + t.ReplayPeak + "\n";
        log += "  AccurateRip: " +
               (t.AccurateRip.empty() ? std::string("Not verified") : t.AccurateRip) + "\n";
        if (!t.Verified())
            unverified += (unverified.empty() ? "" : ", ") + std::to_string(t.Number);
    }
    log += "\n";
    log += unverified.empty() ? "Every track was read without loss and verified accurate.\n"
                              : "Not every track was verified: track " + unverified + ".\n";
    return log;
}

std::string RipCueText(const TRipRecord& r, const std::string& folder) {
    std::string cue;
    if (!r.Genre.empty())
        cue += "REM GENRE " + CueQuoted(r.Genre) + "\n";
    if (!r.Date.empty())
        cue += "REM DATE " + r.Date + "\n";
    if (!r.DiscId.empty())
        cue += "REM DISCID " + r.DiscId + "\n";
    if (!r.Mcn.empty())
        cue += "CATALOG " + r.Mcn + "\n";
    cue += "PERFORMER " + CueQuoted(r.Performer) + "\n";
    cue += "TITLE " + CueQuoted(r.Album) + "\n";
    const TRipTrack* previous = nullptr; // the written track before, whose file holds a gap
    for (const TRipTrack& t : r.Tracks) {
        if (t.File.empty()) {
            previous = nullptr;
            continue;
        }
        std::string track = "  TRACK " + TwoDigits(t.Number) + " AUDIO\n";
        track += "    TITLE " + CueQuoted(t.Title) + "\n";
        track += "    PERFORMER " + CueQuoted(t.Performer) + "\n";
        if (!t.Isrc.empty())
            track += "    ISRC " + t.Isrc + "\n";
        const std::string file = "FILE " + CueQuoted(Relative(t.File, folder)) + " WAVE\n";
        if (previous && t.PregapSectors > 0 && t.PregapSectors < previous->Sectors &&
            previous->Number + 1 == t.Number) {
            // The gap was read as the end of the track before.
            cue += track + "    INDEX 00 " + CueTime(previous->Sectors - t.PregapSectors) + "\n";
            cue += file + "    INDEX 01 00:00:00\n";
        } else {
            cue += file + track + "    INDEX 01 00:00:00\n";
        }
        previous = &t;
    }
    return cue;
}

std::string RipPlaylistText(const TRipRecord& r, const std::string& folder) {
    std::string m3u = "#EXTM3U\n";
    for (const TRipTrack& t : r.Tracks) {
        if (t.File.empty())
            continue;
        m3u += "#EXTINF:" + std::to_string(t.Sectors / 75) + "," + t.Performer + " - " + t.Title +
               "\n";
        m3u += Relative(t.File, folder) + "\n";
    }
    return m3u;
}

bool WriteRipFiles(const TRipRecord& r, const std::string& folder, const std::string& name,
                   std::string* why) {
    const std::string base = (std::filesystem::path(folder) / name).string();
    return WriteOne(base + ".log", RipLogText(r), why) &&
           WriteOne(base + ".cue", RipCueText(r, folder), why) &&
           WriteOne(base + ".m3u", RipPlaylistText(r, folder), why);
}

} // namespace bw
