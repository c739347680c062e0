#include "tags/streamhead.h"

#include "tags/id3v2.h"

#include <algorithm>

namespace bw {

TStreamHead ReadStreamHead(TTagSource& source, TID3v2* id3v2, size_t length) {
    TStreamHead head;
    if (id3v2) {
        head.TagRead = id3v2->Load(source);
        // A tag whose size runs past the end of the file counts 0 and hides nothing.
        if (id3v2->Present())
            head.Start = static_cast<uint64_t>(std::max(id3v2->Size(), 0));
    }
    head.Read = head.Start <= source.Size() && source.Read(head.Start, length, head.Bytes);
    return head;
}

} // namespace bw
