#pragma once

#include "shell/appsettings.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bw {

class TSettingsStore;

// What loading the settings at start produced. The window applies app and window whatever
// happened: fields that were not read keep the values passed in (the built-in state).
struct TSettingsLoad {
    bool FirstStart = false;
    TAppSettings App;
    TWindowSettings Window;
    std::vector<std::string> PresetNames; // names of the stored quality presets, in order
    bool QualityItemRead = false;         // Window.QualityItem came from the store
    // Empty when everything was read; otherwise "Failed to get data for '<name>'" and the
    // values after that name were not read.
    std::string Error;
};

struct TSettingsHooks {
    // Writes the default quality presets on first start (keeps QualityTotal current).
    std::function<void(TSettingsStore&)> ResetAllPresets;
    // Whether a stored output folder still exists.
    std::function<bool(const std::string&)> FolderExists;
};

// Loads the settings from the store in their fixed order, or, when the store is empty
// (first start), writes every default and returns them. programPath is stored as "Path".
TSettingsLoad LoadSettings(TSettingsStore& store, const TAppSettings& app,
                           const TWindowSettings& window, const std::string& programPath,
                           const TSettingsHooks& hooks = {});

// The drives' read offsets by model, each brought into range.
std::map<std::string, int> LoadReadOffsets(const TSettingsStore& store);

// Writes the values kept at close, in their fixed order, when the main key exists.
// "Path" and "QualityTotal" are not written here. False when the store could not be written.
bool SaveSettings(TSettingsStore& store, const TAppSettings& app, const TWindowSettings& window);

} // namespace bw
