#include "audio/pcmfilesource.h"

#include "common/filebytes.h"
#include "common/filehandle.h"
#include "tags/wavfile.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bw {

namespace {

// WAV's speaker bits for the layouts of one and two channels, as FFmpeg gives them.
constexpr uint32_t kMonoMask = 0x4;
constexpr uint32_t kStereoMask = 0x3;
// Enough for a large read without holding much: 64 KiB of source bytes at a time.
constexpr size_t kScratchBytes = 64 * 1024;

TChannelInfo InfoFor(int rate, int channels, bool eightBit, bool twentyFourBit) {
    TChannelInfo info;
    info.SampleRate = rate;
    info.Channels = channels;
    info.EightBit = eightBit;
    info.TwentyFourBit = twentyFourBit;
    info.ChannelMask = channels == 1 ? kMonoMask : kStereoMask;
    return info;
}

// The state every source shares: where reading stands, in sample frames, and how it ended.
class TFileSourceBase : public TPcmSource {
public:
    TChannelInfo Info() const override { return info_; }
    uint64_t LengthBytes() const override { return frames_ * Block(); }
    uint64_t StatedLengthBytes() const override { return LengthBytes(); }
    uint64_t Position() const override { return position_ * Block(); }
    bool AtEnd() const override { return position_ >= frames_ || failed_; }
    TAudioError LastError() const override { return error_; }
    bool Incomplete() const override { return endedShort_; }
    int64_t SkippedSectors() const override { return 0; }

protected:
    uint64_t Block() const { return static_cast<uint64_t>(info_.BlockAlign()); }
    int64_t Fail(TAudioError e) {
        error_ = e;
        failed_ = true;
        return -1;
    }
    // The end came before the stated length: the file was cut, before or while it was read.
    int64_t EndShort() {
        endedShort_ = true;
        error_ = TAudioError::Ended;
        return 0;
    }

    TChannelInfo info_;
    uint64_t frames_ = 0;   // as the header states
    uint64_t position_ = 0; // frames delivered since the start or the last seek
    TAudioError error_ = TAudioError::Ok;
    bool failed_ = false;
    bool endedShort_ = false;
};

// A PCM WAV file: the data chunk read as it lies, 24-bit samples cut to their top 16 bits
// where 16 are asked for (what FFmpeg's conversion without dither gives).
class TWavSource final : public TFileSourceBase {
public:
    TWavSource(TFileHandle file, const TWAVfile& wav, TSampleDepth depth)
        : file_(std::move(file)), dataOffset_(static_cast<uint64_t>(wav.HeaderSize())),
          inBytes_(wav.BitsPerSample() / 8) {
        frames_ = static_cast<uint64_t>(wav.SampleCount());
        info_ = InfoFor(wav.SampleRate(), wav.Channels(), inBytes_ == 1,
                        inBytes_ == 3 && depth == TSampleDepth::Keep24);
    }

    std::string ErrorText() const override { return {}; }

    int64_t Read(std::span<std::byte> out) override {
        if (failed_)
            return -1;
        const uint64_t block = Block();
        const auto inBlock = static_cast<uint64_t>(inBytes_) * static_cast<uint64_t>(info_.Channels);
        if (out.size() < block) {
            error_ = TAudioError::IllegalParam;
            return -1;
        }
        const bool narrow = info_.BytesPerSample() != inBytes_;
        uint64_t want = std::min<uint64_t>(out.size() / block, frames_ - std::min(position_, frames_));
        if (narrow)
            want = std::min<uint64_t>(want, std::max<uint64_t>(kScratchBytes / inBlock, 1));
        if (want == 0) {
            error_ = TAudioError::Ended;
            return 0;
        }
        std::byte* to = out.data();
        if (narrow) {
            scratch_.resize(want * inBlock);
            to = scratch_.data();
        }
        const uint64_t bytes = want * inBlock;
        uint64_t got = 0;
        bool ioError = false;
        while (got < bytes) {
            const ssize_t n = ::pread(file_.Get(), to + got, bytes - got,
                                      static_cast<off_t>(dataOffset_ + position_ * inBlock + got));
            if (n < 0 && errno == EINTR)
                continue;
            ioError = n < 0;
            if (n <= 0)
                break; // what came before is kept
            got += static_cast<uint64_t>(n);
        }
        const uint64_t frames = got / inBlock;
        if (frames == 0)
            return ioError ? Fail(TAudioError::Read) : EndShort();
        if (narrow) {
            // Little-endian 24-bit samples: their top two bytes are the 16-bit sample.
            const auto* from = reinterpret_cast<const uint8_t*>(scratch_.data());
            auto* o = reinterpret_cast<uint8_t*>(out.data());
            const uint64_t samples = frames * static_cast<uint64_t>(info_.Channels);
            for (uint64_t i = 0; i < samples; ++i) {
                o[2 * i] = from[3 * i + 1];
                o[2 * i + 1] = from[3 * i + 2];
            }
        }
        position_ += frames;
        error_ = TAudioError::Ok;
        return static_cast<int64_t>(frames * block);
    }

    bool Seek(uint64_t bytePos) override {
        const uint64_t frame = bytePos / Block();
        if (frame > frames_) {
            error_ = TAudioError::Position;
            return false;
        }
        position_ = frame;
        failed_ = endedShort_ = false;
        error_ = TAudioError::Ok;
        return true;
    }

private:
    TFileHandle file_;
    uint64_t dataOffset_;
    int inBytes_;
    std::vector<std::byte> scratch_;
};

// Stereo 16-bit, what nearly every file is, in a loop the compiler vectorises (this file is
// built with a vectoriser that does not give up on loops of unknown length).
template <int kShift>
void JoinStereo16(const FLAC__int32* __restrict l, const FLAC__int32* __restrict r, int16_t* __restrict o,
                  size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        o[2 * i] = static_cast<int16_t>(l[i] >> kShift);
        o[2 * i + 1] = static_cast<int16_t>(r[i] >> kShift);
    }
}

struct TDecoderDelete {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};

// A FLAC file through libFLAC. FFmpeg gives 16-bit streams as they are and 24-bit ones as
// 32-bit samples, which its conversion to 16 bits cuts to their top 16 bits.
class TFlacSource final : public TFileSourceBase {
public:
    // Null when the stream is one left to FFmpeg.
    static std::unique_ptr<TFlacSource> Open(const std::string& path, TSampleDepth depth) {
        std::unique_ptr<TFlacSource> s(new TFlacSource());
        s->decoder_.reset(FLAC__stream_decoder_new());
        if (!s->decoder_)
            return nullptr;
        FLAC__StreamDecoder* d = s->decoder_.get();
        // FFmpeg does not check the MD5 sum either; a damaged frame shows in its CRC.
        FLAC__stream_decoder_set_md5_checking(d, false);
        // Opened here rather than by libFLAC, so that the encoders the program starts do not
        // inherit it (close on exec). The decoder owns it from here on, failed or not, and
        // closes it when it is deleted.
        std::FILE* file = std::fopen(path.c_str(), "rbe");
        if (!file)
            return nullptr;
        if (FLAC__stream_decoder_init_FILE(d, file, &TFlacSource::Write, &TFlacSource::Metadata, &TFlacSource::Error,
                                           s.get()) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return nullptr;
        if (!FLAC__stream_decoder_process_until_end_of_metadata(d) || !s->haveInfo_)
            return nullptr;
        const FLAC__StreamMetadata_StreamInfo& i = s->streamInfo_;
        if ((i.channels != 1 && i.channels != 2) || (i.bits_per_sample != 16 && i.bits_per_sample != 24) ||
            i.total_samples == 0 || i.sample_rate == 0)
            return nullptr;
        s->frames_ = i.total_samples;
        s->info_ = InfoFor(static_cast<int>(i.sample_rate), static_cast<int>(i.channels), false,
                           i.bits_per_sample == 24 && depth == TSampleDepth::Keep24);
        s->bits_ = static_cast<int>(i.bits_per_sample);
        s->openSize_ = FileSizeOf(path).value_or(0);
        s->path_ = path;
        return s;
    }

    int64_t Read(std::span<std::byte> out) override {
        if (failed_)
            return -1;
        const uint64_t block = Block();
        if (out.size() < block) {
            error_ = TAudioError::IllegalParam;
            return -1;
        }
        if (atStatedEnd_) {
            error_ = TAudioError::Ended;
            return 0;
        }
        const size_t want = out.size() - out.size() % block;
        size_t done = 0;
        while (done < want) {
            if (pendingAt_ == pendingEnd_) {
                // The next frame goes straight to the caller where it fits, else it waits in
                // pending_ to be handed out over the next reads.
                pendingAt_ = pendingEnd_ = 0;
                direct_ = std::span(out.data() + done, want - done);
                directBytes_ = 0;
                const bool decoded = Decode();
                done += directBytes_;
                direct_ = {};
                if (!decoded)
                    break;
                continue;
            }
            const size_t n = std::min(want - done, pendingEnd_ - pendingAt_);
            std::memcpy(out.data() + done, pending_.data() + pendingAt_, n);
            pendingAt_ += n;
            done += n;
        }
        if (done > 0) {
            position_ += done / block;
            error_ = TAudioError::Ok;
            return static_cast<int64_t>(done);
        }
        if (failed_)
            return -1;
        // A file that ends short of the length its header states, or that shrank while it
        // was read, did not give all its audio.
        struct stat st {};
        if ((!seeked_ && position_ < frames_) ||
            (::stat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) < openSize_))
            return EndShort();
        error_ = TAudioError::Ended;
        return 0;
    }

    bool Incomplete() const override { return endedShort_ || damagedFrames_ > 0; }
    std::string ErrorText() const override {
        if (damagedFrames_ == 0)
            return {};
        return "Can't read \"" + path_ + "\" whole: " + std::to_string(damagedFrames_) +
               (damagedFrames_ == 1 ? " block of its audio is" : " blocks of its audio are") +
               " damaged.";
    }

    bool Seek(uint64_t bytePos) override {
        const uint64_t frame = bytePos / Block();
        if (frame > frames_) {
            error_ = TAudioError::Position;
            return false;
        }
        // libFLAC hands the frame it lands in to the write callback while it seeks.
        pendingAt_ = pendingEnd_ = 0;
        failed_ = endedShort_ = false;
        // The very end has no frame to land in: nothing is left to read there.
        atStatedEnd_ = frame == frames_;
        damagedFrames_ = 0;
        seeking_ = true;
        const bool landed = atStatedEnd_ || FLAC__stream_decoder_seek_absolute(decoder_.get(), frame);
        seeking_ = false;
        if (!landed) {
            FLAC__stream_decoder_flush(decoder_.get());
            error_ = TAudioError::NotAvailable;
            return false;
        }
        position_ = frame;
        seeked_ = frame != 0;
        error_ = TAudioError::Ok;
        return true;
    }

private:
    TFlacSource() = default;

    // Decodes the next frame into direct_ or pending_; false at the end or on a failure.
    bool Decode() {
        FLAC__StreamDecoder* d = decoder_.get();
        while (directBytes_ == 0 && pendingEnd_ == 0) {
            if (FLAC__stream_decoder_get_state(d) == FLAC__STREAM_DECODER_END_OF_STREAM)
                return false;
            if (!FLAC__stream_decoder_process_single(d)) {
                const auto state = FLAC__stream_decoder_get_state(d);
                Fail(state == FLAC__STREAM_DECODER_MEMORY_ALLOCATION_ERROR ? TAudioError::Memory
                                                                           : TAudioError::Read);
                return false;
            }
        }
        return true;
    }

    // One frame's channels, interleaved into the delivered sample format.
    template <int kBytes, int kShift>
    static void Interleave(const FLAC__int32* const buffer[], size_t channels, uint32_t blocksize, uint8_t* o) {
        if (kBytes == 2 && channels == 2) {
            JoinStereo16<kShift>(buffer[0], buffer[1], reinterpret_cast<int16_t*>(o), blocksize);
            return;
        }
        for (uint32_t i = 0; i < blocksize; ++i) {
            for (size_t c = 0; c < channels; ++c) {
                const auto v = static_cast<uint32_t>(buffer[c][i] >> kShift);
                *o++ = static_cast<uint8_t>(v);
                *o++ = static_cast<uint8_t>(v >> 8);
                if constexpr (kBytes == 3)
                    *o++ = static_cast<uint8_t>(v >> 16);
            }
        }
    }

    static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                const FLAC__int32* const buffer[], void* client) {
        auto& s = *static_cast<TFlacSource*>(client);
        const uint32_t blocksize = frame->header.blocksize;
        const auto channels = static_cast<size_t>(s.info_.Channels);
        // A stream whose frames change their shape midway is not one this reader serves.
        if (frame->header.channels != channels || frame->header.bits_per_sample != static_cast<uint32_t>(s.bits_))
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        const size_t bytes = static_cast<size_t>(blocksize) * channels * static_cast<size_t>(s.info_.BytesPerSample());
        uint8_t* o;
        if (bytes <= s.direct_.size() && s.directBytes_ == 0) {
            o = reinterpret_cast<uint8_t*>(s.direct_.data());
            s.directBytes_ = bytes;
        } else {
            if (s.pending_.size() < s.pendingEnd_ + bytes)
                s.pending_.resize(s.pendingEnd_ + bytes);
            o = reinterpret_cast<uint8_t*>(s.pending_.data() + s.pendingEnd_);
            s.pendingEnd_ += bytes;
        }
        if (s.info_.TwentyFourBit)
            Interleave<3, 0>(buffer, channels, blocksize, o);
        else if (s.bits_ == 24)
            Interleave<2, 8>(buffer, channels, blocksize, o);
        else
            Interleave<2, 0>(buffer, channels, blocksize, o);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* client) {
        auto& s = *static_cast<TFlacSource*>(client);
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
            s.streamInfo_ = m->data.stream_info;
            s.haveInfo_ = true;
        }
    }

    // libFLAC gives a frame it cannot decode (a bad header, content that does not parse, a
    // checksum that fails) as silence, which is counted here. Bytes between frames that are
    // no frame at all (a tag after the audio) cost nothing; a frame lost in them shows in
    // the length. (A seek's search reads frames it does not deliver.)
    static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client) {
        auto& s = *static_cast<TFlacSource*>(client);
        if (status != FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC && !s.seeking_)
            ++s.damagedFrames_;
    }

    std::unique_ptr<FLAC__StreamDecoder, TDecoderDelete> decoder_;
    FLAC__StreamMetadata_StreamInfo streamInfo_{};
    bool haveInfo_ = false;
    int bits_ = 16;
    // Decoded PCM not yet handed out: [pendingAt_, pendingEnd_) of pending_, which only grows.
    std::vector<std::byte> pending_;
    size_t pendingAt_ = 0;
    size_t pendingEnd_ = 0;
    // Where a read wants its PCM, while it decodes; directBytes_ of it are written.
    std::span<std::byte> direct_;
    size_t directBytes_ = 0;
    uint64_t openSize_ = 0;
    bool seeked_ = false; // after a seek the end no longer proves the length
    bool atStatedEnd_ = false;
    bool seeking_ = false;
    int64_t damagedFrames_ = 0;
    std::string path_;
};

} // namespace

std::unique_ptr<TPcmSource> OpenPcmFileSource(const std::string& path, TSampleDepth depth) {
    const auto head = ReadFileRange(path, 0, 12);
    if (!head || head->size() < 12)
        return nullptr;
    const auto* h = reinterpret_cast<const char*>(head->data());
    if (std::memcmp(h, "fLaC", 4) == 0)
        return TFlacSource::Open(path, depth);
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0)
        return nullptr;
    TFileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen())
        return nullptr;
    TWAVfile wav;
    constexpr uint16_t kPcm = 1;
    if (!wav.Load(path) || !wav.Valid() || !wav.DataWhole() || wav.FormatTag() != kPcm ||
        (wav.BitsPerSample() != 8 && wav.BitsPerSample() != 16 && wav.BitsPerSample() != 24) ||
        wav.BlockAlign() != wav.Channels() * wav.BitsPerSample() / 8 || wav.SampleRate() <= 0 ||
        wav.SampleCount() <= 0)
        return nullptr;
    return std::make_unique<TWavSource>(std::move(file), wav, depth);
}

} // namespace bw
