#pragma once

#include "encoders/encoderoptions.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw {

class TSettingsStore;

// Quality presets: named snapshots of every encoder option page, kept in the settings store
// as groups "QualityItem_0" .. "QualityItem_<QualityTotal - 1>", each with a "Name" and one
// integer per control (EncoderOptionNames, in that order). The window and the command-line
// tool share these functions; the window keeps its list in step with the groups.

struct TPreset {
    std::string Name;
    TEncoderOptions Options;
};

inline constexpr int kBuiltInPresetCount = 5;
// The built-in preset selected after a reset: "CD Quality".
inline constexpr int kDefaultPresetIndex = 1;

// The five presets written at first start and by "Reset All", in key order.
const std::vector<TPreset>& BuiltInPresets();

// The presets the store holds: QualityTotal, but never past the first missing group, so a
// damaged count (huge, negative, not a number) cannot send a loop over groups that are not
// there. 0 when the store has none (QualityTotal -1 before the first reset).
int StoredPresetCount(const TSettingsStore& store);
// Their names, in key order.
std::vector<std::string> StoredPresetNames(const TSettingsStore& store);

// The values of one stored preset as they would be applied: in the order of
// EncoderOptionNames, each clamped to its control's range (a check box reads true for any
// non-zero number). Reading the ordered values stops at the first one missing or not a
// number, with "Failed to get data for '<name>'" in Error; the values before it are kept.
// The values of the later pages (IsApartOption) follow whatever happened to the ordered
// ones, each its page's default when the preset lacks it.
struct TPresetValues {
    bool Found = false; // the group exists
    std::string Name;
    std::vector<std::pair<std::string, int>> Values;
    std::string Error;
};
TPresetValues ReadPreset(const TSettingsStore& store, int index);

// Applies a stored preset to options: what ReadPreset read, in order, onto what options
// held. A new WMA rate or channel count refills the bitrate list, which selects its first
// entry, before the stored bitrate index is applied. Found is false (options unchanged)
// when the group does not exist.
struct TPresetLoad {
    bool Found = false;
    std::string Error;
};
TPresetLoad LoadPreset(const TSettingsStore& store, int index, TEncoderOptions& options);

// The operations of the preset menu on the store. Each does nothing, and says so, when the
// store has no main key (nothing was ever written).
//
// Save: writes every value (not the name) into the existing group index; false when the
// group does not exist.
bool SavePreset(TSettingsStore& store, int index, const TEncoderOptions& options);
// Save as: a new group at the end, with its name and every value; the new index, none
// without a main key. The name is taken as given (empty or repeated names are allowed).
std::optional<int> SavePresetAs(TSettingsStore& store, const std::string& name,
                                const TEncoderOptions& options);
// Remove: deletes group index and moves each later group down by one, keeping the indexes
// dense; QualityTotal becomes one less. False when there is no such preset.
bool RemovePreset(TSettingsStore& store, int index);
// Reset All: deletes every preset group and writes the five built-in ones.
bool ResetAllPresets(TSettingsStore& store);

// The first preset of that name, in key order: the stored presets, or the built-in ones
// when the store was never written (the program has not started yet). Error as in
// ReadPreset; none when no preset has that name.
std::optional<TPresetLoad> LoadPresetByName(const TSettingsStore& store, std::string_view name,
                                            TEncoderOptions& options);

} // namespace bw
