// Reads fuzz input as a whole file for its embedded cover picture (ID3v2, FLAC, Ogg, ASF
// and APE tags are all looked in).

#include "tags/covers.h"
#include "tags/flacfile.h"
#include "tags/tagsource.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    std::string why;
    const auto cover = bw::ReadEmbeddedCover(source, &why);
    if (!cover)
        return 0;
    // A picture found lies inside the input, and passes through a picture block unchanged.
    if (cover->Data.empty() || cover->Data.size() > size)
        __builtin_trap();
    const auto back = bw::ParsePictureBlock(bw::BuildPictureBlock(*cover), nullptr);
    if (!back || back->Data != cover->Data || back->MimeType != cover->MimeType ||
        back->PictureType != cover->PictureType)
        __builtin_trap();
    return 0;
}
