#pragma once

#include "common/bytereader.h"
#include "tags/tagsource.h"
#include "tags/vorbiscomment.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bw {

// One Ogg packet read across as many pages as it spans, segment by segment (a comment
// holding a cover picture runs over many pages).
class TOggPacketStream final : public TByteStream {
public:
    TOggPacketStream(TTagSource& source, uint64_t pageStart) : source_(source), next_(pageStart) {}

    bool Read(size_t n, std::string& out) override {
        out.clear();
        while (out.size() < n) {
            if (!Fill())
                return false;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n - out.size(), segmentLeft_));
            std::vector<std::byte> b;
            if (!source_.ReadExact(dataPos_, take, b))
                return false;
            out.append(reinterpret_cast<const char*>(b.data()), b.size());
            Advance(take);
        }
        return true;
    }

    bool Skip(uint64_t n) override {
        while (n > 0) {
            if (!Fill())
                return false;
            const uint64_t take = std::min<uint64_t>(n, segmentLeft_);
            Advance(take);
            n -= take;
        }
        return true;
    }

    // Where the page after the packet's last page read so far starts.
    uint64_t NextPageStart() const { return next_; }

private:
    static constexpr size_t kPageHeader = 27;
    static constexpr int kMaxPages = 100000; // pages one packet may span before the file is hostile

    // Makes bytes of the current packet available; false at its end or on a broken page.
    bool Fill() {
        while (segmentLeft_ == 0) {
            if (packetEnded_)
                return false;
            if (segment_ < lacing_.size()) {
                const uint8_t l = lacing_[segment_++];
                segmentLeft_ = l;
                if (l < 255)
                    packetEnded_ = true; // a segment shorter than 255 ends the packet
                if (l == 0)
                    return false;
                continue;
            }
            if (!NextPage())
                return false;
        }
        return true;
    }

    bool NextPage() {
        if (++pages_ > kMaxPages)
            return false;
        std::vector<std::byte> head;
        if (!source_.ReadExact(next_, kPageHeader, head))
            return false;
        TByteReader r(head);
        if (!r.Expect("OggS"))
            return false;
        r.Seek(26);
        const uint8_t segments = r.U8();
        std::vector<std::byte> table;
        if (!source_.ReadExact(next_ + kPageHeader, segments, table))
            return false;
        lacing_.clear();
        uint64_t body = 0;
        for (std::byte b : table) {
            lacing_.push_back(static_cast<uint8_t>(b));
            body += static_cast<uint8_t>(b);
        }
        segment_ = 0;
        dataPos_ = next_ + kPageHeader + segments;
        next_ = dataPos_ + body;
        return true;
    }

    void Advance(uint64_t n) {
        dataPos_ += n;
        segmentLeft_ -= n;
    }

    TTagSource& source_;
    uint64_t next_;         // where the next page starts
    uint64_t dataPos_ = 0;  // file offset of the next byte of the packet
    uint64_t segmentLeft_ = 0;
    std::vector<uint8_t> lacing_;
    size_t segment_ = 0;
    bool packetEnded_ = false;
    int pages_ = 0;
};

} // namespace bw
