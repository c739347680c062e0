#pragma once

#include "core/jobitem.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bw {

inline constexpr int kJobColumnCount = 15;
inline constexpr const char* kStatusNew = "-";
inline constexpr const char* kCdTrackTypeName = "CD Track";

// The Length column's text: [hh:]mm:ss.t.
std::string FormatDuration(int32_t ms);
// A file size in MB with two decimals: "4.77 MB".
std::string FormatFileSize(int64_t bytes);

// The texts of a job item's row, column by column; the Status column shows status.
std::array<std::string, kJobColumnCount> JobRowTexts(const TmyMusicFile& item, const std::string& status);

// The file name part of a path.
std::string FileNamePart(const std::string& path);

// The job items of the list. Each added item takes the next slot and keeps it; removing a
// row frees its item but not its slot, and only Clear starts the numbering again. The
// table grows as needed: there is no limit on how many files a list may hold.
class TJobTable {
public:
    // Stores the item in the next slot (recorded in its TableIndex) and returns it.
    TmyMusicFile& Add(TmyMusicFile item);
    // The item in a slot; null for a free or unused slot.
    TmyMusicFile* At(int slot);
    const TmyMusicFile* At(int slot) const;
    void Free(int slot);
    void Clear();
    int LastJobIndex() const { return static_cast<int>(slots_.size()) - 1; }

private:
    std::vector<std::unique_ptr<TmyMusicFile>> slots_;
};

} // namespace bw
