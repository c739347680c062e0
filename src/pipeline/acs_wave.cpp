#include "pipeline/acs_wave.h"

#include "common/bytereader.h"

#include <algorithm>
#include <cstring>

namespace bw {

namespace {

constexpr int64_t kMaxFmtBytes = 4096;  // a fmt chunk is 16 to 40 bytes; more is not a WAV
constexpr int64_t kMaxWavData = 0xFFFFFFFFLL - 36; // what the 32-bit size fields can hold
constexpr int kMaxSampleRate = 1000000;
constexpr uint32_t kUnknownLength = 0xFFFFFFFF;    // written by streaming writers

// Chunk identifiers match letter by letter, ignoring ASCII case.
bool SameId(std::span<const std::byte> id, const char* name) {
    for (size_t i = 0; i < 4; ++i) {
        const int a = static_cast<unsigned char>(id[i]);
        const int b = static_cast<unsigned char>(name[i]);
        if (a != b && std::abs(a - b) != 32)
            return false;
    }
    return true;
}

void PutU16(std::byte* p, uint32_t v) {
    p[0] = std::byte(v & 0xFF);
    p[1] = std::byte((v >> 8) & 0xFF);
}

void PutU32(std::byte* p, uint32_t v) {
    PutU16(p, v & 0xFFFF);
    PutU16(p + 2, v >> 16);
}

} // namespace

// ---------------------------------------------------------------------------------------
// TWaveIn

int64_t TWaveIn::ReadStream(std::span<std::byte> buffer) {
    const int64_t r = stream_->Read(buffer);
    if (r < 0)
        throw EACSException("Cannot read " + FileName() + ": " + stream_->LastError());
    streamPos_ += r;
    return r;
}

void TWaveIn::SkipStream(int64_t bytes) {
    if (seekable_) {
        if (!stream_->Seek(streamPos_ + bytes))
            throw EACSException("Cannot read " + FileName() + ": " + stream_->LastError());
        streamPos_ += bytes;
        return;
    }
    while (bytes > 0) {
        const auto n = static_cast<size_t>(std::min<int64_t>(bytes, kBufferBytes));
        if (ReadStream(std::span(buffer_).first(n)) != static_cast<int64_t>(n))
            throw EACSException("Not a valid WAV file: " + FileName());
        bytes -= static_cast<int64_t>(n);
    }
}

void TWaveIn::ReadHeader() {
    const std::string bad = "Not a valid WAV file: " + FileName();
    streamPos_ = 0;
    std::array<std::byte, 12> riff{};
    if (ReadStream(riff) != 12)
        throw EACSException(bad);
    TByteReader head(riff);
    if (!SameId(head.Bytes(4), "RIFF"))
        throw EACSException(bad);
    head.Skip(4);
    if (!SameId(head.Bytes(4), "WAVE"))
        throw EACSException(bad);

    bool haveFormat = false;
    for (;;) {
        std::array<std::byte, 8> chunkHead{};
        if (ReadStream(chunkHead) != 8)
            throw EACSException(bad); // no data chunk
        TByteReader ch(chunkHead);
        const auto id = ch.Bytes(4);
        const uint32_t length = ch.U32LE();
        if (SameId(id, "fmt ")) {
            if (length < 16 || length > kMaxFmtBytes)
                throw EACSException(bad);
            std::array<std::byte, kMaxFmtBytes> body{};
            auto part = std::span(body).first(length);
            if (ReadStream(part) != length)
                throw EACSException(bad);
            TByteReader fmt(part);
            formatType_ = fmt.U16LE();
            channels_ = fmt.U16LE();
            rate_ = static_cast<int>(std::min<uint32_t>(fmt.U32LE(), kMaxSampleRate + 1u));
            fmt.Skip(4); // bytes per second
            const int blockAlign = fmt.U16LE();
            bits_ = fmt.U16LE();
            // WAVE_FORMAT_EXTENSIBLE carries the real format code in its sub-format GUID.
            if (formatType_ == 0xFFFE && length >= 40) {
                fmt.Skip(8);
                formatType_ = fmt.U16LE();
            }
            if (formatType_ != 1 || (bits_ != 8 && bits_ != 16 && bits_ != 24) ||
                (channels_ != 1 && channels_ != 2) || rate_ < 1 || rate_ > kMaxSampleRate ||
                blockAlign != BytesPerFrame())
                throw EACSException("Unsupported WAV format (8-, 16- or 24-bit PCM, mono or "
                                    "stereo only): " +
                                    FileName());
            SkipStream(length & 1);
            haveFormat = true;
        } else if (SameId(id, "data")) {
            if (!haveFormat)
                throw EACSException(bad);
            dataStart_ = streamPos_;
            int64_t size = length == kUnknownLength ? -1 : static_cast<int64_t>(length);
            const int64_t streamSize = stream_->Size();
            if (streamSize >= 0) {
                // A length beyond the file (an unfinished file) is cut to what is there.
                const int64_t there = std::max<int64_t>(0, streamSize - dataStart_);
                size = size < 0 ? there : std::min(size, there);
            }
            if (size >= 0)
                size -= size % BytesPerFrame();
            dataSize_ = size;
            totalSamples_ = size < 0 ? -1 : size / BytesPerFrame();
            return;
        } else {
            // "fact" and every other chunk: skipped, with the pad byte of an odd length.
            SkipStream(static_cast<int64_t>(length) + (length & 1));
        }
    }
}

void TWaveIn::ResetBuffer() {
    bufferPos_ = bufferFill_ = 0;
    fromFile_ = 0;
}

void TWaveIn::SeekSample(int64_t sample) {
    if (sample < 0 || (totalSamples_ >= 0 && sample > totalSamples_))
        throw EACSException("Sample out of range");
    const int64_t offset = dataStart_ + sample * BytesPerFrame();
    if (!seekable_ || !stream_->Seek(offset))
        throw EACSException("Cannot seek in " + FileName());
    streamPos_ = offset;
    ResetBuffer();
}

size_t TWaveIn::ReadPcm(std::span<std::byte> buffer) {
    if (!busy_.load())
        throw EACSException("The Stream is not opened");
    if (bufferPos_ == bufferFill_) {
        const int64_t size = size_.load();
        int64_t left = size < 0 ? static_cast<int64_t>(kBufferBytes) : size - fromFile_;
        if (left == 0 && Loop() && size > 0) {
            SeekSample(StartSample());
            left = size;
        }
        if (left <= 0)
            return 0;
        const auto want = static_cast<size_t>(std::min<int64_t>(left, kBufferBytes));
        const int64_t got = ReadStream(std::span(buffer_).first(want));
        if (got == 0)
            return 0;
        bufferPos_ = 0;
        bufferFill_ = static_cast<size_t>(got);
        fromFile_ += got;
    }
    const size_t n = std::min(buffer.size(), bufferFill_ - bufferPos_);
    std::memcpy(buffer.data(), buffer_.data() + bufferPos_, n);
    bufferPos_ += n;
    position_.fetch_add(static_cast<int64_t>(n));
    return n;
}

// ---------------------------------------------------------------------------------------
// TWaveOut

TWaveOut::~TWaveOut() { ShutdownThread(); }

bool TWaveOut::WriteHeader(int64_t dataBytes) {
    std::array<std::byte, 44> h{};
    const auto size = static_cast<uint32_t>(dataBytes);
    const uint32_t align = static_cast<uint32_t>(bits_ / 8 * channels_);
    std::memcpy(h.data(), "RIFF", 4);
    PutU32(h.data() + 4, 36 + size);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    PutU32(h.data() + 16, 16);
    PutU16(h.data() + 20, 1);
    PutU16(h.data() + 22, static_cast<uint32_t>(channels_));
    PutU32(h.data() + 24, static_cast<uint32_t>(rate_));
    PutU32(h.data() + 28, static_cast<uint32_t>(rate_) * align);
    PutU16(h.data() + 32, align);
    PutU16(h.data() + 34, static_cast<uint32_t>(bits_));
    std::memcpy(h.data() + 36, "data", 4);
    PutU32(h.data() + 40, size);
    return out_->Write(h);
}

void TWaveOut::PrepareOutput() {
    if (wavType_ != TWavType::wtPCM)
        throw EACSException("Only PCM WAV files can be written");
    if (FileMode() != TFileOutputMode::foRewrite)
        throw EACSException("Appending to a WAV file is not supported");
    if (!Stream() && FileName().empty())
        throw EACSException("File name is not assigned.");
    TACSInput& in = RequireInput();
    in.OpenInput();
    inputOpen_ = true;
    bits_ = in.BitsPerSample();
    channels_ = in.ChannelCount();
    rate_ = in.SamplesPerSecond();
    dataBytes_ = 0;
    if (Stream()) {
        out_ = Stream();
    } else {
        std::string error;
        pending_.emplace(FileName());
        auto file =
            TACSFileStream::Open(pending_->TemporaryPath(), TACSFileStream::TMode::Create, error);
        if (!file) {
            pending_.reset();
            throw EACSException("Cannot create file " + FileName() + ": " + error);
        }
        out_ = std::move(file);
    }
    const int64_t size = in.Size();
    if (!WriteHeader(size < 0 || size > kMaxWavData ? 0 : size))
        throw EACSException("Cannot write " + FileName() + ": " + out_->LastError());
}

bool TWaveOut::WriteStep(bool abort) {
    if (const auto ended = BeginStep(abort, false))
        return *ended;
    const size_t n = ReadFromInput(buffer_);
    if (n == 0)
        return false;
    if (dataBytes_ + static_cast<int64_t>(n) > kMaxWavData)
        throw EACSException("The WAV file would exceed 4 GiB: " + FileName());
    if (!out_->Write(std::span(buffer_).first(n)))
        throw EACSException("Cannot write " + FileName() + ": " + out_->LastError());
    dataBytes_ += static_cast<int64_t>(n);
    return true;
}

void TWaveOut::FinishOutput() {
    std::string error;
    if (out_ && !EndingOnError()) {
        // The sizes always come from what was written: a stopped run or an input whose
        // size was not known still gets a header that matches its data.
        if (!out_->Seek(0) || !WriteHeader(dataBytes_))
            error = "Cannot write " + FileName() + ": " + out_->LastError();
    }
    // Closing is the last point where a file system may report that the data did not fit.
    if (auto* file = dynamic_cast<TACSFileStream*>(out_.get());
        file && pending_ && !file->Close() && error.empty() && !EndingOnError())
        error = "Cannot write " + FileName() + ": " + file->LastError();
    out_.reset();
    if (pending_) {
        // A stopped run keeps its partial file only where it replaces nothing.
        if (EndingOnError() || !error.empty())
            pending_->Discard();
        else if (StoppedEarly())
            pending_->KeepPartial();
        else if (std::string why; !pending_->Commit(why))
            error = "Cannot create file " + FileName() + ": " + why;
        pending_.reset();
    }
    if (inputOpen_) {
        inputOpen_ = false;
        if (auto* in = Input())
            in->ResetInput();
    }
    if (!error.empty())
        throw EACSException(error);
}

} // namespace bw
