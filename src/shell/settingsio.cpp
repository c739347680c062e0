#include "shell/settingsio.h"

#include "cd/cddrives.h"
#include "shell/presets.h"
#include "shell/settingskeys.h"
#include "shell/settingsstore.h"

#include <QDir>
#include <algorithm>
#include <optional>
#include <type_traits>
#include <utility>

namespace bw {

namespace {

QString Indexed(const char* prefix, int i) { return QString::fromLatin1(prefix) + QString::number(i); }

// How a value is read back.
enum class TStored {
    InOrder, // in its place in the order; a missing integer or boolean stops the load there
    Negated, // as InOrder, but the store holds the opposite of the field
    Folder,  // the output folder: in order, and kept only while the folder exists
    Apart,   // added after the first stores: read after the ordered values, and a missing
             // one takes its default
    Lanes,   // the parallel jobs: apart, defaulting to one lane per core and kept in range
    Chosen,  // the chosen preset: read last, once there are presets to choose from
};

struct TEntry {
    QString Name;
    TStored Stored;
    bool InWindow; // a value of the window's controls rather than of TAppSettings
};

// Every value the settings keep in the store, in the order they are read, each name with
// its field: the first start, the load and the close walk this one list. visit gets the
// entry and that field of each of the settings passed (each with an App and a Window), so
// that a walk can read, write or copy between them. "Path" and "QualityTotal" belong to
// the presets and the program, and are not listed.
template <class F, class... S> void VisitSettings(F&& visit, S&&... s) {
    const auto w = [](const char* key) { return TEntry{QString::fromLatin1(key), TStored::InOrder, true}; };
    const auto a = [](const QString& key, TStored how = TStored::InOrder) { return TEntry{key, how, false}; };
    visit(w(keys::kActivePage), s.Window.ActivePage...);
    visit(a(keys::kOutputFolder, TStored::Folder), s.App.OutputFolder...);
    visit(w(keys::kViewToolBar), s.Window.ViewToolBar...);
    visit(w(keys::kViewEncoder), s.Window.ViewEncoder...);
    visit(w(keys::kViewPlayer), s.Window.ViewPlayer...);
    visit(w(keys::kViewStatus), s.Window.ViewStatus...);
    visit(w(keys::kVolume), s.Window.Volume...);
    visit(w(keys::kSAS), s.Window.SAS...);
    visit(a(keys::kConfirmOverWriteOp, TStored::Negated), s.App.OverwriteWithoutAsking...);
    visit(a(keys::kPlaySoundOp), s.App.PlaySoundOp...);
    visit(a(keys::kOpenFolderOp), s.App.OpenFolderOp...);
    visit(w(keys::kTop), s.Window.Top...);
    visit(w(keys::kLeft), s.Window.Left...);
    visit(w(keys::kWidth), s.Window.Width...);
    visit(w(keys::kHeight), s.Window.Height...);
    // The disc database and file-name values.
    visit(a(keys::kTryLoadFreeDB), s.App.TryLoadFreeDB...);
    visit(a(keys::kFreeDBServer), s.App.FreeDBServer...);
    visit(a(keys::kFreeDBEmail), s.App.FreeDBEmail...);
    visit(a(keys::kTimeout), s.App.Timeout...);
    visit(a(keys::kCreateArtist), s.App.CreateArtist...);
    visit(a(keys::kCreateAlbum), s.App.CreateAlbum...);
    visit(a(keys::kSeparator), s.App.Separator...);
    for (size_t i = 0; i < kPatternElements; ++i)
        visit(a(Indexed(keys::kFintPrefix, static_cast<int>(i))), s.App.fint[i]...);
    for (size_t i = 0; i < kPatternElements; ++i)
        visit(a(Indexed(keys::kFstrPrefix, static_cast<int>(i))), s.App.fstr[i]...);
    // Stores written before lanes and before converting whole libraries lack these.
    visit(a(keys::kParallelJobs, TStored::Lanes), s.App.ParallelJobs...);
    visit(a(keys::kAddSubFolders, TStored::Apart), s.App.AddSubFolders...);
    visit(a(keys::kKeepStructure, TStored::Apart), s.App.KeepStructure...);
    visit(a(keys::kCarryCovers, TStored::Apart), s.App.CarryCovers...);
    visit(a(keys::kSkipExisting, TStored::Apart), s.App.SkipExisting...);
    visit(a(keys::kSafeNames, TStored::Apart), s.App.SafeNames...);
    visit(a(keys::kVerifyAccurateRip, TStored::Apart), s.App.VerifyAccurateRip...);
    visit(a(keys::kAccurateRipServer, TStored::Apart), s.App.AccurateRipServer...);
    visit(a(keys::kWriteRipLog, TStored::Apart), s.App.WriteRipLog...);
    visit(a(keys::kLookUpMusicBrainz, TStored::Apart), s.App.LookUpMusicBrainz...);
    visit(a(keys::kMusicBrainzServer, TStored::Apart), s.App.MusicBrainzServer...);
    visit(a(keys::kMusicBrainzContact, TStored::Apart), s.App.MusicBrainzContact...);
    visit(a(keys::kCoverArtServer, TStored::Apart), s.App.CoverArtServer...);
    visit(a(keys::kReplayGainMode, TStored::Apart), s.App.ReplayGainMode...);
    visit(TEntry{QString::fromLatin1(keys::kQualityItem), TStored::Chosen, true}, s.Window.QualityItem...);
}

// The two halves of the settings, as VisitSettings walks them.
template <class A, class W> struct THalves {
    A& App;
    W& Window;
};
template <class A, class W> THalves(A&, W&) -> THalves<A, W>;

void WriteAll(TSettingsStore& store, const TAppSettings& app, const TWindowSettings& window) {
    const THalves settings{app, window};
    VisitSettings(
        [&store](const TEntry& e, const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>)
                store.WriteBool(e.Name, e.Stored == TStored::Negated ? !v : v);
            else if constexpr (std::is_same_v<T, int>)
                store.WriteInteger(e.Name, v);
            else
                store.WriteString(e.Name, v);
        },
        settings);
    for (const auto& [model, offset] : app.ReadOffsets)
        store.WriteInteger(QString::fromLatin1(keys::kReadOffsetPrefix) + QString::fromStdString(model),
                           offset);
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
    template <class T> void Value(const QString& name, T& out) {
        if constexpr (std::is_same_v<T, bool>)
            Bool(name, out);
        else if constexpr (std::is_same_v<T, int>)
            Int(name, out);
        else
            String(name, out);
    }

private:
    void Fail(const QString& name) {
        error_ = "Failed to get data for '" + name.toStdString() + "'";
    }
    const TSettingsStore& store_;
    std::string& error_;
};

void WriteFirstStartDefaults(TSettingsStore& store, const std::string& programPath,
                             const TSettingsHooks& hooks) {
    WriteAll(store, DefaultAppSettings(), DefaultWindowSettings());
    // No presets yet: the reset creates the defaults and counts them.
    store.WriteInteger(keys::kQualityTotal, -1);
    if (hooks.ResetAllPresets)
        hooks.ResetAllPresets(store);
    store.WriteString(keys::kPath, programPath);
}

// The in-memory copy takes the defaults of what was just written; the folders and the
// start directory were set before loading and stay, and so does the window.
void CopyDefaultOptions(TAppSettings& app) {
    TWindowSettings unused;
    const TAppSettings d = DefaultAppSettings();
    const TWindowSettings dw = DefaultWindowSettings();
    VisitSettings(
        [](const TEntry& e, auto& target, const auto& def) {
            if (!e.InWindow && e.Stored != TStored::Folder)
                target = def;
        },
        THalves{app, unused}, THalves{d, dw});
}

} // namespace

std::map<std::string, int> LoadReadOffsets(const TSettingsStore& store) {
    std::map<std::string, int> offsets;
    const QString prefix = QString::fromLatin1(keys::kReadOffsetPrefix);
    for (const QString& key : store.Keys())
        if (key.startsWith(prefix) && key.size() > prefix.size())
            if (const auto offset = store.ReadInteger(key))
                offsets[key.mid(prefix.size()).toStdString()] =
                    std::clamp(*offset, -kMaxReadOffset, kMaxReadOffset);
    return offsets;
}

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
    VisitSettings(
        [&](const TEntry& e, auto& v) {
            if (e.Stored == TStored::InOrder) {
                r.Value(e.Name, v);
            } else if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>) {
                if (e.Stored == TStored::Negated) {
                    bool stored = !v;
                    r.Bool(e.Name, stored);
                    v = !stored;
                }
            } else if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
                if (e.Stored == TStored::Folder && r.Ok()) {
                    // A folder that has gone since the last run is ignored: the default stays.
                    const std::string folder = store.ReadString(e.Name);
                    const bool exists = hooks.FolderExists ? hooks.FolderExists(folder)
                                                           : (!folder.empty() && QDir(QString::fromStdString(folder)).exists());
                    if (!folder.empty() && exists)
                        v = WithTrailingSeparator(folder);
                }
            }
        },
        out);
    if (!r.Ok())
        return out;
    // Read apart from the ordered values: an older store lacks them, and that is no damage.
    // Missing or unreadable, the lanes are one per core; out of range, the nearest.
    const TAppSettings defaults = DefaultAppSettings();
    VisitSettings(
        [&store](const TEntry& e, auto& v, const auto& def) {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, bool>) {
                if (e.Stored == TStored::Apart)
                    v = store.ReadBool(e.Name).value_or(def);
            } else if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
                if (e.Stored == TStored::Apart) {
                    const std::string stored = store.ReadString(e.Name);
                    v = stored.empty() ? def : stored;
                }
            } else if constexpr (std::is_same_v<std::decay_t<decltype(v)>, int>) {
                if (e.Stored == TStored::Lanes) {
                    const std::optional<int> jobs = store.ReadInteger(e.Name);
                    v = jobs ? ClampParallelJobs(*jobs) : DefaultParallelJobs();
                } else if (e.Stored == TStored::Apart) {
                    v = store.ReadInteger(e.Name).value_or(def);
                }
            }
        },
        out, THalves{defaults, std::as_const(out.Window)});
    out.App.ReadOffsets = LoadReadOffsets(store);
    // A mode this program does not know (a damaged store) writes no tags.
    if (out.App.ReplayGainMode < 0 || out.App.ReplayGainMode > 2)
        out.App.ReplayGainMode = 0;

    store.WriteString(keys::kPath, programPath);

    // The count is read in its place in the order, so a damaged one stops the load here;
    // how many presets there are is then up to the groups actually stored.
    int total = 0;
    r.Int(keys::kQualityTotal, total);
    if (r.Ok())
        out.PresetNames = StoredPresetNames(store);
    if (r.Ok() && !out.PresetNames.empty()) {
        VisitSettings(
            [&r](const TEntry& e, auto& v) {
                if (e.Stored == TStored::Chosen)
                    r.Value(e.Name, v);
            },
            out);
        out.QualityItemRead = r.Ok();
    }
    store.Sync();
    return out;
}

bool SaveSettings(TSettingsStore& store, const TAppSettings& a, const TWindowSettings& w) {
    if (!store.MainKeyExists())
        return true;
    WriteAll(store, a, w);
    return store.Sync();
}

} // namespace bw
