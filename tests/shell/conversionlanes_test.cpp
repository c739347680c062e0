// A run with two lanes against the same run with one: twenty minutes of sources of every
// readable format, a damaged and a vanished one, two rows writing the same target, an
// overwrite refused, and a cancel, converted to every target by the real encoders. Both
// runs must write the same files and end every row the same way.

#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

using namespace bw;
using namespace bwtest;
namespace fs = std::filesystem;

namespace {

constexpr size_t kGood = 15;       // rows 0..14: one source each, every format in turn
constexpr size_t kSameTarget = 15; // another file of row 14's name: refused, whichever runs first
constexpr size_t kDamaged = 16;    // cut short after it was listed
constexpr size_t kVanished = 17;   // removed after it was listed
constexpr size_t kRefused = 18;    // its target exists; the user answers No
constexpr size_t kCancelled = 19;  // long; cancelled once every other row has ended
constexpr size_t kRows = 20;

std::string Tone(const TTempDir& dir, const std::string& name, int frequency, double seconds) {
    const std::string wav = dir.File(name);
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "sine=frequency=" + std::to_string(frequency) + ":duration=" + std::to_string(seconds),
           "-ac", "2", "-c:a", "pcm_s16le", wav});
    return wav;
}

// One run's results with the output folder's name taken out, so that two runs compare.
struct TRunRecord {
    std::vector<std::string> Statuses;
    std::vector<std::string> Reasons;
    std::vector<std::string> Messages;
    std::vector<std::string> Outputs;
    size_t MostAtOnce = 0;
};

class Lanes : public testing::TestWithParam<TTargetType> {
protected:
    static void SetUpTestSuite() {
        sources_ = std::make_unique<TTempDir>();
        const auto& kinds = SourceKinds();
        for (size_t i = 0; i < kGood; ++i) {
            const auto& kind = kinds[i % kinds.size()];
            const std::string wav =
                Tone(*sources_, "tone.tmp.wav", 200 + 37 * static_cast<int>(i), SourceSeconds(i));
            kind.Make(wav, sources_->File(std::to_string(i) + "-" + kind.Name));
        }
        kinds[6].Make(Tone(*sources_, "tone.tmp.wav", 900, 60), sources_->File("damaged.flac"));
        kinds[2].Make(Tone(*sources_, "tone.tmp.wav", 950, 5), sources_->File("vanished.mp3"));
        Tone(*sources_, "refused.wav", 1000, 5);
        fs::create_directory(sources_->File("again"));
        Tone(*sources_, "again/" + fs::path(SourceName(kGood - 1)).stem().string() + ".wav", 1100, 30);
        Tone(*sources_, "long.wav", 1200, 600);
        fs::remove(sources_->File("tone.tmp.wav"));
    }
    static void TearDownTestSuite() { sources_.reset(); }

    // DSD decodes many times slower than the rest: a short one keeps the last rows from
    // waiting on it, so the long row is still the one left to cancel.
    static int SourceSeconds(size_t i) { return SourceName(i).ends_with(".dsf") ? 5 : 60; }

    static std::string SourceName(size_t i) {
        const auto& kinds = SourceKinds();
        return std::to_string(i) + "-" + kinds[i % kinds.size()].Name;
    }

    // The twenty rows over fresh copies of the sources that a run changes.
    static std::vector<TConversionRow> MakeRows(const TTempDir& work) {
        std::vector<TConversionRow> rows;
        for (size_t i = 0; i < kGood; ++i) {
            rows.push_back(RowFor(sources_->File(SourceName(i))));
            rows.back().Item.Title = "Song " + std::to_string(i);
            rows.back().Item.Artist = "Lane Tester";
            rows.back().Item.Track = static_cast<int>(i + 1);
        }
        rows.push_back(RowFor(sources_->File("again/" + fs::path(SourceName(kGood - 1)).stem().string() + ".wav")));
        fs::copy_file(sources_->File("damaged.flac"), work.File("damaged.flac"));
        fs::copy_file(sources_->File("vanished.mp3"), work.File("vanished.mp3"));
        rows.push_back(RowFor(work.File("damaged.flac")));
        rows.push_back(RowFor(work.File("vanished.mp3")));
        fs::resize_file(work.File("damaged.flac"), fs::file_size(work.File("damaged.flac")) * 2 / 5);
        fs::remove(work.File("vanished.mp3"));
        rows.push_back(RowFor(sources_->File("refused.wav")));
        rows.push_back(RowFor(sources_->File("long.wav")));
        return rows;
    }

    static TRunRecord Convert(TTargetType target, int lanes, const TTempDir& work) {
        const std::string out = work.File("out");
        fs::create_directory(out);
        const std::string refusedTarget = out + "/refused" + TargetExtension(target);
        WriteAll(refusedTarget, std::vector<std::byte>(100, std::byte{7}));

        TAppSettings settings = DefaultAppSettings();
        settings.OutputFolder = out + "/";
        settings.ParallelJobs = lanes;
        TScriptedDialogs dialogs;
        // The refused target.
        dialogs.Answers = {TAnswer::No};
        TRecordingObserver observer;
        std::vector<TConversionRow> rows = MakeRows(work);
        TConversionRun run(rows, target, TEncoderOptions{}, settings, dialogs, observer);
        TRunRecord record;
        bool asked = false;
        observer.OnEvents = [&] {
            const auto converting = static_cast<size_t>(
                std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r.Status == "Coverting..."; }));
            record.MostAtOnce = std::max(record.MostAtOnce, converting);
            if (!asked && converting == 1 && rows[kCancelled].Status == "Coverting..." &&
                observer.LastPercent >= 20) {
                asked = true;
                dialogs.Answers.push_back(TAnswer::Yes);
                run.AskCancel();
            }
        };
        run.Run();

        EXPECT_TRUE(asked);
        EXPECT_EQ(observer.Totals.back(), 100);
        EXPECT_EQ(run.CompletedCount(), static_cast<int>(kRows));
        const auto anonymous = [&](std::string text) {
            for (size_t at; (at = text.find(work.Path().string())) != std::string::npos;)
                text.replace(at, work.Path().string().size(), "<work>");
            return text;
        };
        for (const auto& r : rows) {
            // How far the cancel got depends on the moment it came.
            const size_t cancelled = r.Status.find("% Canceled");
            record.Statuses.push_back(cancelled == std::string::npos ? r.Status : "Canceled");
            record.Reasons.push_back(anonymous(r.Reason));
        }
        for (const auto& shown : dialogs.Shown)
            record.Messages.push_back(anonymous(shown.Text));
        record.Outputs = FolderEntries(out);
        return record;
    }

    static std::unique_ptr<TTempDir> sources_;
};
std::unique_ptr<TTempDir> Lanes::sources_;

TEST_P(Lanes, TwoLanesWriteWhatOneWrites) {
    const TTargetType target = GetParam();
    const std::string ext = TargetExtension(target);
    TTempDir one, two;
    const TRunRecord a = Convert(target, 1, one);
    const TRunRecord b = Convert(target, 2, two);

    EXPECT_EQ(a.MostAtOnce, 1u);
    EXPECT_EQ(b.MostAtOnce, 2u);
    EXPECT_EQ(a.Statuses, b.Statuses);
    EXPECT_EQ(a.Reasons, b.Reasons);
    // Errors found by the lanes come in the order they were found; the questions are asked
    // in list order and the cancel's last, as the answers are scripted.
    const auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(a.Messages), sorted(b.Messages));
    EXPECT_EQ(a.Outputs, b.Outputs);

    // What both runs did, row by row.
    for (size_t i = 0; i < kGood; ++i)
        EXPECT_EQ(b.Statuses[i], "Done") << i << ": " << b.Reasons[i];
    EXPECT_EQ(b.Statuses[kDamaged], "Error");
    EXPECT_EQ(b.Statuses[kVanished], "Error");
    EXPECT_EQ(b.Statuses[kRefused], "-");
    EXPECT_NE(b.Reasons[kRefused].find("already exists"), std::string::npos);
    EXPECT_EQ(b.Statuses[kSameTarget], "Error");
    EXPECT_EQ(b.Reasons[kSameTarget], "the same output as " + sources_->File(SourceName(kGood - 1)));
    EXPECT_EQ(b.Statuses[kCancelled], "Canceled");
    ASSERT_GE(b.Messages.size(), 5u);
    EXPECT_EQ(b.Messages.back(), "Are you sure to stop the conversion of the current file?");

    for (const std::string& name : b.Outputs) {
        SCOPED_TRACE(name);
        const std::string p1 = one.File("out/" + name), p2 = two.File("out/" + name);
        if (name == "long" + ext || name == "refused" + ext)
            continue; // cut wherever the cancel came; the refused target is the old file
        if (target == TTargetType::Ogg || target == TTargetType::Opus) {
            // The encoder picks a random stream serial; the audio and the tags are the same.
            EXPECT_EQ(FfmpegDecode(p1), FfmpegDecode(p2));
            EXPECT_EQ(ProbeTags(p1), ProbeTags(p2));
        } else {
            EXPECT_EQ(ReadAll(p1), ReadAll(p2));
        }
    }
    // The second file of row 14's name (30 s) left row 14's output as it was.
    const std::string kept = two.File("out/" + fs::path(SourceName(kGood - 1)).stem().string() + ext);
    EXPECT_NEAR(DecodedSeconds(kept), SourceSeconds(kGood - 1), 0.1);
    // Nothing but outputs was left in the folder, nothing of the damaged or vanished rows.
    for (const std::string& name : b.Outputs) {
        const std::string stem = fs::path(name).stem().string();
        const bool good = std::any_of(stem.begin(), stem.end(), ::isdigit) || stem == "refused" || stem == "long";
        EXPECT_TRUE(good && fs::path(name).extension() == ext) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTarget, Lanes,
                         testing::Values(TTargetType::Mp3, TTargetType::Ogg, TTargetType::Wav,
                                         TTargetType::Wma, TTargetType::Flac, TTargetType::Ape,
                                         TTargetType::Mpc, TTargetType::WavPack, TTargetType::Opus),
                         [](const testing::TestParamInfo<TTargetType>& info) {
                             return std::string(TargetExtension(info.param)).substr(1);
                         });

} // namespace
