#include "pipeline/checksums.h"

#include <algorithm>
#include <cstring>

namespace bw {

namespace {

// Eight tables for slicing-by-8: each step folds eight input bytes at once.
struct TCrcTables {
    uint32_t t[8][256];
    TCrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (int s = 1; s < 8; ++s)
            for (uint32_t i = 0; i < 256; ++i)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};
const TCrcTables kCrc;

uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

} // namespace

uint32_t Crc32Update(uint32_t crc, std::span<const std::byte> data) {
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    uint32_t c = ~crc;
    while (n >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = kCrc.t[7][lo & 0xFF] ^ kCrc.t[6][(lo >> 8) & 0xFF] ^ kCrc.t[5][(lo >> 16) & 0xFF] ^
            kCrc.t[4][lo >> 24] ^ kCrc.t[3][hi & 0xFF] ^ kCrc.t[2][(hi >> 8) & 0xFF] ^
            kCrc.t[1][(hi >> 16) & 0xFF] ^ kCrc.t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        c = kCrc.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

TMD5::TMD5() : state_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

void TMD5::Block(const uint8_t* p) {
    static constexpr uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
        0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
        0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
        0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
        0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
        0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
        0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
        0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
        0xeb86d391};
    static constexpr int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 | uint32_t(p[4 * i + 2]) << 16 |
               uint32_t(p[4 * i + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // One loop per round, each with its own function, so no step branches.
    auto step = [&](uint32_t f, int i, int g) {
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + k[i] + w[g], r[i]);
        a = t;
    };
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
        step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i)
        step((d & b) | (~d & c), i, (5 * i + 1) % 16);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i)
        step(b ^ c ^ d, i, (3 * i + 5) % 16);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i)
        step(c ^ (b | ~d), i, (7 * i) % 16);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void TMD5::Update(std::span<const std::byte> data) {
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    size_t have = length_ % 64;
    length_ += n;
    if (have) {
        const size_t take = std::min(n, 64 - have);
        std::memcpy(buffer_.data() + have, p, take);
        p += take;
        n -= take;
        if (have + take < 64)
            return;
        Block(buffer_.data());
    }
    for (; n >= 64; n -= 64, p += 64)
        Block(p);
    std::memcpy(buffer_.data(), p, n);
}

std::array<std::byte, 16> TMD5::Final() {
    const uint64_t bits = length_ * 8;
    std::byte pad[72] = {std::byte(0x80)};
    const size_t have = length_ % 64;
    const size_t padLen = have < 56 ? 56 - have : 120 - have;
    Update(std::span(pad, padLen));
    std::byte len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = std::byte((bits >> (8 * i)) & 0xFF);
    Update(len);
    std::array<std::byte, 16> out{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = std::byte((state_[i] >> (8 * j)) & 0xFF);
    return out;
}

} // namespace bw
