#pragma once

// The Monkey's Audio compressor: writes version 3990 files at levels 1000 (Fast) to 4000
// (Extra High) from 8-, 16- or 24-bit, mono or stereo PCM. Used through the operations a
// compressor handle offers: create, start, lock the input buffer, unlock it with the bytes
// added, finish, destroy (the destructor).

#include "pipeline/apeframe.h"
#include "pipeline/checksums.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bw {

// Error codes of the compressor.
inline constexpr int kApeSuccess = 0;
inline constexpr int kApeIoRead = 1000;
inline constexpr int kApeIoWrite = 1001;
inline constexpr int kApeInvalidInputFile = 1002;
inline constexpr int kApeInvalidOutputFile = 1003;
inline constexpr int kApeInputTooLarge = 1004;
inline constexpr int kApeUnsupportedBitDepth = 1005;
inline constexpr int kApeUnsupportedSampleRate = 1006;
inline constexpr int kApeUnsupportedChannels = 1007;
inline constexpr int kApeInputTooSmall = 1008;
inline constexpr int kApeInvalidParameter = 1012;
inline constexpr int kApeInsufficientMemory = 2000;
inline constexpr int kApeBadParameter = 5000;
inline constexpr int kApeTooMuchData = 6000;

// The text of an error code ("undefined (1234)" for a code without one).
std::string APEErrorText(int code);

// The wave format record handed to Start.
struct TWaveFormatEx {
    uint16_t FormatTag = 0;
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint16_t Size = 0;
};

// Fills the record for PCM.
void FillWaveFormatEx(TWaveFormatEx& format, int sampleRate, int bitsPerSample, int channels);

class TAPEFrameWorkers;

class TAPECompress {
public:
    // The handle; errorCode is 0 on success.
    static std::unique_ptr<TAPECompress> Create(int& errorCode);
    // Destroying an unfinished compressor removes the file it had begun.
    ~TAPECompress();
    TAPECompress(const TAPECompress&) = delete;
    TAPECompress& operator=(const TAPECompress&) = delete;

    // Creates outputPath. maxAudioBytes: the expected PCM size, -1 when unknown (only a hint
    // for laying out the file). Answers 0 or an error code.
    int Start(const std::string& outputPath, const TWaveFormatEx& format, int64_t maxAudioBytes,
              int compressionLevel);
    // Where to put the next PCM bytes and how many fit; null after an error or before Start.
    std::byte* LockBuffer(int64_t& bytesAvailable);
    // Takes bytesAdded bytes put at the locked place; with process set, compresses every
    // full frame. Answers 0 or an error code.
    int UnlockBuffer(int64_t bytesAdded, bool process = true);
    // Compresses what is left and completes the file. An input of no audio cannot make a
    // valid file: that answers kApeInputTooSmall and removes the file.
    int Finish();

    // PCM bytes taken whose frames are written or still gathering: those with the workers
    // are not counted yet.
    uint64_t AudioBytesDone() const;

    // The NN filter code path (all give the same bytes); set before Start.
    void SetSimdPath(TSimdPath path) { path_ = path; }
    // Frames are independent: with more than one thread each frame is compressed by the
    // next free worker and written in order, so the file is the same whatever the count.
    // Set before Start; 1 compresses on the caller's thread.
    void SetThreads(int threads) { threads_ = std::clamp(threads, 1, 64); }

private:
    TAPECompress() = default;
    int Fail(int code);
    int CompressFrame(size_t blocks);
    int WriteFrame(const uint8_t* data, size_t n);
    // Writes the oldest frame handed to the workers, waiting for it when wait is set.
    int WriteFinishedFrames(bool wait);
    int AppendStored(const uint8_t* data, size_t n);
    int FlushOutput();
    bool WriteAt(int64_t offset, const void* data, size_t n);
    bool MoveFrameData(int64_t from, int64_t to, int64_t bytes);
    int WriteHeaders();
    std::array<uint8_t, 44> WavHeader(uint32_t audioBytes) const;

    std::string outputPath_;
    int fd_ = -1;
    int error_ = kApeSuccess;
    bool finished_ = false;
    TSimdPath path_ = BestSimdPath();
    int threads_ = 1;
    std::unique_ptr<TAPEFrameEncoder> encoder_;
    std::unique_ptr<TAPEFrameWorkers> workers_; // with more than one thread
    int level_ = 2000;
    int bits_ = 0;
    int channels_ = 0;
    uint32_t rate_ = 0;
    size_t blockAlign_ = 0;
    size_t blocksPerFrame_ = 0;

    std::vector<std::byte> input_; // one frame of PCM
    size_t filled_ = 0;
    uint64_t totalBlocks_ = 0;
    size_t finalFrameBlocks_ = 0;

    std::unique_ptr<uint8_t[]> frame_; // the current frame's logical bytes
    std::array<uint8_t, 4> carry_{};  // logical bytes not yet forming a stored word
    size_t carryFill_ = 0;
    std::vector<uint8_t> outBuffer_;  // stored words waiting to be written
    size_t outFill_ = 0;
    std::optional<TMD5> md5_;         // running over the WAV header and the frame data
    uint64_t expectedAudioBytes_ = 0; // the audio size the running checksum assumed
    uint64_t logicalBytes_ = 0;       // frame data so far
    int64_t dataStart_ = 0;           // where frame data is being written
    int64_t writePos_ = 0;
    std::vector<uint32_t> frameOffsets_; // logical offset of each frame
};

} // namespace bw
