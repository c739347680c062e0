#pragma once

#include "audio/audioerror.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace bw {

struct TmyMusicFile;

// What a stream delivers: interleaved PCM at the source's own rate and channel count,
// 16-bit signed little-endian, or 8-bit unsigned where the source itself is 8-bit, or
// packed 24-bit signed little-endian (3 bytes a sample) where a stream asked for it
// (TSampleDepth::Keep24) has a source of more than 16 bits.
struct TChannelInfo {
    int SampleRate = 0;
    int Channels = 0;
    bool EightBit = false;
    // The speakers the channels are for, one bit each in WAV order, as a
    // WAVE_FORMAT_EXTENSIBLE header's channel mask has them (FFmpeg's layout bits are the
    // same). 0 when the source's channels have no known positions.
    uint32_t ChannelMask = 0;
    // Packed 24-bit samples (3 bytes each); last, so that the fields before keep their places.
    bool TwentyFourBit = false;

    int BytesPerSample() const { return EightBit ? 1 : TwentyFourBit ? 3 : 2; }
    int BlockAlign() const { return Channels * BytesPerSample(); }
};

// Progress of a read through a stream, 0..100, truncated. Lengths may be estimates (see
// TAudioStream::LengthBytes), so a position past the length reads 100 and an unknown
// length (0) reads 0: never show a value outside 0..100.
int ProgressPercent(uint64_t position, uint64_t length);

// What a stream does with a source of more than two channels. Mono and stereo sources are
// delivered as they are either way.
enum class TChannelPolicy {
    // FFmpeg's standard downmix to stereo, for back-ends that take one or two channels.
    DownmixToStereo,
    // Every channel, in the source's own (WAV) order, for encoders that take them all.
    KeepAll,
};

// How wide the samples of a source of more than 16 bits are delivered: 24- or 32-bit
// integer or float PCM, and lossless codecs that decode to those. 8- and 16-bit sources are
// delivered as 8 or 16 bits either way, and so are lossy codecs: they decode to float, but
// keep no exact low bits worth a wider lossless file.
enum class TSampleDepth {
    // 16 bits, as FFmpeg's own s16le decode: what every back-end takes.
    Reduce16,
    // 24 bits, as FFmpeg's own s24le decode, for lossless outputs that keep them.
    Keep24,
};

// PCM that the binding does not decode but is handed ready, in the format of TChannelInfo:
// the audio of a CD track, which the CD layer reads from the disc. A source is read through
// a TAudioStream (TAudioStream::FromSource), with the meanings its member functions give.
class TPcmSource {
public:
    virtual ~TPcmSource() = default;

    virtual TChannelInfo Info() const = 0;
    // Exact: a source knows its length.
    virtual uint64_t LengthBytes() const = 0;
    virtual uint64_t StatedLengthBytes() const = 0;
    virtual int64_t Read(std::span<std::byte> out) = 0;
    virtual uint64_t Position() const = 0;
    virtual bool Seek(uint64_t bytePos) = 0;
    virtual bool AtEnd() const = 0;
    virtual TAudioError LastError() const = 0;
    // Sectors the reader had to give up on, each counted once.
    virtual int64_t SkippedSectors() const = 0;
    // Why the source failed or what it lost, naming it; empty when all is well.
    virtual std::string ErrorText() const = 0;
    // A CD track's checksums of what was read (RipChecked and the fields after it on the
    // item); nothing for other sources.
    virtual void TakeRipChecksums(TmyMusicFile& /*item*/) const {}
    // Reading did not give all the audio the source holds, though it ended without an
    // error: a file cut before or while it was read, or parts of it too damaged to decode.
    virtual bool Incomplete() const { return false; }
};

// A decoding stream over one audio file (any source format but CD tracks), on FFmpeg, or
// on the program's own readers for plain WAV and FLAC files (audio/pcmfilesource.h).
// The PCM is the same as FFmpeg's own command-line decode of the file to s16le (u8 for
// 8-bit sources, s24le for sources kept at 24 bits): sources of more than 16 bits are
// reduced the same way, and the encoder delay and padding the container declares (MP3
// gapless info) are removed the same way. (A damaged FLAC block is the exception: it is
// silence in its place, and the read does not count as whole.)
// Not thread-safe: one thread uses one stream at a time.
class TAudioStream {
public:
    // Opens a file for decoding. On failure returns null and sets *error (when given).
    // The first block is decoded here, so a file that holds no decodable audio fails to
    // open rather than ending at the first read.
    static std::unique_ptr<TAudioStream>
    OpenFile(const std::string& path, TAudioError* error = nullptr,
             TChannelPolicy policy = TChannelPolicy::DownmixToStereo,
             TSampleDepth depth = TSampleDepth::Reduce16);
    // Opens sample frames [first, end) of a file as a stream of their own: positions and
    // the length count from first, which is reached exactly (the samples of the packet the
    // seek lands in before it are dropped), and reading stops exactly at end. The length is
    // exact. Fails (null) where first or end lies past the file's stated length.
    static std::unique_ptr<TAudioStream>
    OpenFileRange(const std::string& path, int64_t first, int64_t end, TAudioError* error = nullptr,
                  TChannelPolicy policy = TChannelPolicy::DownmixToStereo,
                  TSampleDepth depth = TSampleDepth::Reduce16);
    // Wraps PCM that is read rather than decoded (a CD track, which the CD layer reads
    // sector by sector) as a stream, so that it is played and converted as any file.
    // Every call goes to the source; the length is exact.
    static std::unique_ptr<TAudioStream> FromSource(std::unique_ptr<TPcmSource> source);
    ~TAudioStream();
    TAudioStream(const TAudioStream&) = delete;
    TAudioStream& operator=(const TAudioStream&) = delete;

    TChannelInfo Info() const;
    // Decoded length in bytes of PCM as delivered. An estimate where the container does
    // not know its exact length (LengthIsExact() false): reading still goes to the real
    // end, so progress must be clamped by whoever computes it (ProgressPercent).
    // Exact for PCM WAV, FLAC, WavPack and Monkey's Audio files whose headers state their
    // sample count. Once the end has been read, the length is the real one and exact.
    uint64_t LengthBytes() const;
    bool LengthIsExact() const;

    // Reads up to out.size() bytes of PCM (whole sample frames). Returns the bytes
    // written; 0 at the end of the stream; -1 on a read error (LastError() says why).
    // Damaged packets are skipped as FFmpeg's own decode skips them.
    int64_t Read(std::span<std::byte> out);
    // Bytes delivered so far since the start (or the last seek: the seek's position
    // plus what was read after it).
    uint64_t Position() const;
    // Moves to a byte position (rounded down to a whole sample frame). Sample-exact where
    // the container's timestamps are (WAV, FLAC, WavPack, Monkey's Audio, Ogg, MPEG
    // audio); WMA lands within two frames, Musepack within a packet (64 frames). Position()
    // then says where reading really goes on. Position 0 repeats the first read exactly
    // for every format. False past the length.
    bool Seek(uint64_t bytePos);
    bool AtEnd() const;
    // Once a read from the start has reached the end: whether it delivered all the audio
    // the source holds. False when it stopped short of the length the header states
    // exactly (even where the file no longer holds that much), when a read failed, or
    // when the file shrank while it was read (cut by another program, a share gone away).
    // True while nothing can be judged (not at the end yet, or after a seek).
    bool DeliveredAll() const;
    // The length the header states exactly, in delivered bytes; 0 when it states none.
    uint64_t StatedLengthBytes() const;
    TAudioError LastError() const;
    // Sectors of a CD track the reader had to give up on (their audio is a best guess);
    // 0 for files (TPcmSource::SkippedSectors).
    int64_t LostSectors() const;
    // What went wrong reading a CD track, naming it ("the disc was taken out", sectors
    // lost); empty for files and for a track read whole (TPcmSource::ErrorText).
    std::string ProblemText() const;
    // The read's checksums into item, for a CD track (TPcmSource::TakeRipChecksums).
    void TakeRipChecksums(TmyMusicFile& item) const;

private:
    TAudioStream();
    bool Restart();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bw
