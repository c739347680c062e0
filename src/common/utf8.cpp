#include "common/utf8.h"

namespace bw {

bool DecodeUtf8At(std::string_view s, size_t i, char32_t& cp, size_t& len) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
        cp = b;
        len = 1;
        return true;
    }
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        cp = b & 0x07;
    } else {
        return false;
    }
    if (len > s.size() - i)
        return false;
    for (size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    return cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

} // namespace bw
