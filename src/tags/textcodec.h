#pragma once

// Text conversions at the edges of the tag formats. Inside the program every text is UTF-8;
// the formats hold ISO-8859-1 (ID3v1, Lyrics3, ID3v2 encoding 0), UTF-16 with or without a
// byte-order mark (ID3v2 encodings 1 and 2) or UTF-8 (ID3v2 encoding 3, APE values).

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace bw {

// Every ISO-8859-1 byte is the code point of the same value.
std::string Latin1ToUtf8(std::string_view latin1);
// Code points above U+00FF (and bytes that are not valid UTF-8) become '?'.
std::string Utf8ToLatin1(std::string_view utf8);
// True when every character of the UTF-8 text has an ISO-8859-1 byte.
bool FitsLatin1(std::string_view utf8);
// Number of characters (code points) of UTF-8 text; an invalid byte counts as one.
size_t Utf8Length(std::string_view utf8);
// The first count characters of UTF-8 text.
std::string Utf8Left(std::string_view utf8, size_t count);

// Decodes UTF-16 units up to the first zero unit or the end (an odd last byte is dropped).
// Surrogate pairs give one code point; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const std::byte> data, bool bigEndian);
// UTF-16 bytes of UTF-8 text, without a byte-order mark or terminator.
std::string Utf8ToUtf16(std::string_view utf8, bool bigEndian);

// Text a format says is UTF-8 but that may come from a writer using ISO-8859-1: valid UTF-8
// is kept as it is, anything else is read byte for byte as ISO-8859-1. When the text was cut
// from a longer value, wasCut drops a multi-byte sequence left incomplete at its end first.
std::string Utf8OrLatin1(std::string_view text, bool wasCut = false);

// Removes bytes of value 0x20 or less (spaces, control bytes, zero bytes) at the ends.
std::string_view TrimRightControl(std::string_view s);
std::string_view TrimControl(std::string_view s);

// The bytes of a span as a byte string, and back.
inline std::string_view AsText(std::span<const std::byte> b) {
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}
inline std::span<const std::byte> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

} // namespace bw
