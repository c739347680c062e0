// Reads fuzz input as an MP4 file's tags; the items read must come back the same from a file
// that holds the list they build.

#include "tags/mp4tags.h"
#include "tags/tagsource.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string Atom(const char* type, const std::string& body) {
    const auto size = static_cast<uint32_t>(body.size() + 8);
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((size >> shift) & 0xFF);
    return out + type + body;
}

bool Same(const bw::TMp4Item& a, const bw::TMp4Item& b) {
    if (a.Key != b.Key || a.Raw != b.Raw || a.Values.size() != b.Values.size())
        return false;
    for (size_t i = 0; i < a.Values.size(); ++i)
        if (a.Values[i].Type != b.Values[i].Type || a.Values[i].Data != b.Values[i].Data)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bw::TMemorySource source({reinterpret_cast<const std::byte*>(data), size});
    bw::TMp4Tags tags;
    if (!tags.Load(source))
        return 0;
    const auto list = tags.BuildList();
    const std::string file =
        Atom("ftyp", std::string("M4A ") + std::string(4, '\0')) +
        Atom("moov",
             Atom("udta", Atom("meta", std::string(4, '\0') +
                                           std::string(reinterpret_cast<const char*>(list.data()),
                                                       list.size()))));
    bw::TMemorySource written({reinterpret_cast<const std::byte*>(file.data()), file.size()});
    bw::TMp4Tags back;
    if (!back.Load(written) || back.Items().size() != tags.Items().size())
        __builtin_trap();
    for (size_t i = 0; i < tags.Items().size(); ++i)
        if (!Same(tags.Items()[i], back.Items()[i]))
            __builtin_trap();
    return 0;
}
