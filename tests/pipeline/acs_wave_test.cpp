// The WAV reader and writer: header parsing edge cases, damaged files, round trips through
// the pipeline and writes that fail.

#include "pipeline/acs_wave.h"

#include "pipelinetest.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <cstring>

namespace {

std::vector<std::byte> ReadAllPcm(bw::TWaveIn& in) {
    std::vector<std::byte> out;
    std::vector<std::byte> buf(5000); // not a multiple of the reader's block
    for (size_t n; (n = in.ReadPcm(buf)) > 0;)
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(n));
    return out;
}

std::vector<std::byte> Text(std::string_view s) {
    const auto* p = reinterpret_cast<const std::byte*>(s.data());
    return std::vector<std::byte>(p, p + s.size());
}

TEST(TWaveIn, ReadsFormatAndData) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 12345);
    bwtest::WriteWav(dir.File("a.wav"), 16, 2, 96000, pcm);
    bw::TWaveIn in;
    in.SetFileName(dir.File("a.wav"));
    // Format queries open the closed file for the moment of the question.
    EXPECT_EQ(in.BitsPerSample(), 16);
    EXPECT_EQ(in.ChannelCount(), 2);
    EXPECT_EQ(in.SamplesPerSecond(), 96000);
    EXPECT_FALSE(in.Busy());
    EXPECT_THROW(in.ReadPcm(std::span<std::byte>()), bw::EACSException);
    in.OpenInput();
    EXPECT_EQ(in.Size(), static_cast<int64_t>(pcm.size()));
    EXPECT_THROW(in.OpenInput(), bw::EACSException); // "The component is buisy"
    EXPECT_TRUE(ReadAllPcm(in) == pcm);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(pcm.size()));
    in.CloseInput();
}

TEST(TWaveIn, LowerCaseIdsAndTrailingChunks) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Sine, 8, 1, 777);
    auto file = bwtest::WavBytes(8, 1, 11025, pcm);
    std::memcpy(file.data(), "riff", 4);
    std::memcpy(file.data() + 8, "wave", 4);
    std::memcpy(file.data() + 12, "FMT ", 4);
    std::memcpy(file.data() + 36, "Data", 4);
    // A chunk after the data (as tag writers add): reading ends at the data chunk's end.
    const auto tail = Text(std::string_view("LIST\x04\x00\x00\x00INFO", 12));
    file.insert(file.end(), tail.begin(), tail.end());
    // And an unknown chunk of odd length before the format, with its pad byte.
    const auto junk = Text(std::string_view("junk\x03\x00\x00\x00xyz\x01", 12));
    file.insert(file.begin() + 12, junk.begin(), junk.end());
    bwtest::WriteAll(dir.File("b.wav"), file);
    bw::TWaveIn in;
    in.SetFileName(dir.File("b.wav"));
    in.OpenInput();
    EXPECT_EQ(in.BitsPerSample(), 8);
    EXPECT_EQ(in.Size(), 777);
    EXPECT_TRUE(ReadAllPcm(in) == pcm);
}

// The format chunk of odd length has its pad byte too, alone and with an odd chunk after
// it: the samples read are those FFmpeg reads from the same bytes.
TEST(TWaveIn, OddFormatChunkAndItsPadByte) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 500);
    const auto extra = Text(std::string_view("\0\0", 2)); // the 17th byte and the pad
    const auto junk = Text(std::string_view("junk\x03\x00\x00\x00xyz\x00", 12));
    for (const bool junkAfterFormat : {false, true}) {
        auto file = bwtest::WavBytes(16, 2, 8000, pcm);
        file[16] = std::byte{17};
        file.insert(file.begin() + 36, extra.begin(), extra.end());
        if (junkAfterFormat)
            file.insert(file.begin() + 38, junk.begin(), junk.end());
        bwtest::WriteAll(dir.File("odd.wav"), file);
        bw::TWaveIn in;
        in.SetFileName(dir.File("odd.wav"));
        ASSERT_NO_THROW(in.OpenInput()) << junkAfterFormat;
        EXPECT_EQ(in.Size(), static_cast<int64_t>(pcm.size()));
        EXPECT_TRUE(ReadAllPcm(in) == pcm);
        EXPECT_TRUE(bwtest::FfmpegDecode(dir.File("odd.wav")) == pcm);
    }
}

TEST(TWaveIn, UnfinishedAndStreamingLengths) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 1, 1000);
    auto file = bwtest::WavBytes(16, 1, 8000, pcm);
    // A data length past the end of the file is cut to what is there.
    file[40] = std::byte{0x00};
    file[41] = std::byte{0x00};
    file[42] = std::byte{0x01};
    bwtest::WriteAll(dir.File("long.wav"), file);
    bw::TWaveIn in;
    in.SetFileName(dir.File("long.wav"));
    in.OpenInput();
    EXPECT_EQ(in.Size(), 2000);
    EXPECT_TRUE(ReadAllPcm(in) == pcm);
    in.CloseInput();
    // A streaming writer's 0xFFFFFFFF read from a pipe: the size is unknown, read to the end.
    for (int i = 40; i < 44; ++i)
        file[static_cast<size_t>(i)] = std::byte{0xFF};
    bw::TWaveIn streamed;
    streamed.SetSeekable(false);
    std::string error;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    // A real pipe has no size: feed the file through a FIFO.
    std::thread feeder([&] { bwtest::WriteAll(dir.File("fifo"), file); });
    std::shared_ptr<bw::TACSStream> fifo =
        bw::TACSFileStream::Open(dir.File("fifo"), bw::TACSFileStream::TMode::Read, error);
    ASSERT_TRUE(fifo) << error;
    streamed.SetStream(fifo);
    streamed.OpenInput();
    EXPECT_EQ(streamed.Size(), -1);
    EXPECT_TRUE(ReadAllPcm(streamed) == pcm);
    feeder.join();
}

TEST(TWaveIn, DamagedFilesAreRefusedAtEveryCut) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 100);
    const auto file = bwtest::WavBytes(16, 2, 44100, pcm);
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        bwtest::WriteAll(dir.File("cut.wav"), std::vector(file.begin(), file.begin() + static_cast<long>(cut)));
        bw::TWaveIn in;
        in.SetFileName(dir.File("cut.wav"));
        if (cut < 44) {
            EXPECT_THROW(in.OpenInput(), bw::EACSException) << cut;
            EXPECT_FALSE(in.Busy());
            continue;
        }
        // Past the header: the whole blocks that are there.
        in.OpenInput();
        const size_t whole = (cut - 44) / 4 * 4;
        EXPECT_EQ(in.Size(), static_cast<int64_t>(whole));
        const auto got = ReadAllPcm(in);
        EXPECT_TRUE(got == std::vector(pcm.begin(), pcm.begin() + static_cast<long>(whole))) << cut;
    }
}

TEST(TWaveIn, RefusesWhatThePipelineCannotCarry) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("32.wav"), 0.1, 44100, 2, {"-c:a", "pcm_s32le"});
    bwtest::MakeTone(dir.File("f.wav"), 0.1, 44100, 2, {"-c:a", "pcm_f32le"});
    bwtest::WriteAll(dir.File("text.wav"), Text("this is not a wave file at all, not even close"));
    for (const char* name : {"32.wav", "f.wav", "text.wav", "missing.wav"}) {
        bw::TWaveIn in;
        in.SetFileName(dir.File(name));
        EXPECT_THROW(in.OpenInput(), bw::EACSException) << name;
    }
    bw::TWaveIn unnamed;
    bwtest::ExpectAcsError([&] { unnamed.OpenInput(); }, "The file name is not assigned");
}

TEST(TWaveIn, SampleRange) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 1000);
    bwtest::WriteWav(dir.File("r.wav"), 16, 2, 44100, pcm);
    bw::TWaveIn in;
    in.SetFileName(dir.File("r.wav"));
    in.SetStartSample(100);
    in.SetEndSample(300);
    in.OpenInput();
    EXPECT_EQ(in.Size(), 200 * 4);
    EXPECT_TRUE(ReadAllPcm(in) == std::vector(pcm.begin() + 400, pcm.begin() + 1200));
    in.CloseInput();
    // To the end: exactly the samples that are left.
    in.SetEndSample(-1);
    in.OpenInput();
    EXPECT_EQ(in.Size(), 900 * 4);
    EXPECT_EQ(ReadAllPcm(in).size(), 900u * 4);
}

// Through the pipeline: an FFmpeg-made file read, written and decoded again by FFmpeg.
TEST(TWaveOut, RoundTripThroughThePipeline) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("src.wav"), 0.7, 48000, 2);
    bw::TWaveIn in;
    in.SetFileName(dir.File("src.wav"));
    bw::TWaveOut out;
    out.SetInput(&in);
    out.SetFileName(dir.File("out.wav"));
    out.SetSuspendWhenIdle(false);
    int done = 0;
    out.OnDone = [&](bw::TACSOutput&) { ++done; };
    bwtest::RunOutput(out);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(out.LastError(), "");
    EXPECT_FALSE(in.Busy());
    const auto bytes = bwtest::ReadAll(dir.File("out.wav"));
    ASSERT_EQ(bytes.size(), 44 + 0.7 * 48000 * 4);
    EXPECT_TRUE(bwtest::FfmpegDecode(dir.File("out.wav")) == bwtest::FfmpegDecode(dir.File("src.wav")));
    // The header is the plain 44-byte one.
    const auto expected = bwtest::WavBytes(16, 2, 48000, std::vector<std::byte>(bytes.size() - 44));
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 44, bytes.begin()));
    // No file is left beside the output.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

TEST(TWaveOut, PreparationErrors) {
    bwtest::TTempDir dir;
    bwtest::WriteWav(dir.File("in.wav"), 8, 1, 8000, bwtest::MakeSignal(bwtest::TSignal::Sine, 8, 1, 100));
    bw::TWaveIn in;
    in.SetFileName(dir.File("in.wav"));
    bw::TWaveOut out;
    bwtest::ExpectAcsError([&] { out.StartOutput(); }, "Input is not assigned");
    out.SetInput(&in);
    int done = 0, failed = 0;
    out.OnDone = [&](bw::TACSOutput&) { ++done; };
    out.OnThreadException = [&](bw::TACSOutput&, const bw::EACSException&) { ++failed; };
    // No name, then a folder that is gone: both end through the exception event.
    bwtest::RunOutput(out);
    EXPECT_EQ(out.LastError(), "File name is not assigned.");
    out.SetFileName(dir.File("gone/out.wav"));
    bwtest::RunOutput(out);
    EXPECT_NE(out.LastError().find("Cannot create file"), std::string::npos) << out.LastError();
    EXPECT_EQ(done, 0);
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(out.OutputStatus(), bw::TACSOutput::kIdle);
    // The input was not left open: the next run works.
    EXPECT_FALSE(in.Busy());
    out.SetFileName(dir.File("out.wav"));
    bwtest::RunOutput(out);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(out.LastError(), "");
}

// A full disk: the run fails with the reason and the file that stood there stays as it was.
TEST(TWaveOut, FullDiskKeepsTheOldFile) {
    bwtest::TTempDir dir;
    const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 100000);
    bwtest::WriteWav(dir.File("in.wav"), 16, 2, 44100, pcm);
    const std::vector<std::byte> old(1000, std::byte{0x5A});
    bwtest::WriteAll(dir.File("out.wav"), old);
    bw::TWaveIn in;
    in.SetFileName(dir.File("in.wav"));
    bw::TWaveOut out;
    out.SetInput(&in);
    out.SetFileName(dir.File("out.wav"));
    std::atomic<int> failed{0}, done{0};
    out.OnDone = [&](bw::TACSOutput&) { ++done; };
    out.OnThreadException = [&](bw::TACSOutput&, const bw::EACSException&) { ++failed; };
    // A file size limit makes writes past 64 KiB fail as on a full disk.
    {
        const bwtest::TFileSizeLimit limit(65536);
        bwtest::RunOutput(out);
    }
    EXPECT_EQ(failed.load(), 1);
    EXPECT_EQ(done.load(), 0);
    EXPECT_NE(out.LastError().find("Cannot write"), std::string::npos) << out.LastError();
    EXPECT_TRUE(bwtest::ReadAll(dir.File("out.wav")) == old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

    // A supplied stream on a device that is always full fails the same way.
    std::string error;
    std::shared_ptr<bw::TACSStream> full =
        bw::TACSFileStream::Open("/dev/full", bw::TACSFileStream::TMode::Create, error);
    ASSERT_TRUE(full) << error;
    out.SetStream(full);
    bwtest::RunOutput(out);
    EXPECT_EQ(failed.load(), 2);
    EXPECT_NE(out.LastError().find("No space left"), std::string::npos) << out.LastError();
}

} // namespace
