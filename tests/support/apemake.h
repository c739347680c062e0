#pragma once

// Monkey's Audio sources for the tests, made by our own compressor (Debian has no encoder
// for the format). Header-only: the support library does not link the core.

#include "pipeline/apecompress.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace bwtest {

// Compresses raw interleaved PCM into out at a level (1000..4000); the test fails when the
// compressor refuses.
inline void CompressToApe(const std::vector<std::byte>& pcm, int rate, int bits, int channels, int level,
                          const std::string& out) {
    int err = 0;
    auto ape = bw::TAPECompress::Create(err);
    ASSERT_TRUE(ape);
    bw::TWaveFormatEx fmt;
    bw::FillWaveFormatEx(fmt, rate, bits, channels);
    ASSERT_EQ(ape->Start(out, fmt, static_cast<int64_t>(pcm.size()), level), 0);
    size_t done = 0;
    while (done < pcm.size()) {
        int64_t room = 0;
        std::byte* buffer = ape->LockBuffer(room);
        ASSERT_TRUE(buffer);
        const size_t n = std::min<size_t>(static_cast<size_t>(room), pcm.size() - done);
        std::memcpy(buffer, pcm.data() + done, n);
        ASSERT_EQ(ape->UnlockBuffer(static_cast<int64_t>(n)), 0);
        done += n;
    }
    ASSERT_EQ(ape->Finish(), 0);
}

} // namespace bwtest
