#pragma once

// The resampler's two ends: a streaming reader of PCM RIFF WAVE files and a writer of plain
// 44-byte-header PCM WAV files. Both work on a file descriptor with fixed-size blocks, so
// memory stays the same however long the file is.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace bw {

// Closes a file descriptor when it goes.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept;
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    int Release();
    void Reset();

private:
    int fd_ = -1;
};

struct TWavFormat {
    uint32_t Rate = 0;
    uint16_t Channels = 0;
    uint16_t Bits = 0; // 8 (unsigned samples) or 16 (signed little-endian)
    uint32_t FrameBytes() const { return uint32_t{Channels} * (Bits / 8u); }
};

// Reads the sample frames of a PCM WAV file (format 1, or WAVE_FORMAT_EXTENSIBLE with the PCM
// sub-format), 8 or 16 bits, mono or stereo. Chunks other than "fmt " and "data" are skipped
// wherever they are; a data size larger than the file means the data runs to the end of it
// (writers that stream put a placeholder there); a trailing partial frame is ignored.
class TWavReader {
public:
    bool Open(const std::string& path);
    const TWavFormat& Format() const { return format_; }
    uint64_t Frames() const { return frames_; }
    // Reads up to buffer.size() / frame size whole frames from the current position into
    // buffer; frames is 0 at the end of the data. False (with LastError) on a read error.
    bool Read(std::span<std::byte> buffer, size_t& frames);
    // Goes back to the first frame, for a second pass.
    void Rewind() { next_ = 0; }
    const std::string& LastError() const { return error_; }

private:
    bool Fail(std::string reason);
    bool ReadAt(uint64_t offset, std::span<std::byte> into);
    bool ParseFmt(std::span<const std::byte> chunk);

    TFd fd_;
    TWavFormat format_;
    uint64_t dataStart_ = 0;
    uint64_t frames_ = 0;
    uint64_t next_ = 0; // the next frame Read returns
    std::string error_;
};

// Writes a PCM WAV file: a 44-byte header whose two sizes are filled in by Finish, then the
// sample bytes. A writer that is destroyed without a successful Finish removes its file, so a
// failed run leaves nothing half-written behind.
class TWavWriter {
public:
    // The largest data size the header's 32-bit RIFF size can describe.
    static constexpr uint64_t kMaxDataBytes = UINT32_MAX - 36;

    ~TWavWriter();
    // Creates (or replaces) the file; an existing path that is not a regular file is refused
    // rather than truncated or, on a later failure, removed.
    bool Create(const std::string& path, const TWavFormat& format);
    bool Write(std::span<const std::byte> bytes);
    bool Finish();
    const std::string& LastError() const { return error_; }

private:
    bool Fail(std::string reason);
    bool WriteAt(uint64_t offset, std::span<const std::byte> bytes);
    void Discard();

    TFd fd_;
    std::string path_;
    TWavFormat format_;
    uint64_t dataBytes_ = 0;
    bool created_ = false; // the file at path_ is ours to remove if we do not finish
    bool finished_ = false;
    std::string error_;
};

} // namespace bw
