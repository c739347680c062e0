#include "app/commandicons.h"

#include "shell/commands.h"

#include <QIcon>
#include <QMenu>
#include <array>
#include <utility>

namespace bw {

QIcon CommandIcon(QStyle* style, std::string_view name) {
    static const std::array<std::pair<std::string_view, QStyle::StandardPixmap>, 18> kIcons{{
        {"ActionAddFiles", QStyle::SP_FileIcon},
        {"ActionAddFolder", QStyle::SP_DirIcon},
        {"ActionAddCDtracks", QStyle::SP_DriveCDIcon},
        {"ActionConvert", QStyle::SP_DialogApplyButton},
        {"ActionSettings", QStyle::SP_FileDialogDetailedView},
        {"ActionHelp", QStyle::SP_DialogHelpButton},
        {"ActionSelectOutput", QStyle::SP_DirOpenIcon},
        {"ActionMoveUp", QStyle::SP_ArrowUp},
        {"ActionMoveDown", QStyle::SP_ArrowDown},
        {"ActionRemove", QStyle::SP_TrashIcon},
        {"ActionRemoveAll", QStyle::SP_DialogDiscardButton},
        {"ActionFileProperties", QStyle::SP_FileDialogInfoView},
        {"ActionEditTAG", QStyle::SP_FileDialogContentsView},
        {"ActionPlay", QStyle::SP_MediaPlay},
        {"ActionPause", QStyle::SP_MediaPause},
        {"ActionStop", QStyle::SP_MediaStop},
        {"ActionNextPlay", QStyle::SP_MediaSkipForward},
        {"ActionPrevPlay", QStyle::SP_MediaSkipBackward},
    }};
    // The style's Yes and No discs are pale, as if disabled, beside its other icons; check
    // boxes drawn in the same dark stroke say what these two do.
    if (name == "ActionCheckAll")
        return QIcon(QStringLiteral(":/icons/checkall.svg"));
    if (name == "ActionUncheckAll")
        return QIcon(QStringLiteral(":/icons/uncheckall.svg"));
    for (const auto& [n, pixmap] : kIcons)
        if (n == name)
            return style->standardIcon(pixmap);
    return {};
}

void AddCommands(QMenu& menu, std::span<const std::string_view> entries,
                 const std::function<QAction*(std::string_view name)>& action) {
    for (std::string_view e : entries) {
        if (e == kSeparator)
            menu.addSeparator();
        else
            menu.addAction(action(e));
    }
}

} // namespace bw
