#pragma once

#include "audio/avfileencoder.h"
#include "tags/mp4tags.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace bw {

// The sample rates FFmpeg's AAC encoder takes, high to low.
inline constexpr std::array<int, 13> kAacSampleRates{
    96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

// The rate a source of sourceRate Hz is encoded at: its own where the encoder takes it, else
// the lowest offered rate above it, else the highest one.
int AacSampleRate(int sourceRate);

// Writes AAC-LC with FFmpeg's own encoder into an MP4 audio file (.m4a) whose index stands
// before the audio, so that a player can start it before it has the whole file. The tags
// are put in by our own MP4 item writer once the file is complete. Not thread-safe; one
// thread uses one encoder.
class TAacEncoder {
public:
    // Creates path (replacing a file there) for PCM as a stream delivers it, at a rate of
    // kAacSampleRates, at bitrate bits per second (constant), to be tagged with tags when it
    // is closed. False, with LastError(), when the encoder refuses the values or the file
    // cannot be created; no file is left then.
    bool Open(const std::string& path, const TChannelInfo& pcm, int bitrate, TMp4Tags tags);
    // Encodes whole sample frames of PCM; any length. False on an encoder or write error.
    bool Write(std::span<const std::byte> pcm) { return encoder_.Write(pcm); }
    // Flushes the encoder, finishes the file and writes its tags. False when any of it
    // failed (a full disk): the file is then incomplete. A second call does nothing.
    bool Close() { return encoder_.Close(); }
    bool IsOpen() const { return encoder_.IsOpen(); }
    // Sample frames handed to Write since Open.
    uint64_t FramesWritten() const { return encoder_.FramesWritten(); }
    // Why the last call failed, as a sentence for the user.
    const std::string& LastError() const { return encoder_.LastError(); }

private:
    TAvFileEncoder encoder_;
};

} // namespace bw
