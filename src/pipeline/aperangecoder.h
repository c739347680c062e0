#pragma once

// The range coder of Monkey's Audio frames (a carry-less byte-oriented range coder with a
// pending byte and deferred 0xFF bytes) and its model of residuals.

#include <cstddef>
#include <cstdint>

namespace bw {

class TAPERangeEncoder {
public:
    // The most bytes one value can add (escape, raw overflow and a split base).
    static constexpr size_t kMaxBytesPerValue = 12;
    // The bytes Finish can add beyond the values' (pending, deferred bytes aside).
    static constexpr size_t kFinishBytes = 8;

    // Writes at out; the caller guarantees room for every value's and Finish's bytes.
    explicit TAPERangeEncoder(uint8_t* out) : start_(out), out_(out) {}
    size_t Written() const { return static_cast<size_t>(out_ - start_); }

    // Codes one residual with the adaptive split of its channel (ksum).
    __attribute__((always_inline)) void EncodeValue(int32_t value, uint32_t& ksum) {
        const uint32_t u = value > 0 ? 2u * static_cast<uint32_t>(value) - 1u
                                     : 0u - 2u * static_cast<uint32_t>(value);
        const uint32_t pivot = (ksum >> 5) > 1 ? ksum >> 5 : 1;
        const uint32_t overflow = u / pivot;
        const uint32_t base = u - overflow * pivot;
        ksum += (u + 1) / 2 - ((ksum + 16) >> 5);

        if (overflow < kModelSymbols)
            EncodeFrequency(kWidth[overflow], kCumulative[overflow]);
        else if (overflow < kEscape)
            EncodeFrequency(1, 65472 + overflow);
        else {
            EncodeFrequency(1, 65472 + kEscape);
            EncodeBits(overflow >> 16, 16);
            EncodeBits(overflow & 0xFFFF, 16);
        }
        if (pivot < 65536) {
            EncodeUniform(base, pivot);
        } else {
            const int bits = 32 - __builtin_clz(pivot);
            const int shift = bits - 16;
            EncodeUniform(base >> shift, (pivot >> shift) + 1);
            EncodeUniform(base & ((1u << shift) - 1), 1u << shift);
        }
    }

    // Ends the frame's range data: the last pending bytes plus the decoder's read-ahead.
    void Finish() {
        Normalise();
        const uint32_t t = (low_ >> 23) + 1;
        Release(t > 0xFF);
        *out_++ = static_cast<uint8_t>(t & 0xFF);
        *out_++ = 0;
        *out_++ = 0;
        *out_++ = 0;
    }

private:
    static constexpr uint32_t kTop = 1u << 31;
    static constexpr uint32_t kBottom = 1u << 23;
    static constexpr uint32_t kModelSymbols = 21;
    static constexpr uint32_t kEscape = 63;
    static constexpr uint32_t kCumulative[kModelSymbols] = {
        0,     19578, 36160, 48417, 56323, 60899, 63265, 64435, 64971, 65232, 65351,
        65416, 65447, 65466, 65476, 65482, 65485, 65488, 65490, 65491, 65492};
    static constexpr uint32_t kWidth[kModelSymbols] = {
        19578, 16582, 12257, 7906, 4576, 2366, 1170, 536, 261, 119, 65,
        31,    19,    10,    6,    3,    3,    2,    1,   1,   1};

    // Emits the pending byte (plus one on a carry) and the deferred bytes (0x00 after a
    // carry, 0xFF otherwise).
    void Release(bool carry) {
        *out_++ = static_cast<uint8_t>(pending_ + (carry ? 1 : 0));
        for (; deferred_ > 0; --deferred_)
            *out_++ = carry ? 0x00 : 0xFF;
    }

    void ShiftLow() {
        if (low_ < (0xFFu << 23)) {
            Release(false);
            pending_ = static_cast<uint8_t>(low_ >> 23);
        } else if (low_ & kTop) {
            Release(true);
            pending_ = static_cast<uint8_t>(low_ >> 23);
        } else {
            ++deferred_;
        }
        low_ = (low_ << 8) & (kTop - 1);
        range_ <<= 8;
    }

    __attribute__((always_inline)) void Normalise() {
        while (range_ <= kBottom) [[unlikely]]
            ShiftLow();
    }

    void EncodeFrequency(uint32_t width, uint32_t cumulative) {
        Normalise();
        const uint32_t t = range_ >> 16;
        range_ = t * width;
        low_ += t * cumulative;
    }

    void EncodeBits(uint32_t value, int bits) {
        Normalise();
        range_ >>= bits;
        low_ += range_ * value;
    }

    void EncodeUniform(uint32_t value, uint32_t total) {
        Normalise();
        const uint32_t t = range_ / total;
        range_ = t;
        low_ += t * value;
    }

    uint8_t* start_;
    uint8_t* out_;
    uint32_t low_ = 0;
    uint32_t range_ = kTop;
    uint8_t pending_ = 0;
    uint32_t deferred_ = 0;
};

} // namespace bw
