#include "audio/encoderpipe.h"
#include "audio/audiotesthelp.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using bw::TAudioError;
using bw::TAudioStream;
using bw::TEncoderPipe;
using bwtest::FfmpegDecode;
using bwtest::MakeSignal;
using bwtest::RunOk;
using bwtest::TTempDir;

namespace {

// Pipes a stream through flac the way the conversion run does: 10240-byte blocks.
// Returns the PCM that went in.
std::vector<std::byte> EncodeWithFlac(TAudioStream& s, const std::string& out,
                                      std::optional<uint64_t> dataBytes) {
    TEncoderPipe pipe;
    EXPECT_TRUE(pipe.Start({"flac", "-s", "-f", "-o", out, "-"}, s.Info(), dataBytes))
        << pipe.ErrorOutput();
    std::vector<std::byte> sent;
    std::vector<std::byte> block(10240);
    int64_t n;
    while ((n = s.Read(block)) > 0) {
        const std::span<const std::byte> part(block.data(), static_cast<size_t>(n));
        EXPECT_TRUE(pipe.Write(part));
        sent.insert(sent.end(), part.begin(), part.end());
    }
    EXPECT_EQ(n, 0);
    EXPECT_EQ(pipe.Stop(), 0) << pipe.ErrorOutput();
    EXPECT_FALSE(pipe.Running());
    return sent;
}

// flac fed through the pipe must keep every sample: from a WAV with the exact length in
// the header, and from an MP3 whose length is only estimated (open-ended header).
TEST(EncoderPipe, FlacGetsEverySampleWithExactAndEstimatedLength) {
    TTempDir dir;
    const auto wav = dir.File("a.wav");
    MakeSignal(wav, 3, 44100, 2, {"-c:a", "pcm_s16le"});
    const auto mp3 = dir.File("a.mp3");
    RunOk({"lame", "--quiet", "-V", "5", wav, mp3});
    for (const auto& source : {wav, mp3}) {
        SCOPED_TRACE(source);
        auto s = TAudioStream::OpenFile(source);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->LengthIsExact(), source == wav);
        const auto out = dir.File("out.flac");
        const auto sent = EncodeWithFlac(
            *s, out, s->LengthIsExact() ? std::optional(s->LengthBytes()) : std::nullopt);
        const auto decoded = FfmpegDecode(out);
        EXPECT_TRUE(decoded == sent);
        EXPECT_TRUE(decoded == FfmpegDecode(source));
    }
}

// Deep sources asked for at 24 bits reach flac whole: its file decodes to the source's own
// 24-bit samples, the low 8 bits included. A surround source goes through the extensible
// header, whose valid bits say 24 too.
TEST(EncoderPipe, FlacKeeps24BitSourcesBitExact) {
    TTempDir dir;
    struct TCase {
        std::string Name;
        int Rate;
        int Channels;
        std::vector<std::string> Encoder; // IN and OUT stand for the files
    };
    const TCase cases[] = {
        {"a.flac", 96000, 2, {"flac", "-s", "-o", "OUT", "IN"}},
        {"b.wv", 44100, 2, {"wavpack", "-q", "IN", "-o", "OUT"}},
        {"c.wv", 48000, 1, {"wavpack", "-q", "IN", "-o", "OUT"}},
        {"d.flac", 48000, 6, {"flac", "-s", "-o", "OUT", "IN"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto wav = dir.File(c.Name + ".wav");
        MakeSignal(wav, 1.5, c.Rate, c.Channels, {"-c:a", "pcm_s24le"});
        auto argv = c.Encoder;
        for (auto& a : argv)
            a = a == "IN" ? wav : a == "OUT" ? dir.File(c.Name) : a;
        RunOk(argv);
        const auto source = dir.File(c.Name);
        const auto expected = FfmpegDecode(source, "s24le");
        // Real content in the low byte of the samples, or the test proves nothing.
        ASSERT_TRUE(std::any_of(expected.begin(), expected.end(),
                                [](std::byte b) { return b != std::byte{0}; }));
        auto s = TAudioStream::OpenFile(source, nullptr, bw::TChannelPolicy::KeepAll,
                                        bw::TSampleDepth::Keep24);
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->Info().TwentyFourBit);
        const auto out = dir.File("out.flac");
        const auto sent = EncodeWithFlac(*s, out, s->LengthBytes());
        EXPECT_TRUE(sent == expected);
        EXPECT_TRUE(FfmpegDecode(out, "s24le") == expected);
        EXPECT_EQ(RunOk({"ffprobe", "-v", "error", "-show_entries",
                         "stream=channels,bits_per_raw_sample", "-of", "csv=p=0", out}),
                  std::to_string(c.Channels) + ",24\n");
    }
}

// Our WAV header (the encoders' input, temp.wav) for every sample width, mono, stereo and
// surround, through real WAV readers: header plus PCM decode to the same samples, both with
// the exact size and with the open-ended one, and FFmpeg reads the rate, channels, width and
// byte rate (rate x block align) the header must hold.
TEST(EncoderPipe, HeaderDescribesThePcm) {
    TTempDir dir;
    struct TCase {
        bw::TChannelInfo Info;
        const char* Format;
    };
    const TCase cases[] = {{{.SampleRate = 11025, .Channels = 1, .EightBit = true}, "u8"},
                           {{.SampleRate = 22050, .Channels = 1}, "s16le"},
                           {{.SampleRate = 44100, .Channels = 2}, "s16le"},
                           {{.SampleRate = 96000, .Channels = 2, .TwentyFourBit = true}, "s24le"},
                           {{.SampleRate = 48000, .Channels = 6, .ChannelMask = 0x3F}, "s16le"}};
    for (const auto& [info, format] : cases) {
        std::vector<std::byte> pcm(static_cast<size_t>(info.BlockAlign()) * 4000);
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = std::byte(static_cast<uint8_t>(i * 37 + i / 251));
        for (const bool exact : {true, false}) {
            SCOPED_TRACE(std::to_string(info.SampleRate) + " Hz, " + std::to_string(info.Channels) +
                         " channels, " + format + (exact ? ", exact" : ", open-ended"));
            const auto header = bw::MakeWavHeader(
                info,
                exact ? std::optional<uint32_t>(static_cast<uint32_t>(pcm.size())) : std::nullopt);
            std::vector<std::byte> file(header);
            file.insert(file.end(), pcm.begin(), pcm.end());
            const auto copy = dir.File("copy.wav");
            bwtest::WriteAll(copy, file);
            EXPECT_TRUE(FfmpegDecode(copy, format) == pcm);
            // Our own decoder reads an open-ended header to the end of the data too.
            auto again = TAudioStream::OpenFile(copy, nullptr, bw::TChannelPolicy::KeepAll,
                                                bw::TSampleDepth::Keep24);
            ASSERT_TRUE(again);
            EXPECT_EQ(again->LengthIsExact(), exact);
            EXPECT_TRUE(bwtest::ReadToEnd(*again) == pcm);
            EXPECT_EQ(RunOk({"ffprobe", "-v", "error", "-show_entries",
                             "stream=sample_rate,channels,bits_per_sample,bit_rate", "-of",
                             "csv=p=0", copy}),
                      std::to_string(info.SampleRate) + "," + std::to_string(info.Channels) + "," +
                          std::to_string(8 * info.BytesPerSample()) + "," +
                          std::to_string(8 * info.SampleRate * info.BlockAlign()) + "\n");
        }
    }
}

TEST(EncoderPipe, MissingProgramFailsToStart) {
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    EXPECT_FALSE(pipe.Start({"brindlewave-no-such-encoder", "-"}, info, std::nullopt));
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
    EXPECT_NE(pipe.ErrorOutput().find("brindlewave-no-such-encoder"), std::string::npos);
    EXPECT_FALSE(pipe.Running());
    EXPECT_FALSE(pipe.Write(std::vector<std::byte>(16)));
    EXPECT_EQ(pipe.Stop(), -1);

    EXPECT_FALSE(pipe.Start({"/nonexistent/folder/flac"}, info, std::nullopt));
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
}

TEST(EncoderPipe, EncoderThatExitsEarlyFailsTheWriteNotTheProgram) {
    // The default action of SIGPIPE ends the program: make sure it is in force here (the
    // test support's Run ignores it for the whole process).
    std::signal(SIGPIPE, SIG_DFL);
    // flac refuses an unknown option at once, before it reads anything.
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    if (pipe.Start({"flac", "--no-such-option-here", "-"}, info, std::nullopt)) {
        // The header fitted into the pipe before flac was gone: the next writes must fail
        // (without SIGPIPE ending this test program).
        bool failed = false;
        const std::vector<std::byte> block(10240);
        for (int i = 0; i < 1000 && !failed; ++i)
            failed = !pipe.Write(block);
        EXPECT_TRUE(failed);
        EXPECT_EQ(pipe.LastError(), TAudioError::Process);
        EXPECT_NE(pipe.Stop(), 0);
    }
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
    EXPECT_FALSE(pipe.Running());
    EXPECT_NE(pipe.ErrorOutput().find("no-such-option-here"), std::string::npos)
        << pipe.ErrorOutput();
}

TEST(EncoderPipe, EncoderGoneWhilePipeIsFullFailsInsteadOfWaiting) {
    std::signal(SIGPIPE, SIG_DFL);
    // Reads a little, then leaves with far more than that still queued in the pipe: the
    // writer must notice the missing reader rather than wait for the queue to drain.
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    ASSERT_TRUE(pipe.Start({"/bin/sh", "-c", "head -c 20000 >/dev/null; sleep 0.2; exit 3"}, info,
                           std::nullopt));
    const std::vector<std::byte> block(10240);
    bool failed = false;
    for (int i = 0; i < 1000 && !failed; ++i) // 10 MB, more than any pipe holds
        failed = !pipe.Write(block);
    EXPECT_TRUE(failed);
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
    EXPECT_EQ(pipe.Stop(), 3);
}

TEST(EncoderPipe, NonZeroExitIsReported) {
    TTempDir dir;
    // flac cannot write into a folder that does not exist: it reads, then fails.
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    const auto out = dir.File("no/such/folder/out.flac");
    ASSERT_TRUE(pipe.Start({"flac", "-s", "-o", out, "-"}, info, 4 * 44100));
    for (int i = 0; i < 20; ++i)
        if (!pipe.Write(std::vector<std::byte>(8820)))
            break;
    const int status = pipe.Stop();
    EXPECT_GT(status, 0);
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
    EXPECT_FALSE(pipe.ErrorOutput().empty());
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(EncoderPipe, TalkativeEncoderDoesNotDeadlockAndKeepsLastLines) {
    // An encoder that writes far more than a pipe holds to its error output before it
    // reads its input, then reads it all.
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    ASSERT_TRUE(pipe.Start({"/bin/sh", "-c",
                            "i=0; while [ $i -lt 3000 ]; do "
                            "echo \"progress line $i of a chatty encoder\" >&2; i=$((i+1)); done; "
                            "echo last words >&2; exec cat >/dev/null"},
                           info, std::nullopt));
    const std::vector<std::byte> block(10240);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(pipe.Write(block));
    EXPECT_EQ(pipe.Stop(), 0);
    const auto text = pipe.ErrorOutput();
    EXPECT_NE(text.find("last words"), std::string::npos);
    EXPECT_NE(text.find("line 2999"), std::string::npos);
    EXPECT_EQ(text.find("line 100 "), std::string::npos); // only the last lines are kept
    EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 10);
}

TEST(EncoderPipe, ArgumentsReachTheEncoderVerbatim) {
    TTempDir dir;
    // A shell would run the command in this name or split it at the quote.
    const auto out = dir.File("a \"quoted\" $(touch pwned) `id` name.flac");
    TEncoderPipe pipe;
    const bw::TChannelInfo info{8000, 1, false};
    ASSERT_TRUE(pipe.Start({"flac", "-s", "-o", out, "-"}, info, 1600));
    ASSERT_TRUE(pipe.Write(std::vector<std::byte>(1600)));
    EXPECT_EQ(pipe.Stop(), 0) << pipe.ErrorOutput();
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("pwned")));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(EncoderPipe, KillEndsAHangingEncoder) {
    TEncoderPipe pipe;
    const bw::TChannelInfo info{44100, 2, false};
    // Never reads its input and never exits by itself.
    ASSERT_TRUE(pipe.Start({"sleep", "600"}, info, std::nullopt));
    EXPECT_TRUE(pipe.Running());
    pipe.Kill();
    EXPECT_FALSE(pipe.Running());
    EXPECT_EQ(pipe.LastError(), TAudioError::Process);
}

TEST(FindProgram, LooksBesideTheProgramBeforePath) {
    EXPECT_EQ(bw::FindProgram("flac"), "/usr/bin/flac");
    EXPECT_EQ(bw::FindProgram("brindlewave-no-such-encoder"), "");
    EXPECT_EQ(bw::FindProgram(""), "");
    EXPECT_EQ(bw::FindProgram("/usr/bin/flac"), "/usr/bin/flac");

    // A program in this test program's own folder wins over one of the same name on PATH.
    TTempDir pathDir;
    const std::string name = "bw-findprogram-probe-" + std::to_string(getpid());
    const auto onPath = pathDir.Path() / name;
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
    for (const auto& p : {onPath, beside}) {
        std::ofstream(p) << "#!/bin/sh\n";
        std::filesystem::permissions(p, std::filesystem::perms::owner_all);
    }
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (pathDir.Path().string() + ":" + oldPath).c_str(), 1);
    EXPECT_EQ(bw::FindProgram(name), beside.string());
    std::filesystem::remove(beside);
    EXPECT_EQ(bw::FindProgram(name), onPath.string());
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(bw::FindProgram(name), "");

    // Not executable: not a program.
    TTempDir dir;
    const auto plain = dir.File("plain");
    std::ofstream(plain) << "data";
    EXPECT_EQ(bw::FindProgram(plain), "");
}

} // namespace
