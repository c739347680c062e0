#pragma once

#include "audio/audioerror.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace bw {

// What a stream delivers: interleaved PCM at the source's own rate and channel count,
// 16-bit signed little-endian, or 8-bit unsigned where the source itself is 8-bit.
struct TChannelInfo {
    int SampleRate = 0;
    int Channels = 0;
    bool EightBit = false;

    int BytesPerSample() const { return EightBit ? 1 : 2; }
    int BlockAlign() const { return Channels * BytesPerSample(); }
};

// A decoding stream over one audio file (any source format but CD tracks), on FFmpeg.
// Not thread-safe: one thread uses one stream at a time.
class TAudioStream {
public:
    // Opens a file for decoding. On failure returns null and sets *error (when given).
    static std::unique_ptr<TAudioStream> OpenFile(const std::string& path,
                                                  TAudioError* error = nullptr);
    ~TAudioStream();
    TAudioStream(const TAudioStream&) = delete;
    TAudioStream& operator=(const TAudioStream&) = delete;

    TChannelInfo Info() const;
    // Decoded length in bytes of PCM as delivered. An estimate where the container does
    // not know its exact length (LengthIsExact() false): reading still goes to the real
    // end, so progress must be clamped by whoever computes it.
    uint64_t LengthBytes() const;
    bool LengthIsExact() const;

    // Reads up to out.size() bytes of PCM (whole sample frames). Returns the bytes
    // written; 0 at the end of the stream; -1 on a decoding error (LastError() says why).
    int64_t Read(std::span<std::byte> out);
    // Bytes delivered so far since the start (or the last seek).
    uint64_t Position() const;
    // Moves to a byte position (rounded down to a whole sample frame).
    bool Seek(uint64_t bytePos);
    bool AtEnd() const;
    TAudioError LastError() const;

private:
    TAudioStream();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bw
