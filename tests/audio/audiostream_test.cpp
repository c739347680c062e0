#include "audio/audiostream.h"
#include "audio/audiotesthelp.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

using bw::TAudioError;
using bw::TAudioStream;
using bwtest::FfmpegDecode;
using bwtest::MakeSignal;
using bwtest::ReadToEnd;
using bwtest::RunOk;
using bwtest::TTempDir;

namespace {

struct TSourceCase {
    std::string Name;
    // Makes the source in the folder and returns its path.
    std::function<std::string(const TTempDir&)> Make;
    int Rate;
    int Channels;
    bool EightBit;
    // How far a lossy source's length estimate (0: a twentieth) and a seek (0: 2048
    // samples) may be off, in bytes.
    double Slack = 0;
    // More than 16 bits: delivered at 24 when asked for.
    bool Deep = false;
};

std::string Wav(const TTempDir& dir, const std::string& name, double seconds, int rate,
                int channels, const std::string& codec) {
    const std::string path = dir.File(name);
    MakeSignal(path, seconds, rate, channels, {"-c:a", codec});
    return path;
}

std::string Encoded(const TTempDir& dir, const std::string& wav, const std::string& out,
                    std::vector<std::string> argv) {
    for (auto& a : argv) {
        if (a == "IN")
            a = wav;
        else if (a == "OUT")
            a = dir.File(out);
    }
    RunOk(argv);
    return dir.File(out);
}

std::ostream& operator<<(std::ostream& os, const TSourceCase& c) { return os << c.Name; }
std::string CaseName(const testing::TestParamInfo<TSourceCase>& info) { return info.param.Name; }
} // namespace

namespace bw {
void PrintTo(TSampleDepth depth, std::ostream* os) {
    *os << (depth == TSampleDepth::Keep24 ? "Keep24" : "Reduce16");
}
} // namespace bw

namespace {

void ExpectInfo(const TAudioStream& s, const TSourceCase& c, bool twentyFourBit = false) {
    EXPECT_EQ(s.Info().SampleRate, c.Rate);
    EXPECT_EQ(s.Info().Channels, c.Channels);
    EXPECT_EQ(s.Info().EightBit, c.EightBit);
    EXPECT_EQ(s.Info().TwentyFourBit, twentyFourBit);
    EXPECT_EQ(s.Info().BytesPerSample(), c.EightBit ? 1 : twentyFourBit ? 3 : 2);
}

// Lossless sources: the PCM must be FFmpeg's own decode, byte for byte (every channel), and
// the length the header states must be the real one. Asked for 24 bits, a deep source gives
// FFmpeg's s24le decode and every other source the same as without asking.
class LosslessTest : public testing::TestWithParam<std::tuple<TSourceCase, bw::TSampleDepth>> {};

std::string DepthCaseName(const testing::TestParamInfo<LosslessTest::ParamType>& info) {
    const bool keep24 = std::get<1>(info.param) == bw::TSampleDepth::Keep24;
    return std::get<0>(info.param).Name + (keep24 ? "Keep24" : "");
}

TEST_P(LosslessTest, DecodesBitExactWithExactLength) {
    const auto& [c, depth] = GetParam();
    const bool deep = c.Deep && depth == bw::TSampleDepth::Keep24;
    TTempDir dir;
    const std::string path = c.Make(dir);
    const auto expected = FfmpegDecode(path, c.EightBit ? "u8" : deep ? "s24le" : "s16le");
    ASSERT_FALSE(expected.empty());

    TAudioError error = TAudioError::Unknown;
    auto s = TAudioStream::OpenFile(path, &error, bw::TChannelPolicy::KeepAll, depth);
    ASSERT_TRUE(s) << static_cast<int>(error);
    EXPECT_EQ(error, TAudioError::Ok);
    ExpectInfo(*s, c, deep);
    EXPECT_TRUE(s->LengthIsExact());
    EXPECT_EQ(s->LengthBytes(), expected.size());

    // An odd block size: reads must still end on whole sample frames.
    const auto pcm = ReadToEnd(*s, 10240 + 3);
    EXPECT_TRUE(pcm == expected) << pcm.size() << " bytes read, ffmpeg gives " << expected.size();
    EXPECT_EQ(s->Position(), expected.size());
    EXPECT_TRUE(s->AtEnd());
    std::vector<std::byte> block(4096);
    EXPECT_EQ(s->Read(block), 0);
    EXPECT_EQ(s->LastError(), TAudioError::Ended);

    // Every container seeks to the exact sample frame: back to a third of the way in.
    const uint64_t blockAlign = static_cast<uint64_t>(s->Info().BlockAlign());
    const uint64_t third = expected.size() / 3 / blockAlign * blockAlign;
    ASSERT_TRUE(s->Seek(third));
    const auto rest = ReadToEnd(*s);
    EXPECT_TRUE(rest.size() == expected.size() - third &&
                std::equal(rest.begin(), rest.end(), expected.begin() + static_cast<long>(third)));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LosslessTest,
    testing::Combine(
        testing::Values(
            TSourceCase{
                "Wav16Stereo",
                [](const TTempDir& d) { return Wav(d, "a.wav", 2.5, 44100, 2, "pcm_s16le"); },
                44100, 2, false},
            TSourceCase{"Wav8Mono",
                        [](const TTempDir& d) { return Wav(d, "a.wav", 2, 22050, 1, "pcm_u8"); },
                        22050, 1, true},
            TSourceCase{"Wav24Stereo",
                        [](const TTempDir& d) { return Wav(d, "a.wav", 2, 48000, 2, "pcm_s24le"); },
                        48000, 2, false, 0, true},
            TSourceCase{
                "Wav32Stereo",
                [](const TTempDir& d) { return Wav(d, "a.wav", 1.5, 44100, 2, "pcm_s32le"); },
                44100, 2, false, 0, true},
            TSourceCase{
                "WavFloat",
                [](const TTempDir& d) { return Wav(d, "a.wav", 1.5, 44100, 2, "pcm_f32le"); },
                44100, 2, false, 0, true},
            TSourceCase{"Wav16Surround",
                        [](const TTempDir& d) { return Wav(d, "a.wav", 1, 48000, 6, "pcm_s16le"); },
                        48000, 6, false},
            TSourceCase{"Flac16",
                        [](const TTempDir& d) {
                            const auto wav = Wav(d, "a.wav", 2.5, 44100, 2, "pcm_s16le");
                            return Encoded(d, wav, "a.flac", {"flac", "-s", "-o", "OUT", "IN"});
                        },
                        44100, 2, false},
            TSourceCase{"Flac16MonoSmallBlocks",
                        [](const TTempDir& d) {
                            const auto wav = Wav(d, "a.wav", 1.3, 48000, 1, "pcm_s16le");
                            return Encoded(d, wav, "a.flac", {"flac", "-s", "-8", "--blocksize=576", "-o", "OUT", "IN"});
                        },
                        48000, 1, false},
            TSourceCase{"Wav24Mono",
                        [](const TTempDir& d) { return Wav(d, "a.wav", 1.1, 32000, 1, "pcm_s24le"); },
                        32000, 1, false, 0, true},
            TSourceCase{"Flac24",
                        [](const TTempDir& d) {
                            const auto wav = Wav(d, "a.wav", 2, 96000, 2, "pcm_s24le");
                            return Encoded(d, wav, "a.flac", {"flac", "-s", "-o", "OUT", "IN"});
                        },
                        96000, 2, false, 0, true},
            TSourceCase{"WavPack16",
                        [](const TTempDir& d) {
                            const auto wav = Wav(d, "a.wav", 2.5, 44100, 2, "pcm_s16le");
                            return Encoded(d, wav, "a.wv", {"wavpack", "-q", "IN", "-o", "OUT"});
                        },
                        44100, 2, false},
            TSourceCase{"WavPack24Mono",
                        [](const TTempDir& d) {
                            const auto wav = Wav(d, "a.wav", 2, 48000, 1, "pcm_s24le");
                            return Encoded(d, wav, "a.wv", {"wavpack", "-q", "IN", "-o", "OUT"});
                        },
                        48000, 1, false, 0, true}),
        testing::Values(bw::TSampleDepth::Reduce16, bw::TSampleDepth::Keep24)),
    DepthCaseName);

// Lossy sources: FFmpeg's sample count (encoder delay and padding removed as it removes
// them), and a length estimate that reading corrects at the end.
class LossyTest : public testing::TestWithParam<TSourceCase> {};

TEST_P(LossyTest, DecodesFfmpegSampleCount) {
    const auto& c = GetParam();
    TTempDir dir;
    const std::string path = c.Make(dir);
    const auto expected = FfmpegDecode(path);
    ASSERT_FALSE(expected.empty());

    // Lossy decoders give float, but nothing below 16 bits is worth keeping.
    auto asked24 = TAudioStream::OpenFile(path, nullptr, bw::TChannelPolicy::DownmixToStereo,
                                          bw::TSampleDepth::Keep24);
    ASSERT_TRUE(asked24);
    ExpectInfo(*asked24, c);

    auto s = TAudioStream::OpenFile(path);
    ASSERT_TRUE(s);
    ExpectInfo(*s, c);
    EXPECT_FALSE(s->LengthIsExact());
    // An estimate, but a sane one.
    const double estimate = static_cast<double>(s->LengthBytes());
    EXPECT_NEAR(estimate, static_cast<double>(expected.size()),
                c.Slack > 0 ? c.Slack : expected.size() / 20.0);

    const auto pcm = ReadToEnd(*s);
    EXPECT_EQ(pcm.size(), expected.size());
    // Same decoder, same conversion: the samples themselves agree too.
    EXPECT_TRUE(pcm == expected);
    EXPECT_TRUE(s->LengthIsExact());
    EXPECT_EQ(s->LengthBytes(), expected.size());
    EXPECT_EQ(bw::ProgressPercent(s->Position(), s->LengthBytes()), 100);

    // Back to the start: the same samples again, encoder delay trimmed again.
    ASSERT_TRUE(s->Seek(0));
    EXPECT_TRUE(ReadToEnd(*s) == pcm);

    // Into the middle: reading goes on from about there, and Position says where.
    const uint64_t blockAlign = static_cast<uint64_t>(s->Info().BlockAlign());
    const uint64_t third = pcm.size() / 3 / blockAlign * blockAlign;
    ASSERT_TRUE(s->Seek(third));
    const uint64_t landed = s->Position();
    EXPECT_NEAR(static_cast<double>(landed), static_cast<double>(third),
                std::max(c.Slack, 2048.0 * static_cast<double>(blockAlign)));
    const auto rest = ReadToEnd(*s);
    EXPECT_NEAR(static_cast<double>(rest.size()), static_cast<double>(pcm.size() - third),
                std::max(c.Slack, 2048.0 * static_cast<double>(blockAlign)));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LossyTest,
    testing::Values(
        TSourceCase{"Mp3LameCbr",
                    [](const TTempDir& d) {
                        const auto wav = Wav(d, "a.wav", 3, 44100, 2, "pcm_s16le");
                        return Encoded(d, wav, "a.mp3", {"lame", "--quiet", "-b", "128", "IN", "OUT"});
                    },
                    44100, 2, false},
        TSourceCase{"Mp3LameVbr",
                    [](const TTempDir& d) {
                        const auto wav = Wav(d, "a.wav", 3, 44100, 2, "pcm_s16le");
                        return Encoded(d, wav, "a.mp3", {"lame", "--quiet", "-V", "4", "IN", "OUT"});
                    },
                    44100, 2, false},
        TSourceCase{"Mp3LameMono22k",
                    [](const TTempDir& d) {
                        const auto wav = Wav(d, "a.wav", 2, 22050, 1, "pcm_s16le");
                        return Encoded(d, wav, "a.mp3", {"lame", "--quiet", "-V", "6", "IN", "OUT"});
                    },
                    22050, 1, false},
        TSourceCase{"OggVorbis",
                    [](const TTempDir& d) {
                        const auto wav = Wav(d, "a.wav", 3, 44100, 2, "pcm_s16le");
                        return Encoded(d, wav, "a.ogg", {"oggenc", "-Q", "-o", "OUT", "IN"});
                    },
                    44100, 2, false},
        TSourceCase{"Wma",
                    [](const TTempDir& d) {
                        const auto path = d.File("a.wma");
                        MakeSignal(path, 3, 44100, 2, {"-c:a", "wmav2", "-b:a", "128k"});
                        return path;
                    },
                    // ASF stamps packets in milliseconds: seeks land within two frames.
                    44100, 2, false, 2 * 2048 * 4},
        TSourceCase{"Mp2",
                    [](const TTempDir& d) {
                        const auto path = d.File("a.mp2");
                        MakeSignal(path, 3, 48000, 2, {"-c:a", "mp2", "-b:a", "192k"});
                        return path;
                    },
                    48000, 2, false},
        TSourceCase{"Musepack",
                    [](const TTempDir& d) {
                        const auto wav = Wav(d, "a.wav", 3, 44100, 2, "pcm_s16le");
                        return Encoded(d, wav, "a.mpc", {"mpcenc", "--silent", "IN", "OUT"});
                    },
                    // FFmpeg counts a Musepack stream's length in whole packets of
                    // 64 frames of 1152 samples.
                    44100, 2, false, 64 * 1152 * 4}),
    CaseName);

TEST(AudioStreamSeek, LandsOnTheExactSampleFrameAndRefusesPastTheEnd) {
    TTempDir dir;
    const auto wav = dir.File("a.wav");
    MakeSignal(wav, 3, 44100, 2, {"-c:a", "pcm_s16le"});
    const auto flac = dir.File("a.flac");
    RunOk({"flac", "-s", "-o", flac, wav});
    const auto expected = FfmpegDecode(flac);
    auto s = TAudioStream::OpenFile(flac);
    ASSERT_TRUE(s);
    std::vector<std::byte> block(4000);
    ASSERT_EQ(s->Read(block), 4000);
    EXPECT_EQ(s->Position(), 4000u);

    EXPECT_FALSE(s->Seek(expected.size() + 4));
    EXPECT_EQ(s->LastError(), TAudioError::Position);
    // The refused seek leaves the stream where it was.
    EXPECT_EQ(s->Position(), 4000u);
    ASSERT_EQ(s->Read(block), 4000);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), expected.begin() + 4000));

    // Into the middle of a FLAC frame, with an odd byte position (rounded down).
    const uint64_t target = 4 * 54321;
    ASSERT_TRUE(s->Seek(target + 3));
    EXPECT_EQ(s->Position(), target);
    const auto rest = ReadToEnd(*s);
    EXPECT_TRUE(rest.size() == expected.size() - target &&
                std::equal(rest.begin(), rest.end(), expected.begin() + target));

    // To the very end: nothing left, but no error.
    ASSERT_TRUE(s->Seek(expected.size()));
    EXPECT_EQ(s->Read(block), 0);
    EXPECT_EQ(s->LastError(), TAudioError::Ended);
}

TEST(ProgressPercent, ClampsEstimatesAndUnknownLengths) {
    EXPECT_EQ(bw::ProgressPercent(0, 1000), 0);
    EXPECT_EQ(bw::ProgressPercent(379, 1000), 37); // truncated, not rounded
    EXPECT_EQ(bw::ProgressPercent(999, 1000), 99);
    EXPECT_EQ(bw::ProgressPercent(1500, 1000), 100); // an estimate that was too short
    EXPECT_EQ(bw::ProgressPercent(500, 0), 0);       // no length known
    EXPECT_EQ(bw::ProgressPercent(UINT64_MAX - 1, UINT64_MAX), 99);
}

// Bad input: a clean refusal with a code, never a crash.
TEST(AudioStreamBadInput, RefusesFilesWithoutAudio) {
    TTempDir dir;
    TAudioError e = TAudioError::Ok;
    EXPECT_FALSE(TAudioStream::OpenFile(dir.File("missing.mp3"), &e));
    EXPECT_EQ(e, TAudioError::FileOpen);

    EXPECT_FALSE(TAudioStream::OpenFile(dir.Path().string(), &e));
    EXPECT_NE(e, TAudioError::Ok);

    const auto empty = dir.File("empty.wav");
    bwtest::WriteAll(empty, {});
    EXPECT_FALSE(TAudioStream::OpenFile(empty, &e));
    EXPECT_EQ(e, TAudioError::FileForm);

    const auto text = dir.File("notes.mp3");
    const std::string words = "These are notes about a song, not the song itself.\n";
    std::vector<std::byte> bytes;
    for (int i = 0; i < 200; ++i)
        for (char ch : words)
            bytes.push_back(static_cast<std::byte>(ch));
    bwtest::WriteAll(text, bytes);
    e = TAudioError::Ok;
    EXPECT_FALSE(TAudioStream::OpenFile(text, &e));
    EXPECT_NE(e, TAudioError::Ok);

    // A picture: FFmpeg opens it, but it has no audio stream.
    const auto png = dir.File("cover.mp3");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "color=c=red:s=16x16:d=0.1", "-frames:v", "1", "-f", "image2", "-c:v", "png", png});
    e = TAudioError::Ok;
    EXPECT_FALSE(TAudioStream::OpenFile(png, &e));
    EXPECT_EQ(e, TAudioError::FileForm);
}

TEST(AudioStreamBadInput, WavCutShortReadsWhatIsThere) {
    TTempDir dir;
    const auto wav = dir.File("a.wav");
    MakeSignal(wav, 2, 44100, 2, {"-c:a", "pcm_s16le"});
    auto bytes = bwtest::ReadAll(wav);
    bytes.resize(bytes.size() - 40001); // the header still states the full size
    const auto cut = dir.File("cut.wav");
    bwtest::WriteAll(cut, bytes);
    const auto expected = FfmpegDecode(cut);

    auto s = TAudioStream::OpenFile(cut);
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->LengthIsExact()); // the stated size is more than the file holds
    EXPECT_GT(s->LengthBytes(), expected.size());
    EXPECT_TRUE(ReadToEnd(*s) == expected);
    EXPECT_TRUE(s->LengthIsExact());
    EXPECT_EQ(s->LengthBytes(), expected.size());
}

TEST(AudioStreamBadInput, TruncatedFilesNeverCrash) {
    TTempDir dir;
    const auto wav = dir.File("a.wav");
    MakeSignal(wav, 0.5, 44100, 2, {"-c:a", "pcm_s16le"});
    const auto flac = dir.File("a.flac");
    RunOk({"flac", "-s", "-o", flac, wav});
    const auto mp3 = dir.File("a.mp3");
    RunOk({"lame", "--quiet", "-b", "128", wav, mp3});
    for (const auto& source : {flac, mp3}) {
        const auto whole = bwtest::ReadAll(source);
        const size_t full = FfmpegDecode(source).size();
        // Every length through the headers, then coarser steps through the audio.
        for (size_t len = 0; len < whole.size(); len += len < 1200 ? 7 : 1733) {
            SCOPED_TRACE(source + " cut at " + std::to_string(len));
            const auto cut = dir.File("cut" + source.substr(source.rfind('.')));
            bwtest::WriteAll(cut, std::vector<std::byte>(whole.begin(), whole.begin() + len));
            TAudioError e = TAudioError::Ok;
            auto s = TAudioStream::OpenFile(cut, &e);
            if (!s) {
                EXPECT_NE(e, TAudioError::Ok);
                continue;
            }
            std::vector<std::byte> block(10240);
            uint64_t total = 0;
            int64_t n;
            while ((n = s->Read(block)) > 0)
                total += static_cast<uint64_t>(n);
            EXPECT_EQ(n, 0);
            EXPECT_LE(total, full + 1152 * 4);
            EXPECT_EQ(total % 4, 0u);
        }
    }
}

TEST(AudioStreamBadInput, DamagedMiddleIsSkippedLikeFfmpeg) {
    TTempDir dir;
    const auto wav = dir.File("a.wav");
    MakeSignal(wav, 3, 44100, 2, {"-c:a", "pcm_s16le"});
    for (const std::string ext : {".mp3", ".flac"}) {
        SCOPED_TRACE(ext);
        const auto src = dir.File("a" + ext);
        if (ext == ".mp3")
            RunOk({"lame", "--quiet", "-b", "128", wav, src});
        else
            RunOk({"flac", "-s", "-o", src, wav});
        auto bytes = bwtest::ReadAll(src);
        // Overwrite a stretch in the middle with a pattern that is neither sync nor silence.
        for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 3000; ++i)
            bytes[i] = static_cast<std::byte>((i * 37) & 0x7F);
        const auto damaged = dir.File("damaged" + ext);
        bwtest::WriteAll(damaged, bytes);
        auto s = TAudioStream::OpenFile(damaged);
        ASSERT_TRUE(s);
        const auto pcm = ReadToEnd(*s);
        EXPECT_GT(pcm.size(), 44100u * 4); // the audio after the damage is still there
        if (ext == ".mp3") {
            EXPECT_EQ(pcm.size(), FfmpegDecode(damaged).size());
            continue;
        }
        // FLAC is read by libFLAC, which keeps a damaged block's place as silence: the
        // length stays, but the read is not whole and says why.
        EXPECT_EQ(pcm.size(), FfmpegDecode(src).size());
        EXPECT_FALSE(s->DeliveredAll());
        EXPECT_NE(s->ProblemText().find("damaged"), std::string::npos) << s->ProblemText();
        ASSERT_TRUE(s->Seek(0)); // a second read starts afresh
        EXPECT_TRUE(ReadToEnd(*s) == pcm);
    }
}

} // namespace
