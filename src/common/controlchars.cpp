#include "common/controlchars.h"

namespace bw {

std::string ControlCharsEscaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!IsControlChar(c)) {
            out += c;
            continue;
        }
        const auto b = static_cast<unsigned char>(c);
        out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
    }
    return out;
}

} // namespace bw
