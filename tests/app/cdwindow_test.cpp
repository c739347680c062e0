// The CD side of the main window, driven as a user would: drives (disc images, and devices
// whose doors a stand-in moves), Add CD Tracks, the door watch, converting and playing the
// listed tracks.

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "audio/playerstream.h"
#include "shell/cdselection.h"
#include "shell/playeropen.h"
#include "shell/settingsstore.h"
#include "support/cddbserver.h"
#include "support/cdimages.h"
#include "support/cdstandin.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>
#include <map>

using namespace bw;

namespace {

using TDriveStandIn = bwtest::TCdStandIn;

class CdWindow : public ::testing::Test {
protected:
    std::unique_ptr<TForm1> Start(QStringList args = {}) {
        store_ = std::make_unique<TSettingsStore>(QString::fromStdString(config_.File("bw.conf")));
        auto form = std::make_unique<TForm1>(dialogs_, *store_, args, "prog", system_);
        form->AppSettings().OutputFolder = out_.Path().string() + "/";
        form->AppSettings().PlaySoundOp = false;
        // No test asks the real MusicBrainz service; the one that asks names a local one.
        form->AppSettings().LookUpMusicBrainz = false;
        return form;
    }
    static QString Q(const std::string& s) { return QString::fromStdString(s); }
    static QStringList Column(TJobListView& list, int column) {
        QStringList out;
        for (int i = 0; i < list.RowCount(); ++i)
            out << list.topLevelItem(i)->text(column);
        return out;
    }
    static void Drop(TForm1& form, const std::vector<std::string>& paths) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const auto& p : paths)
            urls << QUrl::fromLocalFile(Q(p));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
    }
    static void CloseResultWindowWhenShown(TForm1& form) {
        QTimer::singleShot(20, &form, [&form] {
            if (form.ResultWindow().isVisible())
                form.ResultWindow().reject();
            else
                CloseResultWindowWhenShown(form);
        });
    }
    static QComboBox& Drives(TForm1& form) { return *form.findChild<QComboBox*>("cmbDrives"); }
    static QCheckBox& SameAsSource(TForm1& form) { return *form.findChild<QCheckBox*>("CheckBoxSAS"); }

    bwtest::TTempDir media_, config_, out_;
    TDriveStandIn system_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
};

TEST_F(CdWindow, ImagesNamedDroppedOrChosenBecomeTheChosenDrive) {
    const auto cue = bwtest::MakeImage(media_.Path().string(), "first", {{0.4}});
    const auto toc = bwtest::MakeImage(media_.Path().string(), "second", {{0.4}}, {}, true);
    const auto third = bwtest::MakeImage(media_.Path().string(), "third", {{0.4}});
    const std::string broken = media_.File("broken.cue");
    bwtest::WriteAll(broken, {});
    system_.Devices = {"/dev/sr0"};

    auto form = Start({Q(cue.Sheet)});
    auto& drives = Drives(*form);
    EXPECT_EQ(drives.count(), 1);
    form->show();
    // Not refused as a song: a drive, chosen, and nothing in the list.
    ASSERT_EQ(drives.count(), 2);
    EXPECT_EQ(drives.itemText(0), "/dev/sr0: Vendor Model 0");
    EXPECT_EQ(drives.currentText().toStdString(), cue.Sheet + ": CD image");
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 1);
    EXPECT_EQ(form->JobList().RowCount(), 0);
    EXPECT_TRUE(dialogs_.Shown.empty());

    Drop(*form, {toc.Sheet});
    ASSERT_EQ(drives.count(), 3) << (dialogs_.Shown.empty() ? "" : dialogs_.Shown[0].Text);
    EXPECT_EQ(drives.currentIndex(), 2);
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 2);
    Drop(*form, {cue.Sheet}); // listed once, chosen again
    EXPECT_EQ(drives.count(), 3);
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 1);

    // A sheet that cannot be read says which and why, and changes no choice.
    Drop(*form, {broken});
    ASSERT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(dialogs_.Shown[0].Kind, TMessageKind::Error);
    EXPECT_NE(dialogs_.Shown[0].Text.find("\"" + broken + "\""), std::string::npos) << dialogs_.Shown[0].Text;
    EXPECT_NE(dialogs_.Shown[0].Text.find("names no data file"), std::string::npos) << dialogs_.Shown[0].Text;
    EXPECT_EQ(drives.count(), 3);
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 1);

    dialogs_.NextFiles = {third.Sheet};
    form->Action("ActionAddFiles")->trigger();
    ASSERT_EQ(dialogs_.LastFilters.size(), 12u);
    EXPECT_EQ(dialogs_.LastFilters[10], "CD images (*.cue *.toc)");
    EXPECT_EQ(dialogs_.LastFilters[11], "Other audio files (*.m4a *.mp4 *.aac *.opus *.aif *.aiff *.aifc *.tta *.dsf *.dff *.ac3 *.mka *.caf *.au *.w64 *.oga)");
    EXPECT_NE(dialogs_.LastFilters[0].find("*.cue *.toc *.m4a *.mp4 "), std::string::npos);
    EXPECT_EQ(drives.count(), 4);
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 3);
    EXPECT_EQ(form->JobList().RowCount(), 0);
}

TEST_F(CdWindow, AddCdTracksListsTheAudioTracksOfTheChosenDisc) {
    // A mixed-mode disc: data first, then a minute of audio and a short track.
    const auto image = bwtest::MakeImage(media_.Path().string(), "mixed", {{2.0, true}, {60.0}, {1.5}});
    auto form = Start({Q(image.Sheet)});
    form->show();
    std::vector<int> lookups;
    form->SetDiscLookup([&](int drive) { lookups.push_back(drive); });
    auto& list = form->JobList();
    auto& sas = SameAsSource(*form);
    sas.setChecked(true);
    form->Action("ActionAddCDtracks")->trigger();

    EXPECT_TRUE(dialogs_.Shown.empty());
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(Column(list, 0), (QStringList{"CD Track 2", "CD Track 3"}));
    EXPECT_EQ(Column(list, 1), (QStringList{"CD Track", "CD Track"}));
    EXPECT_EQ(Column(list, 2), (QStringList{"-", "-"}));
    EXPECT_EQ(list.topLevelItem(0)->text(3), "10.09 MB");
    EXPECT_EQ(Column(list, 4), (QStringList{"44100 Hz (Stereo)", "44100 Hz (Stereo)"}));
    EXPECT_EQ(Column(list, 5), (QStringList{"1411 kbit", "1411 kbit"}));
    EXPECT_EQ(list.CheckedCount(), 2);
    const TmyMusicFile& minute = *list.ItemAt(0);
    EXPECT_EQ(minute.FileSize, 10584000);
    EXPECT_EQ(minute.DurationMs, 59796);
    EXPECT_EQ(minute.Track, 2);
    EXPECT_EQ(minute.SourceType, TSourceType::CdTrack);
    EXPECT_EQ(minute.CdDrive, 0);
    EXPECT_EQ(minute.TableIndex, 0);
    EXPECT_EQ(list.ItemAt(1)->FileSize, static_cast<int64_t>(image.Pcm[2].size()));
    EXPECT_EQ(list.ItemAt(1)->TableIndex, 1);
    // The disc lookup had its turn with the chosen drive; "Same as source" is off and
    // locked, the field shows the output folder; the door watch runs.
    EXPECT_EQ(lookups, std::vector<int>{0});
    EXPECT_FALSE(sas.isChecked());
    EXPECT_FALSE(sas.isEnabled());
    EXPECT_EQ(form->findChild<QLineEdit*>("EditOutputFolder")->text().toStdString(), out_.Path().string() + "/");
    EXPECT_TRUE(form->CdTimer().isActive());

    // Declining to empty the list ends it there: no second set of rows.
    dialogs_.Answers = {TAnswer::Cancel};
    form->Action("ActionAddCDtracks")->trigger();
    ASSERT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(dialogs_.Shown[0].Text, "Are you sure to remove all items from list?");
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(lookups.size(), 1u);

    // Agreed, the disc is listed anew from slot 0; without the lookup setting, no lookup.
    form->AppSettings().TryLoadFreeDB = false;
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionAddCDtracks")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"CD Track 2", "CD Track 3"}));
    EXPECT_EQ(form->LastJobIndex(), 1);
    EXPECT_EQ(lookups.size(), 1u);

    // Removing every row through the job list ends the watch and gives "Same as source" back.
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionRemoveAll")->trigger();
    EXPECT_FALSE(form->CdTimer().isActive());
    EXPECT_TRUE(sas.isEnabled());
}

TEST_F(CdWindow, WithoutADiscOrADriveAddCdTracksWarns) {
    auto form = Start();
    form->show();
    EXPECT_EQ(Drives(*form).count(), 0);
    EXPECT_TRUE(form->CdSelection().NoCdDrive());
    form->Action("ActionAddCDtracks")->trigger();
    ASSERT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(dialogs_.Shown[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(dialogs_.Shown[0].Text, "No CD in CD drive \"\"!");
    EXPECT_EQ(form->JobList().RowCount(), 0);
    EXPECT_FALSE(form->CdTimer().isActive());
    EXPECT_TRUE(SameAsSource(*form).isEnabled());

    // A drive with nothing in it names itself.
    form.reset();
    system_.Devices = {"/dev/sr0"};
    auto second = Start();
    EXPECT_FALSE(second->CdSelection().NoCdDrive());
    second->Action("ActionAddCDtracks")->trigger();
    ASSERT_EQ(dialogs_.Shown.size(), 2u);
    EXPECT_EQ(dialogs_.Shown[1].Text, "No CD in CD drive \"/dev/sr0: Vendor Model 0\"!");
    EXPECT_FALSE(second->CdTimer().isActive());
}

TEST_F(CdWindow, OpeningTheListedDrivesDoorClearsTheList) {
    const auto a = bwtest::MakeImage(media_.Path().string(), "a", {{0.5}, {0.5}});
    const auto b = bwtest::MakeImage(media_.Path().string(), "b", {{0.5}});
    system_.Devices = {"/dev/sr0", "/dev/sr1"};
    system_.Discs = {{"/dev/sr0", a.Sheet}, {"/dev/sr1", b.Sheet}};
    auto form = Start();
    form->show();
    auto& list = form->JobList();
    form->Action("ActionAddCDtracks")->trigger();
    ASSERT_EQ(list.RowCount(), 2);

    // Another drive is chosen and its door opened with the button: the listed disc is still
    // there, so the list stays through several ticks.
    Drives(*form).setCurrentIndex(1);
    EXPECT_EQ(form->CdSelection().SelectedCdDrive(), 1);
    form->findChild<QPushButton*>("ButtonOpenClose")->click();
    EXPECT_EQ(system_.Calls, std::vector<std::string>{"open /dev/sr1"});
    QTest::qWait(2300);
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_TRUE(form->CdTimer().isActive());
    form->findChild<QPushButton*>("ButtonOpenClose")->click();
    EXPECT_EQ(system_.Calls.back(), "close /dev/sr1");

    // The listed disc is taken out: within a second the list empties, unasked.
    system_.Doors["/dev/sr0"] = TCdDoorState::Open;
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.RowCount() == 0; }, 1500));
    EXPECT_FALSE(form->CdTimer().isActive());
    EXPECT_TRUE(SameAsSource(*form).isEnabled());
    EXPECT_EQ(form->LastJobIndex(), -1);
    EXPECT_TRUE(dialogs_.Shown.empty());
}

TEST_F(CdWindow, ListedTracksConvertAndPlayFromTheDriveTheyCameFrom) {
    const auto a = bwtest::MakeImage(media_.Path().string(), "a", {{1.2}, {0.7}});
    const auto b = bwtest::MakeImage(media_.Path().string(), "b", {{2.0}, {2.0}});
    auto form = Start({Q(a.Sheet), Q(b.Sheet)});
    form->show();
    Drives(*form).setCurrentIndex(0);
    form->Action("ActionAddCDtracks")->trigger();
    auto& list = form->JobList();
    ASSERT_EQ(list.RowCount(), 2);
    // Choosing the other disc afterwards changes nothing for the rows listed.
    Drives(*form).setCurrentIndex(1);

    // The player plays a row from its own drive.
    ASSERT_TRUE(form->PlayerAvailable());
    TAudioError error = TAudioError::Unknown;
    std::string why;
    auto player = OpenPlayerStream(*list.ItemAt(1), form->CdSelection().Drives(), &error, &why);
    ASSERT_NE(player, nullptr) << why;
    EXPECT_EQ(error, TAudioError::Ok);
    EXPECT_EQ(player->Info().SampleRate, 44100);
    EXPECT_EQ(player->Info().Channels, 2);
    EXPECT_EQ(player->LengthBytes(), a.Pcm[1].size());
    ASSERT_TRUE(player->Play());
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->State() == TPlayState::Stopped; }, 5000));
    EXPECT_EQ(player->Position(), a.Pcm[1].size());
    player.reset();

    form->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(4); // FLAC
    ASSERT_EQ(form->findChild<QComboBox*>("ComboBoxType")->currentText(), "FLAC");
    CloseResultWindowWhenShown(*form);
    form->Action("ActionConvert")->trigger();
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(list.Status(row), "Done");
        const std::string target = list.ItemAt(row)->TargetPath;
        EXPECT_EQ(target, out_.File("CD Track " + std::to_string(row + 1) + ".flac"));
        EXPECT_EQ(bwtest::FfmpegDecode(target), a.Pcm[static_cast<size_t>(row)]);
    }
}

} // namespace

// With the lookup on, "Add CD Tracks" shows the lookup window, which asks the disc database
// (a loopback server here) and closes on its own; the rows arrive named by the pattern and
// tagged. A server that does not answer: the window closes and the names stay plain.
TEST_F(CdWindow, TheLookupWindowNamesTheTracks) {
    const auto image = bwtest::MakeImage(media_.Path().string(), "disc", {{1.0}, {1.2}});
    auto form = Start({Q(image.Sheet)});
    form->show();
    form->AppSettings().TryLoadFreeDB = true;
    form->AppSettings().Timeout = 3;
    bwtest::TCddbServer server([](const std::string& target) {
        if (target.starts_with("/ws/2/discid/")) { // three releases carry the disc
            const QString disc = QString::fromStdString(target.substr(13, target.find('?') - 13));
            QStringList releases;
            for (int i = 1; i <= 3; ++i)
                releases << QStringLiteral(R"({"id":"r%1","title":"Album %1","date":"200%1","artist-credit":[{"name":"Band"}],)"
                                           R"("media":[{"format":"CD","discs":[{"id":"%2"}],"tracks":[{"title":"One"},{"title":"Two"}]}]})").arg(i).arg(disc);
            return bwtest::TCddbReply{bwtest::TCddbReply::TMode::Answer, 200, ("{\"releases\":[" + releases.join(',') + "]}").toUtf8()};
        }
        if (target.find("cddb+query") != std::string::npos)
            return bwtest::TCddbReply{bwtest::TCddbReply::TMode::Answer, 200,
                                      bwtest::CddbLines({"200 rock 0b01c402 AC/DC / Back in Black"})};
        return bwtest::TCddbReply{
            bwtest::TCddbReply::TMode::Answer, 200,
            bwtest::CddbLines({"210 rock 0b01c402 CD database entry follows", "# xmcd", "#",
                               "# Track frame offsets:", "#\t150", "#\t225", "#",
                               "# Disc length: 4 seconds", "#", "# Revision: 1", "DISCID=0b01c402",
                               "DTITLE=AC/DC / Back in Black", "DYEAR=1980", "DGENRE=Rock",
                               "TTITLE0=Hells Bells", "TTITLE1=Shoot to Thrill", "EXTD=",
                               "EXTT0=", "EXTT1=", "PLAYORDER=", "."})};
    });
    form->AppSettings().FreeDBServer = server.Address();
    form->Action("ActionAddCDtracks")->trigger();
    auto& list = form->JobList();
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(Column(list, 0), (QStringList{"01 AC_DC Hells Bells", "02 AC_DC Shoot to Thrill"}));
    const TmyMusicFile& first = *list.ItemAt(0);
    EXPECT_EQ(first.Artist, "AC/DC");
    EXPECT_EQ(first.Album, "Back in Black");
    EXPECT_EQ(first.Title, "Hells Bells");
    EXPECT_EQ(first.Year, "1980");
    EXPECT_EQ(first.GenreIndex, 17); // "Rock"
    auto* memo = form->findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->toPlainText().contains("Entry read")) << memo->toPlainText().toStdString();

    // Nobody answers: the window closes at its deadline, the rows keep their plain names,
    // and the status lines of both lookups stay in the window.
    bwtest::TCddbServer silent([](const std::string&) {
        return bwtest::TCddbReply{bwtest::TCddbReply::TMode::Hang, 200, {}};
    });
    form->AppSettings().FreeDBServer = silent.Address();
    form->AppSettings().Timeout = 2;
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionAddCDtracks")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"CD Track 1", "CD Track 2"}));
    EXPECT_TRUE(memo->toPlainText().contains("Entry read"));
    EXPECT_GE(memo->toPlainText().count("Querying CD"), 2);

    // MusicBrainz first: its releases are offered in the "Choose the release" dialog. Cancel
    // goes on to the freedb database, which is said; a release chosen names the rows.
    form->AppSettings().LookUpMusicBrainz = true;
    form->AppSettings().MusicBrainzServer = "http://" + server.Address();
    dialogs_.Shown.clear();
    dialogs_.Answers = {TAnswer::Ok}, dialogs_.NextLine = std::nullopt;
    form->Action("ActionAddCDtracks")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"CD Track 1", "CD Track 2"}));
    EXPECT_TRUE(memo->toPlainText().contains("No MusicBrainz release was chosen (3 carry the disc); looking the disc up in the freedb database"));
    ASSERT_EQ(dialogs_.Shown.size(), 4u); // clearing the list, then the three lines
    EXPECT_EQ(dialogs_.Shown[2].Caption + ": " + dialogs_.Shown[2].Text, "Choose the release: Band - Album 2 (2002, CD, medium 1 of 1)");
    dialogs_.Answers = {TAnswer::Ok}, dialogs_.NextLine = 1;
    form->Action("ActionAddCDtracks")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"01 Band One", "02 Band Two"}));
    EXPECT_EQ(list.ItemAt(0)->Album, "Album 2");
}
