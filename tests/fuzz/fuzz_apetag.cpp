// Reads fuzz input as the end of a file with an APE tag (and maybe an ID3v1 record).

#include "tags/apetag.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    bw::TAPETag tag;
    tag.Load(source);
    // What was read must write out as a tag that is found again, with its size. An ID3v1
    // record behind it fixes where the footer is looked for, whatever the values hold.
    const std::string built = "audio" + tag.BuildTag() + "TAG" + std::string(125, '\0');
    bw::TMemorySource written(bw::AsBytes(built));
    bw::TAPETag back;
    if (!back.Load(written) || !back.Present() || back.Size() != static_cast<int32_t>(tag.TagBytes()))
        __builtin_trap();
    return 0;
}
