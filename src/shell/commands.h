#pragma once

#include <span>
#include <string_view>

namespace bw {

// One user command of the main window: its action's object name, caption, hint and shortcut
// (in QKeySequence's portable text; empty for none).
struct TCommandSpec {
    std::string_view Name;
    std::string_view Caption;
    std::string_view Hint;
    std::string_view Shortcut;
    bool Checkable = false;
};

// Every command, the named ones first in the order of the command table.
std::span<const TCommandSpec> Commands();
const TCommandSpec* FindCommand(std::string_view name);

// A menu: its title and its entries, action names in order, "-" for a separator.
struct TMenuSpec {
    std::string_view Title;
    std::span<const std::string_view> Entries;
};

std::span<const TMenuSpec> MainMenus();
std::span<const std::string_view> JobListContextMenu();
std::span<const std::string_view> PresetMenu();
std::span<const std::string_view> MainToolBar();
std::span<const std::string_view> JobListSideButtons();
std::span<const std::string_view> PlayerToolBar();

inline constexpr std::string_view kSeparator = "-";

} // namespace bw
