#include "pipeline/acs_converters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

namespace bw {

static_assert(std::endian::native == std::endian::little, "PCM is handled in host order");

namespace {
int16_t LoadS16(const std::byte* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void StoreS16(std::byte* p, int32_t v) {
    const auto s = static_cast<int16_t>(v);
    std::memcpy(p, &s, 2);
}
} // namespace

// ---------------------------------------------------------------------------------------
// TBufferedConverter

void TBufferedConverter::OpenInput() {
    TACSInput* in = RequireInput();
    in->OpenInput();
    try {
        chunk_ = PrepareChunk(*in);
    } catch (...) {
        in->ResetInput();
        throw;
    }
    readPos_ = fill_ = 0;
    endMark_ = false;
    position_.store(0);
    busy_.store(true);
}

void TBufferedConverter::CloseInput() {
    if (!busy_.load())
        return;
    busy_.store(false);
    if (auto* in = Input())
        in->CloseInput();
}

size_t TBufferedConverter::ReadPcm(std::span<std::byte> buffer) {
    if (!busy_.load())
        throw EACSException("The Stream is not opened");
    if (readPos_ == fill_) {
        if (endMark_)
            return 0;
        size_t got = 0;
        while (got < chunk_) {
            const size_t r = ReadFromInput(std::span(buffer_).subspan(got, chunk_ - got));
            if (r == 0) {
                if (got == 0)
                    return 0;
                endMark_ = true;
                break;
            }
            got += r;
        }
        readPos_ = 0;
        fill_ = Convert(buffer_.data(), got);
        if (fill_ == 0)
            return 0;
    }
    const size_t n = std::min(buffer.size(), fill_ - readPos_);
    std::memcpy(buffer.data(), buffer_.data() + readPos_, n);
    readPos_ += n;
    position_.fetch_add(static_cast<int64_t>(n));
    return n;
}

int64_t TBufferedConverter::Size() const {
    auto* in = Input();
    if (!in)
        return -1;
    const int64_t s = in->Size();
    return s < 0 ? -1 : ScaleSize(s);
}

int64_t TBufferedConverter::Position() const {
    auto* in = Input();
    const int64_t inSize = in ? in->Size() : -1;
    if (inSize <= 0)
        return position_.load(); // bytes delivered, when there is nothing to scale by
    return std::llround(static_cast<double>(ScaleSize(inSize)) / static_cast<double>(inSize) *
                        static_cast<double>(in->Position()));
}

// ---------------------------------------------------------------------------------------
// TSampleConverter

int TSampleConverter::BitsPerSample() { return RequireInput()->BitsPerSample() == 16 ? 8 : 16; }

size_t TSampleConverter::PrepareChunk(TACSInput& input) {
    const int bits = input.BitsPerSample();
    if (bits != 8 && bits != 16)
        throw EACSException("The sample converter needs 8- or 16-bit input, not " +
                            std::to_string(bits) + "-bit");
    from16_ = bits == 16;
    return from16_ ? kBufferBytes : kBufferBytes / 2;
}

int64_t TSampleConverter::ScaleSize(int64_t inputSize) const {
    // While open the format is fixed (and both threads ask); before, the input decides.
    auto* in = Input();
    const bool from16 =
        busy_.load() ? from16_ : (in && const_cast<TACSInput*>(in)->BitsPerSample() == 16);
    return from16 ? inputSize / 2 : inputSize * 2;
}

size_t TSampleConverter::Convert(std::byte* data, size_t n) {
    if (from16_) {
        const size_t samples = n / 2;
        for (size_t i = 0; i < samples; ++i) {
            const int32_t s = LoadS16(data + 2 * i);
            data[i] = std::byte(static_cast<uint8_t>((s - 32768) >> 8));
        }
        return samples;
    }
    // Backwards, so each wider sample lands where no unread byte is left.
    for (size_t i = n; i-- > 0;)
        StoreS16(data + 2 * i, static_cast<int32_t>(static_cast<uint8_t>(data[i])) * 256 - 32768);
    return n * 2;
}

// ---------------------------------------------------------------------------------------
// TMSConverter

int TMSConverter::BitsPerSample() {
    RequireInput();
    return 16;
}

int TMSConverter::ChannelCount() { return RequireInput()->ChannelCount() == 1 ? 2 : 1; }

size_t TMSConverter::PrepareChunk(TACSInput& input) {
    if (const int bits = input.BitsPerSample(); bits != 16)
        throw EACSException("The channel converter needs 16-bit input, not " +
                            std::to_string(bits) + "-bit");
    const int channels = input.ChannelCount();
    if (channels != 1 && channels != 2)
        throw EACSException("The channel converter needs mono or stereo input");
    if (mode_ != TMSConverterMode::msmMonoToBoth)
        throw EACSException("Only the mono-to-both-channels mode is supported");
    fromStereo_ = channels == 2;
    return fromStereo_ ? kBufferBytes : kBufferBytes / 2;
}

int64_t TMSConverter::ScaleSize(int64_t inputSize) const {
    auto* in = Input();
    const bool fromStereo =
        busy_.load() ? fromStereo_ : (in && const_cast<TACSInput*>(in)->ChannelCount() == 2);
    return fromStereo ? inputSize / 2 : inputSize * 2;
}

size_t TMSConverter::Convert(std::byte* data, size_t n) {
    if (fromStereo_) {
        const size_t frames = n / 4;
        for (size_t i = 0; i < frames; ++i) {
            const int32_t left = LoadS16(data + 4 * i);
            const int32_t right = LoadS16(data + 4 * i + 2);
            StoreS16(data + 2 * i, (left + right) / 2); // C division: toward zero
        }
        return frames * 2;
    }
    const size_t samples = n / 2;
    for (size_t i = samples; i-- > 0;) {
        const int16_t s = LoadS16(data + 2 * i);
        StoreS16(data + 4 * i, s);
        StoreS16(data + 4 * i + 2, s);
    }
    return samples * 4;
}

} // namespace bw
