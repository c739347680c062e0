// The conversion run end to end: real sources of every readable format, the real outside
// encoders, outputs checked with FFmpeg; only the user's answers are scripted.

#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace bw;
using namespace bwtest;

namespace {

constexpr double kLengthSlack = 0.08; // seconds: encoder padding and frame rounding

struct TRunSetup {
    TAppSettings Settings = DefaultAppSettings();
    TScriptedDialogs Dialogs;
    TRecordingObserver Observer;
    std::vector<TConversionRow> Rows;

    std::unique_ptr<TConversionRun> Make(TTargetType target, const TEncoderOptions& options = {}) {
        return std::make_unique<TConversionRun>(Rows, target, options, Settings, Dialogs, Observer);
    }
};

void SetHostileTags(TmyMusicFile& item) {
    item.Title = "Say \"hi\" $(touch /tmp/bw-pwned) `id`";
    item.Artist = "-V 0 --the artist";
    item.Album = "An  Album";
    item.Year = "2001";
    item.Comment = "a comment";
    item.Genre = "Rock";
    item.GenreIndex = 17;
    item.Track = 3;
}

std::string Slurp(const std::string& path) {
    const auto bytes = ReadAll(path);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

} // namespace

// Every source format to one target per case, in one run of a row each: each output has
// the source's length (FLAC and WavPack: the very same samples) and the tags of its row, even
// tags and a folder name that a shell would have taken apart.
class EveryFormatTo : public testing::TestWithParam<TTargetType> {
protected:
    static void SetUpTestSuite() {
        sources_ = std::make_unique<TTempDir>();
        for (const auto& kind : SourceKinds())
            MakeSource(*sources_, kind);
    }
    static void TearDownTestSuite() { sources_.reset(); }
    static std::unique_ptr<TTempDir> sources_;
};
std::unique_ptr<TTempDir> EveryFormatTo::sources_;

TEST_P(EveryFormatTo, LengthTagsAndStatuses) {
    const TTargetType target = GetParam();
    TTempDir outDir;
    const auto folder = outDir.Path() / "out \"q\" $(x)";
    std::filesystem::create_directory(folder);
    TRunSetup s;
    s.Settings.OutputFolder = folder.string() + "/";
    for (const auto& kind : SourceKinds()) {
        s.Rows.push_back(RowFor(sources_->File(kind.Name)));
        SetHostileTags(s.Rows.back().Item);
    }
    auto run = s.Make(target);
    run->Run();

    EXPECT_TRUE(run->RunFinished());
    EXPECT_TRUE(s.Dialogs.Shown.empty()) << s.Dialogs.Shown.front().Text;
    EXPECT_EQ(s.Observer.Totals.back(), 100);
    EXPECT_FALSE(std::filesystem::exists("/tmp/bw-pwned"));
    for (size_t i = 0; i < s.Rows.size(); ++i) {
        const auto& row = s.Rows[i];
        SCOPED_TRACE(row.Item.SourcePath);
        EXPECT_EQ(row.Status, "Done");
        EXPECT_FALSE(row.Checked);
        EXPECT_EQ(s.Observer.Statuses[i], (std::vector<std::string>{"Coverting...", "Done"}));
        const std::string expectedPath =
            s.Settings.OutputFolder +
            std::filesystem::path(row.Item.SourcePath).stem().string() + TargetExtension(target);
        ASSERT_EQ(row.Item.TargetPath, expectedPath);
        ASSERT_TRUE(std::filesystem::exists(expectedPath));
        EXPECT_NEAR(DecodedSeconds(expectedPath), DecodedSeconds(row.Item.SourcePath), kLengthSlack);
        if (target == TTargetType::Flac || target == TTargetType::WavPack) {
            EXPECT_TRUE(FfmpegDecode(expectedPath) == FfmpegDecode(row.Item.SourcePath));
        }
        auto tags = ProbeTags(expectedPath);
        EXPECT_EQ(tags["title"], row.Item.Title);
        EXPECT_EQ(tags["artist"], row.Item.Artist);
        EXPECT_EQ(tags["album"], row.Item.Album);
        EXPECT_EQ(tags["track"], "3");
    }
    EXPECT_EQ(s.Observer.Unchecked.size(), s.Rows.size());
    EXPECT_EQ(s.Observer.LastPercent, 100);
    // The progress window's fields: cleared, then filled, for every item.
    ASSERT_EQ(s.Observer.FromTo.size(), 2 * s.Rows.size());
    EXPECT_EQ(s.Observer.FromTo[0], "|");
    EXPECT_EQ(s.Observer.FromTo[1], s.Rows[0].Item.SourcePath + "|" + s.Rows[0].Item.TargetPath);
    // The tags as mutagen reads them: APE items in WavPack, Vorbis comments in Opus.
    if (target == TTargetType::WavPack || target == TTargetType::Opus) {
        const std::string tags = RunOk({"/usr/bin/python3", "-c", R"(
import sys
from mutagen import File
f = File(sys.argv[1])
keys = ['Title', 'Artist', 'Album', 'Year', 'Genre', 'Track', 'Comment'] if sys.argv[1].endswith('.wv') else \
       ['title', 'artist', 'album', 'date', 'genre', 'tracknumber', 'comment']
print('|'.join(str(f.tags[k][0] if isinstance(f.tags[k], list) else f.tags[k]) for k in keys))
)", s.Rows[0].Item.TargetPath});
        EXPECT_EQ(tags, "Say \"hi\" $(touch /tmp/bw-pwned) `id`|-V 0 --the artist|An  Album|2001|Rock|3|a comment\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, EveryFormatTo,
                         testing::Values(TTargetType::Mp3, TTargetType::Ogg, TTargetType::Flac,
                                         TTargetType::Mpc, TTargetType::WavPack, TTargetType::Opus),
                         [](const testing::TestParamInfo<TTargetType>& info) {
                             return TargetName(info.param) == "MusePack" ? std::string("Mpc")
                                                                          : TargetName(info.param);
                         });

// 24-bit lossless sources converted to FLAC or WavPack keep their 24 bits, the low byte
// included; to a lossy target they go at 16 bits as ever.
TEST(ConversionRun, DeepSourcesStayTwentyFourBitInFlac) {
    TTempDir dir;
    const auto wav = dir.File("deep.tmp.wav");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "aevalsrc=0.45*sin(2*PI*330*t)+0.3*sin(2*PI*1234.567*t)|"
           "0.4*sin(2*PI*550*t)+0.2*sin(2*PI*987.6*t):s=48000:d=1.5",
           "-c:a", "pcm_s24le", wav});
    RunOk({"flac", "-s", "-o", dir.File("deep.flac"), wav});
    RunOk({"wavpack", "-q", wav, "-o", dir.File("pack.wv")});
    std::filesystem::remove(wav);
    TRunSetup s;
    s.Settings.OutputFolder = dir.File("out") + "/";
    std::filesystem::create_directory(dir.File("out"));
    for (const TTargetType target : {TTargetType::Flac, TTargetType::WavPack}) {
        s.Rows = {RowFor(dir.File("deep.flac")), RowFor(dir.File("pack.wv"))};
        s.Make(target)->Run();
        for (const auto& row : s.Rows) {
            SCOPED_TRACE(row.Item.SourcePath + " to " + TargetName(target));
            EXPECT_EQ(row.Status, "Done");
            const auto expected = FfmpegDecode(row.Item.SourcePath, "s24le");
            ASSERT_TRUE(std::any_of(expected.begin(), expected.end(),
                                    [](std::byte b) { return b != std::byte{0}; }));
            EXPECT_TRUE(FfmpegDecode(row.Item.TargetPath, "s24le") == expected);
        }
    }
    // The same source to MP3: lame is fed 16 bits, as before.
    TRunSetup mp3;
    mp3.Settings.OutputFolder = s.Settings.OutputFolder;
    mp3.Rows = {RowFor(dir.File("deep.flac"))};
    mp3.Make(TTargetType::Mp3)->Run();
    EXPECT_EQ(mp3.Rows[0].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(mp3.Rows[0].Item.TargetPath), 1.5, kLengthSlack);
}

// Hybrid WavPack: with its correction file the pair beside the target decodes to the very
// samples of the source; without it there is the lossy .wv alone, of the source's length.
TEST(ConversionRun, WavPackHybridWithAndWithoutCorrectionFile) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[6]);
    for (const bool correction : {true, false}) {
        TRunSetup s;
        s.Settings.OutputFolder = dir.File(correction ? "pair" : "lossy") + "/";
        std::filesystem::create_directory(s.Settings.OutputFolder);
        TEncoderOptions o;
        o.WavPack.WVHybrid = true;
        o.WavPack.WVBits = 30;
        o.WavPack.WVCorrection = correction;
        s.Rows = {RowFor(src)};
        s.Make(TTargetType::WavPack, o)->Run();
        ASSERT_EQ(s.Rows[0].Status, "Done") << s.Rows[0].Reason;
        const std::string wv = s.Settings.OutputFolder + "lossless.wv";
        const std::vector<std::string> pair{"lossless.wv", "lossless.wvc"};
        EXPECT_EQ(FolderEntries(s.Settings.OutputFolder), std::vector<std::string>(pair.begin(), pair.begin() + 1 + correction));
        EXPECT_NEAR(DecodedSeconds(wv), 1.5, 0.001);
        // wvunpack takes the .wvc beside the file; FFmpeg reads the lossy part alone.
        RunOk({"wvunpack", "-q", "-y", wv, "-o", dir.File("unpacked.wav")});
        EXPECT_EQ(FfmpegDecode(dir.File("unpacked.wav")) == FfmpegDecode(src), correction);
        EXPECT_FALSE(FfmpegDecode(wv) == FfmpegDecode(src));
    }
}

TEST(ConversionRun, SameAsSourceRefusesToConvertAFileOntoItself) {
    TTempDir dir;
    const auto mp3 = MakeSource(dir, SourceKinds()[2]);
    const auto flac = MakeSource(dir, SourceKinds()[6]);
    const std::string before = Slurp(mp3);
    TRunSetup s;
    s.Rows = {RowFor(mp3), RowFor(flac)};
    auto run = s.Make(TTargetType::Mp3);
    run->SetSameAsSource(true);
    run->Run();

    ASSERT_EQ(s.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(s.Dialogs.Shown[0].Text, mp3 + "\n Can't convert to itself, skipped.");
    EXPECT_EQ(s.Rows[0].Status, "-");
    EXPECT_TRUE(s.Rows[0].Checked);
    EXPECT_EQ(Slurp(mp3), before);
    // The other row goes beside its source.
    EXPECT_EQ(s.Rows[1].Status, "Done");
    EXPECT_EQ(s.Rows[1].Item.TargetPath, dir.File("lossless.mp3"));
    EXPECT_NEAR(DecodedSeconds(dir.File("lossless.mp3")), 1.5, kLengthSlack);
}

TEST(ConversionRun, SelfConversionThroughAnotherSpellingOfThePath) {
    TTempDir dir;
    const auto flac = MakeSource(dir, SourceKinds()[6]);
    const std::string before = Slurp(flac);
    TRunSetup s;
    // The output folder names the source's folder by another path.
    std::filesystem::create_directory_symlink(dir.Path(), dir.File("link"));
    s.Settings.OutputFolder = dir.File("link") + "/";
    s.Settings.OverwriteWithoutAsking = true;
    s.Rows = {RowFor(flac)};
    s.Make(TTargetType::Flac)->Run();
    ASSERT_EQ(s.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(s.Dialogs.Shown[0].Text,
              dir.File("link") + "/lossless.flac\n Can't convert to itself, skipped.");
    EXPECT_EQ(Slurp(flac), before);
}

// Only the file name's own extension is replaced: the dots of the folders above it (the
// source's, the added folder's, the output folder's) and those inside the name stay, as
// std::filesystem's own extension swap keeps them. Beside the sources and under an output
// folder with the added folder's structure kept.
TEST(ConversionRun, DotsInFoldersAreNotExtensions) {
    namespace fs = std::filesystem;
    TTempDir dir;
    const fs::path added = dir.Path() / "v1.2";
    fs::create_directories(added / "disc.1");
    const std::string wav = MakeSource(dir, SourceKinds()[0]);
    const std::vector<fs::path> sources{added / "song.wav", added / "disc.1" / "take.2.wav"};
    for (const auto& source : sources)
        fs::copy_file(wav, source);
    for (const bool beside : {true, false}) {
        SCOPED_TRACE(beside ? "beside the sources" : "in out.d, the structure kept");
        TRunSetup s;
        s.Settings.OutputFolder = dir.File("out.d") + "/";
        s.Settings.KeepStructure = true;
        for (const auto& source : sources) {
            s.Rows.push_back(RowFor(source.string()));
            s.Rows.back().Item.AddedFrom = added.string();
        }
        auto run = s.Make(TTargetType::Flac);
        run->SetSameAsSource(beside);
        run->Run();
        for (const auto& row : s.Rows) {
            fs::path expected(row.Item.SourcePath);
            if (!beside)
                expected = dir.Path() / "out.d" / expected.lexically_relative(dir.Path());
            expected.replace_extension(".flac");
            EXPECT_EQ(row.Status, "Done") << row.Reason;
            EXPECT_EQ(row.Item.TargetPath, expected.string());
            EXPECT_TRUE(fs::exists(expected)) << expected;
        }
    }
}

// No item writes over a file the run reads (another row's source, an album image's audio
// file) or over another item's output, even with every overwrite allowed and several files
// at once: the item is an error that says why, and what was there stays.
TEST(ConversionRun, NoOutputReplacesWhatTheRunReadsOrWrites) {
    TTempDir dir;
    const std::string tone = dir.File("tone.wav");
    MakeTone(tone, 1.5, 44100, 2, {"-c:a", "pcm_s16le"});
    for (const int lanes : {1, 3}) {
        SCOPED_TRACE(std::to_string(lanes) + " lanes");
        TTempDir work;
        const auto make = [&](size_t kind, const std::string& name) {
            std::filesystem::create_directories(std::filesystem::path(work.File(name)).parent_path());
            SourceKinds()[kind].Make(tone, work.File(name));
            return work.File(name);
        };
        // An album image of one MP3 file a track, its tracks named as their files. lame makes
        // the same bytes of the same tone each time.
        const auto lame = ReadAll(make(2, "t1.mp3"));
        make(2, "t2.mp3");
        std::ofstream(work.File("album.cue")) << "FILE \"t1.mp3\" MP3\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                                 "FILE \"t2.mp3\" MP3\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
        TCdDriveList drives;
        const int drive = drives.AddImage(work.File("album.cue"));
        std::vector<TCdTrack> tracks;
        ASSERT_TRUE(drives.Tracks(drive, tracks));
        TRunSetup s;
        s.Settings.OutputFolder = work.Path().string() + "/";
        s.Settings.OverwriteWithoutAsking = true;
        s.Settings.KeepStructure = true;
        s.Settings.ParallelJobs = lanes;
        s.Settings.CreateArtist = s.Settings.CreateAlbum = false;
        s.Settings.VerifyAccurateRip = false; // the database is tested on its own
        for (const auto& [kind, name] : std::vector<std::pair<size_t, std::string>>{
                 {6, "song2.flac"}, {4, "song2.ogg"}, {0, "a.wav"}, {0, "in/x/b.wav"}, {0, "in/.x/b.wav"}})
            s.Rows.push_back(RowFor(make(kind, name)));
        s.Rows[3].Item.AddedFrom = work.File("in/x"); // both folders' outputs go into "x"
        s.Rows[4].Item.AddedFrom = work.File("in/.x");
        s.Rows.push_back(RowFor(make(2, "a.mp3")));
        for (auto& item : CdTrackItems(tracks, static_cast<uint8_t>(drive), 0)) {
            item.SourcePath = "t" + std::to_string(item.Track);
            s.Rows.push_back({item, true, "-"});
        }
        // A file cut short fails after it began its output, which the next may then write.
        const std::string cut = make(6, "c.flac");
        std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
        s.Rows.push_back(RowFor(cut));
        s.Rows.push_back(RowFor(make(4, "c.ogg")));
        auto run = s.Make(TTargetType::Mp3);
        run->SetCdDrives(&drives);
        run->Run();
        EXPECT_EQ(s.Rows[8].Status, "Error");
        if (lanes == 1) { // with several at once the cut one may still be writing
            EXPECT_EQ(s.Rows[9].Status, "Done") << s.Rows[9].Reason;
        }
        s.Rows.resize(8);
        const std::string replaces = "the output would replace a source of this run";
        const std::vector<std::pair<std::string, std::string>> expected{
            {"Done", ""}, {"Error", "the same output as " + work.File("song2.flac")},
            {"Error", replaces}, {"Done", ""}, {"Error", "the same output as " + work.File("in/x/b.wav")},
            {"-", work.File("a.mp3") + "\n Can't convert to itself, skipped."}, {"Error", replaces}, {"Error", replaces}};
        ASSERT_EQ(s.Rows.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(std::make_pair(s.Rows[i].Status, s.Rows[i].Reason), expected[i]) << i;
        for (const char* read : {"a.mp3", "t1.mp3", "t2.mp3"})
            EXPECT_TRUE(ReadAll(work.File(read)) == lame) << read;
        EXPECT_NEAR(DecodedSeconds(work.File("song2.mp3")), 1.5, kLengthSlack);
    }
}

TEST(ConversionRun, OverwriteQuestionNoYesAndYesToAll) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[0]);
    std::vector<std::string> sources;
    for (const char* name : {"x.wav", "y.wav", "z.wav"}) {
        std::filesystem::copy_file(src, dir.File(name));
        sources.push_back(dir.File(name));
    }
    std::filesystem::create_directory(dir.File("out"));
    for (const char* name : {"x.ogg", "y.ogg", "z.ogg"})
        WriteAll(dir.File(std::string("out/") + name), {std::byte{'o'}, std::byte{'l'}, std::byte{'d'}});

    TRunSetup s;
    s.Settings.OutputFolder = dir.File("out") + "/";
    for (const auto& p : sources)
        s.Rows.push_back(RowFor(p));
    s.Dialogs.Answers = {TAnswer::No, TAnswer::Yes, TAnswer::YesToAll};
    s.Make(TTargetType::Ogg)->Run();

    ASSERT_EQ(s.Dialogs.Shown.size(), 3u);
    EXPECT_EQ(s.Dialogs.Shown[0].Text, "The file \"" + dir.File("out/x.ogg") +
                                           "\" already exists. Do you want ot overwrite it?");
    EXPECT_EQ(s.Dialogs.Shown[0].Kind, TMessageKind::Confirmation);
    EXPECT_EQ(Slurp(dir.File("out/x.ogg")), "old");
    EXPECT_EQ(s.Rows[0].Status, "-");
    EXPECT_TRUE(s.Rows[0].Checked);
    EXPECT_EQ(s.Rows[1].Status, "Done");
    EXPECT_EQ(s.Rows[2].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(dir.File("out/y.ogg")), 1.5, kLengthSlack);
    EXPECT_NEAR(DecodedSeconds(dir.File("out/z.ogg")), 1.5, kLengthSlack);
    EXPECT_TRUE(s.Settings.OverwriteWithoutAsking);
    EXPECT_EQ(s.Observer.Totals, (std::vector<int>{0, 33, 66, 100}));

    // Yes to All holds for later runs too: the row left over is converted without a question.
    s.Make(TTargetType::Ogg)->Run();
    EXPECT_EQ(s.Dialogs.Shown.size(), 3u);
    EXPECT_EQ(s.Rows[0].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(dir.File("out/x.ogg")), 1.5, kLengthSlack);

    // Closing the question (no answer given) keeps the file.
    s.Settings.OverwriteWithoutAsking = false;
    s.Rows[0].Checked = true;
    const std::string converted = Slurp(dir.File("out/x.ogg"));
    s.Make(TTargetType::Ogg)->Run();
    EXPECT_EQ(s.Dialogs.Shown.size(), 4u);
    EXPECT_EQ(Slurp(dir.File("out/x.ogg")), converted);
    EXPECT_TRUE(s.Rows[0].Checked);
}

// A cancelled item leaves nothing under its output's name, so a later run that leaves
// existing outputs alone converts it whole.
TEST(ConversionRun, CancelCurrentLeavesNoCutFileAndGoesOn) {
    TTempDir dir;
    const auto a = dir.File("a.flac");
    MakeTone(a, 4);
    const auto b = MakeSource(dir, SourceKinds()[6]);
    TRunSetup s;
    s.Settings.OutputFolder = dir.Path().string() + "/";
    s.Settings.ParallelJobs = 1; // the cancel lands between two blocks of the one file
    s.Rows = {RowFor(a), RowFor(b)};
    auto run = s.Make(TTargetType::Mp3);
    int cancelledAt = -1;
    s.Observer.OnEvents = [&] {
        if (cancelledAt < 0 && s.Observer.LastPercent >= 37) {
            cancelledAt = s.Observer.LastPercent;
            s.Dialogs.Answers.push_back(TAnswer::Yes);
            run->AskCancel();
        }
    };
    run->Run();

    ASSERT_GE(cancelledAt, 37);
    EXPECT_LT(cancelledAt, 100);
    EXPECT_EQ(s.Dialogs.Shown[0].Text, "Are you sure to stop the conversion of the current file?");
    EXPECT_EQ(s.Rows[0].Status, std::to_string(cancelledAt) + "% Canceled");
    EXPECT_TRUE(s.Rows[0].Checked);
    // The next row is converted as usual.
    EXPECT_EQ(s.Rows[1].Status, "Done");
    EXPECT_EQ(FolderEntries(dir.Path().string()),
              (std::vector<std::string>{"a.flac", "lossless.flac", "lossless.mp3"}));
    s.Settings.SkipExisting = true;
    s.Observer.OnEvents = nullptr;
    s.Make(TTargetType::Mp3)->Run();
    EXPECT_EQ(s.Rows[0].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(dir.File("a.mp3")), 4, kLengthSlack);
}

// While Cancel's question is open no file moves on, however many convert at once: "Yes"
// cancels each of the files under way when it was asked, and the question speaks of them.
TEST(ConversionRun, CancelWithSeveralFilesAtOnce) {
    TTempDir dir;
    TRunSetup s;
    s.Settings.OutputFolder = dir.File("out") + "/";
    s.Settings.ParallelJobs = 2;
    for (const char* name : {"1.wav", "2.wav"}) {
        MakeTone(dir.File(name), 20, 44100, 2, {"-c:a", "pcm_s16le"});
        s.Rows.push_back(RowFor(dir.File(name)));
    }
    // The user thinks the question over long enough for both files to end, were they let.
    s.Dialogs.WhileAsking = [] { std::this_thread::sleep_for(std::chrono::seconds(3)); };
    s.Dialogs.Answers = {TAnswer::Yes};
    auto run = s.Make(TTargetType::Mp3);
    s.Observer.OnEvents = [&] {
        if (s.Dialogs.Shown.empty() && s.Observer.Statuses[0].size() == 1 && s.Observer.Statuses[1].size() == 1)
            run->AskCancel();
    };
    run->Run();
    ASSERT_EQ(s.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(s.Dialogs.Shown[0].Text, "Are you sure to stop the conversion of the current files?");
    for (const auto& row : s.Rows)
        EXPECT_TRUE(row.Status.ends_with("% Canceled")) << row.Status;
    EXPECT_TRUE(FolderEntries(dir.File("out")).empty());
}

TEST(ConversionRun, CancelYesToAllStartsNoFurtherItem) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[6]);
    TRunSetup s;
    std::filesystem::create_directory(dir.File("out"));
    s.Settings.OutputFolder = dir.File("out") + "/";
    s.Settings.ParallelJobs = 1; // the cancel lands between two blocks of the one file
    for (const char* name : {"1.flac", "2.flac", "3.flac"}) {
        std::filesystem::copy_file(src, dir.File(name));
        s.Rows.push_back(RowFor(dir.File(name)));
    }
    auto run = s.Make(TTargetType::Flac);
    s.Observer.OnEvents = [&] {
        if (s.Observer.LastPercent >= 20 && s.Dialogs.Shown.empty()) {
            s.Dialogs.Answers.push_back(TAnswer::YesToAll);
            run->AskCancel();
        }
    };
    run->Run();

    EXPECT_TRUE(run->RunFinished());
    EXPECT_NE(s.Rows[0].Status.find("% Canceled"), std::string::npos);
    EXPECT_EQ(s.Rows[1].Status, "-");
    EXPECT_EQ(s.Rows[2].Status, "-");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/2.flac")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/3.flac")));
    EXPECT_EQ(run->CompletedCount(), 1);
    EXPECT_EQ(run->ElapsedText().size(), 8u);
}

TEST(ConversionRun, UnreadableSourceIsReportedOnceAndNotEncoded) {
    TTempDir dir;
    const auto gone = MakeSource(dir, SourceKinds()[2]);
    const auto good = MakeSource(dir, SourceKinds()[4]);
    TRunSetup s;
    std::filesystem::create_directory(dir.File("out"));
    s.Settings.OutputFolder = dir.File("out") + "/";
    s.Rows = {RowFor(gone), RowFor(good)};
    // Damaged after it was added to the list.
    WriteAll(gone, std::vector<std::byte>(300, std::byte{0x55}));
    s.Make(TTargetType::Mp3)->Run();

    ASSERT_EQ(s.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(s.Dialogs.Shown[0].Text, "Can\"t loading file \"" + gone + "\"!");
    EXPECT_EQ(s.Rows[0].Status, "Error");
    EXPECT_TRUE(s.Rows[0].Checked);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/lame.mp3")));
    EXPECT_EQ(s.Rows[1].Status, "Done");
}

TEST(ConversionRun, NothingCheckedIsRefused) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[0]);
    TRunSetup s;
    s.Rows = {RowFor(src)};
    s.Rows[0].Checked = false;
    EXPECT_FALSE(TConversionRun::HasCheckedRows(s.Rows, s.Dialogs));
    EXPECT_EQ(s.Dialogs.Shown.back().Text, "Please select files for converting.");
}
