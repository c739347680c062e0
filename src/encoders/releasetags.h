#pragma once

#include "core/releasefields.h"

#include <string>
#include <utility>
#include <vector>

namespace bw {

// The release fields an item has (album artist, disc number, MusicBrainz ids) as tag items
// under a format's names, each only when the item has it, so that the tags of other items
// stay as they were.
inline std::vector<std::pair<std::string, std::string>> ReleaseTags(const TmyMusicFile& item,
                                                                    const TReleaseNames& names) {
    std::vector<std::pair<std::string, std::string>> tags;
    for (size_t field = 0; field < kReleaseFieldCount; ++field)
        if (const std::string& value = item.*kReleaseMembers[field]; !value.empty())
            tags.emplace_back(names[field], value);
    return tags;
}

} // namespace bw
