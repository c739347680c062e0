#pragma once

#include "audio/avfileencoder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace bw {

// One tag of an ASF file's extended content: a name ("WM/AlbumTitle") and its text (UTF-8).
using TWmaTag = TAvTag;

// Writes Windows Media Audio: FFmpeg's wmav2 encoder in an ASF file, from interleaved 16-bit
// PCM. Not thread-safe; one thread uses one encoder.
class TWmaEncoder {
public:
    // Creates path (replacing a file there) for sampleRate Hz, 1 or 2 channels and bitrate
    // bits per second, with the tags in the given order. False, with LastError(), when the
    // encoder refuses the values or the file cannot be created.
    bool Open(const std::string& path, int sampleRate, int channels, int bitrate,
              std::span<const TWmaTag> tags);
    // Encodes whole sample frames of PCM; any length. False on an encoder or write error.
    bool Write(std::span<const std::byte> pcm) { return encoder_.Write(pcm); }
    // Flushes the encoder, writes the file's trailer and closes it. False when any of it
    // failed (a full disk): the file is then incomplete. A second call does nothing.
    bool Close() { return encoder_.Close(); }
    bool IsOpen() const { return encoder_.IsOpen(); }
    // Sample frames handed to Write since Open.
    uint64_t FramesWritten() const { return encoder_.FramesWritten(); }
    // Why the last call failed, as a sentence for the user.
    const std::string& LastError() const { return error_.empty() ? encoder_.LastError() : error_; }

private:
    TAvFileEncoder encoder_;
    std::string error_;
};

} // namespace bw
