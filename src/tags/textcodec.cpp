#include "tags/textcodec.h"

#include "common/utf8.h"

#include <cstdint>

namespace bw {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Calls f(codePoint) for each character; an invalid byte is passed as U+FFFD.
template <typename F> void ForEachCodePoint(std::string_view s, F&& f) {
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        size_t len;
        if (DecodeUtf8At(s, i, cp, len)) {
            f(cp);
            i += len;
        } else {
            f(kReplacement);
            ++i;
        }
    }
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        size_t len;
        if (!DecodeUtf8At(s, i, cp, len))
            return false;
        i += len;
    }
    return true;
}

void AppendUnit(std::string& out, uint16_t unit, bool bigEndian) {
    const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

} // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1)
        AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    ForEachCodePoint(utf8, [&](char32_t cp) { out += cp <= 0xFF ? static_cast<char>(cp) : '?'; });
    return out;
}

bool FitsLatin1(std::string_view utf8) {
    bool fits = true;
    ForEachCodePoint(utf8, [&](char32_t cp) { fits = fits && cp <= 0xFF; });
    return fits;
}

size_t Utf8Length(std::string_view utf8) {
    size_t n = 0;
    ForEachCodePoint(utf8, [&](char32_t) { ++n; });
    return n;
}

std::string Utf8Left(std::string_view utf8, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < utf8.size(); ++n) {
        char32_t cp;
        size_t len;
        i += DecodeUtf8At(utf8, i, cp, len) ? len : 1;
    }
    return std::string(utf8.substr(0, i));
}

std::string Utf16ToUtf8(std::span<const std::byte> data, bool bigEndian) {
    std::string out;
    const size_t units = data.size() / 2;
    auto unitAt = [&](size_t k) -> uint16_t {
        const auto a = static_cast<uint16_t>(data[2 * k]), b = static_cast<uint16_t>(data[2 * k + 1]);
        return bigEndian ? static_cast<uint16_t>(a << 8 | b) : static_cast<uint16_t>(b << 8 | a);
    };
    for (size_t k = 0; k < units; ++k) {
        const uint16_t u = unitAt(k);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const uint16_t low = unitAt(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
    }
    return out;
}

std::string Utf8ToUtf16(std::string_view utf8, bool bigEndian) {
    std::string out;
    ForEachCodePoint(utf8, [&](char32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(out, static_cast<uint16_t>(0xD800 + (cp >> 10)), bigEndian);
            AppendUnit(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)), bigEndian);
        } else {
            AppendUnit(out, static_cast<uint16_t>(cp), bigEndian);
        }
    });
    return out;
}

std::string Utf8OrLatin1(std::string_view text, bool wasCut) {
    if (wasCut) {
        // Drop a lead byte and its continuation bytes that the cut left without their end.
        size_t back = 0;
        while (back < 3 && back < text.size() &&
               (static_cast<unsigned char>(text[text.size() - 1 - back]) & 0xC0) == 0x80)
            ++back;
        if (back < text.size() && static_cast<unsigned char>(text[text.size() - 1 - back]) >= 0xC0) {
            char32_t cp;
            size_t len;
            if (!DecodeUtf8At(text, text.size() - 1 - back, cp, len))
                text.remove_suffix(back + 1);
        }
    }
    if (IsValidUtf8(text))
        return std::string(text);
    return Latin1ToUtf8(text);
}

std::string_view TrimRightControl(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

std::string_view TrimControl(std::string_view s) {
    s = TrimRightControl(s);
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    return s;
}

} // namespace bw
