// Converting from the main window: the encoder pages, the progress and result windows.

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "encoders/encoderoptions.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QFile>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bw;

namespace {

class ConvertWindow : public ::testing::Test {
protected:
    void SetUp() override {
        bwtest::MakeTone(media_.File("tone.wav"), 0.6);
        bwtest::RunOk({"lame", "--quiet", "--tt", "Tide", "--ta", "Ann", media_.File("tone.wav"), media_.File("song.mp3")});
        store_ = std::make_unique<TSettingsStore>(QString::fromStdString(config_.File("bw.conf")));
        form_ = std::make_unique<TForm1>(dialogs_, *store_, QStringList{}, "prog");
        form_->show();
    }
    template <class T> T* Child(const char* name) {
        T* w = form_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Answers the result window when it comes up: records the time shown and closes it
    // without opening a file manager.
    void AnswerResultWindow() {
        QTimer::singleShot(0, [this] { WaitForResult(); });
    }
    void WaitForResult() {
        TSuccessForm2& result = form_->ResultWindow();
        if (!result.isVisible()) {
            QTimer::singleShot(20, [this] { WaitForResult(); });
            return;
        }
        resultShown_ = true;
        resultTime_ = result.findChild<QLabel*>("LabelTime")->text();
        openFolderEnabled_ = result.findChild<QCheckBox*>("CheckOpenFolder")->isEnabled();
        result.findChild<QCheckBox*>("CheckOpenFolder")->setChecked(false);
        result.accept();
    }

    bwtest::TTempDir media_, config_, out_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
    std::unique_ptr<TForm1> form_;
    bool resultShown_ = false;
    bool openFolderEnabled_ = false;
    QString resultTime_;
};

} // namespace

TEST_F(ConvertWindow, PagesShowAndEditTheOptions) {
    // The pages' own defaults, in place of the "CD Quality" preset a first start loads.
    form_->SetEncoderOptions(TEncoderOptions{});
    const TEncoderOptions defaults = form_->EncoderOptions();
    EXPECT_EQ(BuildMp3Options(defaults.Mp3).Text(), " --cbr -b 128 -m s --resample 44.1 -o");
    auto* cbrBitrate = Child<QComboBox>("CBRBitrate");
    auto* vbrMin = Child<QComboBox>("VBRMin");
    auto* slider = Child<QSlider>("TrackBar1");
    EXPECT_TRUE(cbrBitrate->isEnabled());
    EXPECT_FALSE(vbrMin->isEnabled());
    EXPECT_FALSE(slider->isEnabled());
    EXPECT_EQ(Child<QLabel>("Mp3QualityLabel")->text(), "4");
    Child<QRadioButton>("VBR")->click();
    EXPECT_FALSE(Child<QRadioButton>("CBR")->isChecked());
    EXPECT_FALSE(cbrBitrate->isEnabled());
    EXPECT_TRUE(vbrMin->isEnabled() && slider->isEnabled());
    slider->setValue(9);
    vbrMin->setCurrentIndex(0);
    EXPECT_EQ(Child<QLabel>("Mp3QualityLabel")->text(), "0");
    EXPECT_EQ(BuildMp3Options(form_->EncoderOptions().Mp3).Text(), " -b 32 -B 320 -V 0 -m s --resample 44.1 -o");

    // The Ogg estimate follows both the slider and the sample rate.
    EXPECT_EQ(Child<QLabel>("OggQualityLabel")->text(), "4 (~128 kbps)");
    Child<QComboBox>("OGGSamplerate")->setCurrentIndex(4); // 22050
    EXPECT_EQ(Child<QLabel>("OggQualityLabel")->text(), "4 (~64 kbps)");
    Child<QRadioButton>("BitrateManager")->click();
    EXPECT_FALSE(Child<QSlider>("TrackBar2")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>("OGGMin")->isEnabled());
    Child<QCheckBox>("OGGVBR")->click();
    EXPECT_TRUE(Child<QComboBox>("OGGMin")->isEnabled());
    EXPECT_FALSE(form_->EncoderOptions().Ogg.OGGQ);

    Child<QSlider>("MPCMyTrackBar")->setValue(7);
    EXPECT_TRUE(Child<QLabel>("MPCLabel")->text().startsWith("Braindead"));
    EXPECT_EQ(form_->EncoderOptions().Mpc.MPCMyTrackBar, 7);
    EXPECT_EQ(form_->EncoderOptions().Flac.FLACMyTrackBar, 5);

    // WAV: the lists and the check box reach the options.
    Child<QComboBox>("WAVSamplerate")->setCurrentIndex(8);
    Child<QComboBox>("WAVbps")->setCurrentIndex(1);
    Child<QCheckBox>("cbNormalize")->click();
    const TWavOptions wav = form_->EncoderOptions().Wav;
    EXPECT_EQ(WavSampleRate(wav), 6000);
    EXPECT_EQ(WavBits(wav), 8);
    EXPECT_TRUE(wav.cbNormalize);

    // WMA: 48000 Hz forces stereo and greys the channels; another rate frees them again
    // without changing the choice. The bitrate list follows the rate and channels.
    auto* rate = Child<QComboBox>("WMASamplerate");
    auto* channels = Child<QComboBox>("WMAChannels");
    auto* bitrate = Child<QComboBox>("WMABitrate");
    EXPECT_EQ(bitrate->count(), 12);
    EXPECT_EQ(bitrate->currentText(), "320 kbps");
    channels->setCurrentIndex(0);
    EXPECT_EQ(bitrate->count(), 9);
    EXPECT_EQ(bitrate->currentText(), "160 kbps");
    rate->setCurrentIndex(0);
    EXPECT_EQ(channels->currentText(), "Stereo");
    EXPECT_FALSE(channels->isEnabled());
    EXPECT_EQ(bitrate->count(), 12);
    rate->setCurrentIndex(5);
    EXPECT_TRUE(channels->isEnabled());
    EXPECT_EQ(channels->currentText(), "Stereo");
    EXPECT_EQ(bitrate->count(), 4);
    channels->setCurrentIndex(0);
    EXPECT_EQ(bitrate->count(), 1);
    EXPECT_EQ(WmaBitrate(form_->EncoderOptions().Wma), 24000);
    bitrate->setCurrentIndex(-1); // what an empty list leaves
    EXPECT_EQ(WmaBitrate(form_->EncoderOptions().Wma), 0);

    // APE: the slider's positions are the levels 1000 to 4000.
    EXPECT_EQ(ApeCompressionLevel(form_->EncoderOptions().Ape), 2000);
    Child<QSlider>("APEMyTrackBar")->setValue(4);
    EXPECT_EQ(ApeCompressionLevel(form_->EncoderOptions().Ape), 4000);
    Child<QSlider>("APEMyTrackBar")->setValue(0);
    EXPECT_EQ(ApeCompressionLevel(form_->EncoderOptions().Ape), 1000);
}

TEST_F(ConvertWindow, ConvertsCheckedRowsAndShowsTheResult) {
    form_->Action("ActionConvert")->trigger();
    ASSERT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(dialogs_.Shown[0].Text, "Please select files for converting.");

    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("song.mp3"))));
    form_->AppSettings().OutputFolder = out_.Path().string() + "/";
    Child<QTabWidget>("PageControl1")->setCurrentIndex(1); // OGG
    EXPECT_EQ(Child<QComboBox>("ComboBoxType")->currentText(), "OGG");
    form_->AppSettings().PlaySoundOp = false;
    AnswerResultWindow();
    form_->Action("ActionConvert")->trigger();
    EXPECT_TRUE(resultShown_);
    EXPECT_TRUE(openFolderEnabled_);
    EXPECT_EQ(resultTime_.size(), 8); // hh:mm:ss
    auto& list = form_->JobList();
    EXPECT_EQ(list.Status(0), "Done");
    EXPECT_FALSE(list.IsChecked(0));
    const std::string output = out_.File("song.ogg");
    EXPECT_EQ(list.ItemAt(0)->TargetPath, output);
    ASSERT_TRUE(std::filesystem::exists(output));
    const std::string title = bwtest::RunOk({"ffprobe", "-v", "error", "-show_entries", "stream_tags=title",
                                             "-of", "csv=p=0", output});
    EXPECT_EQ(title, "Tide\n");
}

TEST_F(ConvertWindow, SameAsSourceRefusesToConvertAFileOntoItself) {
    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("song.mp3"))));
    Child<QCheckBox>("CheckBoxSAS")->click();
    AnswerResultWindow();
    form_->Action("ActionConvert")->trigger(); // MP3 to MP3 beside itself
    ASSERT_FALSE(dialogs_.Shown.empty());
    EXPECT_EQ(dialogs_.Shown[0].Text, media_.File("song.mp3") + "\n Can't convert to itself, skipped.");
    EXPECT_TRUE(form_->JobList().IsChecked(0));
    EXPECT_TRUE(resultShown_);
    EXPECT_FALSE(openFolderEnabled_); // outputs beside their sources: no folder to open
}

TEST_F(ConvertWindow, CancelStopsTheCurrentFile) {
    bwtest::MakeTone(media_.File("long.wav"), 40.0);
    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("long.wav"))));
    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("song.mp3"))));
    form_->AppSettings().OutputFolder = out_.Path().string() + "/";
    form_->AppSettings().PlaySoundOp = false;
    // Once the first file is under way, Cancel is pressed and "Yes to All" answered.
    dialogs_.Answers = {TAnswer::YesToAll};
    std::function<void()> press = [&] {
        TProgress& progress = form_->ProgressWindow();
        if (progress.isVisible() && form_->JobList().Status(0) == "Coverting...") {
            progress.findChild<QPushButton*>("ButtonCancel")->click();
            return;
        }
        QTimer::singleShot(5, press);
    };
    QTimer::singleShot(5, press);
    AnswerResultWindow();
    form_->Action("ActionConvert")->trigger();
    auto& list = form_->JobList();
    EXPECT_TRUE(list.Status(0).endsWith("% Canceled")) << list.Status(0).toStdString();
    EXPECT_TRUE(list.IsChecked(0));
    EXPECT_EQ(list.Status(1), "-"); // never started
    EXPECT_TRUE(resultShown_);
    const bool asked = std::any_of(dialogs_.Shown.begin(), dialogs_.Shown.end(), [](const auto& s) {
        return s.Text == "Are you sure to stop the conversion of the current file?";
    });
    EXPECT_TRUE(asked);
}

// A signal (a logout, `kill`) while a file converts: the run stops at once without a
// question, the window closes as Exit does and writes the settings, and no temporary file
// or encoder is left.
TEST_F(ConvertWindow, StopSignalCancelsTheRunAndCloses) {
    bwtest::MakeTone(media_.File("long.wav"), 60.0);
    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("long.wav"))));
    ASSERT_TRUE(form_->AddFileToList(QString::fromStdString(media_.File("song.mp3"))));
    form_->AppSettings().OutputFolder = out_.Path().string() + "/";
    form_->AppSettings().PlaySoundOp = false;
    form_->AppSettings().ParallelJobs = 1; // only the first file is under way at the signal
    Child<QTabWidget>("PageControl1")->setCurrentIndex(4); // FLAC
    std::function<void()> signal = [&] {
        if (form_->ProgressWindow().isVisible() && form_->JobList().Status(0) == "Coverting...") {
            ::kill(::getpid(), SIGTERM);
            return;
        }
        QTimer::singleShot(5, signal);
    };
    QTimer::singleShot(5, signal);
    const auto start = std::chrono::steady_clock::now();
    form_->Action("ActionConvert")->trigger();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(resultShown_);
    EXPECT_FALSE(form_->isVisible());
    auto& list = form_->JobList();
    EXPECT_EQ(list.RowCount(), 0); // the shutdown emptied the list
    // Cancelled with nothing there before: nothing is left.
    EXPECT_EQ(bwtest::FolderEntries(out_.Path().string()), std::vector<std::string>{});
    const bool asked = std::any_of(dialogs_.Shown.begin(), dialogs_.Shown.end(), [](const auto& s) {
        return s.Text == "Are you sure to stop the conversion of the current file?";
    });
    EXPECT_FALSE(asked);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(config_.File("bw.conf"))));
}

// The program itself, ended by SIGTERM and SIGINT as a logout or Ctrl-C would: it closes
// within two seconds, having written its settings.
TEST(ProgramSignals, TermAndIntCloseTheProgram) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        bwtest::TTempDir home;
        const std::string config = home.File("config/Halvorix/Brindlewave.conf");
        const std::string app = (bwtest::BuildDir() / "bin" / "brindlewave").string();
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("HOME", home.Path().c_str(), 1);
            setenv("XDG_CONFIG_HOME", home.File("config").c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl(app.c_str(), app.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // The first start writes the settings file; then the window is up.
        for (int i = 0; i < 1000 && !std::filesystem::exists(config); ++i)
            usleep(10000);
        ASSERT_TRUE(std::filesystem::exists(config));
        usleep(300000);
        std::filesystem::remove(config);
        ASSERT_EQ(::kill(pid, sig), 0);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 200 && done == 0; ++i) { // two seconds
            done = waitpid(pid, &status, WNOHANG);
            if (done == 0)
                usleep(10000);
        }
        if (done == 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "still running two seconds after the signal";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        // Written again at close.
        EXPECT_TRUE(std::filesystem::exists(config));
    }
}
