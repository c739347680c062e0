#pragma once

#include "audio/audioerror.h"
#include "audio/audiostream.h"
#include "cd/cddrives.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace bw {

// Re-reads of one sector the verifying reader makes before it gives the sector up.
constexpr int kCdMaxRetries = 20;

// The audio of one CD track as the PCM source of a TAudioStream (OpenCdTrack), with the
// member functions of TAudioStream: 44.1 kHz 16-bit stereo PCM, exactly the track's sectors.
// Audio is read through libcdio-paranoia with every check on but never-skip off: a sector
// that reads differently each time is re-read and verified, and one still not verified after
// kCdMaxRetries re-reads is given up on and counted (SkippedSectors); a sector the drive
// does not read at all is tried again on each of the reader's passes, stands as silence
// and is counted when it never reads. So a scratched disc ends in a report rather than
// silent glitches or an endless retry. A disc taken out makes the next read fail at once.
// The drive's read offset moves every read: sample n of the track is disc sample n + offset,
// and what that reaches outside the disc's audio is silence.
// The stream opens its own handle of the disc. Not thread-safe: one thread uses one stream.
class TCdTrackStream : public TPcmSource {
public:
    // Opens track t (1 = the disc's first track) of a drive. On failure returns null and
    // sets *error and *why (when given).
    static std::unique_ptr<TCdTrackStream> Open(const TCdDriveEntry& drive, int track,
                                                TAudioError* error = nullptr,
                                                std::string* why = nullptr,
                                                TCdSystem& system = SystemCd());
    ~TCdTrackStream() override;
    TCdTrackStream(const TCdTrackStream&) = delete;
    TCdTrackStream& operator=(const TCdTrackStream&) = delete;

    TChannelInfo Info() const override;
    uint64_t LengthBytes() const override;
    bool LengthIsExact() const { return true; }
    uint64_t StatedLengthBytes() const override { return LengthBytes(); }

    // Reads up to out.size() bytes (whole sample frames of 4 bytes). Returns the bytes
    // written; 0 at the end of the track; -1 on a read error (LastError, ErrorText).
    int64_t Read(std::span<std::byte> out) override;
    uint64_t Position() const override;
    // Moves to a byte position (rounded down to a whole sample frame); false past the end.
    bool Seek(uint64_t bytePos) override;
    bool AtEnd() const override;
    // False once a read failed or a sector had to be given up on.
    bool DeliveredAll() const;
    TAudioError LastError() const override;

    // Sectors lost so far, each counted once: those the drive never delivered, and those
    // whose reads never agreed.
    int64_t SkippedSectors() const override;
    // Why the stream failed or what it lost, naming the track; empty when all is well.
    std::string ErrorText() const override;
    // The AccurateRip checksums, copy CRC and peak of the track; RipChecked only once every
    // sector was read in one pass from the start.
    void TakeRipChecksums(TmyMusicFile& item) const override;

    struct Impl;

private:
    TCdTrackStream();
    std::unique_ptr<Impl> impl_;
};

// Opens track t (1 = the disc's first track) of a CD drive or disc image as a stream, read
// accurately (TCdTrackStream): 44.1 kHz 16-bit stereo; or of an album image: the track's
// range of its audio file (TAudioStream::OpenFileRange), at the file's rate, with policy and
// depth as for a file. On failure returns null and sets *error and *why (when given).
// The drive is reached through system (its list's own, SystemCd() for the real one).
std::unique_ptr<TAudioStream> OpenCdTrack(const TCdDriveEntry& drive, int track,
                                          TCdSystem& system, TAudioError* error = nullptr,
                                          std::string* why = nullptr,
                                          TChannelPolicy policy = TChannelPolicy::DownmixToStereo,
                                          TSampleDepth depth = TSampleDepth::Reduce16);

} // namespace bw
