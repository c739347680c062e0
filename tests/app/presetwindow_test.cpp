// The quality presets in the main window: the list, the preset menu with its questions, the
// name dialog, and what loading a preset does to the encoder pages. Every step is read back
// from the settings file.

#include "app/form2.h"
#include "app/mainunit.h"
#include "encoders/wmaoptions.h"
#include "shell/settingsstore.h"
#include "support/scripteddialogs.h"
#include "support/testsupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace bw;

namespace {

class PresetWindow : public ::testing::Test {
protected:
    QString StorePath() const { return QString::fromStdString(dir_.File("Brindlewave.conf")); }

    std::unique_ptr<TForm1> Start() {
        store_ = std::make_unique<TSettingsStore>(StorePath());
        auto form = std::make_unique<TForm1>(dialogs_, *store_, QStringList{}, "/usr/bin/brindlewave");
        form->SetPresetNameSource([this] {
            auto name = nextName_;
            nextName_.reset();
            return name;
        });
        return form;
    }
    QVariant Stored(const QString& key) const {
        QSettings raw(StorePath(), QSettings::IniFormat);
        return raw.value(key);
    }
    QStringList StoredNames() const {
        QSettings raw(StorePath(), QSettings::IniFormat);
        QStringList names;
        for (int i = 0; i < raw.value("QualityTotal").toInt(); ++i)
            names << raw.value(QStringLiteral("QualityItem_%1/Name").arg(i)).toString();
        return names;
    }
    template <class T> static T* Child(QObject& form, const char* name) {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QStringList Entries(QComboBox* list) {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->itemText(i);
        return out;
    }
    // Chooses a preset in the list as the user does.
    static void Choose(TForm1& form, int index) {
        auto* list = Child<QComboBox>(form, "QualityComboBox");
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    std::string LastText() const { return dialogs_.Shown.empty() ? "" : dialogs_.Shown.back().Text; }

    bwtest::TTempDir dir_;
    TScriptedDialogs dialogs_;
    std::unique_ptr<TSettingsStore> store_;
    std::optional<std::string> nextName_;
};

const QStringList kBuiltIn{"HiFi Quality", "CD Quality", "FM Radio Quality", "AM Radio Quality",
                           "Telephone Quality"};

} // namespace

TEST_F(PresetWindow, MenuOperationsAskAndKeepTheStoreInStep) {
    auto form = Start();
    auto* list = Child<QComboBox>(*form, "QualityComboBox");
    auto* mp3Rate = Child<QComboBox>(*form, "Samplerate");
    auto* flac = Child<QSlider>(*form, "FLACMyTrackBar");
    EXPECT_EQ(Child<QToolButton>(*form, "ToolButton13")->toolTip(), "Quality Managment");

    // First start: the five presets written, "CD Quality" chosen and shown.
    EXPECT_EQ(StoredNames(), kBuiltIn);
    EXPECT_EQ(Entries(list), kBuiltIn);
    EXPECT_EQ(list->currentText(), "CD Quality");
    EXPECT_EQ(mp3Rate->currentText(), "44100");
    EXPECT_TRUE(dialogs_.Shown.empty());

    // Remove, cancelled and then confirmed.
    dialogs_.Answers = {TAnswer::Cancel};
    form->Action("ActionRemoveQuality")->trigger();
    EXPECT_EQ(LastText(), "Are you sure to remove \"CD Quality\" settings?");
    EXPECT_EQ(StoredNames(), kBuiltIn);
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionRemoveQuality")->trigger();
    const QStringList four{"HiFi Quality", "FM Radio Quality", "AM Radio Quality", "Telephone Quality"};
    EXPECT_EQ(StoredNames(), four);
    EXPECT_EQ(Entries(list), four);
    EXPECT_EQ(Stored("QualityItem_1/MP3BitRate").toInt(), 6); // FM moved down with its values
    EXPECT_EQ(list->currentIndex(), 0);                        // and HiFi loaded
    EXPECT_EQ(mp3Rate->currentText(), "48000");

    // Save as: cancelled, then named; the new preset takes the freed index and is chosen.
    flac->setValue(1);
    form->Action("ActionSaveAsQuality")->trigger();
    EXPECT_EQ(StoredNames(), four);
    nextName_ = "My FLAC";
    form->Action("ActionSaveAsQuality")->trigger();
    EXPECT_EQ(StoredNames(), four + QStringList{"My FLAC"});
    EXPECT_EQ(Stored("QualityItem_4/FLACMyTrackBar").toInt(), 1);
    EXPECT_EQ(Stored("QualityItem_4/MP3SampleRate").toInt(), 0);
    EXPECT_EQ(list->currentText(), "My FLAC");

    // Save writes the pages into the chosen preset, its name unchanged.
    Choose(*form, 2); // AM Radio
    EXPECT_EQ(flac->value(), 5);
    flac->setValue(7);
    form->Action("ActionSaveQuality")->trigger();
    EXPECT_EQ(Stored("QualityItem_2/FLACMyTrackBar").toInt(), 7);
    EXPECT_EQ(Stored("QualityItem_2/Name").toString(), "AM Radio Quality");

    // Reset All from the menu asks first; confirmed, the user's presets are gone.
    const size_t asked = dialogs_.Shown.size();
    dialogs_.Answers = {TAnswer::Cancel};
    form->Action("ActionResetAllQuality")->trigger();
    ASSERT_EQ(dialogs_.Shown.size(), asked + 1);
    EXPECT_EQ(LastText(), "Are you sure to reset all output qualities to the default?");
    EXPECT_EQ(Stored("QualityTotal").toInt(), 5);
    EXPECT_EQ(StoredNames().back(), "My FLAC");
    dialogs_.Answers = {TAnswer::Ok};
    form->Action("ActionResetAllQuality")->trigger();
    EXPECT_EQ(StoredNames(), kBuiltIn);
    EXPECT_EQ(Stored("QualityItem_3/FLACMyTrackBar").toInt(), 5);
    EXPECT_EQ(Entries(list), kBuiltIn);
    EXPECT_EQ(list->currentText(), "CD Quality");
    EXPECT_EQ(flac->value(), 5);

    // The choice is kept for the next start, which loads it.
    Choose(*form, 4);
    form->close();
    form.reset();
    EXPECT_EQ(Stored("QualityItem").toInt(), 4);
    {
        QSettings raw(StorePath(), QSettings::IniFormat);
        raw.setValue("QualityItem_4/MP3SampleRate", 0);
        raw.remove("QualityItem_4/OGGSamplerate"); // a hand edit lost a value
    }
    form = Start();
    list = Child<QComboBox>(*form, "QualityComboBox");
    EXPECT_EQ(list->currentText(), "Telephone Quality");
    // Loaded up to the missing value, with one message.
    EXPECT_EQ(Child<QComboBox>(*form, "Samplerate")->currentText(), "48000");
    EXPECT_EQ(Child<QComboBox>(*form, "OGGSamplerate")->currentIndex(), 1); // the page's own
    ASSERT_EQ(dialogs_.Shown.size(), asked + 3);
    EXPECT_EQ(LastText(), "Failed to get data for 'OGGSamplerate'");

    // Removing every preset leaves nothing chosen and nothing to remove.
    for (int i = 0; i < 5; ++i) {
        dialogs_.Answers = {TAnswer::Ok};
        form->Action("ActionRemoveQuality")->trigger();
    }
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(Stored("QualityTotal").toInt(), 0);
    const size_t shown = dialogs_.Shown.size();
    form->Action("ActionRemoveQuality")->trigger();
    EXPECT_EQ(dialogs_.Shown.size(), shown);
}

// A preset drives the pages as a click would: enabled states follow the radio buttons, and
// the WMA bitrate list is refilled for the preset's rate and channels before its bitrate is
// chosen.
TEST_F(PresetWindow, LoadingAPresetDrivesThePages) {
    auto form = Start();
    auto* cbrBitrate = Child<QComboBox>(*form, "CBRBitrate");
    auto* hq = Child<QCheckBox>(*form, "HQ");
    auto* vbrMin = Child<QComboBox>(*form, "VBRMin");
    auto* trackBar1 = Child<QSlider>(*form, "TrackBar1");
    auto* nominal = Child<QComboBox>(*form, "OGGNominal");
    auto* trackBar2 = Child<QSlider>(*form, "TrackBar2");
    auto* wmaChannels = Child<QComboBox>(*form, "WMAChannels");
    auto* wmaBitrate = Child<QComboBox>(*form, "WMABitrate");

    // "CD Quality": WMA 44100 Hz stereo with the fifth offered bitrate.
    const auto cd = WmaBitrateEntries(44100, 2);
    ASSERT_GT(cd.size(), 4u);
    EXPECT_EQ(wmaBitrate->currentText().toStdString(), cd[4]);

    // A preset of the user's own in VBR and with the Ogg bitrate manager.
    Child<QRadioButton>(*form, "VBR")->setChecked(true);
    Child<QRadioButton>(*form, "BitrateManager")->setChecked(true);
    trackBar1->setValue(2);
    auto* wvBits = Child<QDoubleSpinBox>(*form, "WVBits");
    Child<QCheckBox>(*form, "WVHybrid")->setChecked(true);
    wvBits->setValue(2.5);
    Child<QComboBox>(*form, "OPUSMode")->setCurrentIndex(2);
    nextName_ = "VBR";
    form->Action("ActionSaveAsQuality")->trigger();
    EXPECT_EQ(Stored("QualityItem_5/WVBits").toInt(), 25);
    EXPECT_EQ(Stored("QualityItem_5/OPUSMode").toInt(), 2);
    EXPECT_EQ(Stored("QualityItem_5/MP3VBR").toInt(), 1);
    EXPECT_EQ(Stored("QualityItem_5/MP3CBR").toInt(), 0);
    EXPECT_EQ(Stored("QualityItem_5/OGGBitrateManager").toInt(), 1);

    // "AM Radio Quality": CBR, Ogg quality mode, WMA 22050 Hz mono.
    Choose(*form, 3);
    EXPECT_TRUE(cbrBitrate->isEnabled() && hq->isEnabled());
    EXPECT_FALSE(vbrMin->isEnabled() || trackBar1->isEnabled());
    EXPECT_EQ(cbrBitrate->currentText(), "64 kbps");
    EXPECT_EQ(Child<QComboBox>(*form, "Channels")->currentText(), "Mono");
    EXPECT_TRUE(trackBar2->isEnabled());
    EXPECT_FALSE(nominal->isEnabled());
    EXPECT_TRUE(wmaChannels->isEnabled());
    EXPECT_EQ(wmaChannels->currentText(), "Mono");
    QStringList am;
    for (const auto& e : WmaBitrateEntries(22050, 1))
        am << QString::fromStdString(e);
    EXPECT_EQ(Entries(wmaBitrate), am);
    EXPECT_EQ(wmaBitrate->currentIndex(), am.isEmpty() ? -1 : 0);
    EXPECT_EQ(Child<QSlider>(*form, "WVMode")->value(), 0);
    EXPECT_FALSE(wvBits->isEnabled());
    EXPECT_EQ(Child<QSpinBox>(*form, "OPUSBitrate")->value(), 48);
    EXPECT_EQ(Child<QSpinBox>(*form, "AACBitrate")->value(), 64);

    // Back to the user's preset: the VBR side and the bitrate manager come alive.
    Choose(*form, 5);
    EXPECT_FALSE(cbrBitrate->isEnabled() || hq->isEnabled());
    EXPECT_TRUE(vbrMin->isEnabled() && trackBar1->isEnabled());
    EXPECT_EQ(trackBar1->value(), 2);
    EXPECT_TRUE(wvBits->isEnabled());
    EXPECT_DOUBLE_EQ(wvBits->value(), 2.5);
    EXPECT_FALSE(trackBar2->isEnabled());
    EXPECT_TRUE(nominal->isEnabled());

    // "HiFi Quality": WMA at 48000 Hz is stereo only, so the channel list is greyed.
    Choose(*form, 0);
    EXPECT_FALSE(wmaChannels->isEnabled());
    EXPECT_EQ(wmaChannels->currentText(), "Stereo");
    EXPECT_TRUE(hq->isChecked());
    EXPECT_EQ(cbrBitrate->currentText(), "192 kbps");
    EXPECT_EQ(trackBar2->value(), 6);
    EXPECT_EQ(Child<QComboBox>(*form, "OGGSamplerate")->currentText(), "48000");
}

// The name dialog as the user meets it.
TEST_F(PresetWindow, NameDialog) {
    auto form = Start();
    TForm2& dialog = form->PresetNameDialog();
    EXPECT_EQ(dialog.windowTitle(), "Output Quality - Save As");
    ASSERT_NE(dialog.findChild<QLabel*>(), nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "Name of new ouput quality:");
    auto* ok = Child<QPushButton>(dialog, "ButtonOK");
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(Child<QPushButton>(dialog, "ButtonCancel")->text(), "Cancel");

    // Typed into the focused field, at most 28 characters, Enter for OK.
    QTimer::singleShot(0, &dialog, [&dialog] {
        QWidget* focus = dialog.focusWidget();
        ASSERT_NE(qobject_cast<QLineEdit*>(focus), nullptr);
        EXPECT_EQ(focus->parentWidget(), &dialog);
        QTest::keyClicks(focus, "Thirty characters of a name!!");
        QTest::keyClick(focus, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.Execute(), std::optional<std::string>("Thirty characters of a name!"));

    // Shown again: an empty field; Cancel gives nothing.
    QTimer::singleShot(0, &dialog, [&dialog] {
        EXPECT_TRUE(dialog.findChild<QLineEdit*>()->text().isEmpty());
        Child<QPushButton>(dialog, "ButtonCancel")->click();
    });
    EXPECT_EQ(dialog.Execute(), std::nullopt);
}
