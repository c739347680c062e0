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

TEST(MPEGaudio, InvalidHeadersAreRefused) {
    EXPECT_TRUE(TMPEGaudio::IsFrameHeader(Span(Header128())));
    // Free format (bit-rate index 0), index 15, a reserved sample rate and emphasis 2 are no headers.
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x00', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\xF0', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x9C', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xFB', '\x90', '\x42'})));
    // The reserved version and the reserved layer.
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xEB', '\x90', '\x40'})));
    EXPECT_FALSE(TMPEGaudio::IsFrameHeader(Span(std::string{'\xFF', '\xF9', '\x90', '\x40'})));
}

// Every version, layer, bit-rate index, sample rate and padding: the tables against the
// figures of ISO/IEC 11172-3 and 13818-3, and the frame lengths against FFmpeg's own frame
// splitter, which is given a stream of frames laid end to end by our lengths.
TEST(MPEGaudio, FrameLengthsOfEveryVersionLayerRateAndPaddingMatchFfmpeg) {
    // kbit/s by [MPEG 1, MPEG 2 and 2.5][Layer I, II, III][index 1..14].
    constexpr int kKbps[2][3][14] = {
        {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    };
    struct TVersion {
        uint8_t Id;
        int Hz[3];
    };
    constexpr TVersion kVersions[] = {{3, {44100, 48000, 32000}}, {2, {22050, 24000, 16000}},
                                      {0, {11025, 12000, 8000}}};
    bwtest::TTempDir dir;
    const std::string path = dir.File("frames.mp3");
    for (const TVersion& v : kVersions) {
        for (int layer = 1; layer <= 3; ++layer) {
            for (int rateIndex = 0; rateIndex < 3; ++rateIndex) {
                const std::string what = "version " + std::to_string(v.Id) + " layer " + std::to_string(layer) +
                                         " " + std::to_string(v.Hz[rateIndex]) + " Hz";
                std::string stream, lengths;
                for (int index = 1; index <= 14; ++index) {
                    for (int padding = 0; padding <= 1; ++padding) {
                        // No CRC, mono.
                        const std::string header{'\xFF', static_cast<char>(0xE1 | v.Id << 3 | (4 - layer) << 1),
                                                 static_cast<char>(index << 4 | rateIndex << 2 | padding << 1), '\xC0'};
                        ASSERT_TRUE(TMPEGaudio::IsFrameHeader(Span(header))) << what;
                        const auto f = TMPEGaudio::DecodeHeader(Span(header));
                        EXPECT_EQ(TMPEGaudio::TableBitRate(f), kKbps[v.Id == 3 ? 0 : 1][layer - 1][index - 1])
                            << what << " index " << index;
                        EXPECT_EQ(TMPEGaudio::TableSampleRate(f), v.Hz[rateIndex]) << what;
                        const int length = TMPEGaudio::FrameSize(f);
                        ASSERT_GE(length, 4) << what << " index " << index;
                        stream += header + std::string(static_cast<size_t>(length) - 4, '\0');
                        lengths += std::to_string(length) + "\n";
                    }
                }
                bwtest::WriteText(path, stream);
                EXPECT_EQ(bwtest::RunOk({"ffprobe", "-v", "error", "-f", "mp3", "-show_entries", "packet=size",
                                         "-of", "csv=p=0", path}),
                          lengths)
                    << what;
            }
        }
    }
    // Figures to check by hand: MPEG 1 Layer III at 128 kbit/s, 44100 Hz is 417 bytes, 418
    // padded; Layer I at 32 kbit/s, 44100 Hz is 8 slots of 4 bytes, 9 padded.
    EXPECT_EQ(TMPEGaudio::FrameSize(TMPEGaudio::DecodeHeader(Span(Header128(false)))), 417);
    EXPECT_EQ(TMPEGaudio::FrameSize(TMPEGaudio::DecodeHeader(Span(Header128(true)))), 418);
    EXPECT_EQ(TMPEGaudio::FrameSize(TMPEGaudio::DecodeHeader(Span(std::string{'\xFF', '\xFF', '\x10', '\xC0'}))), 32);
    EXPECT_EQ(TMPEGaudio::FrameSize(TMPEGaudio::DecodeHeader(Span(std::string{'\xFF', '\xFF', '\x12', '\xC0'}))), 36);
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

TEST(MPEGaudio, LayerIAt44100HzIsAcceptedWithFfmpegsDuration) {
    // No Layer I encoder is at hand, so the frames are laid out byte by byte the way an
    // encoder does: 384 kbit/s stereo, a padding slot whenever the fractional slots add up
    // to one. All-zero bit allocations make each frame 384 samples of silence.
    constexpr int kFrames = 1000;
    constexpr int kSlotBits = 12 * 384000;
    std::string stream;
    int rest = 0;
    for (int i = 0; i < kFrames; ++i) {
        rest += kSlotBits % 44100;
        const bool padding = rest >= 44100;
        if (padding)
            rest -= 44100;
        const size_t length = static_cast<size_t>(kSlotBits / 44100 + (padding ? 1 : 0)) * 4;
        stream += std::string{'\xFF', '\xFF', static_cast<char>(padding ? 0xC2 : 0xC0), '\x00'};
        stream.resize(stream.size() + length - 4, '\0');
    }
    bwtest::TTempDir dir;
    const std::string path = dir.File("t.mp1");
    bwtest::WriteText(path, stream);
    // FFmpeg decodes every frame.
    EXPECT_EQ(bwtest::DecodedFrames(path, 2), int64_t{kFrames} * 384);

    TMPEGaudio m;
    ASSERT_TRUE(m.Load(path));
    ASSERT_TRUE(m.Frame().Found);
    EXPECT_EQ(m.Frame().Position, 0);
    EXPECT_EQ(m.Frame().Size, 416);
    EXPECT_TRUE(m.Valid());
    EXPECT_EQ(m.SampleRate(), 44100);
    EXPECT_EQ(m.BitRate(), 384);
    EXPECT_EQ(m.ChannelModeText(), "Stereo");
    const double seconds = kFrames * 384 / 44100.0;
    EXPECT_NEAR(m.Duration(), seconds, 0.001);
    EXPECT_NEAR(bwtest::FfprobeDuration(path), seconds, 0.01);
}
