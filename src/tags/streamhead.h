#pragma once

// The opening the stream readers of the source formats share: the file opened, the ID3v2
// tag some writers put in front of a stream read past, and the first bytes of the stream
// itself, where its header is looked for.

#include "tags/tagsource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bw {

class TID3v2;

struct TStreamHead {
    bool TagRead = true;          // false when the file is shorter than a tag's header
    uint64_t Start = 0;           // where the stream begins: after the tag, or at 0
    bool Read = false;            // false on a read error
    std::vector<std::byte> Bytes; // the stream's first bytes; fewer where the file ends
    // Whether at least n of the stream's first bytes are there.
    bool Has(size_t n) const { return Read && Bytes.size() >= n; }
};

// Loads the tag at the front of source into id3v2 (nullptr for a format that has none
// there) and reads up to length bytes of the stream after it.
TStreamHead ReadStreamHead(TTagSource& source, TID3v2* id3v2, size_t length);

// A reader's Load of the file at path: a file that cannot be opened leaves the reader
// cleared, and fails.
template <class TReader> bool LoadFromPath(TReader& reader, const std::string& path) {
    reader.Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return reader.Load(source);
}

} // namespace bw
