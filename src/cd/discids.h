#pragma once

#include "cd/cdtoc.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The identifiers a disc is known by in the rip databases, all from its table of contents.
// Only audio tracks are listed and counted: a data track after them (an enhanced CD) or
// before them (a mixed-mode CD) is left out, though the lead-out stays the disc's own, and
// the freedb id (ComputeDiscId) counts every track.
struct TDiscIds {
    std::vector<int32_t> AudioStarts; // each audio track's first sector, without the lead-in
    std::vector<int> TocIndex;        // each audio track's place in the table of contents, from 0
    int32_t LeadOut = 0;              // the disc's lead-out sector, without the lead-in
    uint32_t Id1 = 0;                 // the audio starts plus the lead-out
    uint32_t Id2 = 0; // max(start, 1) x audio track number, plus lead-out x (count + 1)
    uint32_t FreedbId = 0;
    // MusicBrainz's: the SHA-1 of the first and last audio track numbers, the lead-out and
    // the 99 track starts (all with the lead-in) as hex text, in base64 with ".", "_" and
    // "-" for "+", "/" and "=". An enhanced CD's audio session ends 11,400 sectors (the
    // session gap) before its data track.
    std::string MusicBrainzId;

    int AudioCount() const { return static_cast<int>(AudioStarts.size()); }
    // "nnn-xxxxxxxx-xxxxxxxx-xxxxxxxx": the audio track count, id1, id2 and the freedb id.
    std::string AccurateRipId() const;
};

TDiscIds ComputeDiscIds(const TCDToc& toc);

// A table of contents written as start sectors counted with the 150-sector lead-in, one
// word each: "A150 A20000 D60000 L90000" (A an audio track, D a data track, L the lead-out,
// which comes last). False, with why, for anything else: a word of another form, starts
// that do not rise, no lead-out or none last, no track, more than 99.
bool ParseTocText(std::string_view text, TCDToc& toc, std::string& why);

} // namespace bw
