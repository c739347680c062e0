#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/flacfile.h"
#include "tags/tagsource.h"

#include <gtest/gtest.h>

using namespace bw;
using bwtest::BE32;
using bwtest::Span;

namespace {

std::string StreamInfo(uint32_t rate, int channels, int bits, uint64_t samples, bool last) {
    std::string si(34, '\0');
    si[10] = static_cast<char>(rate >> 12);
    si[11] = static_cast<char>(rate >> 4);
    si[12] = static_cast<char>(((rate & 0xF) << 4) | ((channels - 1) << 1) | ((bits - 1) >> 4));
    si[13] = static_cast<char>((((bits - 1) & 0xF) << 4) | ((samples >> 32) & 0xF));
    si.replace(14, 4, BE32(static_cast<uint32_t>(samples)));
    return std::string("fLaC") + static_cast<char>(last ? 0x80 : 0x00) + std::string("\x00\x00\x22", 3) + si;
}

std::string Block(uint8_t type, const std::string& body, bool last) {
    const uint32_t n = static_cast<uint32_t>(body.size());
    return std::string{static_cast<char>(type | (last ? 0x80 : 0)), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)} + body;
}

TFLACfile LoadBytes(const std::string& bytes) {
    TFLACfile f;
    TMemorySource src(Span(bytes));
    EXPECT_TRUE(f.Load(src));
    return f;
}

} // namespace

TEST(FLACfile, RealFilesAtSeveralRatesAndDepths) {
    bwtest::TTempDir dir;
    struct Case {
        int rate, channels;
        const char* codec;
        int bits;
    };
    for (const Case c : {Case{44100, 2, "pcm_s16le", 16}, Case{96000, 2, "pcm_s24le", 24},
                         Case{8000, 1, "pcm_s16le", 16}}) {
        const std::string wav = dir.File("t.wav"), flac = dir.File("t.flac");
        bwtest::MakeTone(wav, 1.25, c.rate, c.channels, {"-c:a", c.codec});
        bwtest::RunOk({"flac", "-s", "-f", "-T", "TITLE=First", "-T", "TITLE=Second", "-T",
                       "TRACKNUMBER=9", "-T", "GENRE= Rock ", wav, "-o", flac});
        TFLACfile f;
        ASSERT_TRUE(f.Load(flac));
        ASSERT_TRUE(f.Valid());
        EXPECT_EQ(f.SampleRate(), c.rate);
        EXPECT_EQ(f.Channels(), c.channels);
        EXPECT_EQ(f.BitsPerSample(), c.bits);
        EXPECT_EQ(f.Samples(), bwtest::DecodedFrames(flac, c.channels));
        EXPECT_EQ(f.Title(), "First"); // the first of two
        EXPECT_EQ(f.TrackText(), "9");
        EXPECT_EQ(f.Genre(), "Rock");
    }
}

TEST(FLACfile, PictureBlocksAreSkippedAndCommentsAfterThemRead) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("t.wav"), 1.0);
    // A picture of some size, made byte by byte as a PNG signature and filler.
    std::string png = "\x89PNG\r\n\x1a\n" + std::string(40000, 'x');
    bwtest::WriteText(dir.File("cover.png"), png);
    bwtest::RunOk({"flac", "-s", "-f", "--picture", "3|image/png||16x16x24|" + dir.File("cover.png"),
                   dir.File("t.wav"), "-o", dir.File("p.flac")});
    bwtest::RunOk({"metaflac", "--set-tag=ARTIST=After the picture", dir.File("p.flac")});
    TFLACfile f;
    ASSERT_TRUE(f.Load(dir.File("p.flac")));
    EXPECT_TRUE(f.Valid());
    EXPECT_EQ(f.Artist(), "After the picture");
    EXPECT_EQ(f.Samples(), 44100);
}

TEST(FLACfile, SampleCountUsesAll36BitsAndType127IsInvalid) {
    const uint64_t huge = (uint64_t{1} << 32) + 10;
    auto f = LoadBytes(StreamInfo(44100, 2, 16, huge, true));
    EXPECT_EQ(f.Samples(), static_cast<int64_t>(huge));
    EXPECT_TRUE(f.Valid());

    f = LoadBytes(StreamInfo(44100, 2, 16, 1000, false) + Block(127, "xxxx", true));
    EXPECT_FALSE(f.Valid());
    f = LoadBytes(StreamInfo(44100, 2, 16, 1000, false) + Block(6, "pic", false) +
                  Block(9, "future", false) + Block(1, std::string(10, '\0'), true));
    EXPECT_TRUE(f.Valid());
    EXPECT_EQ(f.AudioOffset(), 42 + 7 + 10 + 14);
    EXPECT_FALSE(LoadBytes("fLaX" + std::string(50, '\0')).Valid());
    EXPECT_FALSE(LoadBytes(StreamInfo(0, 2, 16, 1000, true)).Valid());
}
