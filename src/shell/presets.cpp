#include "shell/presets.h"

#include "shell/settingskeys.h"
#include "shell/settingsstore.h"

#include <algorithm>
#include <array>
#include <optional>

namespace bw {

namespace {

constexpr std::array<const char*, kBuiltInPresetCount> kBuiltInNames{
    "HiFi Quality", "CD Quality", "FM Radio Quality", "AM Radio Quality", "Telephone Quality"};

struct TBuiltInRow {
    const char* Name;
    std::array<int, kBuiltInPresetCount> Values; // one per built-in preset, in key order
};

// The built-in presets, value by value, as list indexes, slider positions and 0/1.
constexpr auto kBuiltInTable = std::to_array<TBuiltInRow>({
    {"MP3SampleRate", {0, 1, 2, 2, 2}},
    {"MP3Channels", {0, 0, 1, 4, 4}},
    {"MP3Original", {0, 0, 0, 0, 0}},
    {"MP3Copyright", {0, 0, 0, 0, 0}},
    {"MP3CRC", {0, 0, 0, 0, 0}},
    {"MP3CBR", {1, 1, 1, 1, 1}},
    {"MP3BitRate", {10, 8, 6, 4, 2}},
    {"MP3HQ", {1, 0, 0, 0, 0}},
    {"MP3VBR", {0, 0, 0, 0, 0}},
    {"MP3MinBitRate", {10, 8, 6, 4, 2}},
    {"MP3MaxBitRate", {13, 10, 8, 6, 4}},
    {"MP3VBRQuality", {9, 7, 5, 3, 1}},
    {"OGGSamplerate", {0, 1, 4, 4, 7}},
    {"OGGChannels", {0, 0, 0, 1, 1}},
    {"OGGQuality", {1, 1, 1, 1, 1}},
    {"OGGQualitySel", {6, 4, 4, 4, 4}},
    {"OGGBitrateManager", {0, 0, 0, 0, 0}},
    {"OGGNominal", {10, 8, 6, 4, 2}},
    {"OGGVBR", {0, 0, 0, 0, 0}},
    {"OGGMin", {10, 8, 6, 4, 2}},
    {"OGGMax", {13, 10, 8, 6, 4}},
    {"WAVSamplerate", {0, 1, 4, 4, 6}},
    {"WAVChannels", {0, 0, 0, 1, 1}},
    {"WAVNormalize", {0, 0, 0, 0, 0}},
    {"WAVbps", {0, 0, 0, 0, 1}},
    {"WMASamplerate", {0, 1, 2, 3, 4}},
    {"WMAChannels", {1, 1, 1, 0, 0}},
    {"WMABitrate", {0, 4, 0, 0, 0}},
    {"FLACMyTrackBar", {5, 5, 5, 5, 5}},
    {"FLACLax", {1, 1, 1, 1, 1}},
    {"APEMyTrackBar", {2, 2, 2, 2, 2}},
    {"MPCMyTrackBar", {5, 4, 3, 2, 1}},
    {"WVMode", {2, 1, 0, 0, 0}},
    {"WVHybrid", {0, 0, 0, 0, 0}},
    {"WVBits", {40, 40, 40, 40, 40}},
    {"WVCorrection", {0, 0, 0, 0, 0}},
    {"OPUSBitrate", {160, 128, 96, 48, 24}},
    {"OPUSMode", {0, 0, 0, 0, 0}},
    {"OPUSComplexity", {10, 10, 10, 10, 10}},
    {"AACBitrate", {256, 192, 128, 64, 32}},
});

// The controls that are check boxes or radio buttons: stored 0/1, read true when non-zero.
constexpr std::array<std::string_view, 13> kSwitches{
    "MP3Original", "MP3Copyright", "MP3CRC", "MP3CBR", "MP3HQ", "MP3VBR", "OGGQuality",
    "OGGBitrateManager", "OGGVBR", "WAVNormalize", "FLACLax", "WVHybrid", "WVCorrection"};

QString GroupName(int index) {
    return QString::fromLatin1(keys::kPresetGroupPrefix) + QString::number(index);
}

// Whether a sub-key name is a preset group: the prefix followed by decimal digits only.
bool IsPresetGroup(const QString& group) {
    const QString prefix = QString::fromLatin1(keys::kPresetGroupPrefix);
    if (!group.startsWith(prefix) || group.size() == prefix.size())
        return false;
    for (qsizetype i = prefix.size(); i < group.size(); ++i)
        if (group[i] < QLatin1Char('0') || group[i] > QLatin1Char('9'))
            return false;
    return true;
}

// One stored value of a preset: its name, as the store spells it too, and what the control
// takes of a stored number (its nearest value in range, never a wild index).
struct TPresetKey {
    std::string Name;
    QString StoreName;
    bool Switch = false;
    std::optional<std::pair<int, int>> Range;
    // Added with the later pages: read apart from the ordered values, the page's default
    // when a preset stored before them lacks it.
    bool Apart = false;
    int Default = 0;

    int ControlValue(int stored) const {
        if (Switch)
            return stored != 0 ? 1 : 0;
        return Range ? std::clamp(stored, Range->first, Range->second) : stored;
    }
};

// Worked out once: a store may hold thousands of presets, each read key by key.
const std::vector<TPresetKey>& PresetKeys() {
    static const std::vector<TPresetKey> presetKeys = [] {
        std::vector<TPresetKey> list;
        const TEncoderOptions defaults;
        for (std::string& name : EncoderOptionNames()) {
            const bool isSwitch = std::find(kSwitches.begin(), kSwitches.end(), name) != kSwitches.end();
            const auto range = EncoderOptionRange(name);
            const bool apart = IsApartOption(name);
            const int byDefault = EncoderOptionValue(defaults, name).value_or(0);
            QString storeName = QString::fromStdString(name);
            list.push_back({std::move(name), std::move(storeName), isSwitch, range, apart, byDefault});
        }
        return list;
    }();
    return presetKeys;
}

void Apply(TEncoderOptions& options, const std::string& name, int value) {
    // Every value handed here is a known name inside its range.
    SetEncoderOption(options, name, std::to_string(value), nullptr);
}

void WriteValues(TSettingsStore& store, const QString& group, const TEncoderOptions& options) {
    for (const TPresetKey& key : PresetKeys())
        store.WriteGroupInteger(group, key.StoreName,
                                key.ControlValue(EncoderOptionValue(options, key.Name).value_or(0)));
}

} // namespace

const std::vector<TPreset>& BuiltInPresets() {
    static const std::vector<TPreset> presets = [] {
        std::vector<TPreset> list;
        for (size_t p = 0; p < kBuiltInNames.size(); ++p) {
            TPreset preset{kBuiltInNames[p], {}};
            for (const TBuiltInRow& row : kBuiltInTable)
                Apply(preset.Options, row.Name, row.Values[p]);
            list.push_back(std::move(preset));
        }
        return list;
    }();
    return presets;
}

int StoredPresetCount(const TSettingsStore& store) {
    const int total = store.ReadInteger(keys::kQualityTotal).value_or(0);
    if (total <= 0)
        return 0;
    // Group by group, by its name first: listing the groups, or one group's keys, walks
    // every key of a store that may hold thousands of presets.
    const QString name = QString::fromLatin1(keys::kPresetName);
    int n = 0;
    while (n < total && (store.HasGroupValue(GroupName(n), name) || store.HasGroup(GroupName(n))))
        ++n;
    return n;
}

std::vector<std::string> StoredPresetNames(const TSettingsStore& store) {
    std::vector<std::string> names;
    const int count = StoredPresetCount(store);
    for (int n = 0; n < count; ++n)
        names.push_back(store.ReadGroupString(GroupName(n), keys::kPresetName));
    return names;
}

TPresetValues ReadPreset(const TSettingsStore& store, int index) {
    TPresetValues out;
    if (index < 0)
        return out;
    const QString group = GroupName(index);
    bool anyStored = false;
    for (const TPresetKey& key : PresetKeys()) {
        if (key.Apart)
            continue;
        const auto stored = store.ReadGroupInteger(group, key.StoreName);
        if (!stored) {
            out.Error = "Failed to get data for '" + key.Name + "'";
            break;
        }
        anyStored = true;
        out.Values.emplace_back(key.Name, key.ControlValue(*stored));
    }
    // A value read shows that the group is there; only without one are its keys listed.
    for (const TPresetKey& key : PresetKeys()) {
        if (!key.Apart)
            continue;
        const auto stored = store.ReadGroupInteger(group, key.StoreName);
        anyStored = anyStored || stored.has_value();
        out.Values.emplace_back(key.Name, stored ? key.ControlValue(*stored) : key.Default);
    }
    if (!anyStored && !store.HasGroup(group))
        return {};
    out.Found = true;
    out.Name = store.ReadGroupString(group, keys::kPresetName);
    return out;
}

TPresetLoad LoadPreset(const TSettingsStore& store, int index, TEncoderOptions& options) {
    const TPresetValues read = ReadPreset(store, index);
    for (const auto& [name, value] : read.Values) {
        Apply(options, name, value);
        // The WMA page refills its bitrate list for the new rate and channels and selects
        // the first entry; a preset that stops before its bitrate keeps that choice.
        if (name == "WMAChannels")
            options.Wma.WMABitrate = 0;
    }
    return {read.Found, read.Error};
}

bool SavePreset(TSettingsStore& store, int index, const TEncoderOptions& options) {
    if (!store.MainKeyExists() || index < 0 || !store.HasGroup(GroupName(index)))
        return false;
    WriteValues(store, GroupName(index), options);
    return store.Sync();
}

std::optional<int> SavePresetAs(TSettingsStore& store, const std::string& name,
                                const TEncoderOptions& options) {
    if (!store.MainKeyExists())
        return std::nullopt;
    const int n = StoredPresetCount(store);
    store.WriteInteger(keys::kQualityTotal, n + 1);
    // A group left past the count by a damaged store must not lend the new one its values.
    store.RemoveGroup(GroupName(n));
    store.WriteGroupString(GroupName(n), keys::kPresetName, name);
    WriteValues(store, GroupName(n), options);
    store.Sync();
    return n;
}

bool RemovePreset(TSettingsStore& store, int index) {
    if (!store.MainKeyExists() || store.ReadInteger(keys::kQualityTotal) == -1)
        return false;
    const int total = StoredPresetCount(store);
    if (index < 0 || index >= total)
        return false;
    store.RemoveGroup(GroupName(index));
    for (int k = index + 1; k < total; ++k)
        store.RenameGroup(GroupName(k), GroupName(k - 1));
    store.WriteInteger(keys::kQualityTotal, total - 1);
    return store.Sync();
}

bool ResetAllPresets(TSettingsStore& store) {
    if (!store.MainKeyExists())
        return false;
    // Every preset group goes, also any a damaged count had hidden past the first gap.
    for (const QString& group : store.Groups())
        if (IsPresetGroup(group))
            store.RemoveGroup(group);
    store.WriteInteger(keys::kQualityTotal, kBuiltInPresetCount);
    const auto& presets = BuiltInPresets();
    for (size_t i = 0; i < presets.size(); ++i) {
        const QString group = GroupName(static_cast<int>(i));
        store.WriteGroupString(group, keys::kPresetName, presets[i].Name);
        WriteValues(store, group, presets[i].Options);
    }
    return store.Sync();
}

std::optional<TPresetLoad> LoadPresetByName(const TSettingsStore& store, std::string_view name,
                                            TEncoderOptions& options) {
    if (!store.MainKeyExists()) {
        for (const TPreset& p : BuiltInPresets())
            if (p.Name == name) {
                options = p.Options;
                return TPresetLoad{true, {}};
            }
        return std::nullopt;
    }
    const std::vector<std::string> names = StoredPresetNames(store);
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end())
        return std::nullopt;
    return LoadPreset(store, static_cast<int>(it - names.begin()), options);
}

} // namespace bw
