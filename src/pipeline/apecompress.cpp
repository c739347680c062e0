#include "pipeline/apecompress.h"

#include "pipeline/checksums.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <thread>
#include <unistd.h>

namespace bw {

namespace {

constexpr uint16_t kFileVersion = 3990;
constexpr uint32_t kDescriptorBytes = 52;
constexpr uint32_t kHeaderBytes = 24;
constexpr uint32_t kWavHeaderBytes = 44;
constexpr size_t kOutputChunk = 1 << 20;
// Seek entries and the stored sizes are 32-bit.
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull;
constexpr uint64_t kMaxAudioBytes = 0xFFFFFFFFull - 36;
constexpr uint32_t kMaxSampleRate = 1000000;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

std::span<const std::byte> AsBytes(const void* p, size_t n) {
    return {static_cast<const std::byte*>(p), n};
}

} // namespace

// Frames compressed on worker threads, each with its own frame encoder, taking the frames
// in the order they were handed over; the caller writes them out in that same order. A
// ring of two slots a worker bounds the frames in flight, and so the memory.
class TAPEFrameWorkers {
public:
    TAPEFrameWorkers(int threads, int level, int bits, int channels, TSimdPath path, size_t pcmBytes,
                     size_t blockAlign, size_t maxFrameBytes)
        : slots_(2 * static_cast<size_t>(threads)), blockAlign_(blockAlign) {
        for (TSlot& slot : slots_) {
            slot.Pcm.assign(pcmBytes, std::byte{0});
            slot.Out = std::make_unique_for_overwrite<uint8_t[]>(maxFrameBytes);
        }
        for (int i = 0; i < threads; ++i)
            encoders_.push_back(std::make_unique<TAPEFrameEncoder>(level, bits, channels, path));
        for (auto& encoder : encoders_)
            threads_.emplace_back([this, e = encoder.get()] { Work(*e); });
    }
    ~TAPEFrameWorkers() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        threads_.clear(); // joins
    }
    TAPEFrameWorkers(const TAPEFrameWorkers&) = delete;
    TAPEFrameWorkers& operator=(const TAPEFrameWorkers&) = delete;

    bool Full() const { return submitted_ - written_ == slots_.size(); }
    size_t InFlight() const { return submitted_ - written_; }
    bool Pending() const { return written_ < submitted_; }
    // Hands the frame in pcm over (not Full); pcm gets a free buffer of the same size.
    void Submit(std::vector<std::byte>& pcm, size_t blocks) {
        TSlot& slot = slots_[submitted_ % slots_.size()];
        pcm.swap(slot.Pcm);
        slot.Blocks = blocks;
        {
            std::lock_guard lock(mutex_);
            slot.Done = false;
            ++submitted_;
        }
        work_.notify_one();
    }
    // The oldest frame's bytes once compressed (Pending); nothing when not yet and !wait.
    std::optional<std::span<const uint8_t>> Oldest(bool wait) {
        TSlot& slot = slots_[written_ % slots_.size()];
        std::unique_lock lock(mutex_);
        if (wait)
            done_.wait(lock, [&] { return slot.Done; });
        if (!slot.Done)
            return std::nullopt;
        return std::span<const uint8_t>(slot.Out.get(), slot.OutBytes);
    }
    void ReleaseOldest() { ++written_; }

private:
    struct TSlot {
        std::vector<std::byte> Pcm;
        size_t Blocks = 0;
        std::unique_ptr<uint8_t[]> Out;
        size_t OutBytes = 0;
        bool Done = false;
    };

    void Work(TAPEFrameEncoder& encoder) {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return stop_ || taken_ < submitted_; });
            if (stop_)
                return;
            TSlot& slot = slots_[taken_++ % slots_.size()];
            lock.unlock();
            const size_t bytes =
                encoder.Encode(std::span(slot.Pcm).first(slot.Blocks * blockAlign_), slot.Blocks, slot.Out.get());
            lock.lock();
            slot.OutBytes = bytes;
            slot.Done = true;
            done_.notify_all();
        }
    }

    std::vector<TSlot> slots_;
    size_t blockAlign_;
    std::vector<std::unique_ptr<TAPEFrameEncoder>> encoders_;
    std::mutex mutex_;
    std::condition_variable work_, done_;
    // Frame sequence numbers: handed over, taken by a worker, written by the caller. The
    // caller alone changes submitted_ (under the lock) and written_.
    size_t submitted_ = 0;
    size_t taken_ = 0;
    size_t written_ = 0;
    bool stop_ = false;
    std::vector<std::jthread> threads_; // last: joined before the rest goes
};

std::string APEErrorText(int code) {
    switch (code) {
    case 0: return "OK";
    case 1000: return "I/O read error";
    case 1001: return "I/O write error";
    case 1002: return "invalid input file";
    case 1003: return "invalid output file";
    case 1004: return "input file file too large";
    case 1005: return "input file unsupported bit depth";
    case 1006: return "input file unsupported sample rate";
    case 1007: return "input file unsupported channel count";
    case 1008: return "input file too small";
    case 1009: return "invalid checksum";
    case 1010: return "decompressing frame";
    case 1011: return "initializing unmac";
    case 1012: return "invalid function parameter";
    case 1013: return "unsupported file type";
    case 2000: return "insufficient memory";
    case 3000: return "loading MAC.dll";
    case 3001: return "loading MACinfo.dll";
    case 3002: return "loading UnMAC.dll";
    case 4000: return "user stopped processing";
    case 4001: return "skipped...";
    case 5000: return "bad parameter";
    case 6000: return "APE compress too much data";
    default: return "undefined (" + std::to_string(code) + ")";
    }
}

void FillWaveFormatEx(TWaveFormatEx& format, int sampleRate, int bitsPerSample, int channels) {
    format.FormatTag = 1;
    format.Channels = static_cast<uint16_t>(channels);
    format.SamplesPerSec = static_cast<uint32_t>(sampleRate);
    format.BitsPerSample = static_cast<uint16_t>(bitsPerSample);
    format.BlockAlign = static_cast<uint16_t>(bitsPerSample / 8 * channels);
    format.AvgBytesPerSec = format.BlockAlign * format.SamplesPerSec;
    format.Size = 0;
}

std::unique_ptr<TAPECompress> TAPECompress::Create(int& errorCode) {
    std::unique_ptr<TAPECompress> c(new (std::nothrow) TAPECompress());
    errorCode = c ? kApeSuccess : kApeInsufficientMemory;
    return c;
}

TAPECompress::~TAPECompress() {
    workers_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    if (!finished_ && !outputPath_.empty())
        ::unlink(outputPath_.c_str());
}

int TAPECompress::Fail(int code) {
    if (error_ == kApeSuccess)
        error_ = code;
    return error_;
}

int TAPECompress::Start(const std::string& outputPath, const TWaveFormatEx& format,
                        int64_t maxAudioBytes, int compressionLevel) {
    if (encoder_ || fd_ >= 0)
        return kApeInvalidParameter;
    if (compressionLevel != 1000 && compressionLevel != 2000 && compressionLevel != 3000 &&
        compressionLevel != 4000)
        return kApeBadParameter;
    if (format.FormatTag != 1)
        return kApeInvalidInputFile;
    if (format.BitsPerSample != 8 && format.BitsPerSample != 16 && format.BitsPerSample != 24)
        return kApeUnsupportedBitDepth;
    if (format.Channels != 1 && format.Channels != 2)
        return kApeUnsupportedChannels;
    if (format.SamplesPerSec == 0 || format.SamplesPerSec > kMaxSampleRate)
        return kApeUnsupportedSampleRate;

    level_ = compressionLevel;
    bits_ = format.BitsPerSample;
    channels_ = format.Channels;
    rate_ = format.SamplesPerSec;
    blockAlign_ = static_cast<size_t>(bits_ / 8 * channels_);
    blocksPerFrame_ = level_ == 4000 ? 294912 : 73728;
    try {
        input_.assign(blocksPerFrame_ * blockAlign_, std::byte{0});
        frame_ = std::make_unique_for_overwrite<uint8_t[]>(
            TAPEFrameEncoder::MaxFrameBytes(blocksPerFrame_, channels_));
        outBuffer_.assign(kOutputChunk, 0);
        encoder_ = std::make_unique<TAPEFrameEncoder>(level_, bits_, channels_, path_);
        if (threads_ > 1)
            workers_ = std::make_unique<TAPEFrameWorkers>(
                threads_, level_, bits_, channels_, path_, input_.size(), blockAlign_,
                TAPEFrameEncoder::MaxFrameBytes(blocksPerFrame_, channels_));
    } catch (const std::bad_alloc&) {
        return Fail(kApeInsufficientMemory);
    }

    // Frame data goes after room for the headers and a seek table sized from the expected
    // length; Finish moves it when the guess was wrong.
    uint64_t frames = 1;
    if (maxAudioBytes > 0) {
        const uint64_t blocks = static_cast<uint64_t>(maxAudioBytes) / blockAlign_;
        frames = std::max<uint64_t>(1, (blocks + blocksPerFrame_ - 1) / blocksPerFrame_);
        frames = std::min<uint64_t>(frames, kMaxFileBytes / blocksPerFrame_);
    }
    dataStart_ = static_cast<int64_t>(kDescriptorBytes + kHeaderBytes + 4 * frames + kWavHeaderBytes);
    writePos_ = dataStart_;
    // The checksum starts with the WAV header, which holds the audio size: with a size known
    // up front it runs along with the writing; otherwise Finish reads the frame data back.
    if (maxAudioBytes >= 0 && static_cast<uint64_t>(maxAudioBytes) <= kMaxAudioBytes) {
        expectedAudioBytes_ = static_cast<uint64_t>(maxAudioBytes) / blockAlign_ * blockAlign_;
        const auto wav = WavHeader(static_cast<uint32_t>(expectedAudioBytes_));
        md5_.emplace();
        md5_->Update(AsBytes(wav.data(), wav.size()));
    }

    fd_ = ::open(outputPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        workers_.reset();
        encoder_.reset();
        return Fail(kApeInvalidOutputFile);
    }
    outputPath_ = outputPath;
    return kApeSuccess;
}

std::byte* TAPECompress::LockBuffer(int64_t& bytesAvailable) {
    bytesAvailable = 0;
    if (!encoder_ || error_ != kApeSuccess || finished_)
        return nullptr;
    bytesAvailable = static_cast<int64_t>(input_.size() - filled_);
    return input_.data() + filled_;
}

int TAPECompress::UnlockBuffer(int64_t bytesAdded, bool process) {
    if (error_ != kApeSuccess)
        return error_;
    if (!encoder_ || finished_ || bytesAdded < 0 ||
        static_cast<uint64_t>(bytesAdded) > input_.size() - filled_)
        return kApeInvalidParameter;
    if (totalBlocks_ * blockAlign_ + filled_ + static_cast<uint64_t>(bytesAdded) > kMaxAudioBytes)
        return Fail(kApeInputTooLarge);
    filled_ += static_cast<size_t>(bytesAdded);
    if (process && filled_ == input_.size())
        return CompressFrame(blocksPerFrame_);
    return kApeSuccess;
}

int TAPECompress::CompressFrame(size_t blocks) {
    totalBlocks_ += blocks;
    finalFrameBlocks_ = blocks;
    if (workers_) {
        // A frame takes the whole buffer, or at the end every whole block in it: nothing
        // stays behind for the next frame.
        if (workers_->Full()) {
            if (const int r = WriteFinishedFrames(true); r != kApeSuccess)
                return r;
        }
        workers_->Submit(input_, blocks);
        filled_ = 0;
        return WriteFinishedFrames(false);
    }
    const size_t frameBytes =
        encoder_->Encode(std::span(input_).first(blocks * blockAlign_), blocks, frame_.get());
    const size_t rest = filled_ - blocks * blockAlign_;
    if (rest)
        std::memmove(input_.data(), input_.data() + blocks * blockAlign_, rest);
    filled_ = rest;
    return WriteFrame(frame_.get(), frameBytes);
}

uint64_t TAPECompress::AudioBytesDone() const {
    // Frames with the workers are whole ones: only the last frame is short, and Finish
    // writes it before it returns.
    const uint64_t inFlight = workers_ ? workers_->InFlight() * blocksPerFrame_ : 0;
    return (totalBlocks_ - std::min<uint64_t>(totalBlocks_, inFlight)) * blockAlign_ + filled_;
}

int TAPECompress::WriteFinishedFrames(bool wait) {
    // With wait, the oldest frame is waited for; those done after it go along.
    while (workers_->Pending()) {
        const auto frame = workers_->Oldest(wait);
        if (!frame)
            break;
        wait = false;
        const int r = WriteFrame(frame->data(), frame->size());
        workers_->ReleaseOldest();
        if (r != kApeSuccess)
            return r;
    }
    return kApeSuccess;
}

int TAPECompress::WriteFrame(const uint8_t* data, size_t n) {
    frameOffsets_.push_back(static_cast<uint32_t>(logicalBytes_));
    if (static_cast<uint64_t>(dataStart_) + logicalBytes_ + n + 8 > kMaxFileBytes)
        return Fail(kApeTooMuchData);
    return AppendStored(data, n);
}

// The frame data is one byte stream stored as 32-bit words in reversed byte order,
// counted from the start of the first frame.
int TAPECompress::AppendStored(const uint8_t* data, size_t n) {
    logicalBytes_ += n;
    while (n > 0 && carryFill_ > 0) {
        carry_[carryFill_++] = *data++;
        --n;
        if (carryFill_ == 4) {
            if (outFill_ + 4 > outBuffer_.size() && FlushOutput() != kApeSuccess)
                return error_;
            uint8_t* o = outBuffer_.data() + outFill_;
            o[0] = carry_[3];
            o[1] = carry_[2];
            o[2] = carry_[1];
            o[3] = carry_[0];
            outFill_ += 4;
            carryFill_ = 0;
        }
    }
    while (n >= 4) {
        const size_t words = std::min(n / 4, (outBuffer_.size() - outFill_) / 4);
        if (words == 0) {
            if (FlushOutput() != kApeSuccess)
                return error_;
            continue;
        }
        uint8_t* o = outBuffer_.data() + outFill_;
        for (size_t w = 0; w < words; ++w, o += 4, data += 4) {
            uint32_t v;
            std::memcpy(&v, data, 4);
            v = __builtin_bswap32(v);
            std::memcpy(o, &v, 4);
        }
        outFill_ += 4 * words;
        n -= 4 * words;
    }
    for (; n > 0; --n)
        carry_[carryFill_++] = *data++;
    return kApeSuccess;
}

bool TAPECompress::WriteAt(int64_t offset, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::pwrite(fd_, p, n, offset);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
        offset += w;
    }
    return true;
}

int TAPECompress::FlushOutput() {
    if (outFill_ == 0)
        return kApeSuccess;
    if (!WriteAt(writePos_, outBuffer_.data(), outFill_))
        return Fail(kApeIoWrite);
    if (md5_)
        md5_->Update(AsBytes(outBuffer_.data(), outFill_));
    writePos_ += static_cast<int64_t>(outFill_);
    outFill_ = 0;
    return kApeSuccess;
}

std::array<uint8_t, 44> TAPECompress::WavHeader(uint32_t audioBytes) const {
    std::array<uint8_t, kWavHeaderBytes> wav{};
    std::memcpy(wav.data(), "RIFF", 4);
    Put32(wav.data() + 4, 36 + audioBytes);
    std::memcpy(wav.data() + 8, "WAVEfmt ", 8);
    Put32(wav.data() + 16, 16);
    Put16(wav.data() + 20, 1);
    Put16(wav.data() + 22, static_cast<uint32_t>(channels_));
    Put32(wav.data() + 24, rate_);
    Put32(wav.data() + 28, rate_ * static_cast<uint32_t>(blockAlign_));
    Put16(wav.data() + 32, static_cast<uint32_t>(blockAlign_));
    Put16(wav.data() + 34, static_cast<uint32_t>(bits_));
    std::memcpy(wav.data() + 36, "data", 4);
    Put32(wav.data() + 40, audioBytes);
    return wav;
}

bool TAPECompress::MoveFrameData(int64_t from, int64_t to, int64_t bytes) {
    std::vector<uint8_t> buffer(kOutputChunk);
    const bool backwards = to > from;
    for (int64_t done = 0; done < bytes;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(bytes - done, kOutputChunk));
        const int64_t offset = backwards ? bytes - done - static_cast<int64_t>(n) : done;
        if (::pread(fd_, buffer.data(), n, from + offset) != static_cast<ssize_t>(n) ||
            !WriteAt(to + offset, buffer.data(), n))
            return false;
        done += static_cast<int64_t>(n);
    }
    return ::ftruncate(fd_, to + bytes) == 0;
}

int TAPECompress::WriteHeaders() {
    const auto frames = static_cast<uint32_t>(frameOffsets_.size());
    const uint32_t seekBytes = 4 * frames;
    const int64_t start = kDescriptorBytes + kHeaderBytes + seekBytes + kWavHeaderBytes;
    const int64_t stored = writePos_ - dataStart_;
    if (static_cast<uint64_t>(start + stored) > kMaxFileBytes)
        return Fail(kApeTooMuchData);
    if (start != dataStart_ && !MoveFrameData(dataStart_, start, stored))
        return Fail(kApeIoWrite);
    const uint64_t audioBytes = totalBlocks_ * blockAlign_;
    const auto wav = WavHeader(static_cast<uint32_t>(audioBytes));

    uint8_t header[kHeaderBytes];
    Put16(header, static_cast<uint32_t>(level_));
    Put16(header + 2, 0); // a WAV header is stored
    Put32(header + 4, static_cast<uint32_t>(blocksPerFrame_));
    Put32(header + 8, static_cast<uint32_t>(finalFrameBlocks_));
    Put32(header + 12, frames);
    Put16(header + 16, static_cast<uint32_t>(bits_));
    Put16(header + 18, static_cast<uint32_t>(channels_));
    Put32(header + 20, rate_);

    std::vector<uint8_t> seek(seekBytes);
    for (uint32_t i = 0; i < frames; ++i)
        Put32(seek.data() + 4 * i, frameOffsets_[i] + static_cast<uint32_t>(start));

    // MD5 over the WAV header, the stored frame data, the header and the seek table.
    if (!md5_ || audioBytes != expectedAudioBytes_) {
        // The running checksum began with another size: read the frame data back.
        TMD5& md5 = md5_.emplace();
        md5.Update(AsBytes(wav.data(), wav.size()));
        for (int64_t done = 0; done < stored;) {
            const auto n = static_cast<size_t>(std::min<int64_t>(stored - done, kOutputChunk));
            if (::pread(fd_, outBuffer_.data(), n, start + done) != static_cast<ssize_t>(n))
                return Fail(kApeIoRead);
            md5.Update(AsBytes(outBuffer_.data(), n));
            done += static_cast<int64_t>(n);
        }
    }
    TMD5& md5 = *md5_;
    md5.Update(AsBytes(header, sizeof header));
    md5.Update(AsBytes(seek.data(), seek.size()));
    const auto digest = md5.Final();

    uint8_t descriptor[kDescriptorBytes];
    std::memcpy(descriptor, "MAC ", 4);
    Put16(descriptor + 4, kFileVersion);
    Put16(descriptor + 6, 0);
    Put32(descriptor + 8, kDescriptorBytes);
    Put32(descriptor + 12, kHeaderBytes);
    Put32(descriptor + 16, seekBytes);
    Put32(descriptor + 20, kWavHeaderBytes);
    Put32(descriptor + 24, static_cast<uint32_t>(stored));
    Put32(descriptor + 28, 0);
    Put32(descriptor + 32, 0); // no terminating data
    std::memcpy(descriptor + 36, digest.data(), 16);

    std::vector<uint8_t> head;
    head.reserve(static_cast<size_t>(start));
    head.insert(head.end(), descriptor, descriptor + sizeof descriptor);
    head.insert(head.end(), header, header + sizeof header);
    head.insert(head.end(), seek.begin(), seek.end());
    head.insert(head.end(), wav.begin(), wav.end());
    if (!WriteAt(0, head.data(), head.size()))
        return Fail(kApeIoWrite);
    return kApeSuccess;
}

int TAPECompress::Finish() {
    if (error_ != kApeSuccess)
        return error_;
    if (!encoder_ || finished_)
        return kApeInvalidParameter;
    // Bytes short of a whole block cannot be stored; they are dropped.
    if (filled_ >= blockAlign_) {
        if (const int r = CompressFrame(filled_ / blockAlign_); r != kApeSuccess)
            return r;
    }
    while (workers_ && workers_->Pending()) {
        if (const int r = WriteFinishedFrames(true); r != kApeSuccess)
            return r;
    }
    if (totalBlocks_ == 0)
        return Fail(kApeInputTooSmall);
    if (carryFill_ > 0) {
        const uint8_t zeros[4] = {};
        const size_t pad = 4 - carryFill_;
        if (const int r = AppendStored(zeros, pad); r != kApeSuccess)
            return r;
    }
    if (const int r = FlushOutput(); r != kApeSuccess)
        return r;
    if (const int r = WriteHeaders(); r != kApeSuccess)
        return r;
    if (::close(fd_) != 0) {
        fd_ = -1;
        return Fail(kApeIoWrite);
    }
    fd_ = -1;
    finished_ = true;
    return kApeSuccess;
}

} // namespace bw
