#include "tools/wavfile.h"

#include "common/bytereader.h"
#include "common/filebytes.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace bw {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// A fmt chunk is 16, 18 or 40 bytes; a much larger one is damage, not a format we miss.
constexpr uint32_t kMaxFmtBytes = 1024;
// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (the format tag, 1).
constexpr std::array<uint8_t, 14> kPcmGuidTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Sample rates outside this range are no audio this program is meant for, and they would ask
// the resampler for ratios far beyond what it is built for.
constexpr uint32_t kMinInputRate = 1000;
constexpr uint32_t kMaxInputRate = 1536000;

// Real files have a handful of chunks before the data; a file of endless empty chunks would
// otherwise keep the reader busy for as long as the file is large.
constexpr int kMaxChunks = 10000;

std::string ErrnoText() {
    return std::strerror(errno);
}

// A chunk name from the file, fit for the one error line: control bytes and the like as '?'.
std::string Printable(std::string id) {
    for (char& c : id)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return id;
}

void PutU32(std::byte* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::byte>(v >> (8 * i));
}
void PutU16(std::byte* at, uint16_t v) {
    at[0] = static_cast<std::byte>(v);
    at[1] = static_cast<std::byte>(v >> 8);
}
void PutTag(std::byte* at, const char (&tag)[5]) {
    std::memcpy(at, tag, 4);
}

} // namespace

TFd& TFd::operator=(TFd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int TFd::Release() {
    return std::exchange(fd_, -1);
}

void TFd::Reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

// ---- TWavReader ----

bool TWavReader::Fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

bool TWavReader::ReadAt(uint64_t offset, std::span<std::byte> into) {
    size_t done = 0;
    while (done < into.size()) {
        const ssize_t n = ::pread(fd_.Get(), into.data() + done, into.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail("cannot read: " + ErrnoText());
        if (n == 0)
            return Fail("the file is shorter than its header says (truncated while reading)");
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TWavReader::Open(const std::string& path) {
    std::string why;
    fd_ = TFd(OpenRegularFile(path, O_RDONLY, &why).Release());
    if (fd_.Get() < 0)
        return Fail(why);
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0)
        return Fail("cannot read: " + ErrnoText());
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);

    std::array<std::byte, 12> riff{};
    if (fileSize < riff.size())
        return Fail("not a WAV file (too short for a RIFF header)");
    if (!ReadAt(0, riff))
        return false;
    TByteReader head(riff);
    if (!head.Expect("RIFF"))
        return Fail("not a WAV file (no RIFF header)");
    head.Skip(4); // the RIFF size: often 0 or wrong in streamed files, the file's size decides
    if (!head.Expect("WAVE"))
        return Fail("not a WAV file (RIFF type is not WAVE)");

    bool haveFmt = false;
    uint64_t pos = riff.size();
    for (int chunks = 0;; ++chunks) {
        if (chunks == kMaxChunks)
            return Fail("damaged WAV file: no data chunk among the first " +
                        std::to_string(kMaxChunks) + " chunks");
        std::array<std::byte, 8> header{};
        if (fileSize - pos < header.size())
            return Fail(haveFmt ? "damaged WAV file: no data chunk"
                                : "damaged WAV file: no fmt chunk");
        if (!ReadAt(pos, header))
            return false;
        TByteReader r(header);
        const std::string id = r.Text(4);
        const uint32_t size = r.U32LE();
        const uint64_t body = pos + header.size();
        const uint64_t left = fileSize - body;
        if (id == "data") {
            if (!haveFmt)
                return Fail("damaged WAV file: data chunk before the fmt chunk");
            dataStart_ = body;
            frames_ = std::min<uint64_t>(size, left) / format_.FrameBytes();
            next_ = 0;
            return true;
        }
        if (size > left)
            return Fail("damaged WAV file: the \"" + Printable(id) +
                        "\" chunk runs past the end of the file");
        if (id == "fmt ") {
            if (size > kMaxFmtBytes)
                return Fail("damaged WAV file: fmt chunk of " + std::to_string(size) + " bytes");
            std::array<std::byte, kMaxFmtBytes> fmt{};
            const std::span<std::byte> chunk(fmt.data(), size);
            if (!ReadAt(body, chunk) || !ParseFmt(chunk))
                return false;
            haveFmt = true;
        }
        // Chunks are padded to an even size; the pad byte may be missing after the last one.
        pos = body + size + (size & 1u);
        if (pos > fileSize)
            pos = fileSize;
    }
}

bool TWavReader::ParseFmt(std::span<const std::byte> chunk) {
    TByteReader r(chunk);
    uint16_t tag = r.U16LE();
    const uint16_t channels = r.U16LE();
    const uint32_t rate = r.U32LE();
    r.Skip(4); // bytes per second: derived, and wrong in some files
    const uint16_t blockAlign = r.U16LE();
    const uint16_t bits = r.U16LE();
    if (r.Failed())
        return Fail("damaged WAV file: fmt chunk too short");
    if (tag == kFormatExtensible) {
        // WAVEFORMATEXTENSIBLE: cbSize, valid bits, channel mask, then the sub-format GUID.
        const uint16_t extra = r.U16LE();
        r.Skip(2 + 4);
        const uint16_t subTag = r.U16LE();
        const auto tail = r.Bytes(kPcmGuidTail.size());
        if (r.Failed() || extra < 22)
            return Fail("damaged WAV file: extensible fmt chunk too short");
        if (std::memcmp(tail.data(), kPcmGuidTail.data(), kPcmGuidTail.size()) != 0)
            return Fail("unsupported WAV format (extensible, not PCM)");
        tag = subTag;
    }
    if (tag != kFormatPcm)
        return Fail("unsupported WAV format " + std::to_string(tag) + " (only PCM is read)");
    if (bits != 8 && bits != 16)
        return Fail("unsupported sample size of " + std::to_string(bits) +
                    " bits (only 8 and 16 are read)");
    if (channels != 1 && channels != 2)
        return Fail("unsupported channel count " + std::to_string(channels) +
                    " (only mono and stereo are read)");
    if (rate < kMinInputRate || rate > kMaxInputRate)
        return Fail("unsupported sample rate " + std::to_string(rate) + " Hz");
    format_ = {rate, channels, bits};
    if (blockAlign != format_.FrameBytes())
        return Fail("damaged WAV file: block align " + std::to_string(blockAlign) +
                    " does not match " + std::to_string(channels) + " channels of " +
                    std::to_string(bits) + " bits");
    return true;
}

bool TWavReader::Read(std::span<std::byte> buffer, size_t& frames) {
    const uint32_t frameBytes = format_.FrameBytes();
    frames = static_cast<size_t>(std::min<uint64_t>(buffer.size() / frameBytes, frames_ - next_));
    if (frames == 0)
        return true;
    if (!ReadAt(dataStart_ + next_ * frameBytes, buffer.first(frames * frameBytes)))
        return false;
    next_ += frames;
    return true;
}

// ---- TWavWriter ----

TWavWriter::~TWavWriter() {
    Discard();
}

bool TWavWriter::Fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

void TWavWriter::Discard() {
    fd_.Reset();
    if (created_ && !finished_)
        ::unlink(path_.c_str());
    created_ = false;
}

bool TWavWriter::WriteAt(uint64_t offset, std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_.Get(), bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail("cannot write: " + (n < 0 ? ErrnoText() : std::string("no space left")));
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TWavWriter::Create(const std::string& path, const TWavFormat& format) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Fail("not a regular file");
    fd_ = TFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd_.Get() < 0)
        return Fail("cannot create: " + ErrnoText());
    created_ = true;
    path_ = path;
    format_ = format;
    dataBytes_ = 0;
    finished_ = false;
    // The header with both sizes 0 until Finish knows them.
    std::array<std::byte, 44> header{};
    PutTag(&header[0], "RIFF");
    PutTag(&header[8], "WAVE");
    PutTag(&header[12], "fmt ");
    PutU32(&header[16], 16);
    PutU16(&header[20], kFormatPcm);
    PutU16(&header[22], format.Channels);
    PutU32(&header[24], format.Rate);
    PutU32(&header[28], format.Rate * format.FrameBytes());
    PutU16(&header[32], static_cast<uint16_t>(format.FrameBytes()));
    PutU16(&header[34], format.Bits);
    PutTag(&header[36], "data");
    return WriteAt(0, header);
}

bool TWavWriter::Write(std::span<const std::byte> bytes) {
    if (bytes.size() > kMaxDataBytes - dataBytes_)
        return Fail("the output would be larger than a WAV file can be (4 GiB)");
    if (!WriteAt(44 + dataBytes_, bytes))
        return false;
    dataBytes_ += bytes.size();
    return true;
}

bool TWavWriter::Finish() {
    std::array<std::byte, 4> size{};
    PutU32(size.data(), static_cast<uint32_t>(36 + dataBytes_));
    if (!WriteAt(4, size))
        return false;
    PutU32(size.data(), static_cast<uint32_t>(dataBytes_));
    if (!WriteAt(40, size))
        return false;
    // close() is where some file systems (NFS, a full quota) report a failed write.
    if (::close(fd_.Release()) != 0)
        return Fail("cannot write: " + ErrnoText());
    finished_ = true;
    return true;
}

} // namespace bw
