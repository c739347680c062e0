#pragma once

// The two checksums of Monkey's Audio files: CRC-32 (IEEE polynomial, as zlib computes it)
// over each frame's PCM, and MD5 over the stored file parts.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace bw {

// CRC-32 with the reflected IEEE polynomial; Update continues a running value (start 0).
uint32_t Crc32Update(uint32_t crc, std::span<const std::byte> data);

// MD5 (RFC 1321).
class TMD5 {
public:
    TMD5();
    void Update(std::span<const std::byte> data);
    std::array<std::byte, 16> Final();

private:
    void Block(const uint8_t* p);

    std::array<uint32_t, 4> state_;
    std::array<uint8_t, 64> buffer_{};
    uint64_t length_ = 0;
};

} // namespace bw
