#include "app/form2.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "app/settings1.h"
#include "encoders/apeoptions.h"
#include "shell/settingsio.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDial>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QSettings>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <map>

using namespace bw;

namespace {

class MainWindow : public ::testing::Test {
protected:
    QString StorePath() const { return QString::fromStdString(dir_.File("Brindlewave.conf")); }

    std::unique_ptr<TForm1> Start() {
        store_ = std::make_unique<TSettingsStore>(StorePath());
        return std::make_unique<TForm1>(dialogs_, *store_, QStringList{}, "/usr/bin/brindlewave");
    }

    // A store as a previous run left it, with some values changed.
    void Prepare(const std::vector<std::pair<const char*, QVariant>>& values,
                 const std::vector<const char*>& removed = {}) {
        {
            TSettingsStore store(StorePath());
            LoadSettings(store, {}, {}, "p");
        }
        QSettings raw(StorePath(), QSettings::IniFormat);
        for (const auto& [k, v] : values)
            raw.setValue(k, v);
        for (const char* k : removed)
            raw.remove(k);
    }

    QVariant Stored(const char* key) const {
        QSettings raw(StorePath(), QSettings::IniFormat);
        return raw.value(key);
    }

    template <class T> static T* Child(QObject& form, const char* name) {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    bwtest::TTempDir dir_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
};

QStringList EntryTexts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

} // namespace

TEST_F(MainWindow, FirstStartWritesDefaultsAndCloseWritesTheWindowBack) {
    {
        auto form = Start();
        ASSERT_TRUE(form->StartupOk());
        EXPECT_TRUE(dialogs_.Shown.empty());
        EXPECT_EQ(form->windowTitle(), "Brindlewave");
        EXPECT_EQ(form->minimumSize(), QSize(905, 780));
        // First start keeps the built-in place and size.
        EXPECT_EQ(form->pos(), QPoint(287, 109));
        EXPECT_EQ(form->size(), QSize(905, 780));
        EXPECT_EQ(Stored("QualityTotal").toInt(), 5); // the built-in presets
        EXPECT_EQ(Stored("Path").toString(), "/usr/bin/brindlewave");
        // The Desktop is the output folder until another is chosen.
        EXPECT_TRUE(QString::fromStdString(form->AppSettings().OutputFolder).endsWith("/"));
        EXPECT_EQ(form->AppSettings().SourceFolder, form->AppSettings().OutputFolder);

        form->Action("ActionViewPlayer")->trigger();
        form->Action("ActionVolumeDown")->trigger();
        form->Action("ActionVolumeDown")->trigger();
        Child<QTabWidget>(*form, "PageControl1")->setCurrentIndex(4);
        form->AppSettings().Timeout = 77;
        form->close();
    }
    EXPECT_EQ(Stored("ViewPlayer").toInt(), 0);
    EXPECT_EQ(Stored("ViewEncoder").toInt(), 1);
    EXPECT_EQ(Stored("Volume").toInt(), 30);
    EXPECT_EQ(Stored("ActivePage").toInt(), 4);
    EXPECT_EQ(Stored("Timeout").toInt(), 77);
    EXPECT_EQ(Stored("Width").toInt(), 905);
    EXPECT_EQ(Stored("Height").toInt(), 780);
    EXPECT_EQ(Stored("QualityItem").toInt(), 1); // "CD Quality", selected at first start
    EXPECT_FALSE(Stored("OutputFolder").toString().isEmpty());

    // The second start reads it all back.
    auto form = Start();
    EXPECT_TRUE(Child<QGroupBox>(*form, "GroupMediaPlayer")->isHidden());
    EXPECT_FALSE(form->Action("ActionViewPlayer")->isChecked());
    EXPECT_FALSE(Child<QGroupBox>(*form, "GroupEncoderOptions")->isHidden());
    EXPECT_EQ(Child<QDial>(*form, "VolumeKnob")->value(), 30);
    EXPECT_EQ(Child<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
    EXPECT_EQ(Child<QComboBox>(*form, "ComboBoxType")->currentText(), "FLAC");
    EXPECT_EQ(form->AppSettings().Timeout, 77);
    EXPECT_TRUE(dialogs_.Shown.empty());
}

TEST_F(MainWindow, SmallGeometryIsRaisedAndSameAsSourceKeepsTheFolder) {
    const QString folder = QString::fromStdString(dir_.Path().string() + "/");
    Prepare({{"Width", 600}, {"Height", 500}, {"Left", 40}, {"Top", 30}, {"SAS", 1},
             {"OutputFolder", folder}, {"ActivePage", 7}});
    {
        auto form = Start();
        EXPECT_EQ(form->size(), QSize(905, 780));
        EXPECT_EQ(form->pos(), QPoint(40, 30));
        EXPECT_TRUE(Child<QCheckBox>(*form, "CheckBoxSAS")->isChecked());
        EXPECT_EQ(Child<QLineEdit>(*form, "EditOutputFolder")->text(), "same folder as source");
        EXPECT_EQ(form->AppSettings().OutputFolder, folder.toStdString());
        // The WavPack page is a target's like every other.
        EXPECT_EQ(Child<QTabWidget>(*form, "PageControl1")->currentIndex(), 7);
        EXPECT_EQ(Child<QComboBox>(*form, "ComboBoxType")->currentText(), "WavPack");

        // Unchecking shows the folder again; it never changed underneath.
        Child<QCheckBox>(*form, "CheckBoxSAS")->click();
        EXPECT_EQ(Child<QLineEdit>(*form, "EditOutputFolder")->text(), folder);
        Child<QCheckBox>(*form, "CheckBoxSAS")->click();
        form->close();
    }
    EXPECT_EQ(Stored("OutputFolder").toString(), folder);
    EXPECT_EQ(Stored("SAS").toInt(), 1);
    EXPECT_EQ(Stored("ActivePage").toInt(), 7);
}

TEST_F(MainWindow, DamagedStoreIsReportedOnceAndTheProgramGoesOn) {
    Prepare({{"Volume", 20}, {"ViewToolBar", 0}}, {"Left"});
    auto form = Start();
    ASSERT_TRUE(form->StartupOk());
    ASSERT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(dialogs_.Shown[0].Text, "Failed to get data for 'Left'");
    EXPECT_EQ(Child<QDial>(*form, "VolumeKnob")->value(), 20); // read before the damage
    EXPECT_TRUE(Child<QToolBar>(*form, "ToolBar1")->isHidden());
    EXPECT_EQ(form->size(), QSize(905, 780)); // after it: built-in
    // The window still works.
    form->Action("ActionViewToolBar")->trigger();
    EXPECT_FALSE(Child<QToolBar>(*form, "ToolBar1")->isHidden());
}

// Ended by a signal, the window shows no box (nobody may be there to close it, and it would
// hold the program open): a settings file it can no longer write, damaged on disk while it
// ran, is told on standard error.
TEST_F(MainWindow, OnAStopSignalFailuresGoToStandardErrorNotToABox) {
    Prepare({});
    auto form = Start();
    // "[", a byte that is no text, "=": no settings file can be read from that.
    bwtest::WriteAll(StorePath().toStdString(), {std::byte{0x5B}, std::byte{0xFF}, std::byte{0x3D}});
    testing::internal::CaptureStderr();
    form->RequestStop();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(dialogs_.Shown.empty()) << dialogs_.Shown[0].Text;
    const std::string text = "The settings could not be saved to " + StorePath().toStdString();
    EXPECT_NE(err.find("Brindlewave: " + text), std::string::npos) << err;
}

TEST_F(MainWindow, WithoutSoundTheMessageShowsOnceAndThePlayerIsOff) {
    const QByteArray saved = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_AUDIODRIVER", "no-such-driver");
    {
        auto form = Start();
        ASSERT_TRUE(form->StartupOk());
        ASSERT_EQ(dialogs_.Shown.size(), 1u);
        EXPECT_EQ(dialogs_.Shown[0].Kind, TMessageKind::Error);
        EXPECT_TRUE(QString::fromStdString(dialogs_.Shown[0].Text)
                        .startsWith("Couldnt Initialize Digital Output\nError code: "));
        EXPECT_FALSE(form->PlayerAvailable());
        EXPECT_FALSE(form->Action("ActionPlay")->isEnabled());
        EXPECT_FALSE(Child<QGroupBox>(*form, "GroupMediaPlayer")->isEnabled());
        // Everything else is there and the settings still round-trip.
        EXPECT_TRUE(form->Action("ActionConvert")->isEnabled());
        form->Action("ActionViewStatus")->trigger();
        form->close();
    }
    qputenv("SDL_AUDIODRIVER", saved);
    EXPECT_EQ(dialogs_.Shown.size(), 1u);
    EXPECT_EQ(Stored("ViewStatus").toInt(), 0);
}

TEST_F(MainWindow, MenusHoldTheCommandsInOrder) {
    auto form = Start();
    const QList<QAction*> menus = form->menuBar()->actions();
    ASSERT_EQ(menus.size(), 5);
    EXPECT_EQ(EntryTexts(menus), (QStringList{"&File", "&Edit", "&Player", "&View", "&Help"}));
    const std::vector<QStringList> expected{
        {"Add File(s)", "Add Folder", "Add CD Tracks", "-", "Convert", "-", "Exit"},
        {"Move Up", "Move Down", "-", "Remove", "Remove All", "-", "Check All", "Uncheck All",
         "Invert All", "-", "File Properties", "Edit TAG Info"},
        {"Play", "Stop", "Pause", "-", "Play prev file", "Play next file", "-", "Volume Up",
         "Volume Down"},
        {"Tool Bar", "Encoder Options", "Media Player", "Status Bar", "-", "Settings..."},
        {"Help", "Check for upgrade...", "-", "&About..."},
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(EntryTexts(menus[i]->menu()->actions()), expected[static_cast<size_t>(i)]);

    EXPECT_EQ(EntryTexts(Child<QMenu>(*form, "ListContextMenu")->actions()),
              (QStringList{"Play", "Stop", "Pause", "-", "Move Up", "Move Down", "-", "Check All",
                           "Uncheck All", "Invert All", "-", "Remove", "Remove All", "-",
                           "File Properties", "Edit TAG Info"}));
    EXPECT_EQ(EntryTexts(Child<QMenu>(*form, "PresetMenu")->actions()),
              (QStringList{"Save", "Save as...", "Remove", "-", "Reset All"}));
    EXPECT_EQ(EntryTexts(Child<QToolBar>(*form, "ToolBar1")->actions()),
              (QStringList{"Add File(s)", "Add Folder", "Add CD Tracks", "Convert", "Settings...", "Help"}));

    const std::vector<std::array<const char*, 3>> keys{
        {"ActionAddFiles", "Ctrl+F", "Add file(s) to filelist"},
        {"ActionConvert", "F5", "Convert selected files"},
        {"ActionSettings", "F12", "Show settings dialog"},
        {"ActionHelp", "F1", "Brindlewave Help"},
        {"ActionMoveUp", "Ctrl+Up", "Move item up"},
        {"ActionMoveDown", "Ctrl+Down", "Move item down"},
        {"ActionRemove", "Del", "Remove selected file from list"},
        {"ActionRemoveAll", "Shift+Del", "Remove all items from list"},
        {"ActionInvertAll", "Ctrl+V", "Invert all"},
        {"ActionPrevPlay", "Ctrl+R", "Play prev file"},
        {"ActionExit", "Ctrl+E", ""},
        {"ActionVolumeUp", "Shift+F2", ""},
        {"ActionVolumeDown", "Shift+F1", ""},
    };
    for (const auto& [name, key, hint] : keys) {
        QAction* a = form->Action(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromLatin1(key))) << name;
        if (*hint) {
            EXPECT_EQ(a->toolTip(), QString::fromLatin1(hint)) << name;
        }
    }
    // The seven side buttons show only their icons.
    for (const char* name : {"SideActionMoveUp", "SideActionRemoveAll", "SideActionEditTAG"}) {
        auto* b = Child<QToolButton>(*form, name);
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonIconOnly);
    }
}

TEST_F(MainWindow, CtrlUReachesUncheckAllNotPause) {
    auto form = Start();
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QSignalSpy uncheck(form->Action("ActionUncheckAll"), &QAction::triggered);
    QSignalSpy pause(form->Action("ActionPause"), &QAction::triggered);
    QTest::keyClick(form.get(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(uncheck.count(), 1);
    EXPECT_EQ(pause.count(), 0);
    EXPECT_EQ(form->Action("ActionPause")->shortcut(), QKeySequence("Ctrl+U"));
}

TEST_F(MainWindow, ViewTogglesAndVolumeCommands) {
    auto form = Start();
    form->show();
    auto* status = form->statusBar();
    EXPECT_FALSE(status->isHidden());
    form->Action("ActionViewStatus")->trigger();
    EXPECT_TRUE(status->isHidden());
    form->Action("ActionViewStatus")->trigger();
    EXPECT_FALSE(status->isHidden());
    form->Action("ActionViewEncoder")->trigger();
    EXPECT_TRUE(Child<QGroupBox>(*form, "GroupEncoderOptions")->isHidden());

    auto* knob = Child<QDial>(*form, "VolumeKnob");
    knob->setValue(95);
    form->Action("ActionVolumeUp")->trigger();
    EXPECT_EQ(knob->value(), 100);
    knob->setValue(5);
    form->Action("ActionVolumeDown")->trigger();
    EXPECT_EQ(knob->value(), 0);
    QTest::qWait(600); // one tick of the status timer
    EXPECT_EQ(Child<QLabel>(*form, "StatusPanel4")->text(), " Volume: 0");
    EXPECT_EQ(Child<QLabel>(*form, "StatusPanel1")->text(), " 0 file(s)");
    EXPECT_EQ(Child<QLabel>(*form, "StatusPanel2")->text(), " 0 selected");
    EXPECT_EQ(Child<QLabel>(*form, "StatusPanel3")->text(), " Media Player: Stopped");

    // The target type list and the encoder pages stay in step.
    auto* type = Child<QComboBox>(*form, "ComboBoxType");
    EXPECT_EQ(type->count(), 10);
    EXPECT_EQ(type->itemText(5), "Monkey's Audio");
    auto* pages = Child<QTabWidget>(*form, "PageControl1");
    EXPECT_EQ(pages->count(), 10);
    for (const auto& [index, text] : std::vector<std::pair<int, QString>>{
             {6, "MusePack"}, {7, "WavPack"}, {8, "Opus"}, {9, "AAC (M4A)"}}) {
        pages->setCurrentIndex(index);
        EXPECT_EQ(type->currentText(), text);
    }
    type->setCurrentIndex(2);
    emit type->activated(2);
    EXPECT_EQ(pages->currentIndex(), 2);
    EXPECT_EQ(form->findChild<QTreeWidget*>("ListView1")->columnCount(), 15);
}

namespace {

// Pixels of a rendered widget that are not its background.
int DrawnPixels(QWidget& w) {
    const QImage image = w.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb background = w.palette().color(w.backgroundRole()).rgb();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) != background;
    return n;
}

// Pixels of an icon that are not transparent.
int OpaquePixels(const QIcon& icon) {
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

} // namespace

// The pictures are an SVG file among the windows' resources: without Qt's SVG plugins
// (libqt6svg6), or without the resources linked in, every one of them is blank.
TEST_F(MainWindow, PicturesShow) {
    auto form = Start();
    EXPECT_GT(OpaquePixels(form->windowIcon()), 32 * 32 / 4) << "window icon";

    auto picture = [](QDialog& dialog, const char* name) {
        dialog.show();
        auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
        const int drawn = label ? DrawnPixels(*label) : 0;
        dialog.hide();
        return drawn;
    };
    auto* about = form->findChild<QDialog*>("AboutBox");
    ASSERT_NE(about, nullptr);
    EXPECT_GT(picture(*about, "ProgramIcon"), 64 * 64 / 4) << "About window";
    EXPECT_GT(picture(form->ResultWindow(), "Image1"), 48 * 48 / 4) << "result window";
    auto& settings = form->SettingsDialog();
    settings.findChild<QTabWidget*>("SettingsTabs")->setCurrentIndex(1);
    EXPECT_GT(picture(settings, "FreeDBLogo"), 48 * 48 / 4) << "FreeDB tab";
}

TEST_F(MainWindow, ToolBarButtonsShowTheWholeCaption) {
    auto form = Start();
    form->show();
    auto* bar = Child<QToolBar>(*form, "ToolBar1");
    QStringList texts;
    for (QAction* a : bar->actions())
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a)))
            texts << button->text();
    // Qt drops a trailing "..." from tool buttons unless told the text.
    EXPECT_EQ(texts.join(" | ").toStdString(),
              "Add File(s) | Add Folder | Add CD Tracks | Convert | Settings... | Help");
}

// The library switches on the General tab: shown from the settings, saved back, and the
// renaming tab's preview of a folder's file follows the structure and FAT boxes.
TEST_F(MainWindow, LibrarySwitchesOnTheSettingsDialog) {
    auto form = Start();
    auto& dialog = form->SettingsDialog();
    TAppSettings in = DefaultAppSettings();
    in.KeepStructure = true;
    in.CarryCovers = false;
    in.ReplayGainMode = 2;
    dialog.LoadFrom(in);
    const auto box = [&](const char* name) { return dialog.findChild<QCheckBox*>(name); };
    auto* gain = Child<QComboBox>(dialog, "ComboReplayGain");
    EXPECT_EQ(gain->currentText(), "Track and album");
    gain->setCurrentIndex(1);
    EXPECT_EQ(box("CheckKeepStructure")->text(), "Keep the folder structure");
    EXPECT_FALSE(box("CheckAddSubFolders")->isChecked());
    EXPECT_FALSE(box("CheckCarryCovers")->isChecked());
    EXPECT_EQ(dialog.FolderPreviewText(), "Music/Artist/Album/Intro: Live?.mp3");
    box("CheckSafeNames")->setChecked(true);
    EXPECT_EQ(dialog.FolderPreviewText(), "Music/Artist/Album/Intro_ Live_.mp3");
    box("CheckKeepStructure")->setChecked(false);
    box("CheckSkipExisting")->setChecked(true);
    EXPECT_EQ(dialog.FolderPreviewText(), "Intro_ Live_.mp3");
    TAppSettings out;
    dialog.SaveTo(out);
    EXPECT_FALSE(out.AddSubFolders || out.KeepStructure || out.CarryCovers);
    EXPECT_TRUE(out.SkipExisting && out.SafeNames);
    EXPECT_EQ(out.ReplayGainMode, 1);

    // The FreeDB tab: the chosen drive model's read offset, and the rip log switch.
    in.ReadOffsets = {{"ACME CD-1", 6}, {"CD image", -30}};
    dialog.SetOffsetModel("ACME CD-1");
    dialog.LoadFrom(in);
    auto* offset = Child<QSpinBox>(dialog, "SpinReadOffset");
    EXPECT_EQ(offset->value(), 6);
    offset->setValue(-1200);
    box("CheckWriteRipLog")->setChecked(false);
    dialog.SaveTo(in);
    EXPECT_EQ(in.ReadOffsets, (std::map<std::string, int>{{"ACME CD-1", -1200}, {"CD image", -30}}));
    EXPECT_FALSE(in.WriteRipLog);
    dialog.SetOffsetModel("");
    dialog.LoadFrom(in);
    EXPECT_FALSE(offset->isEnabled());

    // Each switch beyond the old set says in one sentence what it does.
    const QRegularExpression sentence("^[A-Z][^.\\n]*\\w$");
    for (const char* name : {"CheckAddSubFolders", "CheckKeepStructure", "CheckCarryCovers", "CheckSkipExisting",
                             "CheckSafeNames", "SpinParallelJobs", "ComboReplayGain", "CheckWriteRipLog",
                             "SpinReadOffset"})
        EXPECT_TRUE(sentence.match(Child<QWidget>(dialog, name)->toolTip()).hasMatch()) << name;
}

// Texts that change or are long each get the width they measure in their font.
TEST_F(MainWindow, TextsAreNeverCut) {
    auto form = Start();
    form->show();
    // The preset name dialog: its caption beside the title bar's icon and close button, and a
    // name of the longest length.
    TForm2& name = form->PresetNameDialog();
    name.show();
    QFont bold = name.font();
    bold.setBold(true);
    const int titleBar = name.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    EXPECT_GE(name.width(), QFontMetrics(bold).horizontalAdvance(name.windowTitle()) + 2 * titleBar);
    auto* edit = Child<QLineEdit>(name, "Edit1");
    EXPECT_GE(edit->width() - 8, edit->fontMetrics().horizontalAdvance("Thirty characters of a name!"));
    // The Renaming tab's previews at their longest.
    auto& settings = form->SettingsDialog();
    Child<QTabWidget>(settings, "SettingsTabs")->setCurrentIndex(2);
    settings.show();
    TAppSettings longest = DefaultAppSettings();
    longest.KeepStructure = true;
    longest.fint.fill(true);
    settings.LoadFrom(longest);
    const auto previews = {Child<QLabel>(settings, "PreviewLine"), Child<QLabel>(settings, "PreviewFolderLine")};
    const auto fits = [](const QLabel* l) { return l->width() >= l->fontMetrics().horizontalAdvance(l->text()); };
    // The layouts settle over several passes of the event loop, however busy the machine.
    for (int waited = 0; waited < 5000 && !std::all_of(previews.begin(), previews.end(), fits); waited += 10)
        QTest::qWait(10);
    for (auto* label : previews)
        EXPECT_TRUE(fits(label)) << label->width() << " for " << label->text().toStdString();
    // Monkey's Audio: each position's name centred under its tick, where the style puts the
    // handle at that position.
    Child<QTabWidget>(*form, "PageControl1")->setCurrentIndex(5);
    auto* slider = Child<QSlider>(*form, "APEMyTrackBar");
    QStyleOptionSlider handle;
    handle.initFrom(slider);
    handle.minimum = slider->minimum();
    handle.maximum = slider->maximum();
    size_t named = 0;
    for (QLabel* label : Child<QWidget>(*form, "PageAPE")->findChildren<QLabel*>()) {
        const auto at = std::find(kApePositionNames.begin(), kApePositionNames.end(), label->text());
        if (at == kApePositionNames.end())
            continue;
        ++named;
        handle.sliderPosition = slider->minimum() + static_cast<int>(at - kApePositionNames.begin());
        const QRect h = slider->style()->subControlRect(QStyle::CC_Slider, &handle, QStyle::SC_SliderHandle, slider);
        EXPECT_NEAR(label->mapTo(form.get(), label->rect().center()).x(), slider->mapTo(form.get(), h.center()).x(), 1)
            << label->text().toStdString();
    }
    EXPECT_EQ(named, kApePositionNames.size());
}
