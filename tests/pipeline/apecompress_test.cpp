// The compressor on its own: files of every level and PCM layout, at the lengths where frames
// begin and end, decoded bit-exactly by FFmpeg with its CRC checks on.

#include "pipeline/apecompress.h"

#include "pipelinetest.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using bwtest::TSignal;

struct TLayout {
    int bits;
    int channels;
    int rate;
};

// Compresses pcm through the handle's operations, feeding it in uneven pieces.
int Compress(const std::string& path, const TLayout& layout, int level,
             const std::vector<std::byte>& pcm, int64_t maxAudioBytes,
             bw::TSimdPath simd = bw::BestSimdPath()) {
    int error = -1;
    auto c = bw::TAPECompress::Create(error);
    EXPECT_EQ(error, 0);
    c->SetSimdPath(simd);
    bw::TWaveFormatEx format;
    bw::FillWaveFormatEx(format, layout.rate, layout.bits, layout.channels);
    if (const int r = c->Start(path, format, maxAudioBytes, level); r != 0)
        return r;
    size_t done = 0, piece = 1;
    while (done < pcm.size()) {
        int64_t room = 0;
        std::byte* p = c->LockBuffer(room);
        if (!p)
            return -1;
        const size_t n = std::min({pcm.size() - done, static_cast<size_t>(room), piece});
        std::memcpy(p, pcm.data() + done, n);
        if (const int r = c->UnlockBuffer(static_cast<int64_t>(n)); r != 0)
            return r;
        done += n;
        piece = piece * 3 + 7; // odd piece sizes: blocks split across hand-overs
    }
    return c->Finish();
}

void ExpectDecodesTo(const std::string& path, const TLayout& layout,
                     const std::vector<std::byte>& pcm) {
    const auto d = bwtest::DecodeStrict(path, layout.bits == 8 ? "u8" : "s16le");
    EXPECT_EQ(d.ExitCode, 0);
    EXPECT_EQ(d.Err, "");
    ASSERT_EQ(d.Pcm.size(), pcm.size());
    EXPECT_TRUE(d.Pcm == pcm) << "decoded PCM differs";
}

class TApeLevel : public testing::TestWithParam<int> {};

// Every layout and signal, at one block, exactly one frame, one frame plus one block and
// several frames (the last one partial).
TEST_P(TApeLevel, RoundTripsAtFrameBoundaries) {
    const int level = GetParam();
    const size_t frame = level == 4000 ? 294912 : 73728;
    const TLayout layouts[] = {{16, 2, 44100}, {16, 1, 96000}, {8, 2, 8000}, {8, 1, 22050}};
    const size_t lengths[] = {1, frame, frame + 1, 2 * frame + 4321};
    const TSignal signals[] = {TSignal::Noise, TSignal::Sine, TSignal::SameChannels,
                               TSignal::Silence};
    bwtest::TTempDir dir;
    int n = 0;
    for (const auto& layout : layouts) {
        for (size_t li = 0; li < std::size(lengths); ++li) {
            // Rotate the signals so each layout and length meets several of them.
            const TSignal signal = signals[(li + static_cast<size_t>(n)) % std::size(signals)];
            SCOPED_TRACE(testing::Message() << layout.bits << "-bit " << layout.channels
                                            << " ch, " << lengths[li] << " blocks, signal "
                                            << static_cast<int>(signal));
            const auto pcm = bwtest::MakeSignal(signal, layout.bits, layout.channels, lengths[li],
                                                static_cast<uint32_t>(li + 1));
            const std::string path = dir.File("t" + std::to_string(n++) + ".ape");
            // Half the files know their size up front, half do not: both file layouts.
            const int64_t hint = n % 2 ? static_cast<int64_t>(pcm.size()) : -1;
            ASSERT_EQ(Compress(path, layout, level, pcm, hint), 0);
            ExpectDecodesTo(path, layout, pcm);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, TApeLevel, testing::Values(1000, 2000, 3000, 4000));

// Full-scale noise is the hardest input for the coder: residuals reach the escape codes and
// the split of large pivots.
TEST(TAPECompress, FullScaleExtremesRoundTrip) {
    bwtest::TTempDir dir;
    std::vector<int16_t> s;
    for (int i = 0; i < 40000; ++i) {
        const int16_t v = (i / 3) % 2 ? 32767 : -32768;
        s.push_back(v);
        s.push_back(static_cast<int16_t>(i % 7 == 0 ? -v - 1 : v));
    }
    const auto pcm = bwtest::S16Bytes(s);
    for (int level : {1000, 2000, 3000, 4000}) {
        SCOPED_TRACE(level);
        const std::string path = dir.File(std::to_string(level) + ".ape");
        ASSERT_EQ(Compress(path, {16, 2, 48000}, level, pcm, -1), 0);
        ExpectDecodesTo(path, {16, 2, 48000}, pcm);
    }
}

TEST(TAPECompress, EveryCodePathWritesTheSameBytes) {
    bwtest::TTempDir dir;
    const auto paths = bw::AvailableSimdPaths();
    ASSERT_GE(paths.size(), 2u);
    auto pcm = bwtest::MakeSignal(TSignal::Sine, 16, 2, 50000);
    const auto noise = bwtest::MakeSignal(TSignal::Noise, 16, 2, 30000, 7);
    pcm.insert(pcm.end(), noise.begin(), noise.end());
    for (int level : {2000, 3000, 4000}) {
        std::vector<std::byte> reference;
        for (auto p : paths) {
            SCOPED_TRACE(bw::SimdPathName(p) + " at " + std::to_string(level));
            const std::string path = dir.File(bw::SimdPathName(p) + ".ape");
            ASSERT_EQ(Compress(path, {16, 2, 44100}, level, pcm, -1, p), 0);
            const auto bytes = bwtest::ReadAll(path);
            if (reference.empty())
                reference = bytes;
            EXPECT_TRUE(bytes == reference);
        }
    }
}

// The header's MD5 covers the WAV header, the frame data, the 24-byte header and the seek
// table, in that order; checked against the system's md5sum.
TEST(TAPECompress, HeaderChecksumCoversTheStoredParts) {
    bwtest::TTempDir dir;
    const std::string path = dir.File("m.ape");
    const auto pcm = bwtest::MakeSignal(TSignal::Noise, 16, 2, 200000);
    ASSERT_EQ(Compress(path, {16, 2, 44100}, 2000, pcm, -1), 0);
    const auto file = bwtest::ReadAll(path);
    ASSERT_GT(file.size(), 52u);
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, file.data() + at, 4);
        return v;
    };
    const uint32_t descriptor = u32(8), header = u32(12), seek = u32(16), wav = u32(20),
                   data = u32(24);
    ASSERT_EQ(descriptor, 52u);
    ASSERT_EQ(header, 24u);
    ASSERT_EQ(seek, 4u * 3); // 200000 blocks: three frames
    const size_t headerAt = 52, seekAt = headerAt + 24, wavAt = seekAt + seek,
                 dataAt = wavAt + wav;
    ASSERT_EQ(file.size(), dataAt + data);
    EXPECT_EQ(u32(seekAt), dataAt) << "the first frame starts right after the WAV header";
    std::string joined;
    auto add = [&](size_t at, size_t n) {
        joined.append(reinterpret_cast<const char*>(file.data() + at), n);
    };
    add(wavAt, wav);
    add(dataAt, data);
    add(headerAt, 24);
    add(seekAt, seek);
    const std::string sum = bwtest::Run({"md5sum"}, joined).Out.substr(0, 32);
    std::string stored;
    for (size_t i = 36; i < 52; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(file[i]));
        stored += hex;
    }
    EXPECT_EQ(stored, sum);
}

TEST(TAPECompress, NoAudioMakesNoFile) {
    bwtest::TTempDir dir;
    const std::string path = dir.File("empty.ape");
    EXPECT_EQ(Compress(path, {16, 2, 44100}, 2000, {}, -1), bw::kApeInputTooSmall);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Less than one whole block is no audio either.
    EXPECT_EQ(Compress(path, {16, 2, 44100}, 2000, {std::byte{1}, std::byte{2}}, -1),
              bw::kApeInputTooSmall);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TAPECompress, RefusesWhatItCannotWrite) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(TSignal::Sine, 16, 2, 10);
    EXPECT_EQ(Compress(dir.File("a.ape"), {24, 2, 44100}, 2000, pcm, -1),
              bw::kApeUnsupportedBitDepth);
    EXPECT_EQ(Compress(dir.File("a.ape"), {16, 6, 44100}, 2000, pcm, -1),
              bw::kApeUnsupportedChannels);
    EXPECT_EQ(Compress(dir.File("a.ape"), {16, 2, 0}, 2000, pcm, -1),
              bw::kApeUnsupportedSampleRate);
    EXPECT_EQ(Compress(dir.File("a.ape"), {16, 2, 44100}, 2500, pcm, -1), bw::kApeBadParameter);
    EXPECT_EQ(Compress(dir.File("gone/a.ape"), {16, 2, 44100}, 2000, pcm, -1),
              bw::kApeInvalidOutputFile);
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.ape")));
}

TEST(TAPECompress, ErrorTexts) {
    EXPECT_EQ(bw::APEErrorText(0), "OK");
    EXPECT_EQ(bw::APEErrorText(1004), "input file file too large");
    EXPECT_EQ(bw::APEErrorText(1008), "input file too small");
    EXPECT_EQ(bw::APEErrorText(6000), "APE compress too much data");
    EXPECT_EQ(bw::APEErrorText(1234), "undefined (1234)");
}

} // namespace
