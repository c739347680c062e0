#include "shell/joblist.h"

#include <cstdio>

namespace bw {

std::string FormatDuration(int32_t ms) {
    if (ms < 0)
        return "00:00.0";
    const int32_t h = ms / 3600000;
    const int32_t m = h > 0 ? (ms / 60000) % 60 : ms / 60000;
    const int32_t s = (ms / 1000) % 60;
    const int32_t t = (ms % 1000) / 100;
    char buf[32];
    if (h > 0)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%d", h, m, s, t);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d.%d", m, s, t);
    return buf;
}

std::string FileNamePart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FormatFileSize(int64_t bytes) {
    char size[32];
    std::snprintf(size, sizeof size, "%.2f MB", static_cast<double>(bytes) / 1024 / 1024);
    return size;
}

std::array<std::string, kJobColumnCount> JobRowTexts(const TmyMusicFile& i, const std::string& status) {
    const std::string size = FormatFileSize(i.FileSize);
    std::string bitRate = std::to_string(i.Bitrate / 1000) + " kbit";
    if (i.IsVbr)
        bitRate += " (VBR)";
    return {FileNamePart(i.SourcePath),
            i.TypeName,
            status,
            size,
            std::to_string(i.SampleRate) + " Hz (" + i.ChannelMode + ")",
            bitRate,
            FormatDuration(i.DurationMs),
            i.Title,
            i.Artist,
            i.Album,
            i.Genre,
            i.Year,
            std::to_string(i.Track),
            i.Comment,
            i.SourcePath};
}

TmyMusicFile& TJobTable::Add(TmyMusicFile item) {
    item.TableIndex = static_cast<int32_t>(slots_.size());
    slots_.push_back(std::make_unique<TmyMusicFile>(std::move(item)));
    return *slots_.back();
}

TmyMusicFile* TJobTable::At(int slot) {
    return slot >= 0 && slot < static_cast<int>(slots_.size()) ? slots_[static_cast<size_t>(slot)].get() : nullptr;
}

const TmyMusicFile* TJobTable::At(int slot) const {
    return slot >= 0 && slot < static_cast<int>(slots_.size()) ? slots_[static_cast<size_t>(slot)].get() : nullptr;
}

void TJobTable::Free(int slot) {
    if (slot >= 0 && slot < static_cast<int>(slots_.size()))
        slots_[static_cast<size_t>(slot)].reset();
}

void TJobTable::Clear() { slots_.clear(); }

} // namespace bw
