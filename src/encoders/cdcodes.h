#pragma once

#include "core/jobitem.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw {

// The codes a CD track carries, as tag items under a format's names: the recording's ISRC
// and the disc's catalogue number as its barcode, each only when the item has one, so that
// the tags of other items stay as they were.
inline std::vector<std::pair<std::string, std::string>>
CdCodeTags(const TmyMusicFile& item, std::string_view isrcName, std::string_view barcodeName) {
    std::vector<std::pair<std::string, std::string>> tags;
    if (!item.Isrc.empty())
        tags.emplace_back(isrcName, item.Isrc);
    if (!item.Barcode.empty())
        tags.emplace_back(barcodeName, item.Barcode);
    return tags;
}

} // namespace bw
