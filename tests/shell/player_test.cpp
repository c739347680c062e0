// The media player on the real audio binding, with SDL's dummy output (which consumes audio
// in real time): every source format, the state texts, the rows, the position bar's seek rule
// and the volume, and a conversion of the file being played.

#include "shell/player.h"

#include "audio/audiodevice.h"
#include "audio/audiostream.h"
#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "shell/playeropen.h"
#include "support/cdimages.h"
#include "support/scripteddialogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

using namespace bw;
using namespace bwtest;

namespace {

TPlayerRows RowsOf(std::vector<TmyMusicFile>& items, int selected) {
    return {static_cast<int>(items.size()), selected,
            [&items](int row) -> const TmyMusicFile* { return &items.at(static_cast<size_t>(row)); }};
}

std::string Status(TMediaPlayer& p) { return TMediaPlayer::StatusText(p.Tick()); }

class PlayerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device_.Init()) << static_cast<int>(device_.LastError()); }
    TMediaPlayer MakePlayer() {
        return TMediaPlayer([this](const TmyMusicFile& item) { return OpenPlayerStream(item, drives_); });
    }
    // A Monkey's Audio file, written by our own compressor through a conversion.
    std::string MakeApe(const std::string& wav) {
        std::vector<TConversionRow> rows{RowFor(wav)};
        TAppSettings settings = DefaultAppSettings();
        settings.OutputFolder = dir_.File("ape") + "/";
        TScriptedDialogs dialogs;
        TRecordingObserver observer;
        TConversionRun run(rows, TTargetType::Ape, TEncoderOptions{}, settings, dialogs, observer);
        run.Run();
        EXPECT_EQ(rows[0].Status, "Done") << rows[0].Reason;
        return rows[0].Item.TargetPath;
    }
    TAudioDevice device_;
    TCdDriveList drives_;
    TTempDir dir_;
};

// Each source type through the whole cycle; the CD track plays from the drive its item
// names, not from the first one.
TEST_F(PlayerTest, EverySourceTypeGoesThroughItsStates) {
    std::vector<TmyMusicFile> items;
    for (const TSourceKind& kind : SourceKinds())
        items.push_back(RowFor(MakeSource(dir_, kind)).Item);
    const std::string wav = dir_.File("ape.wav");
    MakeTone(wav, 1.5);
    items.push_back(RowFor(MakeApe(wav)).Item);
    const auto other = MakeImage(dir_.Path().string(), "other", {{1.0}});
    const auto disc = MakeImage(dir_.Path().string(), "disc", {{1.0}, {1.5}});
    ASSERT_EQ(drives_.AddImage(other.Sheet), 0);
    ASSERT_EQ(drives_.AddImage(disc.Sheet), 1);
    std::vector<TCdTrack> tracks;
    ASSERT_TRUE(drives_.Tracks(1, tracks));
    items.push_back(CdTrackItems(tracks, 1, 0).at(1));

    TMediaPlayer player = MakePlayer();
    player.SetVolume(30);
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].SourcePath);
        EXPECT_EQ(Status(player), " Media Player: Stopped");
        player.Play(RowsOf(items, static_cast<int>(i)));
        ASSERT_TRUE(player.HasStream());
        EXPECT_EQ(player.PlayerJob().SourcePath, items[i].SourcePath);
        EXPECT_EQ(player.Stream()->Volume(), 30);
        const uint64_t length = player.Stream()->LengthBytes();
        if (items[i].SourceType == TSourceType::CdTrack) {
            EXPECT_EQ(length, disc.Pcm[1].size());
        }
        EXPECT_EQ(player.BarMaximum(), static_cast<int>(length));
        EXPECT_EQ(Status(player), " Media Player: Playing");
        ASSERT_TRUE(WaitFor([&] { return player.BarPosition() > 0; }));

        player.Pause();
        EXPECT_EQ(Status(player), " Media Player: Paused");
        const int paused = player.BarPosition();
        // Play resumes the paused stream even with another row (or none) selected.
        player.Play(RowsOf(items, -1));
        EXPECT_EQ(Status(player), " Media Player: Playing");
        ASSERT_TRUE(WaitFor([&] { return player.BarPosition() > paused; }));

        player.Stop();
        EXPECT_EQ(Status(player), " Media Player: Stopped");
        EXPECT_EQ(player.BarPosition(), 0);

        // Near the end, then played out: the next tick rewinds it.
        const int blockAlign = player.Stream()->Info().BlockAlign();
        // (A Musepack stream learns its length only as it is read: go by the probe's.)
        const int64_t frames = int64_t{items[i].DurationMs} * player.Stream()->Info().SampleRate / 1000;
        const int nearEnd = static_cast<int>(frames * 7 / 8) * blockAlign;
        EXPECT_TRUE(player.BarMoved(nearEnd)) << static_cast<int>(player.Stream()->LastError());
        player.Play(RowsOf(items, static_cast<int>(i)));
        EXPECT_EQ(player.PlayerJob().SourcePath, items[i].SourcePath);
        ASSERT_TRUE(WaitFor([&] { return player.State() == TPlayState::Stopped; }));
        EXPECT_EQ(Status(player), " Media Player: Stopped");
        EXPECT_EQ(player.BarPosition(), 0);
    }
}

TEST_F(PlayerTest, RowsSelectionAndVolume) {
    std::vector<TmyMusicFile> items;
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        const std::string path = dir_.File(name);
        MakeTone(path, 2);
        items.push_back(RowFor(path).Item);
    }
    TMediaPlayer player = MakePlayer();
    // No selection: nothing plays.
    player.Play(RowsOf(items, -1));
    EXPECT_FALSE(player.HasStream());
    EXPECT_EQ(player.PlayNext(RowsOf(items, -1)), -1);
    EXPECT_EQ(player.PlayPrev(RowsOf(items, -1)), -1);
    EXPECT_FALSE(player.HasStream());
    // Nothing before the first row, nothing after the last.
    EXPECT_EQ(player.PlayPrev(RowsOf(items, 0)), -1);
    EXPECT_EQ(player.PlayNext(RowsOf(items, 2)), -1);
    EXPECT_FALSE(player.HasStream());
    EXPECT_EQ(player.PlayNext(RowsOf(items, 1)), 2);
    EXPECT_EQ(player.PlayerJob().SourcePath, items[2].SourcePath);
    EXPECT_EQ(player.State(), TPlayState::Playing);
    EXPECT_EQ(player.PlayPrev(RowsOf(items, 2)), 1);
    EXPECT_EQ(player.PlayerJob().SourcePath, items[1].SourcePath);
    EXPECT_EQ(player.PlayPrev(RowsOf(items, 1)), 0);
    EXPECT_EQ(player.PlayerJob().SourcePath, items[0].SourcePath);

    // Volume steps stay within 0..100 and reach the stream at once.
    EXPECT_EQ(TMediaPlayer::SteppedVolume(95, 10), 100);
    EXPECT_EQ(TMediaPlayer::SteppedVolume(5, -10), 0);
    EXPECT_EQ(TMediaPlayer::SteppedVolume(50, 10), 60);
    player.SetVolume(TMediaPlayer::SteppedVolume(95, 10));
    EXPECT_EQ(player.Stream()->Volume(), 100);
    player.SetVolume(TMediaPlayer::SteppedVolume(5, -10));
    EXPECT_EQ(player.Stream()->Volume(), 0);

    // A stream that cannot be opened leaves the player silent, without complaint.
    const std::string broken = dir_.File("broken.flac");
    WriteAll(broken, std::vector<std::byte>(300, std::byte{0x66}));
    TmyMusicFile bad = items[0];
    bad.SourcePath = broken;
    bad.SourceType = TSourceType::Flac;
    player.PlayJob(bad);
    EXPECT_FALSE(player.HasStream());
    EXPECT_EQ(Status(player), " Media Player: Stopped");
    EXPECT_EQ(player.BarMaximum(), 0);
    player.Pause();
    player.Stop();
    EXPECT_FALSE(player.BarMoved(1000000));
}

// The bar moves by more than 1000 bytes seek, by 1000 or less do not; the bar's value means
// bytes of decoded audio whatever the format.
TEST_F(PlayerTest, BarSeeksOnlyBeyondAThousandBytes) {
    const std::string path = dir_.File("a.wav");
    MakeTone(path, 3);
    std::vector<TmyMusicFile> items{RowFor(path).Item};
    TMediaPlayer player = MakePlayer();
    player.Play(RowsOf(items, 0));
    player.Pause();
    const int at = player.BarPosition();
    EXPECT_EQ(player.BarUnit(), 1u);
    EXPECT_FALSE(player.BarMoved(at + 1000));
    EXPECT_FALSE(player.BarMoved(at > 1000 ? at - 1000 : 0));
    EXPECT_EQ(player.BarPosition(), at);
    ASSERT_TRUE(player.BarMoved(at + 1004));
    EXPECT_EQ(player.BarPosition(), at + 1004);
    ASSERT_TRUE(player.BarMoved(200000));
    EXPECT_EQ(player.BarPosition(), 200000);
    EXPECT_FALSE(player.BarMoved(200000 - 996));
    EXPECT_EQ(player.BarPosition(), 200000);
}

// Where the stream really is after a seek: the samples read there are found in FFmpeg's own
// decoding of the whole file at the place asked for. A chirp never repeats, so the match is
// unique.
double LandingError(const std::string& path, double seconds) {
    const auto whole = FfmpegDecode(path);
    auto s = TAudioStream::OpenFile(path);
    EXPECT_TRUE(s);
    if (!s)
        return 1e9;
    const int rate = s->Info().SampleRate;
    const size_t frameBytes = static_cast<size_t>(s->Info().BlockAlign());
    const uint64_t target = static_cast<uint64_t>(seconds * rate) * frameBytes;
    EXPECT_TRUE(s->Seek(target));
    std::vector<std::byte> got(static_cast<size_t>(rate) * frameBytes / 4);
    EXPECT_EQ(s->Read(got), static_cast<int64_t>(got.size()));
    // Compare a stretch a little after the landing: a lossy decoder needs a frame to settle.
    const size_t skip = got.size() / 2 / frameBytes * frameBytes;
    const size_t span = got.size() / 4 / frameBytes * frameBytes;
    const auto sample = [](const std::byte* p) {
        int16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<double>(v);
    };
    double best = 1e300;
    int64_t bestFrame = 0;
    const int64_t expect = static_cast<int64_t>(target / frameBytes);
    const int64_t reach = rate / 2;
    for (int64_t f = expect - reach; f <= expect + reach; ++f) {
        const int64_t at = (f * static_cast<int64_t>(frameBytes)) + static_cast<int64_t>(skip);
        if (at < 0 || static_cast<size_t>(at) + span > whole.size())
            continue;
        double err = 0;
        for (size_t i = 0; i < span && err < best; i += 2)
            err += std::pow(sample(&got[skip + i]) - sample(&whole[static_cast<size_t>(at) + i]), 2);
        if (err < best) {
            best = err;
            bestFrame = f;
        }
    }
    return std::abs(static_cast<double>(bestFrame - expect)) / rate;
}

TEST_F(PlayerTest, SeeksVbrMp3AndOggByDecodedAudio) {
    const std::string wav = dir_.File("chirp.wav");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "aevalsrc=0.5*sin(2*PI*(150+900*t)*t)|0.4*sin(2*PI*(700-100*t)*t):s=44100:d=6", wav});
    const std::string mp3 = dir_.File("vbr.mp3");
    RunOk({"lame", "--quiet", "-V", "2", wav, mp3});
    const std::string ogg = dir_.File("v.ogg");
    RunOk({"oggenc", "-Q", "-q", "3", "-o", ogg, wav});
    for (const std::string& path : {mp3, ogg}) {
        SCOPED_TRACE(path);
        // The player's bar: a value is bytes of decoded audio, whatever the file's own bytes.
        std::vector<TmyMusicFile> items{RowFor(path).Item};
        TMediaPlayer player = MakePlayer();
        player.Play(RowsOf(items, 0));
        player.Pause();
        const int target = 4 * 44100 * 4; // 4 s
        ASSERT_TRUE(player.BarMoved(target));
        EXPECT_NEAR(player.BarPosition(), target, 44100 * 4 / 10);
        // And the audio there is the audio of that moment.
        EXPECT_LT(LandingError(path, 4.0), 0.1);
        EXPECT_LT(LandingError(path, 1.3), 0.1);
    }
}

// The player opens its own decoder: playing, seeking and pausing the very file a run is
// converting leaves the output exactly what it is without playback.
TEST_F(PlayerTest, PlayingDoesNotDisturbAConversion) {
    const std::string wav = dir_.File("src.wav");
    MakeTone(wav, 4);
    const std::string flac = dir_.File("src.flac");
    RunOk({"flac", "-s", "-o", flac, wav});
    std::vector<TConversionRow> rows{RowFor(flac)};
    std::vector<TmyMusicFile> items{rows[0].Item};
    TMediaPlayer player = MakePlayer();
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = dir_.File("out") + "/";
    TScriptedDialogs dialogs;
    TRecordingObserver observer;
    int events = 0;
    observer.OnEvents = [&] {
        switch (++events % 4) {
        case 1: player.Play(RowsOf(items, 0)); break;
        case 2: player.BarMoved(player.BarPosition() + 100000); break;
        case 3: player.Pause(); break;
        default: player.Stop(); break;
        }
    };
    TConversionRun run(rows, TTargetType::Flac, TEncoderOptions{}, settings, dialogs, observer);
    run.Run();
    ASSERT_EQ(rows[0].Status, "Done") << rows[0].Reason;
    EXPECT_GT(events, 8);
    EXPECT_TRUE(FfmpegDecode(rows[0].Item.TargetPath) == FfmpegDecode(wav));
}

} // namespace
