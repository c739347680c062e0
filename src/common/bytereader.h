#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bw {

// A bounds-checked cursor over a byte range, for every parser in the program.
// A read past the end returns 0 (or an empty range) and sets a sticky failed flag, so a
// parser can read a whole structure and check Failed() once at the end. Nothing here
// touches memory outside the span it was given.
class TByteReader {
public:
    TByteReader() = default;
    explicit TByteReader(std::span<const std::byte> data) : data_(data) {}
    TByteReader(const void* data, size_t size)
        : data_(static_cast<const std::byte*>(data), size) {}

    size_t Size() const { return data_.size(); }
    size_t Pos() const { return pos_; }
    size_t Remaining() const { return data_.size() - pos_; }
    bool Has(size_t n) const { return n <= Remaining(); }
    bool Failed() const { return failed_; }
    bool AtEnd() const { return pos_ == data_.size(); }

    // Moves to an absolute offset; past the end clamps to the end and fails.
    void Seek(size_t pos) {
        if (pos > data_.size()) {
            pos_ = data_.size();
            failed_ = true;
        } else {
            pos_ = pos;
        }
    }
    // Skips n bytes; a skip past the end clamps to the end and fails.
    void Skip(size_t n) {
        if (!Has(n)) {
            pos_ = data_.size();
            failed_ = true;
        } else {
            pos_ += n;
        }
    }

    uint8_t U8() { return static_cast<uint8_t>(Take<1>(false)); }
    uint16_t U16LE() { return static_cast<uint16_t>(Take<2>(false)); }
    uint16_t U16BE() { return static_cast<uint16_t>(Take<2>(true)); }
    uint32_t U24LE() { return static_cast<uint32_t>(Take<3>(false)); }
    uint32_t U24BE() { return static_cast<uint32_t>(Take<3>(true)); }
    uint32_t U32LE() { return static_cast<uint32_t>(Take<4>(false)); }
    uint32_t U32BE() { return static_cast<uint32_t>(Take<4>(true)); }
    uint64_t U64LE() { return Take<8>(false); }
    uint64_t U64BE() { return Take<8>(true); }
    int16_t S16LE() { return static_cast<int16_t>(U16LE()); }
    int32_t S32LE() { return static_cast<int32_t>(U32LE()); }

    // The next n bytes as a sub-range; fewer than n left gives an empty range and fails.
    std::span<const std::byte> Bytes(size_t n) {
        if (!Has(n)) {
            pos_ = data_.size();
            failed_ = true;
            return {};
        }
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    // A reader over the next n bytes (a chunk or a frame), advancing this one past them.
    TByteReader Sub(size_t n) { return TByteReader(Bytes(n)); }
    // The next n bytes as text, byte for byte.
    std::string Text(size_t n) {
        auto b = Bytes(n);
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    }
    // True (and advances) when the next bytes equal tag; otherwise leaves the position.
    bool Expect(std::string_view tag) {
        if (!Has(tag.size()))
            return false;
        auto b = data_.subspan(pos_, tag.size());
        if (std::string_view(reinterpret_cast<const char*>(b.data()), b.size()) != tag)
            return false;
        pos_ += tag.size();
        return true;
    }
    // Looks at the byte at offset from the position without moving; out of range gives 0.
    uint8_t PeekU8(size_t offset = 0) const {
        return offset < Remaining() ? static_cast<uint8_t>(data_[pos_ + offset]) : 0;
    }
    std::span<const std::byte> Rest() const { return data_.subspan(pos_); }
    // A number of seven bits a byte, most significant first, the top bit set on every byte
    // but the last (Musepack's packet sizes and counts); at most nine bytes. False (and
    // failed) when it runs past the end or past nine bytes.
    bool VarLen(uint64_t& value) {
        value = 0;
        for (int i = 0; i < 9; ++i) {
            const uint8_t b = U8();
            if (failed_)
                return false;
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        failed_ = true;
        return false;
    }

private:
    template <size_t N> uint64_t Take(bool bigEndian) {
        if (!Has(N)) {
            pos_ = data_.size();
            failed_ = true;
            return 0;
        }
        uint64_t v = 0;
        for (size_t i = 0; i < N; ++i) {
            const uint64_t b = static_cast<uint8_t>(data_[pos_ + i]);
            v |= bigEndian ? b << (8 * (N - 1 - i)) : b << (8 * i);
        }
        pos_ += N;
        return v;
    }

    std::span<const std::byte> data_;
    size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace bw
