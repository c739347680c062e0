// The lanes under ThreadSanitizer (the core is built instrumented for this program): runs
// with two and four lanes to every target, with failures, a cancel of the running rows and
// a cancel of the whole run. A data race or a lock-order problem ends the program.

#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace bw;
using namespace bwtest;
namespace fs = std::filesystem;

namespace {

constexpr size_t kGood = 8;
constexpr double kSeconds = 6;

class LanesTsan : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sources_ = std::make_unique<TTempDir>();
        const std::string wav = sources_->File("tone.tmp.wav");
        MakeTone(wav, kSeconds, 44100, 2, {"-c:a", "pcm_s16le"});
        const auto& kinds = SourceKinds();
        for (size_t i = 0; i < kGood; ++i)
            kinds[(i * 2) % kinds.size()].Make(wav, sources_->File(Name(i)));
        kinds[6].Make(wav, sources_->File("damaged.flac"));
        kinds[2].Make(wav, sources_->File("vanished.mp3"));
        // The row that is cancelled is long enough to be still under way when it comes.
        MakeTone(wav, 20 * kSeconds, 44100, 2, {"-c:a", "pcm_s16le"});
        fs::remove(sources_->File(Name(3)));
        kinds[(3 * 2) % kinds.size()].Make(wav, sources_->File(Name(3)));
        fs::remove(wav);
    }
    static void TearDownTestSuite() { sources_.reset(); }

    static std::string Name(size_t i) {
        const auto& kinds = SourceKinds();
        return std::to_string(i) + "-" + kinds[(i * 2) % kinds.size()].Name;
    }

    // Eight good rows, a damaged and a vanished one, converted with lanes lanes; answer is
    // given to the cancel question once the fourth row is under way.
    static std::vector<TConversionRow> Convert(TTargetType target, int lanes, TAnswer answer,
                                               const TTempDir& work) {
        std::vector<TConversionRow> rows;
        for (size_t i = 0; i < kGood; ++i)
            rows.push_back(RowFor(sources_->File(Name(i))));
        fs::copy_file(sources_->File("damaged.flac"), work.File("damaged.flac"));
        fs::copy_file(sources_->File("vanished.mp3"), work.File("vanished.mp3"));
        rows.push_back(RowFor(work.File("damaged.flac")));
        rows.push_back(RowFor(work.File("vanished.mp3")));
        fs::resize_file(work.File("damaged.flac"), fs::file_size(work.File("damaged.flac")) / 2);
        fs::remove(work.File("vanished.mp3"));

        TAppSettings settings = DefaultAppSettings();
        settings.OutputFolder = work.File("out") + "/";
        settings.ParallelJobs = lanes;
        TScriptedDialogs dialogs;
        TRecordingObserver observer;
        TConversionRun run(rows, target, TEncoderOptions{}, settings, dialogs, observer);
        bool asked = false;
        observer.OnEvents = [&] {
            if (!asked && rows[3].Status == "Coverting...") {
                asked = true;
                dialogs.Answers.push_back(answer);
                run.AskCancel();
            }
        };
        run.Run();
        EXPECT_TRUE(asked);
        EXPECT_TRUE(run.RunFinished());
        return rows;
    }

    static std::unique_ptr<TTempDir> sources_;
};
std::unique_ptr<TTempDir> LanesTsan::sources_;

TEST_F(LanesTsan, EveryTargetWithTwoAndFourLanes) {
    for (const TTargetType target : {TTargetType::Mp3, TTargetType::Ogg, TTargetType::Wav, TTargetType::Wma,
                                     TTargetType::Flac, TTargetType::Ape, TTargetType::Mpc}) {
        for (const int lanes : {2, 4}) {
            SCOPED_TRACE(TargetExtension(target) + " with " + std::to_string(lanes) + " lanes");
            TTempDir work;
            const auto rows = Convert(target, lanes, TAnswer::Yes, work);
            // The cancel took the rows under way; those after them were converted.
            EXPECT_NE(rows[3].Status.find("% Canceled"), std::string::npos) << rows[3].Status;
            for (size_t i = 4; i < kGood; ++i)
                EXPECT_EQ(rows[i].Status, "Done") << i << ": " << rows[i].Reason;
            EXPECT_EQ(rows[kGood].Status, "Error");
            EXPECT_EQ(rows[kGood + 1].Status, "Error");
            // Only outputs in the folder: no working file of any lane was left behind.
            for (const std::string& name : FolderEntries(work.File("out")))
                EXPECT_EQ(fs::path(name).extension(), TargetExtension(target)) << name;
        }
    }
}

TEST_F(LanesTsan, YesToAllEndsTheRunWithFourLanes) {
    TTempDir work;
    const auto rows = Convert(TTargetType::Ape, 4, TAnswer::YesToAll, work);
    EXPECT_NE(rows[3].Status.find("% Canceled"), std::string::npos) << rows[3].Status;
    // Rows that had not begun stay as they were.
    EXPECT_EQ(rows[kGood + 1].Status, "-");
    for (const auto& r : rows)
        EXPECT_NE(r.Status, "Coverting...");
}

} // namespace
