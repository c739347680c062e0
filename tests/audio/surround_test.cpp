#include "audio/audiostream.h"
#include "audio/audiotesthelp.h"
#include "audio/encoderpipe.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using bw::TAudioStream;
using bw::TChannelPolicy;
using bw::TEncoderPipe;
using bwtest::RunOk;
using bwtest::TTempDir;

namespace {

// One tone per channel, in WAV order: front left, front right, centre, low frequency,
// then the two surround channels (back or side).
constexpr std::array<double, 6> kTones{440, 620, 800, 110, 1100, 1400};

struct TSurroundSource {
    std::string Name;
    std::string Layout; // FFmpeg's layout name
    uint32_t Mask;      // its WAV channel mask
    std::vector<std::string> Options;
};

std::string MakeSource(const TTempDir& dir, const TSurroundSource& s) {
    std::string exprs;
    for (size_t c = 0; c < kTones.size(); ++c)
        exprs += (c ? "|" : "") + std::string("0.5*sin(2*PI*") + std::to_string(kTones[c]) + "*t)";
    const auto path = dir.File(s.Name);
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "aevalsrc=" + exprs + ":c=" + s.Layout + ":s=44100:d=2"};
    argv.insert(argv.end(), s.Options.begin(), s.Options.end());
    argv.push_back(path);
    RunOk(argv);
    return path;
}

// The strength of a tone in one channel of interleaved 16-bit PCM (Goertzel).
double Power(const std::vector<std::byte>& pcm, int channels, int channel, double hz) {
    const double w = 2 * M_PI * hz / 44100;
    double s1 = 0, s2 = 0;
    const size_t frames = pcm.size() / (2 * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        int16_t v;
        std::memcpy(&v, &pcm[(i * static_cast<size_t>(channels) + static_cast<size_t>(channel)) * 2], 2);
        const double s0 = v + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
}

// Each channel holds its own tone and, far below it, nothing of the others.
void ExpectEachToneInItsChannel(const std::vector<std::byte>& pcm) {
    for (int c = 0; c < 6; ++c) {
        const double own = Power(pcm, 6, c, kTones[static_cast<size_t>(c)]);
        for (int other = 0; other < 6; ++other) {
            if (other != c) {
                EXPECT_GT(own, 1000 * Power(pcm, 6, c, kTones[static_cast<size_t>(other)]))
                    << "channel " << c << " holds the tone of channel " << other;
            }
        }
    }
}

std::string ProbeLayout(const std::string& path) {
    return RunOk({"ffprobe", "-v", "error", "-show_entries", "stream=channels,channel_layout",
                  "-of", "csv=p=0", path});
}

const std::vector<TSurroundSource> kSources{
    {"a.flac", "5.1", 0x3F, {}},
    {"a.wav", "5.1(side)", 0x60F, {"-c:a", "pcm_s16le"}},
};

} // namespace

// Every channel of a 5.1 source reaches flac and oggenc through the pipe and stays in its
// place: the WAV header tells them which speaker each channel is for.
TEST(Surround, EncodersKeepEveryChannelInPlace) {
    TTempDir dir;
    for (const auto& source : kSources) {
        SCOPED_TRACE(source.Name);
        const auto path = MakeSource(dir, source);
        ExpectEachToneInItsChannel(bwtest::FfmpegDecode(path));

        auto s = TAudioStream::OpenFile(path, nullptr, TChannelPolicy::KeepAll);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->Info().Channels, 6);
        EXPECT_EQ(s->Info().ChannelMask, source.Mask);
        const auto pcm = bwtest::ReadToEnd(*s);
        EXPECT_TRUE(pcm == bwtest::FfmpegDecode(path));

        const std::vector<std::vector<std::string>> encoders{
            {"flac", "-s", "-f", "-o", dir.File("out.flac"), "-"},
            {"oggenc", "-Q", "-o", dir.File("out.ogg"), "-"},
        };
        for (const auto& argv : encoders) {
            SCOPED_TRACE(argv[0]);
            const auto& out = argv[argv.size() - 2];
            TEncoderPipe pipe;
            ASSERT_TRUE(pipe.Start(argv, s->Info(), pcm.size())) << pipe.ErrorOutput();
            EXPECT_TRUE(pipe.Write(pcm));
            EXPECT_EQ(pipe.Stop(), 0) << pipe.ErrorOutput();
            // Neither FLAC nor Vorbis says whether the surround pair is at the back or the
            // side; either is the 5.1 layout.
            const auto layout = ProbeLayout(out);
            EXPECT_TRUE(layout == "6,5.1\n" || layout == "6,5.1(side)\n") << layout;
            ExpectEachToneInItsChannel(bwtest::FfmpegDecode(out));
        }
    }
}

// The default policy gives FFmpeg's own downmix to stereo, as its command line makes it.
TEST(Surround, DownmixIsFfmpegsOwn) {
    TTempDir dir;
    for (const auto& source : kSources) {
        SCOPED_TRACE(source.Name);
        const auto path = MakeSource(dir, source);
        auto s = TAudioStream::OpenFile(path);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->Info().Channels, 2);
        EXPECT_EQ(s->Info().ChannelMask, 0x3u);
        const auto pcm = bwtest::ReadToEnd(*s);
        const auto expected = bwtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path,
                                           "-ac", "2", "-f", "s16le", "-"})
                                  .Out;
        ASSERT_EQ(pcm.size(), expected.size());
        int worst = 0;
        for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
            int16_t a, b;
            std::memcpy(&a, &pcm[i], 2);
            std::memcpy(&b, &expected[i], 2);
            worst = std::max(worst, std::abs(a - b));
        }
        EXPECT_LE(worst, 1);
        EXPECT_EQ(s->LengthBytes(), pcm.size());
    }
}
