#pragma once

#include "audio/audiostream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace bw {

// One tag of the container's own metadata: a name and its text (UTF-8).
struct TAvTag {
    std::string Name;
    std::string Value;
};

// Which of FFmpeg's encoders writes into which of its containers, and how messages name them.
struct TAvFileFormat {
    const char* Encoder = "";   // FFmpeg's name of the encoder: "wmav2", "aac"
    const char* Muxer = "";     // FFmpeg's name of the container writer: "asf", "ipod"
    const char* CodecName = ""; // the codec in messages: "WMA"
    const char* Container = ""; // the container in messages: "ASF"
    // Options of the container writer, name and value ("movflags", "+faststart").
    std::vector<std::pair<std::string, std::string>> MuxerOptions;
    // Tags handed to the container writer, in their order.
    std::vector<TAvTag> Tags;
    // Run on the closed, complete file (tags placed by the program's own writers); false
    // with the reason in *error makes Close fail.
    std::function<bool(const std::string& path, std::string* error)> Finish;
};

// Writes a file with one of FFmpeg's audio encoders, in-process, from interleaved PCM as a
// stream delivers it (8-bit unsigned, 16-bit or packed 24-bit signed). Not thread-safe; one
// thread uses one encoder.
class TAvFileEncoder {
public:
    TAvFileEncoder();
    // Closes an open file as Close() does.
    ~TAvFileEncoder();
    TAvFileEncoder(const TAvFileEncoder&) = delete;
    TAvFileEncoder& operator=(const TAvFileEncoder&) = delete;

    // Creates path (replacing a file there) for PCM of that rate, channel count and sample
    // width at bitrate bits per second. False, with LastError(), when the encoder refuses the
    // values or the file cannot be created; no file is left then.
    bool Open(const std::string& path, TAvFileFormat format, const TChannelInfo& pcm, int bitrate);
    // Encodes whole sample frames of PCM; any length. False on an encoder or write error.
    bool Write(std::span<const std::byte> pcm);
    // Flushes the encoder, writes the file's trailer, closes it and runs the format's Finish.
    // False when any of it failed (a full disk): the file is then incomplete. A second call
    // does nothing.
    bool Close();
    bool IsOpen() const;
    // Sample frames handed to Write since Open.
    uint64_t FramesWritten() const;
    // Why the last call failed, as a sentence for the user.
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bw
