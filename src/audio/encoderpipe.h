#pragma once

#include "audio/audioerror.h"
#include "audio/audiostream.h"

#include <array>
#include <optional>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bw {

// The 44-byte canonical PCM WAV header an encoder reads first on its standard input.
// With an unknown length (dataBytes absent) the sizes are the largest a header can hold,
// which encoders take as "read to the end of input".
std::array<std::byte, 44> MakeWavHeader(const TChannelInfo& info, std::optional<uint32_t> dataBytes);

// An outside encoder fed through a pipe on its standard input: first a WAV header, then
// every PCM block, then end of input. Started from an argument vector, never a shell.
class TEncoderPipe {
public:
    TEncoderPipe() = default;
    ~TEncoderPipe(); // closes the input and reaps the child when still running
    TEncoderPipe(const TEncoderPipe&) = delete;
    TEncoderPipe& operator=(const TEncoderPipe&) = delete;

    // Starts argv[0] (a path or a name looked up on PATH) with argv, writes the header.
    // dataBytes: the exact PCM size when known.
    bool Start(const std::vector<std::string>& argv, const TChannelInfo& info,
               std::optional<uint64_t> dataBytes);
    // Writes one block; false when the encoder has gone (LastError() says why).
    bool Write(std::span<const std::byte> block);
    // Closes the encoder's input and waits for it. Returns its exit status, or -1 when it
    // was killed by a signal or never started.
    int Stop();
    // Ends the encoder at once (cancelling) and reaps it.
    void Kill();
    bool Running() const { return pid_ > 0; }
    // The last lines the encoder wrote to its error output (kept for messages).
    std::string ErrorOutput() const { return errorOutput_; }
    TAudioError LastError() const { return lastError_; }

private:
    int pid_ = -1;
    int stdinFd_ = -1;
    int stderrFd_ = -1;
    std::string errorOutput_;
    TAudioError lastError_ = TAudioError::Ok;
};

} // namespace bw
