#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QComboBox;
class QMenu;
class QToolButton;

namespace bw {

class TDialogs;
class TSettingsStore;
struct TEncoderOptions;

// The quality presets of the main window: the list of stored presets and the menu of the
// button beside it (Save, Save as..., Remove, Reset all), over the widget-free preset store.
// A preset is read from and shown on the window's encoder pages.
class TPresetMenu : public QObject {
    Q_OBJECT

public:
    // The encoder pages as the window shows them.
    struct TOptionPages {
        std::function<TEncoderOptions()> Read;
        // Each page's handlers run, so enabled states and captions follow.
        std::function<void(const TEncoderOptions&)> Show;
    };
    // Where "Save as..." gets the new preset's name; none means the dialog was cancelled.
    using TNameSource = std::function<std::optional<std::string>()>;

    // The list and the button are made in parent, for the window to place; action finds
    // the window's command of a name, for the menu.
    TPresetMenu(TSettingsStore& store, TDialogs& dialogs, TOptionPages pages,
                const std::function<QAction*(std::string_view name)>& action, QWidget* parent);

    QComboBox* List() const { return list_; }
    QToolButton* MenuButton() const { return button_; }
    int CurrentIndex() const;
    void SetNameSource(TNameSource source) { nameSource_ = std::move(source); }

    // Lists the stored presets; the one selected, when one was, is loaded.
    void ShowStored(const std::vector<std::string>& names, std::optional<int> selected);
    // Loads the preset selected in the list onto the pages.
    void LoadSelected();
    void Save();
    void SaveAs();
    void Remove();
    // Writes the built-in presets over the stored ones and loads the default.
    void ResetAll();
    // The menu's Reset all: asks first.
    void AskResetAll();

private:
    TSettingsStore& store_;
    TDialogs& dialogs_;
    TOptionPages pages_;
    TNameSource nameSource_;
    // Owned by Qt's parent chain.
    QComboBox* list_ = nullptr;
    QToolButton* button_ = nullptr;
    QMenu* menu_ = nullptr;
};

} // namespace bw
