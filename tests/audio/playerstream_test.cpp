#include "audio/playerstream.h"
#include "audio/audiodevice.h"
#include "audio/audiotesthelp.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using bw::TAudioError;
using bw::TPlayerStream;
using bw::TPlayState;
using bwtest::MakeSignal;
using bwtest::TTempDir;

using bwtest::WaitFor;

namespace {

// Runs with SDL's dummy output (SDL_AUDIODRIVER=dummy), which consumes audio in real time.
class PlayerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device_.Init()) << static_cast<int>(device_.LastError()); }
    std::string Source(double seconds, int rate, int channels, const std::string& codec) {
        const auto path = dir_.File("a.wav");
        MakeSignal(path, seconds, rate, channels, {"-c:a", codec});
        return path;
    }
    bw::TAudioDevice device_;
    TTempDir dir_;
};

TEST_F(PlayerTest, PlaysPausesResumesAndStops) {
    const auto path = Source(3, 44100, 2, "pcm_s16le");
    TAudioError e = TAudioError::Unknown;
    auto p = TPlayerStream::OpenFile(path, &e);
    ASSERT_TRUE(p) << static_cast<int>(e);
    EXPECT_EQ(p->State(), TPlayState::Stopped);
    EXPECT_EQ(p->Position(), 0u);
    EXPECT_EQ(p->LengthBytes(), bwtest::FfmpegDecode(path).size());
    EXPECT_FALSE(p->Pause()); // nothing is playing yet
    EXPECT_EQ(p->LastError(), TAudioError::NotAvailable);

    ASSERT_TRUE(p->Play());
    EXPECT_EQ(p->State(), TPlayState::Playing);
    ASSERT_TRUE(WaitFor([&] { return p->Position() > 0; }));

    ASSERT_TRUE(p->Pause());
    EXPECT_EQ(p->State(), TPlayState::Paused);
    const uint64_t paused = p->Position();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(p->Position(), paused); // nothing is taken from the stream while paused
    EXPECT_FALSE(p->Pause());
    EXPECT_EQ(p->LastError(), TAudioError::Already);

    // Resuming goes on from where it paused, not from the start.
    ASSERT_TRUE(p->Play(false));
    ASSERT_TRUE(WaitFor([&] { return p->Position() > paused; }));
    EXPECT_EQ(p->State(), TPlayState::Playing);

    ASSERT_TRUE(p->Stop());
    EXPECT_EQ(p->State(), TPlayState::Stopped);
    const uint64_t stopped = p->Position();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(p->Position(), stopped);
    EXPECT_EQ(p->State(), TPlayState::Stopped);
}

TEST_F(PlayerTest, EndsStoppedAtTheEndAndRestarts) {
    const auto path = Source(0.4, 22050, 1, "pcm_u8");
    auto p = TPlayerStream::OpenFile(path);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->Info().EightBit);
    EXPECT_EQ(p->Info().Channels, 1);
    EXPECT_EQ(p->Info().SampleRate, 22050);
    ASSERT_TRUE(p->Play());
    ASSERT_TRUE(WaitFor([&] { return p->State() == TPlayState::Stopped; }));
    EXPECT_EQ(p->Position(), p->LengthBytes());

    // Play again without restart: still at the end, so it stops at once.
    ASSERT_TRUE(p->Play(false));
    ASSERT_TRUE(WaitFor([&] { return p->State() == TPlayState::Stopped; }));
    EXPECT_EQ(p->Position(), p->LengthBytes());

    // With restart: from the beginning, through to the end again.
    ASSERT_TRUE(p->Play(true));
    EXPECT_LT(p->Position(), p->LengthBytes());
    ASSERT_TRUE(WaitFor([&] { return p->State() == TPlayState::Stopped; }));
    EXPECT_EQ(p->Position(), p->LengthBytes());
}

TEST_F(PlayerTest, SeeksWhilePlaying) {
    const auto path = Source(3, 48000, 2, "pcm_s16le");
    auto p = TPlayerStream::OpenFile(path);
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->Play());
    const uint64_t half = p->LengthBytes() / 2;
    ASSERT_TRUE(p->Seek(half));
    EXPECT_GE(p->Position(), half);
    EXPECT_LT(p->Position(), p->LengthBytes());
    ASSERT_TRUE(WaitFor([&] { return p->Position() > half; }));
    EXPECT_NE(p->State(), TPlayState::Stopped);

    EXPECT_FALSE(p->Seek(p->LengthBytes() + 4));
    EXPECT_EQ(p->LastError(), TAudioError::Position);
    EXPECT_GE(p->Position(), half);
}

TEST_F(PlayerTest, VolumeStaysWithinRange) {
    auto p = TPlayerStream::OpenFile(Source(0.5, 44100, 2, "pcm_s16le"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Volume(), 100);
    ASSERT_TRUE(p->SetVolume(50));
    EXPECT_EQ(p->Volume(), 50);
    ASSERT_TRUE(p->Play());
    EXPECT_TRUE(p->SetVolume(0));
    EXPECT_FALSE(p->SetVolume(101));
    EXPECT_EQ(p->LastError(), TAudioError::IllegalParam);
    EXPECT_FALSE(p->SetVolume(-1));
    EXPECT_EQ(p->Volume(), 0);
    EXPECT_TRUE(p->SetVolume(100));
    EXPECT_EQ(p->Volume(), 100);
}

TEST_F(PlayerTest, BadFileGivesCodeNotStream) {
    const auto path = dir_.File("broken.flac");
    bwtest::WriteAll(path, std::vector<std::byte>(300, std::byte{0x66}));
    TAudioError e = TAudioError::Ok;
    EXPECT_FALSE(TPlayerStream::OpenFile(path, &e));
    EXPECT_NE(e, TAudioError::Ok);
}

TEST(PlayerWithoutDevice, NeedsAnInitialisedOutput) {
    TTempDir dir;
    const auto path = dir.File("a.wav");
    MakeSignal(path, 0.2, 44100, 2, {"-c:a", "pcm_s16le"});
    TAudioError e = TAudioError::Ok;
    EXPECT_FALSE(TPlayerStream::OpenFile(path, &e));
    EXPECT_EQ(e, TAudioError::Init);
}

} // namespace
