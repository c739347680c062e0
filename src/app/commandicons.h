#pragma once

#include <QStyle>
#include <string_view>

namespace bw {

// The icon of the window's command of a name, drawn by style; none for a command shown
// without one.
QIcon CommandIcon(QStyle* style, std::string_view name);

} // namespace bw
