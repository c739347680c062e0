// One stream reader, chosen at build time (BW_FUZZ_READER, BW_FUZZ_HEADER), reads the fuzz
// input as a whole file. Whatever it reads must give sane numbers, the same on a second read.

#include BW_FUZZ_HEADER
#include "tags/tagsource.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

template <class Reader> double ReadAndMeasure(Reader& reader, bw::TTagSource& source) {
    reader.Load(source);
    return reader.Duration();
}

#ifdef BW_FUZZ_CDA
double ReadAndMeasure(bw::TCDAtrack& reader, bw::TTagSource& source) {
    reader.SetDatabasePath({});
    reader.ReadFrom(source);
    return reader.Duration();
}
#endif

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    bw::BW_FUZZ_READER reader;
    const double first = ReadAndMeasure(reader, source);
    if (std::isnan(first) || first < 0)
        __builtin_trap();
    // Readers are reused for every file: a second read of the same bytes gives the same.
    if (ReadAndMeasure(reader, source) != first)
        __builtin_trap();
    return 0;
}
