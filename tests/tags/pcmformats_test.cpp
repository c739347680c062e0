// The lossless formats whose headers count samples: WAV, Monkey's Audio and WavPack.

#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/monkey.h"
#include "tags/tagsource.h"
#include "tags/wavfile.h"
#include "tags/wavpackfile.h"

#include <gtest/gtest.h>

using namespace bw;
using bwtest::LE16;
using bwtest::LE32;
using bwtest::Span;

namespace {

std::string WavHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataBytes,
                      const std::string& between = {}) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    std::string fmt = "fmt " + LE32(16) + LE16(1) + LE16(channels) + LE32(rate) +
                      LE32(rate * align) + LE16(align) + LE16(bits);
    std::string body = "WAVE" + fmt + between + "data" + LE32(dataBytes);
    return "RIFF" + LE32(static_cast<uint32_t>(body.size() + dataBytes)) + body;
}

template <class Reader> Reader LoadBytes(const std::string& bytes) {
    Reader r;
    TMemorySource src(Span(bytes));
    r.Load(src);
    return r;
}

// A Monkey's Audio 3.99 file start: descriptor and header.
std::string ApeHeader3990(uint32_t blocksPerFrame, uint32_t finalBlocks, uint32_t frames,
                          uint16_t bits, uint16_t channels, uint32_t rate) {
    std::string d = "MAC " + LE16(3990) + LE16(0) + LE32(52) + LE32(24) + LE32(0) + LE32(0) +
                    LE32(0) + LE32(0) + LE32(0) + std::string(16, '\0');
    std::string h = LE16(2000) + LE16(0) + LE32(blocksPerFrame) + LE32(finalBlocks) +
                    LE32(frames) + LE16(bits) + LE16(channels) + LE32(rate);
    return d + h + std::string(100, '\0');
}

} // namespace

TEST(WAVfile, CanonicalHeader) {
    std::string bytes = WavHeader(2, 44100, 16, 1764000);
    bytes.resize(bytes.size() + 1764000, '\0');
    const auto w = LoadBytes<TWAVfile>(bytes);
    ASSERT_TRUE(w.Valid());
    EXPECT_EQ(w.HeaderSize(), 44);
    EXPECT_EQ(w.SampleCount(), 441000);
    EXPECT_DOUBLE_EQ(w.Duration(), 10.0);
    EXPECT_EQ(w.ChannelModeText(), "Stereo");
    EXPECT_EQ(w.FileSize(), static_cast<int64_t>(bytes.size()));
}

TEST(WAVfile, DataChunkIsFoundPastOtherChunksAndClampedToTheFile) {
    const std::string list = "LIST" + LE32(26) + "INFOISFT" + LE32(14) + "Lavf59.27.100" +
                             std::string(1, '\0');
    std::string bytes = WavHeader(1, 8000, 8, 16000, list);
    bytes.resize(bytes.size() + 16000, '\x80');
    const auto w = LoadBytes<TWAVfile>(bytes);
    ASSERT_TRUE(w.Valid());
    EXPECT_EQ(w.SampleCount(), 16000); // not the LIST chunk's size
    EXPECT_EQ(w.HeaderSize(), static_cast<int64_t>(bytes.size() - 16000));
    EXPECT_EQ(w.ChannelModeText(), "Mono");

    // A data size past the end (an unfinished stream) counts what is there.
    std::string cut = WavHeader(2, 44100, 16, 0xFFFFFFF0u);
    cut.resize(cut.size() + 4000, '\0');
    const auto c = LoadBytes<TWAVfile>(cut);
    EXPECT_EQ(c.SampleCount(), 1000);

    EXPECT_FALSE(LoadBytes<TWAVfile>(WavHeader(6, 48000, 16, 1200)).Valid());
}

// Chunks before the data are padded to an even size: an odd one's pad byte is skipped,
// alone, twice, and before or after an even chunk. The sample count is FFmpeg's, reading
// the same bytes.
TEST(WAVfile, OddChunksBeforeTheDataKeepTheirPadByte) {
    bwtest::TTempDir dir;
    const std::string odd = "junk" + LE32(3) + "xyz" + std::string(1, '\0');
    const std::string even = "LIST" + LE32(4) + "INFO";
    for (const std::string& between : {odd, odd + odd, even + odd, odd + even}) {
        SCOPED_TRACE(testing::PrintToString(between));
        std::string bytes = WavHeader(2, 8000, 16, 4000, between);
        bytes.resize(bytes.size() + 4000, '\x11');
        bwtest::WriteText(dir.File("odd.wav"), bytes);
        const std::string samples =
            bwtest::RunOk({"ffprobe", "-v", "error", "-show_entries", "stream=duration_ts", "-of",
                           "csv=p=0", dir.File("odd.wav")});
        const auto w = LoadBytes<TWAVfile>(bytes);
        ASSERT_TRUE(w.Valid());
        EXPECT_EQ(w.SampleCount(), std::stoll(samples));
        EXPECT_EQ(w.HeaderSize(), static_cast<int64_t>(bytes.size() - 4000));
    }
}

TEST(WAVfile, RealFilesAreExact) {
    bwtest::TTempDir dir;
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
        {"ff.wav", {}},                               // ffmpeg's, with a LIST chunk
        {"u8.wav", {"-c:a", "pcm_u8", "-ar", "22050"}},
        {"s24.wav", {"-c:a", "pcm_s24le", "-ar", "96000"}},
    };
    for (const auto& [name, opts] : cases) {
        bwtest::MakeTone(dir.File(name), 1.5, 44100, 2, opts);
        TWAVfile w;
        ASSERT_TRUE(w.Load(dir.File(name)));
        ASSERT_TRUE(w.Valid()) << name;
        const std::string samples = bwtest::RunOk(
            {"ffprobe", "-v", "error", "-show_entries", "stream=duration_ts", "-of", "csv=p=0",
             dir.File(name)});
        EXPECT_EQ(w.SampleCount(), std::stoll(samples)) << name;
    }
    // sox writes its own header layout.
    bwtest::RunOk({"sox", "-n", "-r", "8000", "-c", "1", "-b", "16", dir.File("sox.wav"),
                   "synth", "2", "sine", "300"});
    TWAVfile s;
    ASSERT_TRUE(s.Load(dir.File("sox.wav")));
    EXPECT_EQ(s.SampleCount(), 16000);
}

TEST(Monkey, DescriptorHeaderOfVersion3990) {
    const auto m = LoadBytes<TMonkey>(ApeHeader3990(73728, 1000, 100, 16, 2, 44100));
    ASSERT_TRUE(m.Valid());
    EXPECT_EQ(m.Version(), 3990);
    EXPECT_EQ(m.Samples(), 7300072);
    EXPECT_NEAR(m.Duration(), 165.54, 0.01);
    EXPECT_EQ(m.Channels(), 2);
    EXPECT_EQ(m.BitsPerSample(), 16);
}

TEST(Monkey, OldHeaderOfVersion3970) {
    const std::string old = "MAC " + LE16(3970) + LE16(2000) + LE16(1) /*8-bit*/ + LE16(1) +
                            LE32(22050) + LE32(44) + LE32(0) + LE32(3) + LE32(500) + LE32(0) +
                            std::string(64, '\0');
    const auto m = LoadBytes<TMonkey>(old);
    ASSERT_TRUE(m.Valid());
    EXPECT_EQ(m.BitsPerSample(), 8);
    EXPECT_EQ(m.Samples(), 2 * 294912 + 500); // 3.95 and later: 73728 × 4 blocks a frame
    EXPECT_EQ(m.Channels(), 1);
    EXPECT_FALSE(LoadBytes<TMonkey>("MAC ").Valid());
    EXPECT_FALSE(LoadBytes<TMonkey>(std::string("XAC ") + LE16(3990) + std::string(80, '\0')).Valid());
}

TEST(Monkey, TagsComeFromTheApeTag) {
    bwtest::TTempDir dir;
    bwtest::WriteText(dir.File("t.ape"), ApeHeader3990(73728, 44100, 1, 16, 2, 44100));
    bwtest::Python("import sys, mutagen.apev2 as a\n"
                   "t = a.APEv2(); t['Title'] = 'Тишина'; t['Artist'] = 'Ann'; t['Track'] = '7'\n"
                   "t['Genre'] = 'Jazz'; t.save(sys.argv[1])\n",
                   {dir.File("t.ape")});
    TMonkey m;
    ASSERT_TRUE(m.Load(dir.File("t.ape")));
    ASSERT_TRUE(m.APETag().Present());
    EXPECT_EQ(m.APETag().GetItem("Title"), "Тишина");
    EXPECT_DOUBLE_EQ(m.Duration(), 1.0);
}

TEST(WAVPackfile, RealFilesStereoAndMono24Bit) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("s.wav"), 1.0, 44100, 2);
    bwtest::MakeTone(dir.File("m.wav"), 1.0, 48000, 1, {"-c:a", "pcm_s24le"});
    bwtest::RunOk({"wavpack", "-q", "-y", dir.File("s.wav"), "-o", dir.File("s.wv")});
    bwtest::RunOk({"wavpack", "-q", "-y", dir.File("m.wav"), "-o", dir.File("m.wv")});
    TWAVPackfile s;
    ASSERT_TRUE(s.Load(dir.File("s.wv")));
    EXPECT_TRUE(s.Valid());
    EXPECT_EQ(s.Channels(), 2);
    EXPECT_EQ(s.BitsPerSample(), 16);
    EXPECT_EQ(s.SampleRate(), 44100);
    EXPECT_EQ(s.Samples(), bwtest::DecodedFrames(dir.File("s.wv"), 2));
    TWAVPackfile m;
    ASSERT_TRUE(m.Load(dir.File("m.wv")));
    EXPECT_EQ(m.Channels(), 1);
    EXPECT_EQ(m.BitsPerSample(), 24);
    EXPECT_EQ(m.SampleRate(), 48000);
    EXPECT_EQ(m.Samples(), 48000);
}

TEST(WAVPackfile, ByteBuiltBlocksAndRefusals) {
    // Sample-rate index 15 is not in the table: 44100.
    const uint32_t flags = (15u << 23) | 4u /*mono*/ | 1u /*2 bytes*/;
    const std::string block = "wvpk" + LE32(1000) + LE16(0x410) + std::string(2, '\0') +
                              LE32(88200) + LE32(0) + LE32(0) + LE32(flags) + LE32(0);
    const auto w = LoadBytes<TWAVPackfile>(block);
    ASSERT_TRUE(w.Valid());
    EXPECT_EQ(w.SampleRate(), 44100);
    EXPECT_EQ(w.Channels(), 1);
    EXPECT_EQ(w.Version(), 4);
    EXPECT_DOUBLE_EQ(w.Duration(), 2.0);

    TWAVPackfile none;
    const std::string junk = "OggS" + std::string(60, '\0');
    TMemorySource src(Span(junk));
    EXPECT_FALSE(none.Load(src));
}
