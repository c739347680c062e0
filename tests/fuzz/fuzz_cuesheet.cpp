// Reads fuzz input as a cue sheet's bytes: decoded as UTF-16, UTF-8 or ISO-8859-1 and
// parsed, with its error naming a line inside the sheet.

#include "cd/cuesheet.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = bw::DecodeCueText({reinterpret_cast<const std::byte*>(data), size});
    bw::TCueSheet sheet;
    std::string why;
    if (!bw::ParseCueSheet(text, sheet, &why)) {
        if (why.rfind("line ", 0) != 0)
            __builtin_trap();
        return 0;
    }
    // A parsed sheet's tracks go forwards, each with its start in a listed file.
    int last = 0;
    for (const bw::TCueTrackEntry& t : sheet.Tracks) {
        if (t.Number <= last || t.Number > 99 || t.Start().Number != 1 ||
            t.Start().File >= sheet.Files.size() || t.Start().Frame < 0)
            __builtin_trap();
        last = t.Number;
    }
    return 0;
}
