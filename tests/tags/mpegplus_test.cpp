#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/mpegplus.h"
#include "tags/tagsource.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace bw;
using bwtest::LE32;
using bwtest::Span;

namespace {

// A stream version 7 header: "MP+", 0x07, frames, then the flag bytes.
std::string Sv7(uint32_t frames, bool jointStereo, uint8_t rateIndex) {
    std::string h = std::string("MP+\x07", 4) + LE32(frames) + std::string(24, '\0');
    h[10] = static_cast<char>(rateIndex);
    h[11] = static_cast<char>(jointStereo ? 0x40 : 0x00);
    return h;
}

TMPEGplus LoadBytes(const std::string& bytes) {
    TMPEGplus m;
    TMemorySource src(Span(bytes));
    EXPECT_TRUE(m.Load(src));
    return m;
}

} // namespace

TEST(MPEGplus, StreamVersion7Header) {
    std::string file = Sv7(10000, false, 0);
    file.resize(1000000, '\0');
    const auto m = LoadBytes(file);
    ASSERT_TRUE(m.Valid());
    EXPECT_EQ(m.StreamVersion(), 7);
    EXPECT_EQ(m.ChannelMode(), 1);
    EXPECT_NEAR(m.Duration(), 261.22, 0.01);
    EXPECT_EQ(m.BitRate(), static_cast<int>(std::lround(1000000 * 8 / 1000.0 / m.Duration())));
    EXPECT_EQ(LoadBytes(Sv7(100, true, 1)).ChannelMode(), 2);
    EXPECT_EQ(LoadBytes(Sv7(100, true, 1)).SampleRate(), 48000);

    // An ID3v1 record's 128 bytes do not count as audio.
    std::string tagged = file.substr(0, 1000000 - 128) + "TAG" + std::string(125, '\0');
    const auto t = LoadBytes(tagged);
    ASSERT_TRUE(t.ID3v1().Present());
    EXPECT_EQ(t.BitRate(), static_cast<int>(std::lround((1000000 - 256) * 8 / 1000.0 / t.Duration())));

    EXPECT_FALSE(LoadBytes(std::string(40, 'z')).Valid());
}

TEST(MPEGplus, StreamVersion8FromTheEncoderWithItsApeTag) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("t.wav"), 3.0);
    bwtest::RunOk({"mpcenc", "--silent", "--overwrite", "--artist", "Ann", "--title", "Tide",
                   "--track", "4", "--genre", "Ambient", dir.File("t.wav"), dir.File("t.mpc")});
    TMPEGplus m;
    ASSERT_TRUE(m.Load(dir.File("t.mpc")));
    ASSERT_TRUE(m.Valid());
    EXPECT_EQ(m.StreamVersion(), 8);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(m.Channels(), 2);
    EXPECT_EQ(m.Samples(), 3 * 44100);
    // FFmpeg's decoder does not trim the last frame, so it gives a little more.
    const double decoded = static_cast<double>(bwtest::DecodedFrames(dir.File("t.mpc"), 2)) / 44100;
    EXPECT_NEAR(m.Duration(), decoded, decoded * 0.02);
    EXPECT_GT(m.BitRate(), 0);
    ASSERT_TRUE(m.APETag().Present());
    EXPECT_EQ(m.APETag().GetItem("Artist"), "Ann");
    EXPECT_EQ(m.APETag().GetItem("Title"), "Tide");
}
