#pragma once

#include "audio/audioerror.h"
#include "audio/audiostream.h"
#include "common/filehandle.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bw {

// The WAV header an encoder reads first on its standard input: the 44-byte canonical PCM
// header for mono and stereo; for more channels a WAVE_FORMAT_EXTENSIBLE header (68 bytes)
// whose channel mask says which speaker each channel is for, so that the encoder keeps
// each in its place. With an unknown length (dataBytes absent) the sizes are the largest a
// header can hold, which encoders take as "read to the end of input".
std::vector<std::byte> MakeWavHeader(const TChannelInfo& info, std::optional<uint32_t> dataBytes);

// Where an outside program is: the folder this program runs from first (encoders shipped
// beside it), then the folders of PATH. A name with a slash is taken as a path. Empty when
// no executable file of that name is found.
std::string FindProgram(const std::string& name);

// An outside encoder fed through a pipe on its standard input: first a WAV header, then
// every PCM block, then end of input. Started from an argument vector, never a shell.
// Its standard output and error go to one pipe that is drained whenever we wait on the
// encoder, so a talkative encoder never blocks; the last lines are kept for messages.
// One thread uses one pipe.
class TEncoderPipe {
public:
    TEncoderPipe() = default;
    ~TEncoderPipe(); // closes the input and reaps the child when still running
    TEncoderPipe(const TEncoderPipe&) = delete;
    TEncoderPipe& operator=(const TEncoderPipe&) = delete;

    // Starts argv[0] (a path, or a name looked up with FindProgram) with argv, writes the
    // header. dataBytes: the exact PCM size when known; absent (or too large for a WAV
    // header) gives the open-ended header. False with LastError() Process when the program
    // is missing or cannot be started (ErrorOutput() says which).
    bool Start(const std::vector<std::string>& argv, const TChannelInfo& info,
               std::optional<uint64_t> dataBytes);
    // Starts a program that reads no input (its standard input is empty) and does its work
    // on files, as the resampler does. Stop, Kill and WaitForExit work as for an encoder.
    bool StartWithoutInput(const std::vector<std::string>& argv);
    // Waits at most timeout for the program to end, keeping its output drained. Its exit
    // status (-1 for a signal) once it has ended and been reaped; nothing while it runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    // Writes one block; false when the encoder has gone (LastError() says why). The
    // encoder's early exit never raises SIGPIPE in this process.
    bool Write(std::span<const std::byte> block);
    // Called about every tenth of a second while a write waits on an encoder that takes no
    // input, so a caller can keep its window alive; returning false gives the write up
    // (Write returns false, the encoder is left running: Kill it).
    void SetWaitHook(std::function<bool()> hook) { waitHook_ = std::move(hook); }
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
    bool Spawn(const std::vector<std::string>& argv, bool withInput);
    // Takes the reaped program's status: drains and closes its output. Its exit status.
    int Reaped(int status);
    // Reads what the encoder has written so far without blocking; false at its end.
    bool DrainErrors();
    // Waits until a write can go on or would fail; false when waiting itself failed.
    bool WaitForRoom();
    void KeepErrorText(const char* data, size_t size);

    pid_t pid_ = -1;
    TFileHandle input_;  // our end of the encoder's standard input
    TFileHandle errors_; // our end of its standard output and error
    int pipeBytes_ = 0;  // what the input pipe holds
    std::function<bool()> waitHook_;
    std::string errorOutput_;
    TAudioError lastError_ = TAudioError::Ok;
};

} // namespace bw
