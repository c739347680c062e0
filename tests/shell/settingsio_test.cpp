#include "shell/appsettings.h"
#include "shell/settingsio.h"
#include "shell/settingsstore.h"
#include "support/testsupport.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>
#include <tuple>

#include <filesystem>

using namespace bw;

namespace {

QString StorePath(const bwtest::TTempDir& dir) { return QString::fromStdString(dir.File("bw.conf")); }

} // namespace

TEST(SettingsIo, FirstStartWritesEveryDefault) {
    bwtest::TTempDir dir;
    TSettingsStore store(StorePath(dir));
    bool presetsReset = false;
    TSettingsHooks hooks;
    hooks.ResetAllPresets = [&](TSettingsStore& s) {
        // The reset runs after QualityTotal was written as -1.
        EXPECT_EQ(s.ReadInteger("QualityTotal"), -1);
        EXPECT_TRUE(s.ReadString("Path").empty());
        presetsReset = true;
    };
    TAppSettings app;
    app.OutputFolder = "/home/u/Desktop/";
    const auto load = LoadSettings(store, app, TWindowSettings{}, "/opt/bw/brindlewave", hooks);
    EXPECT_TRUE(load.FirstStart);
    EXPECT_TRUE(load.Error.empty());
    EXPECT_TRUE(presetsReset);
    // The in-memory folders stay; the pattern is the default one.
    EXPECT_EQ(load.App.OutputFolder, "/home/u/Desktop/");
    EXPECT_EQ(load.App.fstr[1], "Track number 01");
    EXPECT_TRUE(load.App.fint[1] && load.App.fint[2] && load.App.fint[3]);
    EXPECT_FALSE(load.App.fint[0] || load.App.fint[4] || load.App.fint[5] || load.App.fint[6]);
    EXPECT_EQ(load.App.Separator, 1);
    EXPECT_EQ(load.App.FreeDBServer, "gnudb.gnudb.org");

    QSettings raw(StorePath(dir), QSettings::IniFormat);
    const std::vector<std::pair<const char*, QString>> expected{
        {"ActivePage", "0"}, {"QualityItem", "1"}, {"OutputFolder", ""},
        {"ViewToolBar", "1"}, {"ViewEncoder", "1"}, {"ViewPlayer", "1"}, {"ViewStatus", "1"},
        {"Volume", "50"}, {"SAS", "0"}, {"ConfirmOverWriteOp", "1"}, {"PlaySoundOp", "1"},
        {"OpenFolderOp", "1"}, {"ParallelJobs", QString::number(DefaultParallelJobs())}, {"Top", "150"}, {"Left", "200"}, {"Width", "905"},
        {"Height", "765"}, {"QualityTotal", "-1"}, {"Path", "/opt/bw/brindlewave"},
        {"TryLoadFreeDB", "1"}, {"FreeDBServer", "gnudb.gnudb.org"}, {"Timeout", "30"},
        {"CreateArtist", "1"}, {"CreateAlbum", "1"}, {"Separator", "1"},
        {"fint0", "0"}, {"fint1", "1"}, {"fint2", "1"}, {"fint3", "1"}, {"fint4", "0"},
        {"fint5", "0"}, {"fint6", "0"}, {"fstr0", "Track number 1"},
        {"fstr1", "Track number 01"}, {"fstr2", "Artist"}, {"fstr3", "Title"},
        {"fstr4", "Album"}, {"fstr5", "Year"}, {"fstr6", "Genre"}, {"AddSubFolders", "0"},
        {"KeepStructure", "0"}, {"CarryCovers", "1"}, {"SkipExisting", "0"}, {"SafeNames", "0"},
        {"VerifyAccurateRip", "1"}, {"AccurateRipServer", "www.accuraterip.com"}};
    for (const auto& [key, value] : expected) {
        ASSERT_TRUE(raw.contains(key)) << key;
        EXPECT_EQ(raw.value(key).toString(), value) << key;
    }
    // The contact address is the user's own, never a shared made-up one.
    const QString email = raw.value("FreeDBEmail").toString();
    EXPECT_TRUE(email.contains('@'));
    EXPECT_FALSE(email.startsWith('@'));
    EXPECT_FALSE(email.endsWith('@'));
}

TEST(SettingsIo, ReadsStoredValuesAndRaisesNothingForMissingStrings) {
    bwtest::TTempDir dir;
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p"); // first start writes everything
        store.WriteInteger("Volume", 73);
        store.WriteInteger("SAS", 5); // any non-zero integer reads as true
        store.WriteString("OutputFolder", dir.Path().string()); // no trailing separator
        store.WriteInteger("ConfirmOverWriteOp", 0);
        store.WriteString("fstr0", "Title");
        store.WriteInteger("fint6", 1);
        ASSERT_TRUE(store.Sync());
    }
    TSettingsStore store(StorePath(dir));
    const auto load = LoadSettings(store, {}, {}, "p");
    EXPECT_FALSE(load.FirstStart);
    EXPECT_TRUE(load.Error.empty()) << load.Error;
    EXPECT_EQ(load.Window.Volume, 73);
    EXPECT_TRUE(load.Window.SAS);
    EXPECT_EQ(load.App.OutputFolder, dir.Path().string() + "/");
    EXPECT_TRUE(load.App.OverwriteWithoutAsking);
    EXPECT_EQ(load.App.fstr[0], "Title");
    EXPECT_TRUE(load.App.fint[6]);
    EXPECT_TRUE(load.PresetNames.empty());
    EXPECT_FALSE(load.QualityItemRead); // no presets: the selection is not read
}

TEST(SettingsIo, MissingIntegerStopsLoadingAtThatValue) {
    bwtest::TTempDir dir;
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p");
        store.WriteInteger("Volume", 10);
        store.WriteInteger("Timeout", 99);
    }
    {
        QSettings raw(StorePath(dir), QSettings::IniFormat);
        raw.remove("PlaySoundOp");
        raw.setValue("SAS", "yes"); // not an integer: as bad as missing
    }
    TSettingsStore store(StorePath(dir));
    TWindowSettings builtIn;
    builtIn.Width = 1111;
    const auto load = LoadSettings(store, {}, builtIn, "p");
    EXPECT_EQ(load.Error, "Failed to get data for 'SAS'");
    EXPECT_EQ(load.Window.Volume, 10);      // read before the failure
    EXPECT_EQ(load.Window.Width, 1111);     // after it: the built-in value
    EXPECT_EQ(load.App.Timeout, 30);        // not read
}

// The count of files converted at once came after the ordered values: a store without it
// (written before it existed) loads without error at one lane per core, and a count out of
// 1..16, typed into the store by hand, is brought to the nearest bound. Saved, it comes back.
TEST(SettingsIo, ParallelJobsIsOptionalAndBounded) {
    bwtest::TTempDir dir;
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p");
    }
    {
        QSettings raw(StorePath(dir), QSettings::IniFormat);
        raw.remove("ParallelJobs");
    }
    {
        TSettingsStore store(StorePath(dir));
        TAppSettings app;
        app.ParallelJobs = 7; // what the window held before loading does not count
        const auto load = LoadSettings(store, app, {}, "p");
        EXPECT_TRUE(load.Error.empty()) << load.Error;
        EXPECT_EQ(load.App.ParallelJobs, DefaultParallelJobs());
    }
    const std::vector<std::pair<int, int>> storedToLoaded{
        {-3, 1}, {0, 1}, {1, 1}, {2, 2}, {15, 15}, {16, 16}, {17, 16}, {1000, 16}};
    for (const auto& [stored, loaded] : storedToLoaded) {
        {
            TSettingsStore store(StorePath(dir));
            store.WriteInteger("ParallelJobs", stored);
            ASSERT_TRUE(store.Sync());
        }
        TSettingsStore store(StorePath(dir));
        const auto load = LoadSettings(store, {}, {}, "p");
        EXPECT_TRUE(load.Error.empty()) << load.Error;
        EXPECT_EQ(load.App.ParallelJobs, loaded) << stored;
    }
    {
        TSettingsStore store(StorePath(dir));
        TAppSettings app;
        app.ParallelJobs = 5;
        ASSERT_TRUE(SaveSettings(store, app, {}));
    }
    TSettingsStore store(StorePath(dir));
    EXPECT_EQ(LoadSettings(store, {}, {}, "p").App.ParallelJobs, 5);
    // The default is a core count, and always a lane at least.
    EXPECT_GE(DefaultParallelJobs(), 1);
    EXPECT_LE(DefaultParallelJobs(), 16);
}

// The library switches, the rip verification and the ReplayGain tags came later too: missing,
// each takes its built-in value (covers, verification and the rip log on, the rest off, the
// public database) whatever the window held; saved, each comes back as it was set.
TEST(SettingsIo, LibrarySwitchesAreOptional) {
    bwtest::TTempDir dir;
    const char* keys[] = {"AddSubFolders", "KeepStructure", "CarryCovers", "SkipExisting", "SafeNames",
                          "VerifyAccurateRip", "AccurateRipServer", "WriteRipLog", "ReplayGainMode"};
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p");
    }
    {
        QSettings raw(StorePath(dir), QSettings::IniFormat);
        for (const char* key : keys)
            raw.remove(key);
    }
    TAppSettings flipped;
    flipped.AddSubFolders = flipped.KeepStructure = flipped.SkipExisting = flipped.SafeNames = true;
    flipped.CarryCovers = flipped.VerifyAccurateRip = flipped.WriteRipLog = false;
    flipped.AccurateRipServer = "127.0.0.1:8080";
    flipped.ReplayGainMode = 2;
    // Read offsets by drive model, each its own value.
    flipped.ReadOffsets = {{"ACME CD-1", -1200}, {"CD image", 6}};
    const auto asList = [](const TAppSettings& a) {
        return std::tuple(std::vector<bool>{a.AddSubFolders, a.KeepStructure, a.CarryCovers, a.SkipExisting,
                                            a.SafeNames, a.VerifyAccurateRip, a.WriteRipLog},
                          a.AccurateRipServer, a.ReplayGainMode);
    };
    {
        TSettingsStore store(StorePath(dir));
        const auto load = LoadSettings(store, flipped, {}, "p");
        EXPECT_TRUE(load.Error.empty()) << load.Error;
        EXPECT_EQ(asList(load.App), std::tuple(std::vector<bool>{false, false, true, false, false, true, true},
                                               std::string("www.accuraterip.com"), 0));
        EXPECT_TRUE(load.App.ReadOffsets.empty());
        ASSERT_TRUE(SaveSettings(store, flipped, {}));
    }
    QSettings(StorePath(dir), QSettings::IniFormat).setValue("ReadOffset_Far Out", 9999);
    TSettingsStore store(StorePath(dir));
    const auto load = LoadSettings(store, {}, {}, "p");
    EXPECT_EQ(asList(load.App), asList(flipped));
    flipped.ReadOffsets["Far Out"] = 3000; // brought into range
    EXPECT_EQ(load.App.ReadOffsets, flipped.ReadOffsets);
}

TEST(SettingsIo, GoneOutputFolderKeepsTheDefault) {
    bwtest::TTempDir dir;
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p");
        store.WriteString("OutputFolder", dir.File("gone"));
    }
    TSettingsStore store(StorePath(dir));
    TAppSettings app;
    app.OutputFolder = "/desk/";
    const auto load = LoadSettings(store, app, {}, "p");
    EXPECT_EQ(load.App.OutputFolder, "/desk/");
}

TEST(SettingsIo, PresetNamesAndSelectionAreRead) {
    bwtest::TTempDir dir;
    {
        TSettingsStore store(StorePath(dir));
        LoadSettings(store, {}, {}, "p");
        QSettings raw(StorePath(dir), QSettings::IniFormat);
        raw.setValue("QualityTotal", 2);
        raw.setValue("QualityItem_0/Name", "Good");
        raw.setValue("QualityItem_1/Name", "Best");
        raw.setValue("QualityItem", 1);
    }
    TSettingsStore store(StorePath(dir));
    const auto load = LoadSettings(store, {}, {}, "p");
    EXPECT_EQ(load.PresetNames, (std::vector<std::string>{"Good", "Best"}));
    EXPECT_TRUE(load.QualityItemRead);
    EXPECT_EQ(load.Window.QualityItem, 1);

    // A damaged count lists the groups that are there, not empty names up to the count.
    store.WriteInteger("QualityTotal", 2147483647);
    EXPECT_EQ(LoadSettings(store, {}, {}, "p").PresetNames, load.PresetNames);
}

TEST(SettingsIo, SaveWritesOnlyIntoAnExistingStoreAndReportsFailure) {
    bwtest::TTempDir dir;
    {
        TSettingsStore fresh(StorePath(dir));
        EXPECT_TRUE(SaveSettings(fresh, {}, {}));
    }
    EXPECT_FALSE(QFile::exists(StorePath(dir))); // nothing written without a main key

    TSettingsStore store(StorePath(dir));
    LoadSettings(store, {}, {}, "p");
    TAppSettings app;
    app.OutputFolder = "/music/out/";
    app.Separator = 3;
    TWindowSettings w;
    w.ActivePage = 4;
    w.Volume = 0;
    ASSERT_TRUE(SaveSettings(store, app, w));
    QSettings raw(StorePath(dir), QSettings::IniFormat);
    EXPECT_EQ(raw.value("OutputFolder").toString(), "/music/out/");
    EXPECT_EQ(raw.value("Separator").toInt(), 3);
    EXPECT_EQ(raw.value("ActivePage").toInt(), 4);
    EXPECT_EQ(raw.value("Volume").toInt(), 0);
    EXPECT_EQ(raw.value("QualityTotal").toInt(), -1); // not touched at close

}

TEST(SettingsIo, StoreThatCannotBeWrittenIsReported) {
    bwtest::TTempDir dir;
    // The store's folder is taken by a plain file, so nothing can be written there.
    bwtest::WriteAll(dir.File("blocked"), {std::byte{1}});
    TSettingsStore store(QString::fromStdString(dir.File("blocked/bw.conf")));
    LoadSettings(store, {}, {}, "p");
    EXPECT_FALSE(SaveSettings(store, {}, {}));
    EXPECT_EQ(bwtest::ReadAll(dir.File("blocked")), std::vector<std::byte>{std::byte{1}});
}

// Outputs start on the Desktop, or where a system has none, in Music, else at home: never
// in a folder that does not exist.
TEST(SettingsIo, DefaultOutputFolderExists) {
    bwtest::TTempDir home;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.Path().string()));
    // No user-dirs file: the folders are the usual ones below home.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.File("config")));
    const std::string base = home.Path().string() + "/";
    EXPECT_EQ(bw::DefaultOutputFolder(), base);
    std::filesystem::create_directory(home.File("Music"));
    EXPECT_EQ(bw::DefaultOutputFolder(), base + "Music/");
    std::filesystem::create_directory(home.File("Desktop"));
    EXPECT_EQ(bw::DefaultOutputFolder(), base + "Desktop/");
    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
}
