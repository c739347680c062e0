// Quality presets on a real settings file, read back with QSettings as a later start (or
// another program) would read it.

#include "encoders/mp3options.h"
#include "encoders/oggoptions.h"
#include "shell/presets.h"
#include "shell/settingsio.h"
#include "shell/settingsstore.h"
#include "support/testsupport.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <array>
#include <functional>

using namespace bw;

namespace {

constexpr std::array<const char*, 5> kNames{"HiFi Quality", "CD Quality", "FM Radio Quality",
                                            "AM Radio Quality", "Telephone Quality"};

// The built-in presets as they are to be stored, one row per value.
const std::vector<std::pair<const char*, std::array<int, 5>>> kTable{
    {"MP3SampleRate", {0, 1, 2, 2, 2}},  {"MP3Channels", {0, 0, 1, 4, 4}},
    {"MP3Original", {0, 0, 0, 0, 0}},    {"MP3Copyright", {0, 0, 0, 0, 0}},
    {"MP3CRC", {0, 0, 0, 0, 0}},         {"MP3CBR", {1, 1, 1, 1, 1}},
    {"MP3BitRate", {10, 8, 6, 4, 2}},    {"MP3HQ", {1, 0, 0, 0, 0}},
    {"MP3VBR", {0, 0, 0, 0, 0}},         {"MP3MinBitRate", {10, 8, 6, 4, 2}},
    {"MP3MaxBitRate", {13, 10, 8, 6, 4}}, {"MP3VBRQuality", {9, 7, 5, 3, 1}},
    {"OGGSamplerate", {0, 1, 4, 4, 7}},  {"OGGChannels", {0, 0, 0, 1, 1}},
    {"OGGQuality", {1, 1, 1, 1, 1}},     {"OGGQualitySel", {6, 4, 4, 4, 4}},
    {"OGGBitrateManager", {0, 0, 0, 0, 0}}, {"OGGNominal", {10, 8, 6, 4, 2}},
    {"OGGVBR", {0, 0, 0, 0, 0}},         {"OGGMin", {10, 8, 6, 4, 2}},
    {"OGGMax", {13, 10, 8, 6, 4}},       {"WAVSamplerate", {0, 1, 4, 4, 6}},
    {"WAVChannels", {0, 0, 0, 1, 1}},    {"WAVNormalize", {0, 0, 0, 0, 0}},
    {"WAVbps", {0, 0, 0, 0, 1}},         {"WMASamplerate", {0, 1, 2, 3, 4}},
    {"WMAChannels", {1, 1, 1, 0, 0}},    {"WMABitrate", {0, 4, 0, 0, 0}},
    {"FLACMyTrackBar", {5, 5, 5, 5, 5}}, {"FLACLax", {1, 1, 1, 1, 1}},
    {"APEMyTrackBar", {2, 2, 2, 2, 2}},  {"MPCMyTrackBar", {5, 4, 3, 2, 1}},
    {"WVMode", {2, 1, 0, 0, 0}},         {"WVHybrid", {0, 0, 0, 0, 0}},
    {"WVBits", {40, 40, 40, 40, 40}},    {"WVCorrection", {0, 0, 0, 0, 0}},
    {"OPUSBitrate", {160, 128, 96, 48, 24}}, {"OPUSMode", {0, 0, 0, 0, 0}},
    {"OPUSComplexity", {10, 10, 10, 10, 10}}, {"AACBitrate", {256, 192, 128, 64, 32}},
};

class Presets : public ::testing::Test {
protected:
    void SetUp() override {
        // A store after its first start: every default, the five presets.
        store_ = std::make_unique<TSettingsStore>(Path());
        TSettingsHooks hooks;
        hooks.ResetAllPresets = [](TSettingsStore& s) { ResetAllPresets(s); };
        LoadSettings(*store_, {}, {}, "p", hooks);
    }
    QString Path() const { return QString::fromStdString(dir_.File("bw.conf")); }
    // Changes the file behind the store's back, as a hand edit or an older program would.
    void Edit(const std::function<void(QSettings&)>& edit) {
        store_.reset();
        {
            QSettings raw(Path(), QSettings::IniFormat);
            edit(raw);
        }
        store_ = std::make_unique<TSettingsStore>(Path());
    }
    QStringList Groups() const {
        QSettings raw(Path(), QSettings::IniFormat);
        return raw.childGroups();
    }
    QVariant Stored(const QString& key) const {
        QSettings raw(Path(), QSettings::IniFormat);
        return raw.value(key);
    }

    bwtest::TTempDir dir_;
    std::unique_ptr<TSettingsStore> store_;
};

} // namespace

// Reset All restores exactly the built-in presets, value for value, whatever was stored.
TEST_F(Presets, ResetAllWritesExactlyTheBuiltInTable) {
    TEncoderOptions mine;
    mine.Flac.FLACMyTrackBar = 8;
    SavePresetAs(*store_, "Mine", mine);
    Edit([](QSettings& raw) {
        raw.setValue("QualityItem_0/MP3BitRate", 3);
        raw.setValue("QualityItem_9/Name", "left behind");
        raw.setValue("QualityTotal", 99999);
    });
    ASSERT_TRUE(ResetAllPresets(*store_));

    EXPECT_EQ(Stored("QualityTotal").toInt(), 5);
    EXPECT_EQ(Groups(), (QStringList{"QualityItem_0", "QualityItem_1", "QualityItem_2",
                                     "QualityItem_3", "QualityItem_4"}));
    QSettings raw(Path(), QSettings::IniFormat);
    for (int p = 0; p < 5; ++p) {
        raw.beginGroup(QStringLiteral("QualityItem_%1").arg(p));
        EXPECT_EQ(raw.value("Name").toString(), kNames[static_cast<size_t>(p)]);
        EXPECT_EQ(raw.childKeys().size(), static_cast<qsizetype>(kTable.size() + 1));
        for (const auto& [name, values] : kTable) {
            ASSERT_TRUE(raw.contains(name)) << p << name;
            EXPECT_EQ(raw.value(name).toString(), QString::number(values[static_cast<size_t>(p)]))
                << kNames[static_cast<size_t>(p)] << " " << name;
        }
        raw.endGroup();
    }
    // Stored in the order the presets are read: the table's.
    std::vector<std::string> order;
    for (const auto& row : kTable)
        order.emplace_back(row.first);
    EXPECT_EQ(EncoderOptionNames(), order);
    EXPECT_EQ(StoredPresetNames(*store_), std::vector<std::string>(kNames.begin(), kNames.end()));

    // What "HiFi Quality" means on the pages.
    TEncoderOptions o;
    const TPresetLoad load = LoadPreset(*store_, 0, o);
    EXPECT_TRUE(load.Found && load.Error.empty());
    EXPECT_EQ(o.Mp3.Samplerate, 0); // "48000"
    EXPECT_TRUE(o.Mp3.CBR && !o.Mp3.VBR && o.Mp3.HQ);
    EXPECT_EQ(BitrateFromIndex(o.Mp3.CBRBitrate), "192");
    EXPECT_EQ(OggSamplerateText(o.Ogg.OGGSamplerate), "48000");
    EXPECT_TRUE(o.Ogg.OGGQ);
    EXPECT_EQ(o.Ogg.TrackBar2, 6);
}

// Remove keeps the keys dense; Save as then takes the freed highest index; Save keeps the
// name. Each step read back from the file.
TEST_F(Presets, RemoveSaveAsAndSaveKeepTheKeysDense) {
    ASSERT_TRUE(RemovePreset(*store_, 1));
    EXPECT_EQ(Stored("QualityTotal").toInt(), 4);
    EXPECT_EQ(StoredPresetNames(*store_),
              (std::vector<std::string>{"HiFi Quality", "FM Radio Quality", "AM Radio Quality",
                                        "Telephone Quality"}));
    EXPECT_FALSE(Groups().contains("QualityItem_4"));
    // The groups moved with their values.
    EXPECT_EQ(Stored("QualityItem_1/MP3BitRate").toInt(), 6);
    EXPECT_EQ(Stored("QualityItem_3/WAVbps").toInt(), 1);
    EXPECT_EQ(Stored("QualityItem_3/MPCMyTrackBar").toInt(), 1);

    TEncoderOptions mine;
    mine.Mp3.CBRBitrate = 12;
    mine.Wma.WMABitrate = kWmaMaxBitrates; // nothing selected on the page: stored in range
    EXPECT_EQ(SavePresetAs(*store_, "", mine), 4); // an empty name is taken as typed
    EXPECT_EQ(Stored("QualityTotal").toInt(), 5);
    EXPECT_EQ(Stored("QualityItem_4/Name").toString(), "");
    EXPECT_EQ(Stored("QualityItem_4/MP3BitRate").toInt(), 12);
    EXPECT_EQ(Stored("QualityItem_4/WMABitrate").toInt(), kWmaMaxBitrates - 1);

    mine.Flac.FLACMyTrackBar = 0;
    ASSERT_TRUE(SavePreset(*store_, 0, mine));
    EXPECT_EQ(Stored("QualityItem_0/Name").toString(), "HiFi Quality");
    EXPECT_EQ(Stored("QualityItem_0/FLACMyTrackBar").toInt(), 0);
    EXPECT_FALSE(SavePreset(*store_, 5, mine)); // no such group: nothing written
    EXPECT_FALSE(Groups().contains("QualityItem_5"));

    // Removing the last, then everything: nothing is left over.
    ASSERT_TRUE(RemovePreset(*store_, 4));
    EXPECT_FALSE(RemovePreset(*store_, 4));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(RemovePreset(*store_, 0));
    EXPECT_EQ(Stored("QualityTotal").toInt(), 0);
    EXPECT_TRUE(Groups().isEmpty());
    EXPECT_FALSE(RemovePreset(*store_, 0));

    // Nothing is written to a store that was never started.
    TSettingsStore empty(QString::fromStdString(dir_.File("none.conf")));
    EXPECT_FALSE(SavePresetAs(empty, "x", mine));
    EXPECT_FALSE(ResetAllPresets(empty));
    EXPECT_FALSE(empty.MainKeyExists());
}

// A hand-edited or older store: a missing value stops the load after the values before it,
// with the store's message, but the later pages' values, read apart, still load, and a
// preset stored before those pages takes their defaults; numbers past a control's range are
// brought into it; a damaged count neither loops over groups that are not there nor hides
// the ones that are.
TEST_F(Presets, DamagedPresetsLoadWhatTheyCan) {
    Edit([](QSettings& raw) {
        for (const char* later : {"WVMode", "WVHybrid", "WVBits", "WVCorrection", "OPUSBitrate", "OPUSMode",
                                  "OPUSComplexity", "AACBitrate"})
            raw.remove(QStringLiteral("QualityItem_3/") + later);
        raw.setValue("QualityItem_1/OPUSBitrate", 999);
        raw.remove("QualityItem_0/OGGChannels");
        raw.setValue("QualityItem_1/MP3BitRate", 99);
        raw.setValue("QualityItem_1/MP3SampleRate", -4);
        raw.setValue("QualityItem_1/OGGQualitySel", -50);
        raw.setValue("QualityItem_1/MP3HQ", -1); // a check box: any non-zero number is on
        raw.setValue("QualityItem_1/WMABitrate", 4000);
        raw.setValue("QualityItem_2/MP3Channels", "two");
    });
    TEncoderOptions o;
    o.Ogg.OGGChannels = 1;
    o.Ogg.TrackBar2 = 9;
    TPresetLoad load = LoadPreset(*store_, 0, o);
    EXPECT_TRUE(load.Found);
    EXPECT_EQ(load.Error, "Failed to get data for 'OGGChannels'");
    EXPECT_EQ(o.Mp3.CBRBitrate, 10);        // before the gap: applied
    EXPECT_EQ(o.Ogg.OGGSamplerate, 0);
    EXPECT_EQ(o.Ogg.OGGChannels, 1);        // from the gap on: unchanged
    EXPECT_EQ(o.Ogg.TrackBar2, 9);
    EXPECT_EQ(o.WavPack.WVMode, 2); // read apart: "HiFi Quality"'s own
    EXPECT_EQ(o.Opus.OPUSBitrate, 160);
    EXPECT_EQ(o.Aac.AACBitrate, 256);

    load = LoadPreset(*store_, 3, o); // "AM Radio Quality" as an older program stored it
    EXPECT_TRUE(load.Found && load.Error.empty()) << load.Error;
    const TEncoderOptions defaults;
    EXPECT_EQ(o.WavPack.WVMode, defaults.WavPack.WVMode);
    EXPECT_EQ(o.Opus.OPUSBitrate, defaults.Opus.OPUSBitrate);
    EXPECT_EQ(o.Aac.AACBitrate, defaults.Aac.AACBitrate);

    o = {};
    load = LoadPreset(*store_, 1, o);
    EXPECT_TRUE(load.Error.empty());
    EXPECT_EQ(o.Opus.OPUSBitrate, 256);
    EXPECT_EQ(o.Mp3.CBRBitrate, kBitrateCount - 1);
    EXPECT_EQ(o.Mp3.Samplerate, 0);
    EXPECT_EQ(o.Ogg.TrackBar2, kOggMinQuality);
    EXPECT_TRUE(o.Mp3.HQ);
    EXPECT_EQ(o.Wma.WMABitrate, kWmaMaxBitrates - 1);

    load = LoadPreset(*store_, 2, o);
    EXPECT_EQ(load.Error, "Failed to get data for 'MP3Channels'");
    EXPECT_FALSE(LoadPreset(*store_, 7, o).Found);
    EXPECT_FALSE(LoadPreset(*store_, -1, o).Found);

    // Counts a damaged file may hold: no loop over missing groups, no crash.
    for (const char* total : {"2147483647", "-7", "five", "1e9", ""}) {
        Edit([total](QSettings& raw) { raw.setValue("QualityTotal", total); });
        EXPECT_EQ(StoredPresetCount(*store_), std::string(total) == "2147483647" ? 5 : 0) << total;
    }
    // Save as after a huge count goes right after the groups that exist.
    Edit([](QSettings& raw) { raw.setValue("QualityTotal", 2147483647); });
    EXPECT_EQ(SavePresetAs(*store_, "after", {}), 5);
    EXPECT_EQ(Stored("QualityTotal").toInt(), 6);
}
