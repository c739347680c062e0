#include "shell/settingsio.h"

#include "shell/presets.h"
#include "shell/settingskeys.h"
#include "shell/settingsstore.h"

#include <QDir>
#include <optional>
#include <type_traits>

namespace bw {

namespace {

QString Indexed(const char* prefix, int i) { return QString::fromLatin1(prefix) + QString::number(i); }

// The switches for converting whole libraries. Stored apart from the ordered values, since
// stores written before them lack them; a missing one takes its built-in value.
struct TLibraryFlag {
    const char* Key;
    bool TAppSettings::*Field;
};
constexpr TLibraryFlag kLibraryFlags[] = {
    {keys::kAddSubFolders, &TAppSettings::AddSubFolders}, {keys::kKeepStructure, &TAppSettings::KeepStructure},
    {keys::kCarryCovers, &TAppSettings::CarryCovers},     {keys::kSkipExisting, &TAppSettings::SkipExisting},
    {keys::kSafeNames, &TAppSettings::SafeNames},
};

void WriteLibraryFlags(TSettingsStore& store, const TAppSettings& a) {
    for (const TLibraryFlag& f : kLibraryFlags)
        store.WriteBool(f.Key, a.*f.Field);
}

void ReadLibraryFlags(TSettingsStore& store, TAppSettings& a) {
    const TAppSettings builtIn;
    for (const TLibraryFlag& f : kLibraryFlags)
        a.*f.Field = store.ReadBool(f.Key).value_or(builtIn.*f.Field);
}

// Reads integers and booleans in order until the first missing one; after a failure every
// further read is skipped, which is how a damaged store leaves the rest at built-in values.
class TOrderedReader {
public:
    TOrderedReader(const TSettingsStore& store, std::string& error) : store_(store), error_(error) {}

    bool Ok() const { return error_.empty(); }

    void Int(const QString& name, int& out) {
        if (!Ok())
            return;
        if (auto v = store_.ReadInteger(name))
            out = *v;
        else
            Fail(name);
    }
    void Bool(const QString& name, bool& out) {
        if (!Ok())
            return;
        if (auto v = store_.ReadBool(name))
            out = *v;
        else
            Fail(name);
    }
    void String(const QString& name, std::string& out) {
        if (Ok())
            out = store_.ReadString(name);
    }

private:
    void Fail(const QString& name) {
        error_ = "Failed to get data for '" + name.toStdString() + "'";
    }
    const TSettingsStore& store_;
    std::string& error_;
};

// The disc database and file-name values in their stored order, last in the store: each
// name with its field, for the writer and the reader alike.
template <class TSettings, class F> void VisitDiscAndNamingValues(TSettings& a, F&& value) {
    value(keys::kTryLoadFreeDB, a.TryLoadFreeDB);
    value(keys::kFreeDBServer, a.FreeDBServer);
    value(keys::kFreeDBEmail, a.FreeDBEmail);
    value(keys::kTimeout, a.Timeout);
    value(keys::kCreateArtist, a.CreateArtist);
    value(keys::kCreateAlbum, a.CreateAlbum);
    value(keys::kSeparator, a.Separator);
    for (int i = 0; i < kPatternElements; ++i)
        value(Indexed(keys::kFintPrefix, i), a.fint[static_cast<size_t>(i)]);
    for (int i = 0; i < kPatternElements; ++i)
        value(Indexed(keys::kFstrPrefix, i), a.fstr[static_cast<size_t>(i)]);
}

// Written at first start and at close.
void WriteDiscAndNamingValues(TSettingsStore& store, const TAppSettings& a) {
    VisitDiscAndNamingValues(a, [&store](const QString& name, const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>)
            store.WriteBool(name, v);
        else if constexpr (std::is_same_v<T, int>)
            store.WriteInteger(name, v);
        else
            store.WriteString(name, v);
    });
}

void WriteFirstStartDefaults(TSettingsStore& store, const std::string& programPath,
                             const TSettingsHooks& hooks) {
    const TWindowSettings w = DefaultWindowSettings();
    const TAppSettings a = DefaultAppSettings();
    store.WriteInteger(keys::kActivePage, w.ActivePage);
    store.WriteInteger(keys::kQualityItem, w.QualityItem);
    store.WriteString(keys::kOutputFolder, "");
    store.WriteBool(keys::kViewToolBar, w.ViewToolBar);
    store.WriteBool(keys::kViewEncoder, w.ViewEncoder);
    store.WriteBool(keys::kViewPlayer, w.ViewPlayer);
    store.WriteBool(keys::kViewStatus, w.ViewStatus);
    store.WriteInteger(keys::kVolume, w.Volume);
    store.WriteBool(keys::kSAS, w.SAS);
    store.WriteBool(keys::kConfirmOverWriteOp, !a.OverwriteWithoutAsking);
    store.WriteBool(keys::kPlaySoundOp, a.PlaySoundOp);
    store.WriteBool(keys::kOpenFolderOp, a.OpenFolderOp);
    store.WriteInteger(keys::kParallelJobs, a.ParallelJobs);
    store.WriteInteger(keys::kTop, w.Top);
    store.WriteInteger(keys::kLeft, w.Left);
    store.WriteInteger(keys::kWidth, w.Width);
    store.WriteInteger(keys::kHeight, w.Height);
    // No presets yet: the reset below creates the defaults and counts them.
    store.WriteInteger(keys::kQualityTotal, -1);
    if (hooks.ResetAllPresets)
        hooks.ResetAllPresets(store);
    store.WriteString(keys::kPath, programPath);
    WriteDiscAndNamingValues(store, a);
    WriteLibraryFlags(store, a);
}

void CopyDefaultOptions(TAppSettings& app) {
    // The in-memory copy takes the defaults of what was just written; the folders and the
    // start directory were set before loading and stay.
    const TAppSettings d = DefaultAppSettings();
    app.OverwriteWithoutAsking = d.OverwriteWithoutAsking;
    app.PlaySoundOp = d.PlaySoundOp;
    app.OpenFolderOp = d.OpenFolderOp;
    app.ParallelJobs = d.ParallelJobs;
    for (const TLibraryFlag& f : kLibraryFlags)
        app.*f.Field = d.*f.Field;
    app.TryLoadFreeDB = d.TryLoadFreeDB;
    app.FreeDBServer = d.FreeDBServer;
    app.FreeDBEmail = d.FreeDBEmail;
    app.Timeout = d.Timeout;
    app.CreateArtist = d.CreateArtist;
    app.CreateAlbum = d.CreateAlbum;
    app.Separator = d.Separator;
    app.fint = d.fint;
    app.fstr = d.fstr;
}

} // namespace

TSettingsLoad LoadSettings(TSettingsStore& store, const TAppSettings& app,
                           const TWindowSettings& window, const std::string& programPath,
                           const TSettingsHooks& hooks) {
    TSettingsLoad out;
    out.App = app;
    out.Window = window;
    if (!store.MainKeyExists()) {
        out.FirstStart = true;
        WriteFirstStartDefaults(store, programPath, hooks);
        CopyDefaultOptions(out.App);
        store.Sync();
        return out;
    }

    TOrderedReader r(store, out.Error);
    TWindowSettings& w = out.Window;
    TAppSettings& a = out.App;
    r.Int(keys::kActivePage, w.ActivePage);
    if (r.Ok()) {
        // A folder that has gone since the last run is ignored: the default stays.
        const std::string folder = store.ReadString(keys::kOutputFolder);
        const bool exists = hooks.FolderExists ? hooks.FolderExists(folder)
                                               : (!folder.empty() && QDir(QString::fromStdString(folder)).exists());
        if (!folder.empty() && exists)
            a.OutputFolder = WithTrailingSeparator(folder);
    }
    r.Bool(keys::kViewToolBar, w.ViewToolBar);
    r.Bool(keys::kViewEncoder, w.ViewEncoder);
    r.Bool(keys::kViewPlayer, w.ViewPlayer);
    r.Bool(keys::kViewStatus, w.ViewStatus);
    r.Int(keys::kVolume, w.Volume);
    r.Bool(keys::kSAS, w.SAS);
    bool confirm = !a.OverwriteWithoutAsking;
    r.Bool(keys::kConfirmOverWriteOp, confirm);
    a.OverwriteWithoutAsking = !confirm;
    r.Bool(keys::kPlaySoundOp, a.PlaySoundOp);
    r.Bool(keys::kOpenFolderOp, a.OpenFolderOp);
    r.Int(keys::kTop, w.Top);
    r.Int(keys::kLeft, w.Left);
    r.Int(keys::kWidth, w.Width);
    r.Int(keys::kHeight, w.Height);
    VisitDiscAndNamingValues(a, [&r](const QString& name, auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>)
            r.Bool(name, v);
        else if constexpr (std::is_same_v<T, int>)
            r.Int(name, v);
        else
            r.String(name, v);
    });
    if (!r.Ok())
        return out;
    // Read apart from the ordered values: a store from before lanes has none, and that is
    // no damage. Missing or unreadable, it is one lane per core; out of range, the nearest.
    const std::optional<int> jobs = store.ReadInteger(keys::kParallelJobs);
    a.ParallelJobs = jobs ? ClampParallelJobs(*jobs) : DefaultParallelJobs();
    ReadLibraryFlags(store, a);

    store.WriteString(keys::kPath, programPath);

    // The count is read in its place in the order, so a damaged one stops the load here;
    // how many presets there are is then up to the groups actually stored.
    int total = 0;
    r.Int(keys::kQualityTotal, total);
    if (r.Ok())
        out.PresetNames = StoredPresetNames(store);
    if (r.Ok() && !out.PresetNames.empty()) {
        r.Int(keys::kQualityItem, w.QualityItem);
        out.QualityItemRead = r.Ok();
    }
    store.Sync();
    return out;
}

bool SaveSettings(TSettingsStore& store, const TAppSettings& a, const TWindowSettings& w) {
    if (!store.MainKeyExists())
        return true;
    store.WriteInteger(keys::kActivePage, w.ActivePage);
    store.WriteInteger(keys::kQualityItem, w.QualityItem);
    store.WriteString(keys::kOutputFolder, a.OutputFolder);
    store.WriteBool(keys::kViewToolBar, w.ViewToolBar);
    store.WriteBool(keys::kViewEncoder, w.ViewEncoder);
    store.WriteBool(keys::kViewPlayer, w.ViewPlayer);
    store.WriteBool(keys::kViewStatus, w.ViewStatus);
    store.WriteInteger(keys::kVolume, w.Volume);
    store.WriteBool(keys::kSAS, w.SAS);
    store.WriteInteger(keys::kTop, w.Top);
    store.WriteInteger(keys::kLeft, w.Left);
    store.WriteInteger(keys::kWidth, w.Width);
    store.WriteInteger(keys::kHeight, w.Height);
    store.WriteBool(keys::kConfirmOverWriteOp, !a.OverwriteWithoutAsking);
    store.WriteBool(keys::kPlaySoundOp, a.PlaySoundOp);
    store.WriteBool(keys::kOpenFolderOp, a.OpenFolderOp);
    store.WriteInteger(keys::kParallelJobs, a.ParallelJobs);
    WriteDiscAndNamingValues(store, a);
    WriteLibraryFlags(store, a);
    return store.Sync();
}

} // namespace bw
