#pragma once

#include "cd/cddb.h"

#include <span>
#include <string>

namespace bw {

// Reads xmcd records, the text form of a disc database entry: "#" comment lines with the
// table of contents, the disc length and the revision, then KEYWORD=value lines.
class TLocalCDDB {
public:
    // Fills info from a record's lines (each trimmed, none empty). Category is kept, every
    // other field is cleared first. Returns 0 for a complete record, -4 when a required line
    // is missing or a number does not convert; what was filled before stays.
    int ParseXmcd(std::span<const std::string> lines, TCDInfo& info);
};

// An xmcd value with its escapes decoded: \n becomes CR LF, \t a tab, \\ one backslash;
// any other backslash stays.
std::string DecodeXmcdValue(std::string_view value);

} // namespace bw
