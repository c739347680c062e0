// Reads fuzz input as the start of a file with an ID3v2 tag.

#include "tags/id3v2.h"
#include "tags/tagsource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    bw::TID3v2 tag;
    tag.Load(source);
    // What was read must write out as a version 2.3 tag that reads back.
    const std::vector<std::byte> built = tag.BuildTag(0);
    bw::TMemorySource written(built);
    bw::TID3v2 back;
    if (built.empty() || !back.Load(written) || !back.Present() || back.VersionID() != 3 ||
        back.Size() != static_cast<int32_t>(built.size()))
        __builtin_trap();
    return 0;
}
