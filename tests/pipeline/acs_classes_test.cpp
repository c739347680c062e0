// The pipeline's worker thread: start, stop, restart, rewiring while busy, failures on the
// worker and destroying a running output. Built twice: here and under ThreadSanitizer.
// A progress handler that waits on a gate holds the worker at a known point mid-run, so
// nothing here depends on timing.

#include "pipeline/acs_classes.h"
#include "pipeline/acs_converters.h"
#include "pipeline/acs_mac.h"
#include "pipeline/acs_wave.h"

#include "pipelinetest.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Holds the worker inside an event until the test releases it.
class THold {
public:
    void Arrive() {
        std::unique_lock lock(m_);
        reached_ = true;
        cv_.notify_all();
        cv_.wait(lock, [this] { return released_; });
    }
    bool WaitReached() {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, 60s, [this] { return reached_; });
    }
    void Release() {
        std::lock_guard lock(m_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool reached_ = false;
    bool released_ = false;
};

struct TRun {
    bwtest::TTempDir dir;
    std::vector<std::byte> pcm = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, 60000);
    THold hold; // outlives the output, whose worker may wait in it
    bw::TWaveIn in;
    bw::TWaveOut out;
    std::atomic<bool> held{false};
    std::atomic<int> done{0};
    std::atomic<int> failed{0};

    TRun() {
        bwtest::WriteWav(dir.File("in.wav"), 16, 2, 44100, pcm);
        in.SetFileName(dir.File("in.wav"));
        out.SetInput(&in);
        out.SetFileName(dir.File("out.wav"));
        out.OnDone = [this](bw::TACSOutput&) { ++done; };
        out.OnThreadException = [this](bw::TACSOutput&, const bw::EACSException&) { ++failed; };
        out.OnProgress = [this](bw::TACSOutput&) {
            if (!held.exchange(true))
                hold.Arrive();
        };
    }
    // A test that ended early must not leave the worker waiting: the output could not end.
    ~TRun() { hold.Release(); }
    // A second WAV source of noise for rewiring tests; answers its PCM.
    std::vector<std::byte> SecondSource(bw::TWaveIn& second, size_t frames, uint32_t seed) {
        auto data = bwtest::MakeSignal(bwtest::TSignal::Noise, 16, 2, frames, seed);
        bwtest::WriteWav(dir.File("second.wav"), 16, 2, 44100, data);
        second.SetFileName(dir.File("second.wav"));
        return data;
    }
    // The written file's data, checking its header agrees with its length.
    std::vector<std::byte> Written() {
        const auto bytes = bwtest::ReadAll(dir.File("out.wav"));
        EXPECT_GE(bytes.size(), 44u);
        if (bytes.size() < 44)
            return {};
        uint32_t dataSize;
        std::memcpy(&dataSize, bytes.data() + 40, 4);
        EXPECT_EQ(dataSize, bytes.size() - 44);
        return std::vector<std::byte>(bytes.begin() + 44, bytes.end());
    }
};

TEST(TACSOutput, StartWhileRunningRaisesBusyAndLeavesItAlone) {
    TRun r;
    r.out.StartOutput();
    ASSERT_TRUE(r.hold.WaitReached());
    EXPECT_EQ(r.out.OutputStatus(), bw::TACSOutput::kActive);
    bwtest::ExpectAcsError([&] { r.out.StartOutput(); }, "Component is buisy");
    r.hold.Release();
    // The user thread may ask for the format and the progress while the worker reads and
    // closes the source.
    while (r.out.Busy()) {
        EXPECT_EQ(r.in.BitsPerSample(), 16);
        EXPECT_LE(r.out.OutputProgress(), 100);
    }
    EXPECT_EQ(r.done.load(), 1);
    EXPECT_EQ(r.failed.load(), 0);
    EXPECT_TRUE(r.Written() == r.pcm);
    EXPECT_FALSE(r.in.Busy());
}

TEST(TACSOutput, StopMidwayCompletesAndRestartRunsInFull) {
    TRun r;
    r.out.StartOutput();
    ASSERT_TRUE(r.hold.WaitReached());
    r.out.StopOutput();
    r.hold.Release();
    bwtest::WaitIdle(r.out);
    EXPECT_EQ(r.done.load(), 1); // a stop completes like a normal end
    const auto part = r.Written();
    EXPECT_LT(part.size(), r.pcm.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), r.pcm.begin()));
    EXPECT_FALSE(r.in.Busy());

    bwtest::RunOutput(r.out);
    EXPECT_EQ(r.done.load(), 2);
    EXPECT_TRUE(r.Written() == r.pcm);
}

TEST(TACSOutput, SwappingTheInputWhileBusy) {
    TRun r;
    bw::TWaveIn in2;
    const auto second = r.SecondSource(in2, 30000, 99);
    r.out.StartOutput();
    ASSERT_TRUE(r.hold.WaitReached());
    r.out.SetInput(&in2);
    EXPECT_FALSE(r.in.Busy()); // the old input is closed
    EXPECT_TRUE(in2.Busy());
    r.hold.Release();
    bwtest::WaitIdle(r.out);
    EXPECT_EQ(r.done.load(), 1);
    // What the first input gave before the swap, then all of the second.
    const auto data = r.Written();
    ASSERT_GT(data.size(), second.size());
    const size_t head = data.size() - second.size();
    EXPECT_LT(head, r.pcm.size());
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<long>(head), r.pcm.begin()));
    EXPECT_TRUE(std::equal(data.begin() + static_cast<long>(head), data.end(), second.begin()));
    EXPECT_FALSE(in2.Busy());
}

// A converter's input swapped mid-run: what the converter still held of the first input,
// then the second input converted exactly as a run of its own converts it.
TEST(TACSOutput, SwappingAConvertersInputWhileBusy) {
    TRun r;
    bw::TWaveIn in2;
    r.SecondSource(in2, 20000, 5);
    bw::TMSConverter ms;
    ms.SetInput(&in2);
    bw::TWaveOut alone;
    alone.SetInput(&ms);
    alone.SetFileName(r.dir.File("alone.wav"));
    bwtest::RunOutput(alone);
    const auto expected = bwtest::ReadAll(r.dir.File("alone.wav"));
    ASSERT_GT(expected.size(), 44u);

    ms.SetInput(&r.in);
    r.out.SetInput(&ms);
    r.out.StartOutput();
    ASSERT_TRUE(r.hold.WaitReached());
    ms.SetInput(&in2);
    EXPECT_FALSE(r.in.Busy());
    r.hold.Release();
    bwtest::WaitIdle(r.out);
    EXPECT_EQ(r.done.load(), 1);
    const auto data = r.Written();
    const size_t tail = expected.size() - 44;
    ASSERT_GT(data.size(), tail);
    EXPECT_TRUE(std::equal(data.end() - static_cast<long>(tail), data.end(), expected.begin() + 44));
    EXPECT_FALSE(in2.Busy());
}

// The compressor's writer through the same moves: a stop mid-way, a restart, a destruction
// while running.
TEST(TACSOutput, CompressorWriterStopRestartDestroy) {
    TRun r;
    THold first, second;
    std::atomic<THold*> armed{&first}; // the hold the next progress event waits in
    auto mac = std::make_unique<bw::TMACOut>();
    struct TReleaseAll {
        THold& a;
        THold& b;
        ~TReleaseAll() {
            a.Release();
            b.Release();
        }
    } releaseAll{first, second}; // before the output goes, should the test end early
    mac->SetInput(&r.in);
    mac->SetFileName(r.dir.File("out.ape"));
    mac->SetCompressionLevel(1000);
    mac->OnDone = [&](bw::TACSOutput&) { ++r.done; };
    mac->OnProgress = [&](bw::TACSOutput&) {
        if (THold* h = armed.exchange(nullptr))
            h->Arrive();
    };
    mac->StartOutput();
    ASSERT_TRUE(first.WaitReached());
    mac->StopOutput();
    first.Release();
    bwtest::WaitIdle(*mac);
    EXPECT_EQ(r.done.load(), 1);
    EXPECT_TRUE(std::filesystem::exists(r.dir.File("out.ape")));

    armed = &second;
    mac->StartOutput();
    ASSERT_TRUE(second.WaitReached());
    second.Release();
    mac.reset(); // the worker's last step finishes the file
    EXPECT_EQ(r.done.load(), 2);
    EXPECT_FALSE(r.in.Busy());
    const auto d = bwtest::DecodeStrict(r.dir.File("out.ape"), "s16le");
    EXPECT_EQ(d.ExitCode, 0);
    EXPECT_EQ(d.Err, "");
    EXPECT_GT(d.Pcm.size(), 0u);
    EXPECT_TRUE(std::equal(d.Pcm.begin(), d.Pcm.end(), r.pcm.begin()));
}

TEST(TACSOutput, FailureOnTheWorkerEndsThroughTheExceptionEvent) {
    TRun r;
    std::atomic<bool> onWorker{false};
    const auto caller = std::this_thread::get_id();
    r.out.OnThreadException = [&](bw::TACSOutput& o, const bw::EACSException& e) {
        onWorker = std::this_thread::get_id() != caller;
        EXPECT_EQ(o.OutputStatus(), bw::TACSOutput::kIdle);
        EXPECT_NE(std::string(e.what()).find("Cannot write"), std::string::npos);
        ++r.failed;
    };
    r.held = true; // no holding here
    // A file size limit makes writes past 64 KiB fail as on a full disk, after the header
    // went through: the failure comes on the worker, mid-run.
    {
        const bwtest::TFileSizeLimit limit(65536);
        // Whoever waits for "done" also watches for idle, and so never hangs.
        r.out.StartOutput();
        bwtest::WaitIdle(r.out);
    }
    EXPECT_EQ(r.failed.load(), 1);
    EXPECT_EQ(r.done.load(), 0);
    EXPECT_TRUE(onWorker.load());
    EXPECT_NE(r.out.LastError().find("Cannot write"), std::string::npos) << r.out.LastError();
    EXPECT_FALSE(r.in.Busy());
    EXPECT_FALSE(std::filesystem::exists(r.dir.File("out.wav")));
}

TEST(TACSOutput, PreparationFailureLeavesItIdleWithoutDone) {
    TRun r;
    r.in.SetFileName(r.dir.File("missing.wav"));
    r.out.StartOutput(); // returns normally
    EXPECT_EQ(r.out.OutputStatus(), bw::TACSOutput::kIdle);
    EXPECT_EQ(r.failed.load(), 1);
    EXPECT_EQ(r.done.load(), 0);
    EXPECT_NE(r.out.LastError().find("missing.wav"), std::string::npos);
}

TEST(TACSOutput, DestroyingARunningOutputFinishesItsFile) {
    TRun r;
    auto out = std::make_unique<bw::TWaveOut>();
    out->SetInput(&r.in);
    out->SetFileName(r.dir.File("out.wav"));
    out->OnDone = [&](bw::TACSOutput&) { ++r.done; };
    out->OnProgress = [&](bw::TACSOutput&) {
        if (!r.held.exchange(true))
            r.hold.Arrive();
    };
    out->StartOutput();
    ASSERT_TRUE(r.hold.WaitReached());
    r.hold.Release();
    out.reset(); // waits for the worker, whose last step ends the run
    EXPECT_EQ(r.done.load(), 1);
    const auto data = r.Written();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), r.pcm.begin()));
    EXPECT_FALSE(r.in.Busy());
}

TEST(TACSOutput, ProgressOfAnInputOfUnknownSize) {
    TRun r;
    ASSERT_EQ(::mkfifo(r.dir.File("fifo").c_str(), 0600), 0);
    const auto file = bwtest::ReadAll(r.dir.File("in.wav"));
    auto streaming = file;
    for (size_t i = 40; i < 44; ++i)
        streaming[i] = std::byte{0xFF};
    std::thread feeder([&] { bwtest::WriteAll(r.dir.File("fifo"), streaming); });
    std::string error;
    std::shared_ptr<bw::TACSStream> fifo =
        bw::TACSFileStream::Open(r.dir.File("fifo"), bw::TACSFileStream::TMode::Read, error);
    ASSERT_TRUE(fifo) << error;
    bw::TWaveIn piped;
    piped.SetStream(fifo);
    piped.SetSeekable(false);
    r.out.SetInput(&piped);
    std::atomic<int> seen{0};
    r.out.OnProgress = [&](bw::TACSOutput& o) { seen = o.OutputProgress(); };
    bwtest::RunOutput(r.out);
    feeder.join();
    EXPECT_EQ(seen.load(), -1);
    EXPECT_EQ(r.done.load(), 1);
    EXPECT_TRUE(r.Written() == r.pcm); // sizes filled in from what was written
}

TEST(TACSOutput, ProgressReachesTheEndAndInputsAreDroppedWhenDestroyed) {
    TRun r;
    std::vector<int> steps;
    r.out.OnProgress = [&](bw::TACSOutput& o) { steps.push_back(o.OutputProgress()); };
    r.out.SetSuspendWhenIdle(false);
    bwtest::RunOutput(r.out);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), 100);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    {
        bw::TWaveIn gone;
        r.out.SetInput(&gone);
    }
    EXPECT_EQ(r.out.Input(), nullptr);
    EXPECT_EQ(r.out.OutputProgress(), 0);
    bwtest::ExpectAcsError([&] { r.out.StartOutput(); }, "Input is not assigned");
}

} // namespace

TEST(TACSOutput, PollingForIdleSeesWhatTheEndEventDid) {
    TRun r;
    r.held = true; // no holding here
    // A slow handler: whoever polls Busy() must not get ahead of it.
    std::atomic<bool> handled{false};
    r.out.OnDone = [&](bw::TACSOutput& o) {
        EXPECT_EQ(o.OutputStatus(), bw::TACSOutput::kIdle); // the run itself is over
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        handled = true;
    };
    bwtest::RunOutput(r.out);
    EXPECT_TRUE(handled.load());
    EXPECT_FALSE(r.out.Busy());
}
