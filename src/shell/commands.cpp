#include "shell/commands.h"

#include <array>

namespace bw {

namespace {

constexpr std::array kCommands{
    TCommandSpec{"ActionAddFiles", "Add File(s)", "Add file(s) to filelist", "Ctrl+F"},
    TCommandSpec{"ActionAddFolder", "Add Folder", "Add all files from folder", "Ctrl+D"},
    TCommandSpec{"ActionAddCDtracks", "Add CD Tracks", "Add CD tracks to filelist", "Ctrl+G"},
    TCommandSpec{"ActionConvert", "Convert", "Convert selected files", "F5"},
    TCommandSpec{"ActionSettings", "Settings...", "Show settings dialog", "F12"},
    TCommandSpec{"ActionHelp", "Help", "Brindlewave Help", "F1"},
    TCommandSpec{"ActionSelectOutput", "Select output folder", "Select output folder", "Ctrl+O"},
    TCommandSpec{"ActionMoveUp", "Move Up", "Move item up", "Ctrl+Up"},
    TCommandSpec{"ActionMoveDown", "Move Down", "Move item down", "Ctrl+Down"},
    TCommandSpec{"ActionRemove", "Remove", "Remove selected file from list", "Del"},
    TCommandSpec{"ActionRemoveAll", "Remove All", "Remove all items from list", "Shift+Del"},
    TCommandSpec{"ActionCheckAll", "Check All", "Check all items", "Ctrl+A"},
    TCommandSpec{"ActionUncheckAll", "Uncheck All", "Uncheck all items", "Ctrl+U"},
    TCommandSpec{"ActionInvertAll", "Invert All", "Invert all", "Ctrl+V"},
    TCommandSpec{"ActionFileProperties", "File Properties", "Show file properties", "Ctrl+I"},
    TCommandSpec{"ActionEditTAG", "Edit TAG Info", "Edit TAG information", "Ctrl+T"},
    TCommandSpec{"ActionPlay", "Play", "Play selected file", "Ctrl+P"},
    TCommandSpec{"ActionPause", "Pause", "Pause", "Ctrl+U"},
    TCommandSpec{"ActionStop", "Stop", "Stop", "Ctrl+S"},
    TCommandSpec{"ActionNextPlay", "Play next file", "Play next file", "Ctrl+N"},
    TCommandSpec{"ActionPrevPlay", "Play prev file", "Play prev file", "Ctrl+R"},
    TCommandSpec{"ActionSaveQuality", "Save", "", ""},
    TCommandSpec{"ActionSaveAsQuality", "Save as...", "", ""},
    TCommandSpec{"ActionRemoveQuality", "Remove", "", ""},
    TCommandSpec{"ActionResetAllQuality", "Reset All", "", ""},
    // The menu-only commands.
    TCommandSpec{"ActionExit", "Exit", "", "Ctrl+E"},
    TCommandSpec{"ActionVolumeUp", "Volume Up", "", "Shift+F2"},
    TCommandSpec{"ActionVolumeDown", "Volume Down", "", "Shift+F1"},
    TCommandSpec{"ActionViewToolBar", "Tool Bar", "", "", true},
    TCommandSpec{"ActionViewEncoder", "Encoder Options", "", "", true},
    TCommandSpec{"ActionViewPlayer", "Media Player", "", "", true},
    TCommandSpec{"ActionViewStatus", "Status Bar", "", "", true},
    TCommandSpec{"ActionCheckUpgrade", "Check for upgrade...", "", ""},
    TCommandSpec{"ActionAbout", "&About...", "", ""},
};

constexpr std::array<std::string_view, 7> kFileMenu{
    "ActionAddFiles", "ActionAddFolder", "ActionAddCDtracks", kSeparator, "ActionConvert",
    kSeparator, "ActionExit"};
constexpr std::array<std::string_view, 12> kEditMenu{
    "ActionMoveUp", "ActionMoveDown", kSeparator, "ActionRemove", "ActionRemoveAll", kSeparator,
    "ActionCheckAll", "ActionUncheckAll", "ActionInvertAll", kSeparator, "ActionFileProperties",
    "ActionEditTAG"};
constexpr std::array<std::string_view, 9> kPlayerMenu{
    "ActionPlay", "ActionStop", "ActionPause", kSeparator, "ActionPrevPlay", "ActionNextPlay",
    kSeparator, "ActionVolumeUp", "ActionVolumeDown"};
constexpr std::array<std::string_view, 6> kViewMenu{
    "ActionViewToolBar", "ActionViewEncoder", "ActionViewPlayer", "ActionViewStatus",
    kSeparator, "ActionSettings"};
constexpr std::array<std::string_view, 4> kHelpMenu{"ActionHelp", "ActionCheckUpgrade",
                                                    kSeparator, "ActionAbout"};

constexpr std::array kMenus{
    TMenuSpec{"&File", kFileMenu},     TMenuSpec{"&Edit", kEditMenu},
    TMenuSpec{"&Player", kPlayerMenu}, TMenuSpec{"&View", kViewMenu},
    TMenuSpec{"&Help", kHelpMenu},
};

constexpr std::array<std::string_view, 16> kContextMenu{
    "ActionPlay", "ActionStop", "ActionPause", kSeparator, "ActionMoveUp", "ActionMoveDown",
    kSeparator, "ActionCheckAll", "ActionUncheckAll", "ActionInvertAll", kSeparator,
    "ActionRemove", "ActionRemoveAll", kSeparator, "ActionFileProperties", "ActionEditTAG"};

constexpr std::array<std::string_view, 5> kPresetMenu{
    "ActionSaveQuality", "ActionSaveAsQuality", "ActionRemoveQuality", kSeparator,
    "ActionResetAllQuality"};

constexpr std::array<std::string_view, 6> kToolBar{
    "ActionAddFiles", "ActionAddFolder", "ActionAddCDtracks",
    "ActionConvert",  "ActionSettings",  "ActionHelp"};

constexpr std::array<std::string_view, 7> kSideButtons{
    "ActionMoveUp", "ActionMoveDown", "ActionCheckAll", "ActionUncheckAll",
    "ActionEditTAG", "ActionRemove", "ActionRemoveAll"};

constexpr std::array<std::string_view, 6> kPlayerBar{
    "ActionPrevPlay", "ActionNextPlay", kSeparator, "ActionPlay", "ActionStop", "ActionPause"};

} // namespace

std::span<const TCommandSpec> Commands() { return kCommands; }

const TCommandSpec* FindCommand(std::string_view name) {
    for (const auto& c : kCommands)
        if (c.Name == name)
            return &c;
    return nullptr;
}

std::span<const TMenuSpec> MainMenus() { return kMenus; }
std::span<const std::string_view> JobListContextMenu() { return kContextMenu; }
std::span<const std::string_view> PresetMenu() { return kPresetMenu; }
std::span<const std::string_view> MainToolBar() { return kToolBar; }
std::span<const std::string_view> JobListSideButtons() { return kSideButtons; }
std::span<const std::string_view> PlayerToolBar() { return kPlayerBar; }

} // namespace bw
