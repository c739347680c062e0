// The job list, output naming and the settings dialog, driven as a user would.

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "app/settings1.h"
#include "core/genrelist.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <gtest/gtest.h>

using namespace bw;

namespace {

class JobListWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        media_ = new bwtest::TTempDir;
        const std::string wav = media_->File("tone.wav");
        bwtest::MakeTone(wav, 1.0);
        bwtest::RunOk({"lame", "--quiet", "--tt", "Song", "--ta", "Ann", "--tn", "4", wav, media_->File("SONG.MP3")});
        bwtest::RunOk({"oggenc", "-Q", "-t", "Wave", wav, "-o", media_->File("wave.ogg")});
        bwtest::RunOk({"flac", "-s", wav, "-o", media_->File("lossless.flac")});
        bwtest::WriteAll(media_->File("song.aac"), std::vector<std::byte>(100, std::byte{1}));
        bwtest::WriteAll(media_->File("notes.txt"), std::vector<std::byte>(10, std::byte{'a'}));
        std::filesystem::create_directory(media_->File("sub"));
        std::filesystem::copy_file(media_->File("SONG.MP3"), media_->File("sub/deep.mp3"));
        bwtest::WriteAll(media_->File("sub/broken.flac"), std::vector<std::byte>(64, std::byte{'X'}));
    }
    static void TearDownTestSuite() { delete media_; }

    std::unique_ptr<TForm1> Start(QStringList args = {}) {
        store_ = std::make_unique<TSettingsStore>(QString::fromStdString(config_.File("bw.conf")));
        auto form = std::make_unique<TForm1>(dialogs_, *store_, args, "prog");
        return form;
    }
    static QString Media(const char* name) { return QString::fromStdString(media_->File(name)); }
    static QStringList Column(TJobListView& list, int column) {
        QStringList out;
        for (int i = 0; i < list.RowCount(); ++i)
            out << list.topLevelItem(i)->text(column);
        return out;
    }

    static bwtest::TTempDir* media_;
    bwtest::TTempDir config_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
};
bwtest::TTempDir* JobListWindow::media_ = nullptr;

TmyMusicFile CdTrack(int track, const std::string& title) {
    TmyMusicFile t;
    t.SourceType = TSourceType::CdTrack;
    t.TypeName = "CD Track";
    t.Track = static_cast<uint8_t>(track);
    t.Title = title;
    t.Artist = "Band";
    t.SourcePath = "Track" + std::to_string(track);
    return t;
}

} // namespace

TEST_F(JobListWindow, ArgumentsAreAddedAtFirstShowAndUnsupportedOnesIgnored) {
    // A path relative to where the program starts is listed in full.
    const auto relative = std::filesystem::relative(std::filesystem::canonical(media_->File("wave.ogg")));
    auto form = Start({Media("SONG.MP3"), Media("song.aac"), QString::fromStdString(relative.string())});
    EXPECT_EQ(form->JobList().RowCount(), 0); // not before the window shows
    form->show();
    auto& list = form->JobList();
    ASSERT_EQ(list.RowCount(), 2);
    EXPECT_EQ(Column(list, 0), (QStringList{"SONG.MP3", "wave.ogg"}));
    EXPECT_EQ(list.ItemAt(1)->SourcePath, std::filesystem::canonical(media_->File("wave.ogg")).string());
    EXPECT_EQ(Column(list, 1), (QStringList{"MP3", "OGG"}));
    EXPECT_EQ(Column(list, 2), (QStringList{"-", "-"}));
    EXPECT_EQ(list.topLevelItem(0)->text(7), "Song");
    EXPECT_EQ(list.topLevelItem(0)->text(12), "4");
    EXPECT_EQ(list.topLevelItem(0)->text(4), "44100 Hz (Joint Stereo)");
    EXPECT_TRUE(list.IsChecked(0) && list.IsChecked(1));
    EXPECT_TRUE(dialogs_.Shown.empty()); // nothing said about the .aac file
    QTest::qWait(600);
    EXPECT_EQ(form->findChild<QLabel*>("StatusPanel1")->text(), " 2 file(s)");
    EXPECT_EQ(form->findChild<QLabel*>("StatusPanel2")->text(), " 2 selected");
}

TEST_F(JobListWindow, AddFilesDialogAndFolderWithoutSubFolders) {
    auto form = Start();
    dialogs_.NextFiles = {media_->File("lossless.flac"), media_->File("notes.txt"), media_->File("lossless.flac")};
    form->Action("ActionAddFiles")->trigger();
    ASSERT_GE(dialogs_.LastFilters.size(), 10u);
    EXPECT_EQ(dialogs_.Shown.back().Caption, "Select one or more file(s)");
    EXPECT_EQ(dialogs_.LastFilters[2], "WAV files (*.wav)");
    EXPECT_EQ(dialogs_.LastFilters[9], "CD tracks (*.cda)");
    auto& list = form->JobList();
    EXPECT_EQ(list.RowCount(), 2); // the same file twice gives two rows
    EXPECT_NE(list.ItemAt(0), list.ItemAt(1));
    EXPECT_EQ(list.ItemAt(1)->TableIndex, 1);

    dialogs_.NextFolder = media_->Path().string();
    form->Action("ActionAddFolder")->trigger();
    EXPECT_EQ(dialogs_.Shown.back().Caption, "Please select the source folder");
    EXPECT_EQ(form->AppSettings().SourceFolder, media_->Path().string() + "/");
    QStringList names = Column(list, 0).mid(2);
    names.sort();
    // tone.wav, the MP3, the Ogg and the FLAC; not the text file, nor sub/deep.mp3.
    EXPECT_EQ(names, (QStringList{"SONG.MP3", "lossless.flac", "tone.wav", "wave.ogg"}));

    // A cancelled picker changes nothing.
    form->Action("ActionAddFolder")->trigger();
    EXPECT_EQ(list.RowCount(), 6);
}

// With sub-folders on, Add Folder and a dropped folder take every audio file below the
// folder: a folder's files in name order, then its sub-folders; each row knows the folder
// it came with, for outputs that keep the structure.
TEST_F(JobListWindow, FolderWithSubFolders) {
    auto form = Start();
    form->show();
    form->AppSettings().AddSubFolders = true;
    dialogs_.NextFolder = media_->Path().string();
    form->Action("ActionAddFolder")->trigger();
    auto& list = form->JobList();
    EXPECT_EQ(Column(list, 0), (QStringList{"SONG.MP3", "lossless.flac", "tone.wav", "wave.ogg", "deep.mp3"}));
    for (int i = 0; i < list.RowCount(); ++i)
        EXPECT_EQ(list.ItemAt(i)->AddedFrom, media_->Path().string());
    // What is audio by its name but cannot be taken is listed in the result window.
    form->ResultWindow().Prepare({}, false, false, list.Skipped());
    const auto* skipped = form->ResultWindow().findChild<QTreeWidget*>("SkippedList")->topLevelItem(0);
    EXPECT_EQ(skipped->text(0) + " | " + skipped->text(1), Media("sub/broken.flac") + " | not a supported audio file");

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(media_->File("sub")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    ASSERT_EQ(list.RowCount(), 6);
    EXPECT_EQ(list.ItemAt(5)->SourcePath, media_->File("sub/deep.mp3"));
    EXPECT_EQ(list.ItemAt(5)->AddedFrom, media_->File("sub"));
}

TEST_F(JobListWindow, DroppedFilesAreAdded) {
    auto form = Start();
    form->show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Media("wave.ogg")), QUrl::fromLocalFile(Media("song.aac")),
                  QUrl::fromLocalFile(Media("SONG.MP3"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &drop);
    EXPECT_EQ(Column(form->JobList(), 0), (QStringList{"wave.ogg", "SONG.MP3"}));
}

TEST_F(JobListWindow, MoveRemoveCheckAndInvert) {
    auto form = Start();
    auto& list = form->JobList();
    for (const char* f : {"SONG.MP3", "wave.ogg", "lossless.flac"})
        ASSERT_TRUE(form->AddFileToList(Media(f)));
    list.setCurrentItem(list.topLevelItem(0));
    list.SetChecked(0, false);
    form->Action("ActionMoveUp")->trigger(); // the first row cannot go up
    EXPECT_EQ(Column(list, 0), (QStringList{"SONG.MP3", "wave.ogg", "lossless.flac"}));
    form->Action("ActionMoveDown")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"wave.ogg", "SONG.MP3", "lossless.flac"}));
    EXPECT_FALSE(list.IsChecked(1)); // the check mark went with the row
    EXPECT_EQ(list.currentItem(), list.topLevelItem(1)); // and so did the selection
    EXPECT_EQ(list.ItemAt(1)->Title, "Song");
    form->Action("ActionMoveDown")->trigger();
    form->Action("ActionMoveDown")->trigger(); // the last row cannot go down
    EXPECT_EQ(Column(list, 0), (QStringList{"wave.ogg", "lossless.flac", "SONG.MP3"}));

    form->Action("ActionInvertAll")->trigger();
    EXPECT_EQ(list.CheckedCount(), 1);
    EXPECT_TRUE(list.IsChecked(2));
    form->Action("ActionCheckAll")->trigger();
    EXPECT_EQ(list.CheckedCount(), 3);
    form->Action("ActionUncheckAll")->trigger();
    EXPECT_EQ(list.CheckedCount(), 0);

    form->Action("ActionRemove")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"wave.ogg", "lossless.flac"}));
    EXPECT_EQ(form->LastJobIndex(), 2); // removing a row frees no slot

    // Remove All asks; Cancel keeps the list, OK empties it and numbering starts again.
    dialogs_.Answers = {TAnswer::Cancel};
    form->Action("ActionRemoveAll")->trigger();
    EXPECT_EQ(dialogs_.Shown.back().Text, "Are you sure to remove all items from list?");
    EXPECT_EQ(list.RowCount(), 2);
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionRemoveAll")->trigger();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(form->LastJobIndex(), -1);
    const size_t asked = dialogs_.Shown.size();
    form->Action("ActionRemoveAll")->trigger(); // an empty list: no question
    form->Action("ActionInvertAll")->trigger();
    EXPECT_EQ(dialogs_.Shown.size(), asked);
}

TEST_F(JobListWindow, CdTracksAreClearedOnlyWithConsent) {
    auto form = Start();
    auto& list = form->JobList();
    list.AppendItem(CdTrack(1, "One"));
    list.AppendItem(CdTrack(2, "Two"));
    auto* sas = form->findChild<QCheckBox*>("CheckBoxSAS");
    sas->setEnabled(false); // as while CD tracks are listed
    dialogs_.Answers = {TAnswer::Cancel};
    dialogs_.NextFiles = {media_->File("SONG.MP3")};
    form->Action("ActionAddFiles")->trigger();
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(dialogs_.Shown.back().Text, "Are you sure to remove all items from list?");
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionAddFiles")->trigger();
    EXPECT_EQ(Column(list, 0), (QStringList{"SONG.MP3"}));
    EXPECT_TRUE(sas->isEnabled());
}

TEST_F(JobListWindow, OutputFolderAndSameAsSource) {
    auto form = Start();
    auto* field = form->findChild<QLineEdit*>("EditOutputFolder");
    auto* sas = form->findChild<QCheckBox*>("CheckBoxSAS");
    sas->click();
    EXPECT_EQ(field->text(), "same folder as source");
    dialogs_.NextFolder = config_.Path().string();
    form->Action("ActionSelectOutput")->trigger();
    EXPECT_EQ(dialogs_.Shown.back().Caption, "Please select the destination folder");
    EXPECT_EQ(form->AppSettings().OutputFolder, config_.Path().string() + "/");
    EXPECT_FALSE(sas->isChecked()); // choosing a folder unchecks it
    EXPECT_EQ(field->text().toStdString(), config_.Path().string() + "/");
    sas->click();
    sas->click(); // unchecking shows the last chosen folder again
    EXPECT_EQ(field->text().toStdString(), config_.Path().string() + "/");
    form->Action("ActionSelectOutput")->trigger(); // cancelled: unchanged
    EXPECT_EQ(form->AppSettings().OutputFolder, config_.Path().string() + "/");
}

TEST_F(JobListWindow, SettingsDialogOkCancelPatternAndPreview) {
    auto form = Start();
    form->show();
    auto& dialog = form->SettingsDialog();
    auto* pattern = dialog.findChild<QListWidget*>("PatternList");
    auto* preview = dialog.findChild<QLabel*>("PreviewLine");
    auto* separator = dialog.findChild<QComboBox*>("ComboSeparator");
    ASSERT_TRUE(pattern && preview && separator);
    EXPECT_EQ(preview->text(), "Artist/Album/01 Artist Title.mp3");
    EXPECT_EQ(separator->currentText(), "(space)");

    // Reorder, change the separator, try to uncheck Title, then Cancel.
    QTimer::singleShot(0, [&] {
        pattern->setCurrentRow(0);
        dialog.findChild<QPushButton*>("ButtonUp")->click(); // first: nothing moves
        EXPECT_EQ(pattern->item(0)->text(), "Track number 1");
        pattern->setCurrentRow(3); // Title
        dialog.findChild<QPushButton*>("ButtonUp")->click();
        EXPECT_EQ(pattern->item(2)->text(), "Title");
        EXPECT_EQ(pattern->currentRow(), 2);
        pattern->item(2)->setCheckState(Qt::Unchecked);
        EXPECT_EQ(pattern->item(2)->checkState(), Qt::Checked); // Title cannot stay off
        separator->setCurrentIndex(2);
        EXPECT_EQ(preview->text(), "Artist/Album/01-Title-Artist.mp3");
        dialog.reject();
    });
    form->Action("ActionSettings")->trigger();
    EXPECT_EQ(form->AppSettings().fstr[3], "Title");
    EXPECT_EQ(form->AppSettings().Separator, 1);

    // The next opening shows the stored order again; OK takes the changes and renames CD rows.
    auto& list = form->JobList();
    list.AppendItem(CdTrack(7, "Blue"));
    QTimer::singleShot(0, [&] {
        EXPECT_EQ(pattern->item(3)->text(), "Title");
        pattern->item(2)->setCheckState(Qt::Unchecked); // Artist off
        separator->setCurrentIndex(0);
        dialog.findChild<QCheckBox*>("CheckCreateAlbum")->click();
        EXPECT_EQ(preview->text(), "Artist/01Title.mp3");
        dialog.findChild<QCheckBox*>("CheckConfirmOverwrite")->setChecked(false);
        dialog.accept();
    });
    form->Action("ActionSettings")->trigger();
    const TAppSettings& s = form->AppSettings();
    EXPECT_EQ(s.Separator, 0);
    EXPECT_FALSE(s.fint[2]);
    EXPECT_FALSE(s.CreateAlbum);
    EXPECT_TRUE(s.OverwriteWithoutAsking);
    EXPECT_EQ(list.ItemAt(0)->SourcePath, "07Blue");
    EXPECT_EQ(list.topLevelItem(0)->text(0), "07Blue");
}

TEST_F(JobListWindow, FilePropertiesShowsTheFile) {
    auto form = Start();
    ASSERT_TRUE(form->AddFileToList(Media("lossless.flac")));
    form->JobList().setCurrentItem(form->JobList().topLevelItem(0));
    form->Action("ActionFileProperties")->trigger();
    // Without a file manager on the session bus our own window shows the file.
    auto* info = form->findChild<QDialog*>("FileInfoDialog");
    if (!info)
        GTEST_SKIP() << "a file manager answered on the session bus";
    EXPECT_TRUE(info->isVisible());
    EXPECT_TRUE(info->windowTitle().startsWith("lossless.flac"));
    info->close();
}

namespace {

// WCAG relative luminance and contrast ratio of two colours.
double Luminance(QRgb c) {
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double Contrast(QRgb a, QRgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What a part of an image looks like: its background (the commonest colour), the pixels of
// its text or picture (those that stand out from the background at all) and the best
// contrast any of them has with the background.
struct TCellLook {
    QRgb Background = 0;
    int InkPixels = 0;
    double BestContrast = 1;
};

TCellLook LookOf(const QImage& image, const QRect& cell) {
    std::map<QRgb, int> counts;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            ++counts[image.pixel(x, y)];
    TCellLook look;
    look.Background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                          return a.second < b.second;
                      })->first;
    for (const auto& [colour, n] : counts) {
        const double c = Contrast(colour, look.Background);
        look.BestContrast = std::max(look.BestContrast, c);
        if (c >= 1.5)
            look.InkPixels += n;
    }
    return look;
}

TCellLook LookOfCell(TJobListView& list, int row, int column) {
    const QImage image = list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect r = list.visualItemRect(list.topLevelItem(row));
    // Inside the cell, clear of the grid lines.
    return LookOf(image, QRect(list.columnViewportPosition(column) + 3, r.top() + 2, list.columnWidth(column) - 6,
                               r.height() - 4));
}

// An icon as it shows on a button: drawn over the window's colour.
TCellLook LookOfIcon(const QIcon& icon, const QColor& window) {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(window);
    QPainter(&image).drawPixmap(16, 16, icon.pixmap(16));
    return LookOf(image, image.rect());
}

} // namespace

TEST_F(JobListWindow, SelectedRowReadsClearlyWhetherTheWindowIsActiveOrNot) {
    auto form = Start();
    auto& list = form->JobList();
    ASSERT_TRUE(form->AddFileToList(Media("SONG.MP3")));
    ASSERT_TRUE(form->AddFileToList(Media("wave.ogg")));
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

    // The Type cell of the first row ("MP3"), unselected, is the yardstick.
    const TCellLook plain = LookOfCell(list, 0, 1);
    ASSERT_GE(plain.BestContrast, 4.5);
    ASSERT_GT(plain.InkPixels, 20);

    list.setFocus();
    list.setCurrentItem(list.topLevelItem(0));
    ASSERT_TRUE(list.topLevelItem(0)->isSelected());
    // Selected: another background, and the same text still standing out from it. (The
    // Fusion style's own highlight gives white text 3.7:1.)
    auto expectReadable = [&](const TCellLook& look, const char* state) {
        EXPECT_NE(look.Background, plain.Background) << state << ": the row does not look selected";
        EXPECT_GE(look.BestContrast, 3.0) << state;
        EXPECT_GE(look.InkPixels, plain.InkPixels * 3 / 4) << state;
    };
    expectReadable(LookOfCell(list, 0, 1), "active window");

    QWidget other;
    other.resize(200, 100);
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_FALSE(form->isActiveWindow());
    expectReadable(LookOfCell(list, 0, 1), "inactive window");
}

// The grid line takes each row's last pixel line; it must never cover a glyph: an
// underscore, the descenders of g and y, the marks above Ё and Å.
TEST_F(JobListWindow, RowsShowEveryGlyphAboveTheGridLine) {
    auto form = Start();
    auto& list = form->JobList();
    const QStringList glyphs{"___", "ggg", "yyy", QString::fromUtf8("ЁЁЁ"), QString::fromUtf8("ÅÅÅ")};
    for (const QString& g : glyphs) {
        TmyMusicFile item;
        item.TypeName = g.toStdString();
        list.AppendItem(item);
    }
    form->show();
    const QImage shot = list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QFontMetrics fm(list.font());
    for (int row = 0; row < glyphs.size(); ++row) {
        // The glyphs as QPainter draws them in an image of the font's full height.
        QImage alone(fm.horizontalAdvance(glyphs[row]) + 4, fm.ascent() + fm.descent(), QImage::Format_RGB32);
        alone.fill(list.palette().color(QPalette::Base));
        QPainter painter(&alone);
        painter.setFont(list.font());
        painter.drawText(2, fm.ascent(), glyphs[row]);
        painter.end();
        const QRect r = list.visualItemRect(list.topLevelItem(row));
        const QRect aboveGrid(list.columnViewportPosition(1) + 1, r.top(), list.columnWidth(1) - 3, r.height() - 1);
        EXPECT_GE(LookOf(shot, aboveGrid).InkPixels, LookOf(alone, alone.rect()).InkPixels) << glyphs[row].toStdString();
    }
}

// Check All and Uncheck All beside the list stand out from the window at least as well as
// the other side buttons do, not pale as if disabled.
TEST_F(JobListWindow, CheckIconsHaveTheOtherSideButtonsContrast) {
    auto form = Start();
    const QColor window = form->palette().color(QPalette::Window);
    double weakestOther = 21;
    for (const char* other : {"ActionMoveUp", "ActionMoveDown", "ActionEditTAG", "ActionRemove", "ActionRemoveAll"})
        weakestOther = std::min(weakestOther, LookOfIcon(form->Action(other)->icon(), window).BestContrast);
    for (const char* name : {"ActionCheckAll", "ActionUncheckAll"})
        EXPECT_GE(LookOfIcon(form->Action(name)->icon(), window).BestContrast, weakestOther) << name;
}

TEST_F(JobListWindow, EveryColumnFitsTheLongestTextItCanShow) {
    auto form = Start();
    auto& list = form->JobList();
    // Rows holding the widest real value of every column whose texts are not free: the
    // channel modes the readers name, MPEG's top rate and VBR rate, the longest genre
    // name, the longest type name, track 255, the longest length a job item can hold.
    TmyMusicFile mp3;
    mp3.SourcePath = "/music/a.mp3";
    mp3.TypeName = "MP3";
    mp3.SampleRate = 48000;
    mp3.Bitrate = 448000;
    mp3.IsVbr = true;
    mp3.Track = 255;
    mp3.Year = "2019";
    std::string longestGenre;
    for (const std::string& g : GenreList().Names())
        if (QFontMetrics(list.font()).horizontalAdvance(QString::fromStdString(g)) >
            QFontMetrics(list.font()).horizontalAdvance(QString::fromStdString(longestGenre)))
            longestGenre = g;
    mp3.Genre = longestGenre;
    for (const char* mode : {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"}) {
        mp3.ChannelMode = mode;
        list.AppendItem(mp3);
    }
    TmyMusicFile other;
    other.SourcePath = "/music/b.ape";
    other.TypeName = "Monkey\"s Audio";
    other.SampleRate = 384000;
    other.ChannelMode = "Surround";
    other.Bitrate = 24576000;
    other.DurationMs = std::numeric_limits<int32_t>::max();
    other.FileSize = static_cast<int64_t>(9999.99 * 1024 * 1024); // nearly 10 GB
    list.AppendItem(other);
    other.TypeName = "MusePack";
    other.SampleRate = 48000;
    other.ChannelMode = "JointStereo";
    list.AppendItem(other);
    other.TypeName = "CD Track";
    list.AppendItem(other);
    const QStringList statuses{"-", "Coverting...", "Done", "Error", "100% Canceled", "99% Canceled"};
    for (int row = 0; row < list.RowCount(); ++row)
        list.SetStatus(row, statuses[row % statuses.size()]);
    form->show();
    ASSERT_EQ(list.topLevelItem(4)->text(2), "100% Canceled");
    ASSERT_EQ(list.topLevelItem(2)->text(4), "48000 Hz (Dual Channel)");
    ASSERT_EQ(list.topLevelItem(5)->text(6), "596:31:23.6");
    ASSERT_EQ(list.topLevelItem(5)->text(3), "9999.99 MB");

    const QFontMetrics fm(list.font());
    const int padding = 2 * (list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1);
    for (int c = 0; c < list.columnCount(); ++c) {
        const QString caption = list.headerItem()->text(c);
        // The view's own measure of its cells (text, margins, check box) and of the caption.
        EXPECT_LE(static_cast<QAbstractItemView&>(list).sizeHintForColumn(c), list.columnWidth(c)) << caption.toStdString();
        EXPECT_LE(list.header()->sectionSizeHint(c), list.columnWidth(c)) << caption.toStdString();
        for (int row = 0; row < list.RowCount(); ++row) {
            const QString text = list.topLevelItem(row)->text(c);
            EXPECT_GE(list.columnWidth(c), fm.horizontalAdvance(text) + padding)
                << caption.toStdString() << ": " << text.toStdString();
        }
    }
}
