#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/mpegaudio.h"
#include "tags/tagsource.h"

#include <gtest/gtest.h>

using namespace bw;
using bwtest::Span;

namespace {

// A frame header: MPEG 1 Layer III, 128 kbit/s, 44100 Hz, joint stereo.
std::string Header128(bool padding = false) {
    return std::string{'\xFF', '\xFB', static_cast<char>(padding ? 0x92 : 0x90), '\x40'};
}

// count frames of 417 bytes in a row, each starting with a valid header.
std::string Frames(int count) {
    std::string one = Header128();
    one.resize(417, '\0');
    std::string out;
    for (int i = 0; i < count; ++i)
        out += one;
    return out;
}

TMPEGaudio LoadBytes(const std::string& bytes) {
    TMPEGaudio m;
    TMemorySource src(Span(bytes));
    EXPECT_TRUE(m.Load(src));
    return m;
}

} // namespace

TEST(MPEGaudio, FrameSizesFollowTheStandardTables) {
    const auto plain = TMPEGaudio::DecodeHeader(Span(Header128(false)));
    EXPECT_EQ(TMPEGaudio::FrameSize(plain), 417);
    const auto padded = TMPEGaudio::DecodeHeader(Span(Header128(true)));
    EXPECT_EQ(TMPEGaudio::FrameSize(padded), 418);
    EXPECT_TRUE(TMPEGaudio::IsFrameHeader(Span(Header128())));
    // Free format (bit-rate index 0), index 15, a reserved sample rate and emphasis 2 are no headers.
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x00', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\xF0', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x9C', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x90', '\x42'})));
    // MPEG 2 Layer III at 64 kbit/s, 22050 Hz: 72 × 64000 / 22050 = 208 bytes.
    const auto mpeg2 = TMPEGaudio::DecodeHeader(Span(std::string{'\xFF', '\xF3', '\x80', '\xC0'}));
    EXPECT_EQ(TMPEGaudio::TableBitRate(mpeg2), 64);
    EXPECT_EQ(TMPEGaudio::TableSampleRate(mpeg2), 22050);
    EXPECT_EQ(TMPEGaudio::FrameSize(mpeg2), 208);
}

TEST(MPEGaudio, ConstantBitRateDurationComesFromTheAudioBytes) {
    // A 4096-byte ID3v2 tag, 1 280 000 bytes of audio at 128 kbit/s, an ID3v1 record.
    std::string id3v2 = std::string("ID3\x03\x00\x00", 6) + bwtest::SyncSafe32(4096 - 10);
    id3v2.resize(4096, '\0');
    std::string audio = Frames(3070);
    audio.resize(1280000, '\0');
    std::string id3v1 = "TAG";
    id3v1.resize(128, '\0');
    const auto m = LoadBytes(id3v2 + audio + id3v1);
    ASSERT_TRUE(m.Frame().Found);
    EXPECT_EQ(m.Frame().Position, 4096);
    EXPECT_EQ(m.AudioStart(), 4096);
    EXPECT_EQ(m.AudioEnd(), 4096 + 1280000);
    EXPECT_DOUBLE_EQ(m.Duration(), 80.0);
    EXPECT_EQ(m.BitRate(), 128);
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(m.ChannelModeText(), "Joint Stereo");
    EXPECT_TRUE(m.Valid());
}

TEST(MPEGaudio, XingAndVbriHeadersGiveFramesAndBytes) {
    std::string xingFrame = Header128();
    xingFrame.resize(36, '\0');
    xingFrame += "Xing" + bwtest::BE32(15) + bwtest::BE32(1000) + bwtest::BE32(417000);
    xingFrame.resize(417, '\0');
    const auto m = LoadBytes(xingFrame + Frames(10));
    ASSERT_TRUE(m.VBR().Found);
    EXPECT_EQ(m.VBR().Frames, 1000);
    EXPECT_NEAR(m.Duration(), 26.12, 0.005); // 1000 × 1152 / 44100
    EXPECT_EQ(m.BitRate(), 128);             // 417 bytes a frame

    std::string vbriFrame = Header128();
    vbriFrame.resize(36, '\0');
    vbriFrame += "VBRI" + std::string(6, '\0') + bwtest::BE32(208500) + bwtest::BE32(500);
    vbriFrame.resize(417, '\0');
    const auto v = LoadBytes(vbriFrame + Frames(10));
    ASSERT_TRUE(v.VBR().Found);
    EXPECT_EQ(v.VBR().Frames, 500);
    EXPECT_EQ(v.VBR().Bytes, 208500);
}

TEST(MPEGaudio, SearchSkipsAHeaderWithoutAFollowerAndRefusesFreeFormat) {
    // A lone header-like pattern, then real frames further on.
    std::string junk = Header128() + std::string(600, '\x11');
    const auto m = LoadBytes(junk + Frames(12));
    ASSERT_TRUE(m.Frame().Found);
    EXPECT_EQ(m.Frame().Position, static_cast<int32_t>(junk.size()));

    std::string freeFormat;
    for (int i = 0; i < 20; ++i)
        freeFormat += std::string{'\xFF', '\xFB', '\x00', '\x40'} + std::string(400, '\0');
    const auto f = LoadBytes(freeFormat);
    EXPECT_FALSE(f.Frame().Found);
    EXPECT_FALSE(f.Valid());
    EXPECT_EQ(f.Duration(), 0);

    const auto tiny = LoadBytes("\xFF\xFB\x90\x40\x00");
    EXPECT_FALSE(tiny.Valid());
}

TEST(MPEGaudio, RealFilesMatchFfprobe) {
    bwtest::TTempDir dir;
    const std::string wav = dir.File("t.wav");
    bwtest::MakeTone(wav, 6.0);
    struct Case {
        std::string name;
        std::vector<std::string> make;
        bool vbr;
    };
    const std::vector<Case> cases{
        {"cbr.mp3", {"lame", "--quiet", "-b", "192", wav, dir.File("cbr.mp3")}, false},
        {"vbr.mp3", {"lame", "--quiet", "-V", "4", wav, dir.File("vbr.mp3")}, true},
        {"noxing.mp3", {"lame", "--quiet", "-t", "-b", "128", wav, dir.File("noxing.mp3")}, false},
        {"t.mp2", {"ffmpeg", "-v", "error", "-i", wav, "-c:a", "mp2", "-b:a", "160k", dir.File("t.mp2")}, false},
    };
    for (const auto& c : cases) {
        bwtest::RunOk(c.make);
        TMPEGaudio m;
        ASSERT_TRUE(m.Load(dir.File(c.name))) << c.name;
        EXPECT_TRUE(m.Valid()) << c.name;
        EXPECT_EQ(m.VBR().Found, c.vbr) << c.name;
        EXPECT_EQ(m.SampleRate(), 44100) << c.name;
        const double ref = bwtest::FfprobeDuration(dir.File(c.name));
        EXPECT_NEAR(m.Duration(), ref, ref * 0.01) << c.name;
    }
}
