#pragma once

#include <cstddef>
#include <string_view>

namespace bw {

// Decodes the UTF-8 sequence at s[i] (one to four bytes). False when it is not valid UTF-8:
// a stray continuation byte, a cut sequence, an overlong form, a surrogate or a value past
// U+10FFFF. len is then not meaningful.
bool DecodeUtf8At(std::string_view s, size_t i, char32_t& cp, size_t& len);

} // namespace bw
