// Reads fuzz input as the end of a file with an ID3v1 record and a Lyrics3 block.

#include "tags/id3v1.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    bw::TID3v1 tag;
    tag.Load(source);
    // Whatever was read must write out as blocks that read back as a record.
    const std::string blocks = tag.BuildBlocks(true);
    bw::TMemorySource written(bw::AsBytes(blocks));
    bw::TID3v1 back;
    if (!back.Load(written) || !back.Present() || back.Year() != tag.Year() ||
        back.GenreIndex() != tag.GenreIndex() || (tag.Track() != 0 && back.Track() != tag.Track()))
        __builtin_trap();
    return 0;
}
