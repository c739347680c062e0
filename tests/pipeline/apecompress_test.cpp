// The compressor on its own: files of every level and PCM layout, at the lengths where frames
// begin and end, decoded bit-exactly by FFmpeg with its CRC checks on.

#include "pipeline/apecompress.h"
#include "pipeline/checksums.h"

#include "pipelinetest.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

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
             bw::TSimdPath simd = bw::BestSimdPath(), int threads = 1) {
    int error = -1;
    auto c = bw::TAPECompress::Create(error);
    EXPECT_EQ(error, 0);
    c->SetSimdPath(simd);
    c->SetThreads(threads);
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
    const auto d = bwtest::DecodeStrict(path, layout.bits == 8    ? "u8"
                                              : layout.bits == 24 ? "s24le"
                                                                  : "s16le");
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
    const TLayout layouts[] = {{16, 2, 44100}, {16, 1, 96000}, {8, 2, 8000},
                               {8, 1, 22050},  {24, 2, 96000}, {24, 1, 48000}};
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

// Frame kinds for the special codes: which channel is silent, whether the channels are equal,
// and where a single sample breaks the pattern (a frame's first and last block).
enum class TKind {
    Noise,
    Same,
    Silence,
    LeftSilent,
    RightSilent,
    SilentButLastBlock,  // the last block is 1, 1: equal, not silent
    SameButLastBlock,    // right is left + 1 in the last block
    SilentButFirstBlock, // the first block is 5, -5
    SameThenSilent,      // equal channels for half the frame, silence after
};

// Appends one frame of a kind as PCM values (8-bit: -128..127) to pcm; 24-bit noise is
// full-scale.
void AppendFrame(std::vector<std::byte>& pcm, TKind kind, int bits, int channels, size_t blocks,
                 uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1u;
    auto noise = [&] {
        state = state * 1664525u + 1013904223u;
        if (bits == 24)
            return static_cast<int32_t>(state >> 8) - (1 << 23);
        const int32_t v = static_cast<int32_t>(state >> 16) - 32768;
        return bits == 8 ? v >> 8 : v / 4;
    };
    auto put = [&](int32_t v) {
        if (bits == 8) {
            pcm.push_back(std::byte(static_cast<uint8_t>(v + 128)));
        } else if (bits == 24) {
            for (int b = 0; b < 3; ++b)
                pcm.push_back(std::byte(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b))));
        } else {
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
            pcm.push_back(std::byte(s & 0xFF));
            pcm.push_back(std::byte(s >> 8));
        }
    };
    for (size_t i = 0; i < blocks; ++i) {
        const bool first = i == 0, last = i + 1 == blocks;
        int32_t left = 0, right = 0;
        switch (kind) {
        case TKind::Noise: left = noise(); right = noise(); break;
        case TKind::Same: left = right = noise(); break;
        case TKind::Silence: break;
        case TKind::LeftSilent: right = noise() | 1; break;
        case TKind::RightSilent: left = noise() | 1; break;
        case TKind::SilentButLastBlock: left = right = last ? 1 : 0; break;
        case TKind::SameButLastBlock: left = noise(); right = last ? left + 1 : left; break;
        case TKind::SilentButFirstBlock: left = first ? 5 : 0; right = first ? -5 : 0; break;
        case TKind::SameThenSilent: left = right = i < blocks / 2 ? noise() | 1 : 0; break;
        }
        put(left);
        if (channels == 2)
            put(right);
    }
}

// Each frame's special codes as the file stores them: 0 when the CRC word's bit 31 is clear.
// Frame bytes are stored as byte-reversed 32-bit words counted from the first frame.
std::vector<uint32_t> FrameCodes(const std::vector<std::byte>& file) {
    std::vector<uint32_t> codes;
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        if (at <= file.size() && file.size() - at >= 4)
            std::memcpy(&v, file.data() + at, 4);
        return v;
    };
    if (file.size() < 76 || std::memcmp(file.data(), "MAC ", 4) != 0) {
        ADD_FAILURE() << "not a Monkey's Audio file";
        return codes;
    }
    const size_t seekAt = u32(8) + u32(12), seekBytes = u32(16);
    const size_t dataAt = seekAt + seekBytes + u32(20);
    if (dataAt > file.size()) {
        ADD_FAILURE() << "headers run past the end";
        return codes;
    }
    auto logical = [&](size_t k) -> uint32_t { // byte k of the frame stream
        const size_t at = dataAt + (k & ~size_t{3}) + (3 - (k & 3));
        return at < file.size() ? static_cast<uint32_t>(file[at]) : 0u;
    };
    auto be32 = [&](size_t k) {
        return logical(k) << 24 | logical(k + 1) << 16 | logical(k + 2) << 8 | logical(k + 3);
    };
    for (size_t i = 0; i < seekBytes / 4; ++i) {
        const size_t k = u32(seekAt + 4 * i) - dataAt;
        const uint32_t crc = be32(k);
        const uint32_t code = crc & 0x80000000u ? be32(k + 4) : 0;
        EXPECT_FALSE(crc & 0x80000000u && code == 0) << "frame " << i << ": an empty codes word";
        codes.push_back(code);
    }
    return codes;
}

// Frames of every kind one after another, so the codes change from frame to frame; each
// frame's codes are read back from the file and the whole decodes bit-exactly.
TEST_P(TApeLevel, SpecialCodesFollowEachFrame) {
    const int level = GetParam();
    const size_t frame = level == 4000 ? 294912 : 73728;
    struct TPlan {
        TLayout layout;
        std::vector<std::pair<TKind, uint32_t>> frames; // kind, expected codes
    };
    const std::vector<std::pair<TKind, uint32_t>> stereo = {
        {TKind::Noise, 0},
        {TKind::Same, 4},
        {TKind::Silence, 7},
        {TKind::LeftSilent, 1},
        {TKind::RightSilent, 2},
        {TKind::SilentButLastBlock, 4},
        {TKind::SameButLastBlock, 0},
        {TKind::SilentButFirstBlock, 0},
        {TKind::Silence, 7},
        {TKind::SameThenSilent, 4}, // the final frame, partial
    };
    const std::vector<std::pair<TKind, uint32_t>> mono = {
        {TKind::Noise, 0},
        {TKind::Silence, 1},
        {TKind::SilentButLastBlock, 0},
        {TKind::Silence, 1},
        {TKind::SilentButFirstBlock, 0},
        {TKind::Silence, 1}, // the final frame, partial
    };
    const TPlan plans[] = {{{16, 2, 44100}, stereo}, {{8, 2, 11025}, stereo},
                           {{24, 2, 96000}, stereo}, {{16, 1, 48000}, mono},
                           {{8, 1, 8000}, mono},     {{24, 1, 44100}, mono}};
    bwtest::TTempDir dir;
    int n = 0;
    for (const auto& plan : plans) {
        SCOPED_TRACE(testing::Message() << plan.layout.bits << "-bit " << plan.layout.channels
                                        << " ch");
        std::vector<std::byte> pcm;
        std::vector<uint32_t> expected;
        for (size_t i = 0; i < plan.frames.size(); ++i) {
            const bool last = i + 1 == plan.frames.size();
            AppendFrame(pcm, plan.frames[i].first, plan.layout.bits, plan.layout.channels,
                        last ? frame / 3 + 1 : frame, static_cast<uint32_t>(i + 1));
            expected.push_back(plan.frames[i].second);
        }
        const std::string path = dir.File("c" + std::to_string(n++) + ".ape");
        ASSERT_EQ(Compress(path, plan.layout, level, pcm, -1), 0);
        EXPECT_EQ(FrameCodes(bwtest::ReadAll(path)), expected);
        ExpectDecodesTo(path, plan.layout, pcm);
    }
}

// A stereo file whose channels are equal costs what its left channel costs alone (the codes
// word of each frame aside), at every level and both word lengths.
TEST(TAPECompress, EqualChannelsCostWhatOneChannelCosts) {
    bwtest::TTempDir dir;
    const size_t blocks = 400000;
    for (int bits : {8, 16}) {
        // A tone with a little noise: compressible, yet far from free.
        std::vector<int32_t> values(blocks);
        uint32_t state = 7;
        for (size_t i = 0; i < blocks; ++i) {
            state = state * 1664525u + 1013904223u;
            const double tone = std::sin(static_cast<double>(i) * 0.043) * (bits == 8 ? 90 : 20000);
            values[i] = static_cast<int32_t>(std::lround(tone)) +
                        static_cast<int32_t>(state >> 28) - 8;
        }
        std::vector<std::byte> monoPcm, stereoPcm;
        for (int32_t v : values) {
            for (auto* pcm : {&monoPcm, &stereoPcm, &stereoPcm}) {
                if (bits == 8) {
                    pcm->push_back(std::byte(static_cast<uint8_t>(v + 128)));
                } else {
                    const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
                    pcm->push_back(std::byte(s & 0xFF));
                    pcm->push_back(std::byte(s >> 8));
                }
            }
        }
        for (int level : {1000, 2000, 3000, 4000}) {
            SCOPED_TRACE(testing::Message() << bits << "-bit at " << level);
            const std::string monoPath = dir.File("m.ape"), stereoPath = dir.File("s.ape");
            ASSERT_EQ(Compress(monoPath, {bits, 1, 44100}, level, monoPcm, -1), 0);
            ASSERT_EQ(Compress(stereoPath, {bits, 2, 44100}, level, stereoPcm, -1), 0);
            const auto monoBytes = static_cast<double>(std::filesystem::file_size(monoPath));
            const auto stereoBytes = static_cast<double>(std::filesystem::file_size(stereoPath));
            EXPECT_LE(std::abs(stereoBytes - monoBytes), monoBytes * 0.001)
                << "mono " << monoBytes << " bytes, stereo " << stereoBytes << " bytes";
            ExpectDecodesTo(stereoPath, {bits, 2, 44100}, stereoPcm);
        }
    }
}

// A minute of digital silence takes next to nothing, stereo or mono, at every level.
TEST(TAPECompress, MinuteOfSilenceIsTiny) {
    bwtest::TTempDir dir;
    const TLayout layouts[] = {{16, 2, 44100}, {16, 1, 44100}, {8, 2, 44100}};
    for (const auto& layout : layouts) {
        const auto pcm = bwtest::MakeSignal(TSignal::Silence, layout.bits, layout.channels,
                                            60 * static_cast<size_t>(layout.rate));
        for (int level : {1000, 2000, 3000, 4000}) {
            SCOPED_TRACE(testing::Message() << layout.bits << "-bit " << layout.channels
                                            << " ch at " << level);
            const std::string path = dir.File("silence.ape");
            ASSERT_EQ(Compress(path, layout, level, pcm, static_cast<int64_t>(pcm.size())), 0);
            EXPECT_LT(std::filesystem::file_size(path), 10000u);
            ExpectDecodesTo(path, layout, pcm);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, TApeLevel, testing::Values(1000, 2000, 3000, 4000));

// Full-scale extremes are the hardest input for the coder: residuals reach the escape codes
// and the split of large pivots, and at 24 bits the predictor's sums wrap.
TEST(TAPECompress, FullScaleExtremesRoundTrip) {
    bwtest::TTempDir dir;
    for (const int bits : {16, 24}) {
        const int32_t top = bits == 16 ? 32767 : (1 << 23) - 1;
        std::vector<std::byte> pcm;
        auto put = [&](int32_t v) {
            for (int b = 0; b < bits / 8; ++b)
                pcm.push_back(std::byte(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b))));
        };
        for (int i = 0; i < 40000; ++i) {
            const int32_t v = (i / 3) % 2 ? top : -top - 1;
            put(v);
            put(i % 7 == 0 ? -v - 1 : v);
        }
        for (int level : {1000, 2000, 3000, 4000}) {
            SCOPED_TRACE(testing::Message() << bits << "-bit at " << level);
            const std::string path = dir.File(std::to_string(level) + ".ape");
            ASSERT_EQ(Compress(path, {bits, 2, 48000}, level, pcm, -1), 0);
            ExpectDecodesTo(path, {bits, 2, 48000}, pcm);
        }
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

TEST(TAPECompress, EveryThreadCountWritesTheSameBytes) {
    // Short, an exact multiple of the frame and one block over it; seven frames are more
    // than three workers keep in flight, so the ring of frames wraps around.
    bwtest::TTempDir dir;
    constexpr size_t kFrame = 73728;
    for (const size_t frames : {size_t{1000}, 7 * kFrame, 7 * kFrame + 1}) {
        const auto pcm = bwtest::MakeSignal(TSignal::Noise, 16, 2, frames, 3);
        std::vector<std::byte> reference;
        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(frames) + " frames, " + std::to_string(threads) + " threads");
            const std::string path = dir.File(std::to_string(threads) + ".ape");
            ASSERT_EQ(Compress(path, {16, 2, 44100}, 1000, pcm, -1, bw::BestSimdPath(), threads), 0);
            const auto bytes = bwtest::ReadAll(path);
            if (reference.empty())
                reference = bytes;
            EXPECT_TRUE(bytes == reference);
        }
        ExpectDecodesTo(dir.File("3.ape"), {16, 2, 44100}, pcm);
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

// The MD5 on both sides of where its padding changes (a last block of up to 55 bytes takes
// the 0x80 byte and the length; from 56 on, another block is needed) and of whole blocks,
// fed at once and in two pieces, against Python's hashlib.
TEST(TMD5, PaddingAtTheBlockBoundaries) {
    const std::vector<size_t> lengths{0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 121, 128};
    std::string data(lengths.back(), '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + 7);
    std::vector<std::string> argv{"/usr/bin/python3", "-c",
                                  "import hashlib, sys\n"
                                  "data = sys.stdin.buffer.read()\n"
                                  "for n in sys.argv[1:]:\n"
                                  "    print(hashlib.md5(data[:int(n)]).hexdigest())\n"};
    for (const size_t n : lengths)
        argv.push_back(std::to_string(n));
    const auto python = bwtest::Run(argv, data);
    ASSERT_EQ(python.ExitCode, 0) << python.Err;
    std::istringstream expected(python.Out);
    for (const size_t n : lengths) {
        std::string want;
        expected >> want;
        const auto bytes = std::as_bytes(std::span(data.data(), n));
        for (const size_t split : {n, n / 2}) {
            bw::TMD5 md5;
            md5.Update(bytes.first(split));
            md5.Update(bytes.subspan(split));
            std::string got;
            for (const std::byte b : md5.Final()) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02x", std::to_integer<unsigned>(b));
                got += hex;
            }
            EXPECT_EQ(got, want) << n << " bytes, split at " << split;
        }
    }
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
    EXPECT_EQ(Compress(dir.File("a.ape"), {32, 2, 44100}, 2000, pcm, -1),
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
