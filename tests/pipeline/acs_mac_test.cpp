// The Monkey's Audio writer in the pipeline: WAV files made by FFmpeg compressed through the
// worker thread and decoded back bit-exactly; stops, empty input and failures.

#include "pipeline/acs_mac.h"
#include "pipeline/acs_wave.h"

#include "pipelinetest.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

struct TMac {
    bwtest::TTempDir dir;
    bw::TWaveIn in;
    bw::TMACOut out;
    std::atomic<int> done{0};
    std::atomic<int> failed{0};

    TMac() {
        in.SetFileName(dir.File("in.wav"));
        out.SetInput(&in);
        out.SetFileName(dir.File("out.ape"));
        out.OnDone = [this](bw::TACSOutput&) { ++done; };
        out.OnThreadException = [this](bw::TACSOutput&, const bw::EACSException&) { ++failed; };
    }
    size_t Entries() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.Path()), {}));
    }
};

TEST(TMACOut, CompressesFfmpegMadeFilesAtEveryLevel) {
    struct TCase {
        std::vector<std::string> source; // ffmpeg options making in.wav
        const char* format;
    };
    const TCase cases[] = {
        {{"-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=96000:duration=1.3", "-ac", "2"},
         "s16le"},
        {{"-f", "lavfi", "-i", "anoisesrc=c=white:r=8000:d=2.2:a=1", "-c:a", "pcm_u8"}, "u8"},
        {{"-f", "lavfi", "-i", "anoisesrc=c=pink:r=44100:d=0.8:a=0.7", "-ac", "2", "-c:a",
          "pcm_u8"},
         "u8"},
        // 24-bit: channels that differ, with content in the low byte.
        {{"-f", "lavfi", "-i",
          "aevalsrc=0.45*sin(2*PI*330*t)+0.3*sin(2*PI*1234.567*t)|"
          "0.45*sin(2*PI*440*t)+0.3*sin(2*PI*1234.567*t+1):s=48000:d=1.1",
          "-c:a", "pcm_s24le"},
         "s24le"},
        {{"-f", "lavfi", "-i", "anoisesrc=c=pink:r=44100:d=0.9:a=0.7", "-c:a", "pcm_s24le"},
         "s24le"},
    };
    for (const auto& c : cases) {
        for (int level : {1000, 2000, 3000, 4000}) {
            TMac m;
            std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
            argv.insert(argv.end(), c.source.begin(), c.source.end());
            argv.push_back(m.dir.File("in.wav"));
            bwtest::RunOk(argv);
            SCOPED_TRACE(c.source[3] + " at " + std::to_string(level));
            m.out.SetCompressionLevel(level);
            bwtest::RunOutput(m.out);
            EXPECT_EQ(m.done.load(), 1);
            EXPECT_EQ(m.out.LastError(), "");
            const auto d = bwtest::DecodeStrict(m.dir.File("out.ape"), c.format);
            EXPECT_EQ(d.ExitCode, 0);
            EXPECT_EQ(d.Err, "");
            EXPECT_TRUE(d.Pcm == bwtest::FfmpegDecode(m.dir.File("in.wav"), c.format));
            EXPECT_EQ(m.Entries(), 2u); // nothing left beside the output
        }
    }
}

TEST(TMACOut, CompressionLevelStoresOnlyKnownLevels) {
    bw::TMACOut out;
    EXPECT_EQ(out.CompressionLevel(), 2000);
    for (int level : {1000, 3000, 4000, 2000}) {
        out.SetCompressionLevel(level);
        EXPECT_EQ(out.CompressionLevel(), level);
    }
    for (int level : {5000, 0, 1500, -1000}) {
        out.SetCompressionLevel(4000);
        out.SetCompressionLevel(level);
        EXPECT_EQ(out.CompressionLevel(), 2000) << level;
    }
    EXPECT_EQ(out.MaxAudioBytes(), -1);
}

// A stopped file ends cleanly where it was stopped, and is kept only where it replaces
// nothing: a partial file never takes the place of one that was there.
TEST(TMACOut, StopLeavesAValidPrefix) {
    for (const bool existed : {false, true}) {
        SCOPED_TRACE(existed ? "over an existing file" : "new file");
        TMac m;
        const auto pcm = bwtest::MakeSignal(bwtest::TSignal::Sine, 16, 2, 200000);
        bwtest::WriteWav(m.dir.File("in.wav"), 16, 2, 44100, pcm);
        const std::vector<std::byte> old(100, std::byte{7});
        if (existed)
            bwtest::WriteAll(m.dir.File("out.ape"), old);
        m.out.SetCompressionLevel(1000);
        std::mutex mx;
        std::condition_variable cv;
        bool reached = false, released = false;
        std::atomic<bool> once{false};
        m.out.OnProgress = [&](bw::TACSOutput&) {
            if (once.exchange(true))
                return;
            std::unique_lock lock(mx);
            reached = true;
            cv.notify_all();
            cv.wait(lock, [&] { return released; });
        };
        m.out.StartOutput();
        {
            std::unique_lock lock(mx);
            ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(60), [&] { return reached; }));
            m.out.StopOutput();
            released = true;
            cv.notify_all();
        }
        bwtest::WaitIdle(m.out);
        EXPECT_EQ(m.done.load(), 1);
        EXPECT_EQ(m.Entries(), 2u); // nothing left beside the output
        if (existed) {
            EXPECT_TRUE(bwtest::ReadAll(m.dir.File("out.ape")) == old);
            continue;
        }
        const auto d = bwtest::DecodeStrict(m.dir.File("out.ape"), "s16le");
        EXPECT_EQ(d.ExitCode, 0);
        EXPECT_EQ(d.Err, "");
        // The reads made before the stop came through: a whole number of blocks, not all.
        EXPECT_GT(d.Pcm.size(), 0u);
        EXPECT_LT(d.Pcm.size(), pcm.size() / 2);
        EXPECT_EQ(d.Pcm.size() % 4, 0u);
        EXPECT_TRUE(std::equal(d.Pcm.begin(), d.Pcm.end(), pcm.begin()));
    }
}

// No audio cannot make a valid file: the error is reported and what stood there stays.
TEST(TMACOut, EmptyInputReportsAndWritesNothing) {
    TMac m;
    bwtest::WriteWav(m.dir.File("in.wav"), 16, 2, 44100, {});
    const std::vector<std::byte> old(100, std::byte{7});
    bwtest::WriteAll(m.dir.File("out.ape"), old);
    std::string reported;
    m.out.OnThreadException = [&](bw::TACSOutput&, const bw::EACSException& e) {
        reported = e.what();
        ++m.failed;
    };
    bwtest::RunOutput(m.out);
    EXPECT_EQ(m.done.load(), 0);
    EXPECT_EQ(m.failed.load(), 1);
    EXPECT_EQ(reported, "MACDll error: input file too small");
    EXPECT_EQ(m.out.LastError(), reported);
    EXPECT_TRUE(bwtest::ReadAll(m.dir.File("out.ape")) == old);
    EXPECT_EQ(m.Entries(), 2u);
    EXPECT_FALSE(m.in.Busy());
}

TEST(TMACOut, PreparationFailures) {
    TMac m;
    bwtest::WriteWav(m.dir.File("in.wav"), 16, 1, 44100,
                     bwtest::MakeSignal(bwtest::TSignal::Sine, 16, 1, 100));
    m.out.SetFileName("");
    bwtest::RunOutput(m.out);
    EXPECT_EQ(m.out.LastError(), "File name is not assigned.");
    m.out.SetFileName(m.dir.File("gone/out.ape"));
    bwtest::RunOutput(m.out);
    EXPECT_EQ(m.out.LastError(), "Error starting APECompress.\r\ninvalid output file");
    EXPECT_EQ(m.failed.load(), 2);
    EXPECT_EQ(m.done.load(), 0);
    EXPECT_FALSE(m.in.Busy()); // so the next start can open it
    m.out.SetFileName(m.dir.File("out.ape"));
    bwtest::RunOutput(m.out);
    EXPECT_EQ(m.done.load(), 1);
}

TEST(TMACOut, FullDiskReportsAndKeepsTheOldFile) {
    TMac m;
    bwtest::WriteWav(m.dir.File("in.wav"), 16, 2, 44100,
                     bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 300000));
    const std::vector<std::byte> old(1000, std::byte{0x5A});
    bwtest::WriteAll(m.dir.File("out.ape"), old);
    {
        const bwtest::TFileSizeLimit limit(200000);
        bwtest::RunOutput(m.out);
    }
    EXPECT_EQ(m.done.load(), 0);
    EXPECT_EQ(m.failed.load(), 1);
    EXPECT_NE(m.out.LastError().find("1001"), std::string::npos) << m.out.LastError();
    EXPECT_TRUE(bwtest::ReadAll(m.dir.File("out.ape")) == old);
    EXPECT_EQ(m.Entries(), 2u);
}

} // namespace
