// Monkey's Audio files written by our compressor decode through the audio binding exactly
// as FFmpeg decodes them, and the probe reads their headers.

#include "audio/audiostream.h"
#include "support/apemake.h"
#include "shell/probe.h"
#include "support/testsupport.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace bw;

namespace {

std::vector<std::byte> ReadWhole(TAudioStream& s) {
    std::vector<std::byte> out, block(10240);
    for (;;) {
        const int64_t n = s.Read(block);
        if (n <= 0)
            break;
        out.insert(out.end(), block.begin(), block.begin() + n);
    }
    return out;
}

} // namespace

TEST(ApeDecode, BitExactWithFfmpegAtEveryLevel) {
    bwtest::TTempDir dir;
    struct Case {
        int rate, bits, channels;
        const char* format; // ffmpeg's raw sample format
        const char* filter; // ffmpeg's audio filter on the tone
    };
    // A tone on two channels is the same on both, which the compressor codes as one channel;
    // the right channel at half level takes the full stereo path.
    for (const Case c : {Case{44100, 16, 2, "s16le", "anull"},
                         Case{44100, 16, 2, "s16le", "pan=stereo|c0=c0|c1=0.5*c0"},
                         Case{22050, 8, 1, "u8", "anull"}}) {
        const std::string wav = dir.File("src.wav");
        bwtest::MakeTone(wav, 1.3, c.rate, c.channels,
                         {"-af", c.filter, "-c:a", c.bits == 8 ? "pcm_u8" : "pcm_s16le"});
        const auto pcm = bwtest::FfmpegDecode(wav, c.format);
        for (int level : {1000, 2000, 3000, 4000}) {
            const std::string ape = dir.File("out" + std::to_string(level) + ".ape");
            bwtest::CompressToApe(pcm, c.rate, c.bits, c.channels, level, ape);
            TAudioError error = TAudioError::Ok;
            auto stream = TAudioStream::OpenFile(ape, &error);
            ASSERT_TRUE(stream) << "error " << static_cast<int>(error);
            EXPECT_TRUE(stream->LengthIsExact());
            EXPECT_EQ(stream->LengthBytes(), pcm.size());
            EXPECT_EQ(stream->Info().EightBit, c.bits == 8);
            const auto ours = ReadWhole(*stream);
            EXPECT_EQ(ours, bwtest::FfmpegDecode(ape, c.format)) << level;
            EXPECT_EQ(ours, pcm) << level;

            TFileProbe probe;
            const auto r = probe.Probe(ape);
            ASSERT_TRUE(r.Accepted) << r.Reason;
            EXPECT_EQ(r.Item.SampleRate, c.rate);
            EXPECT_EQ(r.Item.Channels, c.channels);
            EXPECT_EQ(r.Item.Bitrate, c.rate * c.bits * c.channels);
            EXPECT_EQ(r.Item.DurationMs, 1300);
        }
    }
}
