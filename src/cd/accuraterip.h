#pragma once

#include "cd/discids.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace bw {

// The checksums of one audio track as it is read, fed its 16-bit stereo PCM in order: the
// AccurateRip v1 and v2 checksums (the multiplier counts the track's samples from 1; the
// disc's first audio track leaves out its first 2,939 samples, the last its last 2,940), the
// CRC-32 of the bytes and the largest absolute sample.
class TTrackChecksums {
public:
    TTrackChecksums(uint64_t samples, bool firstTrack, bool lastTrack);

    // Whole sample frames (4 bytes each), continuing where the last call ended.
    void Add(std::span<const std::byte> pcm);
    // Back to the track's start, as made.
    void Reset() { *this = TTrackChecksums(samples_, from_ > 1, to_ < samples_); }
    // Every sample of the track went through Add, none more.
    bool Complete() const { return done_ == samples_; }
    uint64_t SamplesDone() const { return done_; }

    uint32_t V1() const { return v1_; }
    uint32_t V2() const { return v2_; }
    uint32_t CopyCrc() const { return crc_; }
    int32_t Peak() const { return peak_; }

private:
    uint64_t samples_;
    uint64_t from_; // the first multiplier counted
    uint64_t to_;   // the last one
    uint64_t done_ = 0;
    uint32_t v1_ = 0;
    uint32_t v2_ = 0;
    uint32_t crc_ = 0;
    int32_t peak_ = 0;
};

// One track's entry in a block of the database's answer.
struct TArEntry {
    uint8_t Confidence = 0;
    uint32_t Crc = 0; // a v1 or a v2 checksum
    uint32_t Frame450Crc = 0;
};

// One block of an answer: the ids it was submitted under and an entry per track slot.
struct TArBlock {
    uint32_t Id1 = 0;
    uint32_t Id2 = 0;
    uint32_t FreedbId = 0;
    std::vector<TArEntry> Tracks;
};

// The database file's path on the server: "accuraterip/a/b/c/dBAR-nnn-id1-id2-freedbid.bin",
// a, b and c the last three hex digits of id1, the last first.
std::string AccurateRipPath(const TDiscIds& ids);

// Splits an answer into its blocks (a count byte, id1, id2, the freedb id, then per track a
// confidence byte, a checksum and the frame-450 checksum; little-endian). False, with
// blocks empty, when the answer does not end with a whole block.
bool ParseAccurateRipAnswer(std::span<const std::byte> data, std::vector<TArBlock>& blocks);

// The texts a track's result can take.
inline constexpr const char* kArNotAccurate = "Not accurate";
inline constexpr const char* kArNotInDatabase = "Not in database";
inline constexpr const char* kArNotVerified = "Not verified";

struct TArVerdict {
    std::string Text;   // "Accurate (confidence N)", kArNotAccurate or kArNotInDatabase
    int Confidence = 0; // N
};

// The result of the track in table-of-contents slot `slot` (from 0) with checksums v1 and
// v2: accurate with the largest confidence among the entries either matches, not accurate
// when the blocks hold entries for the slot and none matches, not in the database when none
// holds the slot.
TArVerdict JudgeTrack(std::span<const TArBlock> blocks, size_t slot, uint32_t v1, uint32_t v2);

// The database's answer for one disc, as the rip compares its tracks with it.
struct TArDiscAnswer {
    enum class TKind {
        Found,    // Blocks hold what the database knows
        NotFound, // the disc is not in the database
        Failed,   // no usable answer: Error says why
    };
    TKind Kind = TKind::Failed;
    std::vector<TArBlock> Blocks;
    std::string Error;
};

// Asks the database on server ("host[:port]") for the disc of ids and waits on a local event
// loop (the thread needs an application object) for at most timeoutMs milliseconds; an
// answer is taken up to 1 MB. stop, when given, is asked every 100 ms whether to give up.
TArDiscAnswer FetchAccurateRip(const std::string& server, const TDiscIds& ids, int timeoutMs,
                               const std::function<bool()>& stop = {});

} // namespace bw
