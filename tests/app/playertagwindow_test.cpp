// The media player's controls and the tag editor in the main window, driven as a user would.

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/tagform.h"
#include "shell/player.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDial>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <gtest/gtest.h>

using namespace bw;

namespace {

class PlayerTagWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string wav = media_.File("tone.wav");
        bwtest::MakeTone(wav, 3.0);
        bwtest::RunOk({"lame", "--quiet", "--tt", "Song", "--tg", "Rock", "--tn", "4", wav, media_.File("a.mp3")});
        bwtest::RunOk({"flac", "-s", "-T", "GENRE=Chiptune", wav, "-o", media_.File("b.flac")});
        store_ = std::make_unique<TSettingsStore>(QString::fromStdString(config_.File("bw.conf")));
        form_ = std::make_unique<TForm1>(dialogs_, *store_, QStringList{}, "prog");
        ASSERT_TRUE(form_->PlayerAvailable());
        form_->AddFileToList(QString::fromStdString(media_.File("a.mp3")));
        form_->AddFileToList(QString::fromStdString(media_.File("b.flac")));
        ASSERT_EQ(form_->JobList().RowCount(), 2);
    }
    void Select(int row) {
        auto& list = form_->JobList();
        list.clearSelection();
        list.setCurrentItem(list.topLevelItem(row));
        list.topLevelItem(row)->setSelected(true);
    }
    QString Panel(int i) {
        return form_->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text();
    }
    // Runs check inside the tag editor once it shows, then triggers Ctrl+T's action.
    bool EditTag(const std::function<void(TTAGForm&)>& check) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            TTAGForm& f = form_->TagForm();
            shown = f.isVisible();
            check(f);
            if (f.isVisible())
                f.reject();
        });
        form_->Action("ActionEditTAG")->trigger();
        QApplication::processEvents(); // a timer left over when nothing showed
        return shown;
    }

    bwtest::TTempDir media_;
    bwtest::TTempDir config_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(PlayerTagWindow, PlayerControls) {
    auto* knob = form_->findChild<QDial*>(QStringLiteral("VolumeKnob"));
    auto* bar = form_->findChild<QSlider*>(QStringLiteral("PositionBar"));
    form_->JobList().clearSelection();
    form_->Action("ActionPlay")->trigger();
    EXPECT_FALSE(form_->Player().HasStream());

    Select(0);
    form_->Action("ActionPlay")->trigger();
    ASSERT_TRUE(form_->Player().HasStream());
    EXPECT_EQ(bar->maximum(), static_cast<int>(form_->Player().Stream()->LengthBytes()));
    QTest::qWait(700);
    EXPECT_EQ(Panel(3), " Media Player: Playing");
    EXPECT_GT(bar->value(), 0);

    // Next moves the selection; next on the last row does nothing.
    form_->Action("ActionNextPlay")->trigger();
    EXPECT_EQ(form_->JobList().indexOfTopLevelItem(form_->JobList().currentItem()), 1);
    EXPECT_EQ(form_->Player().PlayerJob().SourcePath, media_.File("b.flac"));
    form_->Action("ActionNextPlay")->trigger();
    EXPECT_EQ(form_->JobList().indexOfTopLevelItem(form_->JobList().currentItem()), 1);
    form_->Action("ActionPrevPlay")->trigger();
    EXPECT_EQ(form_->JobList().indexOfTopLevelItem(form_->JobList().currentItem()), 0);
    EXPECT_EQ(form_->Player().PlayerJob().SourcePath, media_.File("a.mp3"));

    // The user drags the bar: the stream follows; the timer's own moves never seek.
    const int target = bar->maximum() * 3 / 4;
    bar->setValue(target);
    EXPECT_NEAR(form_->Player().BarPosition(), target, 4);

    knob->setValue(95);
    form_->Action("ActionVolumeUp")->trigger();
    EXPECT_EQ(knob->value(), 100);
    EXPECT_EQ(form_->Player().Stream()->Volume(), 100);
    knob->setValue(5);
    form_->Action("ActionVolumeDown")->trigger();
    EXPECT_EQ(knob->value(), 0);
    EXPECT_EQ(form_->Player().Stream()->Volume(), 0);

    form_->Action("ActionPause")->trigger();
    QTest::qWait(600);
    EXPECT_EQ(Panel(3), " Media Player: Paused");
    form_->Action("ActionStop")->trigger();
    QTest::qWait(600);
    EXPECT_EQ(Panel(3), " Media Player: Stopped");
    EXPECT_EQ(bar->value(), 0);
}

// From the list, Tab reaches the player's buttons in their order on screen, then its
// position bar and its volume knob.
TEST_F(PlayerTagWindow, TabReachesThePlayerControls) {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    auto* bar = form_->findChild<QToolBar*>(QStringLiteral("PlayerToolBar"));
    QList<QWidget*> expected;
    for (const char* name : {"ActionPrevPlay", "ActionNextPlay", "ActionPlay", "ActionStop", "ActionPause"})
        expected << bar->widgetForAction(form_->Action(name));
    expected << form_->findChild<QSlider*>(QStringLiteral("PositionBar"))
             << form_->findChild<QDial*>(QStringLiteral("VolumeKnob"));
    QList<QWidget*> reached; // once round the window
    QWidget* w = &form_->JobList();
    for (w->setFocus(); w && !reached.contains(w); w = QApplication::focusWidget()) {
        reached << w;
        QTest::keyClick(w, Qt::Key_Tab);
    }
    reached.removeIf([&](QWidget* w) { return !expected.contains(w); });
    EXPECT_EQ(reached, expected);
}

TEST_F(PlayerTagWindow, TagEditor) {
    form_->JobList().clearSelection();
    form_->JobList().setCurrentItem(nullptr);
    EXPECT_FALSE(EditTag([](TTAGForm&) {}));

    Select(0);
    EXPECT_TRUE(EditTag([&](TTAGForm& f) {
        EXPECT_EQ(f.windowTitle(), "Edit TAG Information");
        EXPECT_EQ(f.GenreComboBox()->currentIndex(), 17);
        EXPECT_EQ(f.TitleEdit()->text(), "Song");
        EXPECT_EQ(f.TrackEdit()->text(), "4");
        EXPECT_TRUE(f.TrackEdit()->isEnabled());
        EXPECT_TRUE(f.InfoText(2).endsWith(" MB"));
        EXPECT_TRUE(f.InfoText(3).endsWith(" Hz"));
        EXPECT_TRUE(f.InfoText(5).endsWith(" kbit"));
        // Only digits are typed; Enter moves on, and 300 becomes 255 on leaving.
        f.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&f));
        f.TrackEdit()->setFocus();
        f.TrackEdit()->clear();
        QTest::keyClicks(f.TrackEdit(), "3a0 0-");
        EXPECT_EQ(f.TrackEdit()->text(), "300");
        QTest::keyClick(f.TrackEdit(), Qt::Key_Return);
        EXPECT_EQ(f.TrackEdit()->text(), "255");
        EXPECT_TRUE(f.CommentEdit()->hasFocus());
        EXPECT_TRUE(f.isVisible());
        f.TitleEdit()->setText(QStringLiteral("Ночь"));
        f.GenreComboBox()->setCurrentIndex(-1);
        f.OkButton()->click();
        EXPECT_FALSE(f.isVisible());
    }));
    TmyMusicFile* item = form_->JobList().ItemAt(0);
    EXPECT_EQ(item->Title, "Ночь");
    EXPECT_EQ(item->Track, 255);
    EXPECT_EQ(item->GenreIndex, 255);
    EXPECT_EQ(item->Genre, "");
    EXPECT_EQ(form_->JobList().topLevelItem(0)->text(7), QStringLiteral("Ночь"));
    EXPECT_EQ(form_->JobList().topLevelItem(0)->text(12), QStringLiteral("255"));

    // An empty track: the error is shown, the window stays open with the fields before the
    // track already stored.
    Select(1);
    EXPECT_TRUE(EditTag([&](TTAGForm& f) {
        EXPECT_EQ(f.GenreComboBox()->currentIndex(), -1); // "Chiptune" is not in the list
        f.ArtistEdit()->setText(QStringLiteral("Someone"));
        f.TrackEdit()->clear();
        f.OkButton()->click();
        EXPECT_TRUE(f.isVisible());
    }));
    ASSERT_FALSE(dialogs_.Shown.empty());
    EXPECT_EQ(dialogs_.Shown.back().Text, "'' is not a valid integer value");
    EXPECT_EQ(form_->JobList().ItemAt(1)->Artist, "Someone");

    // A CD track row: the track field is off for it, and on again for the next file.
    TmyMusicFile cd;
    cd.SourceType = TSourceType::CdTrack;
    cd.TypeName = "CD Track";
    cd.Track = 2;
    cd.Title = "Intro";
    cd.SourcePath = "Track 2";
    form_->JobList().AppendItem(cd);
    Select(2);
    EXPECT_TRUE(EditTag([&](TTAGForm& f) {
        EXPECT_FALSE(f.TrackEdit()->isEnabled());
        f.TitleEdit()->setText(QStringLiteral("Opening"));
        f.OkButton()->click();
    }));
    EXPECT_TRUE(form_->TagForm().TrackEdit()->isEnabled());
    // Renamed from its new title by the naming pattern.
    EXPECT_NE(form_->JobList().ItemAt(2)->SourcePath.find("Opening"), std::string::npos)
        << form_->JobList().ItemAt(2)->SourcePath;
    EXPECT_TRUE(form_->JobList().topLevelItem(2)->text(0).contains(QStringLiteral("Opening")));
}

} // namespace
