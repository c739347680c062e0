#pragma once

#include <QStyle>
#include <functional>
#include <span>
#include <string_view>

class QAction;
class QMenu;

namespace bw {

// The icon of the window's command of a name, drawn by style; none for a command shown
// without one.
QIcon CommandIcon(QStyle* style, std::string_view name);

// Fills a menu with the commands of entries, in order, as action gives them; kSeparator
// entries become separators.
void AddCommands(QMenu& menu, std::span<const std::string_view> entries,
                 const std::function<QAction*(std::string_view name)>& action);

} // namespace bw
