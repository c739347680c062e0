#pragma once

#include "app/cddrivepanel.h"
#include "app/messageboxes.h"
#include "app/playerpanel.h"
#include "app/presetmenu.h"

#include "shell/appsettings.h"
#include "shell/tagedit.h"

#include "cd/cdsystem.h"

#include "core/jobitem.h"

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QTimer;
class QToolBar;

namespace bw {

class TAboutBox;
class TEncoderPanel;
class TForm2;
class TJobListView;
class TProgress;
class TSettings;
class TStatusPanels;
class TSuccessForm2;
class TTAGForm;
class TSettingsStore;
struct TEncoderOptions;
class TAudioDevice;
class TDialogs;
class TGenreList;
class TStopSignals;

// Names the program to Qt: the application and organisation names (which place the
// settings) and the desktop entry. main calls it before any window is made.
void SetApplicationIdentity();

// The main window. It builds the window, runs the start-up sequence and, when closed, the
// shutdown sequence; the logic of each command lives in widget-free classes it calls.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kMinWidth = 905;
    static constexpr int kMinHeight = 780;
    static constexpr int kBuiltInLeft = 287;
    static constexpr int kBuiltInTop = 109;

    // arguments: the file paths given on the command line, added when the window is first
    // shown. programPath is stored for the file managers that hand files to us. cdSystem:
    // where the CD drives come from (tests stand in for the machine's).
    TForm1(TDialogs& dialogs, TSettingsStore& store, QStringList arguments,
           std::string programPath, TCdSystem& cdSystem = SystemCd(), QWidget* parent = nullptr);
    ~TForm1() override;

    // False when start-up found a fault the program cannot run with; main then ends.
    bool StartupOk() const { return startupOk_; }
    // A signal asked the program to end (a logout, `kill`, Ctrl-C in its terminal): close
    // as Exit does, once a running conversion has been cancelled and open questions closed.
    void RequestStop();
    bool PlayerAvailable() const;

    QAction* Action(std::string_view name) const;
    TAppSettings& AppSettings() { return appSettings_; }
    const TAppSettings& AppSettings() const { return appSettings_; }
    const TGenreList& GenreList() const { return *genreList_; }
    int LastJobIndex() const;
    TJobListView& JobList() { return *listView_; }
    TSettings& SettingsDialog() { return *settingsDialog_; }
    TProgress& ProgressWindow() { return *progress_; }
    TSuccessForm2& ResultWindow() { return *result_; }
    // The options of every encoder page as the pages show them now.
    TEncoderOptions EncoderOptions() const;
    // Shows options on the pages; each page's handlers run, so enabled states and captions
    // follow.
    void SetEncoderOptions(const TEncoderOptions& options);
    TForm2& PresetNameDialog() { return *form2_; }
    TMediaPlayer& Player() { return playerPanel_->Player(); }
    TTAGForm& TagForm() { return *tagForm_; }
    // Where "Save as..." gets the new preset's name: the name dialog, unless a test stands
    // in for the user. None means the dialog was cancelled.
    using TPresetNameSource = TPresetMenu::TNameSource;
    void SetPresetNameSource(TPresetNameSource source) {
        presetMenu_->SetNameSource(std::move(source));
    }
    // The values kept in the window's controls, as they would be written at close.
    TWindowSettings CurrentWindowSettings() const;

    // The CD drives, the one chosen and the one the listed tracks came from.
    TCdSelection& CdSelection() { return cdPanel_->Selection(); }
    // The door watch: runs while the list holds the tracks of a disc.
    QTimer& CdTimer() { return cdPanel_->DoorTimer(); }
    // What "Add CD Tracks" runs to look a disc up when TryLoadFreeDB is set: the lookup
    // window by default; tests put their own.
    using TDiscLookupHook = TCdDrivePanel::TDiscLookupHook;
    void SetDiscLookup(TDiscLookupHook lookup) { cdPanel_->SetDiscLookup(std::move(lookup)); }

    // Probes one file and appends it to the job list when it is accepted.
    bool AddFileToList(const QString& path);
    // Adds files as a batch (dialog, folder, drop, command line): the list is first cleared
    // of CD tracks, with the user's consent, or nothing is added. Disc images (.cue, .toc)
    // among them become drives of the drive list instead, the last one chosen.
    int AddFilesToList(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QWidget* CreateTopPanel();
    QWidget* CreateJobList();
    void CreateStatusBar();
    void ConnectActions();

    void RunStartupSequence();
    void ApplyWindowSettings(const TWindowSettings& w, bool geometry);
    void RunShutdownSequence();
    void ShowAudioLibraryError(const QString& text);

    void ComboBoxTypeChange(int index);
    void PageControlChange(int index);
    void SameAsSourceClick();
    void StatusTimerTimer();
    void SetViewVisible(std::string_view action, bool visible);
    // The tag editor.
    void EditTagExecute();
    bool TagFormOk(const TTagFormTexts& texts);
    void OpenHelp();
    void ShowAbout();
    void UpdateOutputFolderField();

    // Job list commands.
    bool ClearCdTracksFirst();
    void AddFilesExecute();
    void AddFolderExecute();
    bool RemoveAllExecute();
    void FilePropertiesExecute();
    void SelectOutputExecute();
    void SettingsExecute();
    void ConvertExecute();
    void ListEmptied();

    bool stopRequested_ = false;
    // Every dialog of the window goes through here: none is shown once a stop was asked.
    TStoppingDialogs stoppingDialogs_;
    TDialogs& dialogs_;
    TSettingsStore& store_;
    QStringList arguments_;
    std::string programPath_;
    TCdSystem& cdSystem_; // where the drive panel's drives come from
    bool startupOk_ = true;
    bool firstShowDone_ = false;
    std::unique_ptr<TStopSignals> stopSignals_;
    bool shutDown_ = false;

    TAppSettings appSettings_;
    const TGenreList* genreList_ = nullptr;
    std::unique_ptr<TAudioDevice> audio_;
    // The spare items the current operation and the player work on.
    std::unique_ptr<TmyMusicFile> currentJob_;
    std::unique_ptr<TmyMusicFile> playerJob_;
    bool cancelAll_ = false;

    // Widgets, owned by Qt's parent chain.
    std::vector<QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    QComboBox* comboBoxType_ = nullptr;
    TPresetMenu* presetMenu_ = nullptr;
    QLineEdit* editOutputFolder_ = nullptr;
    QCheckBox* checkBoxSAS_ = nullptr;
    TCdDrivePanel* cdPanel_ = nullptr;
    TJobListView* listView_ = nullptr;
    TSettings* settingsDialog_ = nullptr;
    TProgress* progress_ = nullptr;
    TSuccessForm2* result_ = nullptr;
    TEncoderPanel* encoderPanel_ = nullptr;
    QMenu* listContextMenu_ = nullptr;
    TPlayerPanel* playerPanel_ = nullptr;
    std::unique_ptr<TStatusPanels> statusPanels_;
    QTimer* statusTimer_ = nullptr;
    TAboutBox* aboutBox_ = nullptr;
    TForm2* form2_ = nullptr;
    TTAGForm* tagForm_ = nullptr;
    int tagRow_ = -1; // the row the tag editor is open for
};

} // namespace bw
