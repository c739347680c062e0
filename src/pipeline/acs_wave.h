#pragma once

// The WAV file reader and writer of the pipeline: 8-, 16- or 24-bit PCM, mono or stereo
// (24-bit only on the way to the Monkey's Audio writer; the converters take 8 or 16).

#include "pipeline/acs_classes.h"

#include <array>
#include <optional>

namespace bw {

// Reads the PCM data chunk of a RIFF WAVE file.
class TWaveIn : public TACSFileIn {
public:
    static constexpr size_t kBufferBytes = 16384;

    size_t ReadPcm(std::span<std::byte> buffer) override;
    void SeekSample(int64_t sample) override;
    // The format code of the "fmt " chunk (1 for PCM).
    int FormatType() const { return formatType_; }

protected:
    void ReadHeader() override;
    void ResetBuffer() override;

private:
    int64_t ReadStream(std::span<std::byte> buffer);
    void SkipStream(int64_t bytes);

    std::array<std::byte, kBufferBytes> buffer_{};
    size_t bufferPos_ = 0;
    size_t bufferFill_ = 0;
    int64_t fromFile_ = 0;   // data bytes taken from the file since the range start
    int64_t streamPos_ = 0;  // where the stream stands, for non-seekable skips
    int64_t dataStart_ = 0;  // file offset of the first data byte
    int formatType_ = 0;
};

enum class TWavType { wtUnsupported, wtPCM, wtDVIADPCM, wtMSADPCM, wtACM };

// Writes its input as a PCM WAV file with a 44-byte header.
class TWaveOut : public TACSFileOut {
public:
    static constexpr size_t kBlockBytes = 16384;

    ~TWaveOut() override;
    TWavType WavType() const { return wavType_; }
    void SetWavType(TWavType type) { wavType_ = type; }
    // Used by the ADPCM types only.
    int BlockSize() const { return blockSize_; }
    void SetBlockSize(int size) { blockSize_ = size; }

protected:
    void PrepareOutput() override;
    bool WriteStep(bool abort) override;
    void FinishOutput() override;

private:
    bool WriteHeader(int64_t dataBytes);

    TWavType wavType_ = TWavType::wtPCM;
    int blockSize_ = 512;
    std::array<std::byte, kBlockBytes> buffer_{};
    std::shared_ptr<TACSStream> out_;
    std::optional<TPendingOutput> pending_; // while writing our own file beside the target
    bool inputOpen_ = false;
    int64_t dataBytes_ = 0;
    int bits_ = 0;
    int channels_ = 0;
    int rate_ = 0;
};

} // namespace bw
