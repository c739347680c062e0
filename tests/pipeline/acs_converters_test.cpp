// The sample and channel converters, run through the real chain WAV reader -> converters ->
// WAV writer, with the written files decoded by FFmpeg.

#include "pipeline/acs_converters.h"
#include "pipeline/acs_wave.h"
#include "pipelinetest.h"
#include "support/testsupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <utility>

namespace {

std::vector<std::byte> U8(std::initializer_list<int> values) {
    std::vector<std::byte> v;
    for (int x : values)
        v.push_back(std::byte(static_cast<uint8_t>(x)));
    return v;
}

// Runs source.wav through the given converters into out.wav; answers the written PCM as
// FFmpeg decodes it.
std::vector<std::byte> Convert(const bwtest::TTempDir& dir, std::vector<bw::TACSConverter*> chain,
                               const std::string& format) {
    bw::TWaveIn in;
    in.SetFileName(dir.File("source.wav"));
    bw::TACSInput* last = &in;
    for (auto* c : chain) {
        c->SetInput(last);
        last = c;
    }
    bw::TWaveOut out;
    out.SetInput(last);
    out.SetFileName(dir.File("out.wav"));
    bwtest::RunOutput(out);
    EXPECT_EQ(out.LastError(), "");
    return bwtest::FfmpegDecode(dir.File("out.wav"), format);
}

TEST(TSampleConverter, EightToSixteenBits) {
    bwtest::TTempDir dir;
    bwtest::WriteWav(dir.File("source.wav"), 8, 1, 8000, U8({128, 0, 255, 1, 127}));
    bw::TSampleConverter sc;
    const auto got = bwtest::S16Samples(Convert(dir, {&sc}, "s16le"));
    EXPECT_EQ(got, (std::vector<int16_t>{0, -32768, 32512, -32512, -256}));
}

TEST(TSampleConverter, SixteenToEightBits) {
    bwtest::TTempDir dir;
    bwtest::WriteWav(dir.File("source.wav"), 16, 2, 8000,
                     bwtest::S16Bytes({-32768, 32767, 0, -1, 255, 256}));
    bw::TSampleConverter sc;
    EXPECT_TRUE(Convert(dir, {&sc}, "u8") == U8({0, 255, 128, 127, 128, 129}));
}

TEST(TMSConverter, StereoToMonoAverages) {
    bwtest::TTempDir dir;
    bwtest::WriteWav(dir.File("source.wav"), 16, 2, 44100,
                     bwtest::S16Bytes({32767, 32767, -32768, -32767, 1, -2, -3, 0, 100, 201}));
    bw::TMSConverter ms;
    const auto got = bwtest::S16Samples(Convert(dir, {&ms}, "s16le"));
    // Summed in 32 bits, divided toward zero.
    EXPECT_EQ(got, (std::vector<int16_t>{32767, -32767, 0, -1, 150}));
}

// The chain of the WAV target for an 8-bit mono file: 16-bit stereo, four times the bytes,
// across many of the converters' chunks.
TEST(TMSConverter, EightBitMonoBecomesSixteenBitStereo) {
    bwtest::TTempDir dir;
    const size_t samples = 100001;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 8, 1, samples);
    bwtest::WriteWav(dir.File("source.wav"), 8, 1, 22050, pcm);
    bw::TSampleConverter sc;
    bw::TMSConverter ms;
    ms.SetMode(bw::TMSConverterMode::msmMonoToBoth);
    bw::TWaveIn probe;
    probe.SetFileName(dir.File("source.wav"));
    sc.SetInput(&probe);
    ms.SetInput(&sc);
    // Format answers and sizes before any opening.
    EXPECT_EQ(sc.BitsPerSample(), 16);
    EXPECT_EQ(ms.BitsPerSample(), 16);
    EXPECT_EQ(ms.ChannelCount(), 2);
    EXPECT_EQ(ms.SamplesPerSecond(), 22050);
    probe.OpenInput();
    EXPECT_EQ(ms.Size(), static_cast<int64_t>(samples * 4));
    probe.CloseInput();

    const auto got = bwtest::S16Samples(Convert(dir, {&sc, &ms}, "s16le"));
    ASSERT_EQ(got.size(), samples * 2);
    EXPECT_EQ(std::filesystem::file_size(dir.File("out.wav")), 44 + samples * 4);
    for (size_t i = 0; i < samples; ++i) {
        const int expected = static_cast<int>(static_cast<uint8_t>(pcm[i])) * 256 - 32768;
        ASSERT_EQ(got[2 * i], expected) << i;
        ASSERT_EQ(got[2 * i + 1], expected) << i;
    }
}

// 24-bit PCM goes from the WAV reader straight to a writer; a converter put after it says
// so instead of taking its 3-byte samples for 8- or 16-bit ones.
TEST(TBufferedConverter, RefuseTwentyFourBitInput) {
    bwtest::TTempDir dir;
    bwtest::WriteWav(dir.File("source.wav"), 24, 2, 44100,
                     bwtest::MakeSignal(bwtest::TSignal::Sine, 24, 2, 1000));
    bw::TSampleConverter sample;
    bw::TMSConverter channels;
    const std::pair<bw::TACSConverter*, std::string> cases[] = {
        {&sample, "The sample converter needs 8- or 16-bit input, not 24-bit"},
        {&channels, "The channel converter needs 16-bit input, not 24-bit"},
    };
    for (const auto& [converter, text] : cases) {
        bw::TWaveIn in;
        in.SetFileName(dir.File("source.wav"));
        converter->SetInput(&in);
        bw::TWaveOut out;
        out.SetInput(converter);
        out.SetFileName(dir.File("out.wav"));
        bwtest::RunOutput(out);
        EXPECT_EQ(out.LastError(), text);
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.wav")));
    }
}

TEST(TBufferedConverter, Errors) {
    bw::TSampleConverter sc;
    bwtest::ExpectAcsError([&] { sc.OpenInput(); }, "Input not assigned");
    EXPECT_THROW(sc.BitsPerSample(), bw::EACSException);
    std::vector<std::byte> buf(16);
    bwtest::ExpectAcsError([&] { sc.ReadPcm(buf); }, "The Stream is not opened");
    sc.SetInput(&sc); // a converter is never its own input
    EXPECT_EQ(sc.Input(), nullptr);
    // A destroyed input is dropped, not left dangling.
    {
        bw::TWaveIn in;
        sc.SetInput(&in);
        EXPECT_EQ(sc.Input(), &in);
    }
    EXPECT_EQ(sc.Input(), nullptr);
}

} // namespace
