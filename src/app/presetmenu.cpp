#include "app/presetmenu.h"

#include "app/commandicons.h"

#include "shell/commands.h"
#include "shell/presets.h"

#include "encoders/encoderoptions.h"

#include "core/dialogs.h"

#include <QAction>
#include <QComboBox>
#include <QCursor>
#include <QMenu>
#include <QToolButton>

namespace bw {

TPresetMenu::TPresetMenu(TSettingsStore& store, TDialogs& dialogs, TOptionPages pages,
                         const std::function<QAction*(std::string_view name)>& action,
                         QWidget* parent)
    : QObject(parent), store_(store), dialogs_(dialogs), pages_(std::move(pages)) {
    list_ = new QComboBox(parent);
    list_->setObjectName(QStringLiteral("QualityComboBox"));
    list_->setMinimumWidth(140);
    button_ = new QToolButton(parent);
    button_->setObjectName(QStringLiteral("ToolButton13"));
    button_->setArrowType(Qt::DownArrow);
    button_->setToolTip(QStringLiteral("Quality Managment"));
    menu_ = new QMenu(button_);
    menu_->setObjectName(QStringLiteral("PresetMenu"));
    AddCommands(*menu_, PresetMenu(), action);
    connect(button_, &QToolButton::clicked, this, [this] { menu_->popup(QCursor::pos()); });
    connect(list_, &QComboBox::activated, this, &TPresetMenu::LoadSelected);
}

int TPresetMenu::CurrentIndex() const { return list_->currentIndex(); }

void TPresetMenu::ShowStored(const std::vector<std::string>& names, std::optional<int> selected) {
    list_->clear();
    for (const auto& n : names)
        list_->addItem(QString::fromStdString(n));
    if (selected) {
        list_->setCurrentIndex(*selected);
        LoadSelected();
    }
}

void TPresetMenu::LoadSelected() {
    TEncoderOptions options = pages_.Read();
    const TPresetLoad load = LoadPreset(store_, list_->currentIndex(), options);
    if (!load.Found)
        return;
    // What was read before a missing value stays applied.
    pages_.Show(options);
    if (!load.Error.empty())
        dialogs_.Show(TMessageKind::Error, "Brindlewave", load.Error);
}

void TPresetMenu::Save() { SavePreset(store_, list_->currentIndex(), pages_.Read()); }

void TPresetMenu::SaveAs() {
    const std::optional<std::string> name = nameSource_ ? nameSource_() : std::nullopt;
    if (!name)
        return;
    SavePresetAs(store_, *name, pages_.Read());
    list_->addItem(QString::fromStdString(*name));
    list_->setCurrentIndex(list_->count() - 1);
    LoadSelected();
}

void TPresetMenu::Remove() {
    const int index = list_->currentIndex();
    if (index < 0)
        return;
    const std::string question =
        "Are you sure to remove \"" + list_->currentText().toStdString() + "\" settings?";
    if (dialogs_.Ask(TMessageKind::Confirmation, "Confirm", question,
                     {TAnswer::Ok, TAnswer::Cancel}) != TAnswer::Ok)
        return;
    RemovePreset(store_, index);
    list_->removeItem(index);
    if (list_->count() > 0) {
        list_->setCurrentIndex(0);
        LoadSelected();
    }
}

void TPresetMenu::ResetAll() {
    ResetAllPresets(store_);
    list_->clear();
    for (const TPreset& p : BuiltInPresets())
        list_->addItem(QString::fromStdString(p.Name));
    list_->setCurrentIndex(kDefaultPresetIndex);
    LoadSelected();
}

void TPresetMenu::AskResetAll() {
    if (dialogs_.Ask(TMessageKind::Confirmation, "Confirm",
                     "Are you sure to reset all output qualities to the default?",
                     {TAnswer::Ok, TAnswer::Cancel}) == TAnswer::Ok)
        ResetAll();
}

} // namespace bw
