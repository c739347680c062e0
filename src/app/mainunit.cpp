#include "app/mainunit.h"

#include "app/aboutbox.h"
#include "app/cddrivepanel.h"
#include "app/commandicons.h"
#include "app/encoderpanel.h"
#include "app/fileinfo.h"
#include "app/form2.h"
#include "app/joblistview.h"
#include "app/playerpanel.h"
#include "app/presetmenu.h"
#include "app/progress.h"
#include "app/settings1.h"
#include "app/statuspanels.h"
#include "app/tagform.h"

#include "shell/commands.h"
#include "shell/folderscan.h"
#include "shell/helpfile.h"
#include "shell/naming.h"
#include "shell/playeropen.h"
#include "shell/probe.h"
#include "shell/settingsio.h"
#include "shell/settingsstore.h"

#include "audio/audiodevice.h"
#include "encoders/encoderoptions.h"
#include "encoders/targettype.h"

#include "common/stopsignals.h"
#include "core/dialogs.h"
#include "core/genrelist.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <iostream>

namespace bw {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

TForm1::TForm1(TDialogs& dialogs, TSettingsStore& store, QStringList arguments,
               std::string programPath, TCdSystem& cdSystem, QWidget* parent)
    : QMainWindow(parent),
      stoppingDialogs_(dialogs, [this] { return stopRequested_; }, std::cerr),
      dialogs_(stoppingDialogs_), store_(store), arguments_(std::move(arguments)),
      programPath_(std::move(programPath)), cdSystem_(cdSystem) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Brindlewave"));
    setWindowIcon(ProgramIcon());
    setMinimumSize(kMinWidth, kMinHeight);
    move(kBuiltInLeft, kBuiltInTop);
    resize(kMinWidth, kMinHeight);

    CreateActions();
    CreateMenus();

    // The stop signals are caught, so that ending the program this way still writes the
    // settings and leaves no encoder or half-written file behind.
    stopSignals_ = std::make_unique<TStopSignals>();
    if (stopSignals_->WakeFd() >= 0) {
        auto* notifier = new QSocketNotifier(stopSignals_->WakeFd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            stopSignals_->DrainWake();
            RequestStop();
        });
    }
    CreateToolBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(CreateTopPanel());
    layout->addWidget(CreateJobList(), 1);
    encoderPanel_ = new TEncoderPanel(this);
    layout->addWidget(encoderPanel_);
    playerPanel_ = new TPlayerPanel(
        [this](const TmyMusicFile& item) {
            return OpenPlayerStream(item, cdPanel_->Selection().Drives());
        },
        *listView_, [this](std::string_view name) { return Action(name); }, this);
    layout->addWidget(playerPanel_);
    setCentralWidget(central);
    CreateStatusBar();
    ConnectActions();

    aboutBox_ = new TAboutBox(this);
    RunStartupSequence();
    // Created after start-up, like the program's other windows; it takes its pattern from
    // the settings when the window is first shown.
    settingsDialog_ = new TSettings(this);
    progress_ = new TProgress(this);
    result_ = new TSuccessForm2(this);
    form2_ = new TForm2(this);
    tagForm_ = new TTAGForm(*genreList_, this);
    tagForm_->SetOkHandler([this](const TTagFormTexts& t) { return TagFormOk(t); });
    presetMenu_->SetNameSource([this] { return form2_->Execute(); });
}

TForm1::~TForm1() { RunShutdownSequence(); }

void SetApplicationIdentity() {
    QApplication::setApplicationName(QStringLiteral("Brindlewave"));
    QApplication::setOrganizationName(QStringLiteral("Halvorix"));
    QApplication::setDesktopFileName(QStringLiteral("brindlewave"));
    // No display name: Qt appends it (" - Brindlewave") to the title of every window whose
    // title does not already end in it, and the dialogs' titles are to read as they are.
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // The output folder field is read-only, yet as a line edit it still claims keys such as
    // Ctrl+A (select all) and, with X11 key bindings, Ctrl+E (end of line) before any
    // shortcut sees them. A key bound to one of the window's commands is left unclaimed, so
    // the command runs.
    if (watched == editOutputFolder_ && event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QAction* a : actions_)
            if (a->isEnabled() && a->shortcuts().contains(pressed))
                return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

QAction* TForm1::Action(std::string_view name) const {
    for (QAction* a : actions_)
        if (a->objectName() == Q(name))
            return a;
    return nullptr;
}

bool TForm1::PlayerAvailable() const { return audio_ && audio_->IsInitialized(); }

void TForm1::CreateActions() {
    for (const TCommandSpec& c : Commands()) {
        auto* a = new QAction(Q(c.Caption), this);
        a->setObjectName(Q(c.Name));
        if (!c.Hint.empty()) {
            a->setToolTip(Q(c.Hint));
            a->setStatusTip(Q(c.Hint));
        }
        a->setCheckable(c.Checkable);
        a->setChecked(c.Checkable); // the view toggles: every part shows until told otherwise
        a->setIcon(CommandIcon(style(), c.Name));
        // Move Up and Move Down get their keys during start-up (step 7), like the rest of
        // the side buttons' set-up.
        if (!c.Shortcut.empty() && c.Name != "ActionMoveUp" && c.Name != "ActionMoveDown")
            a->setShortcut(QKeySequence(Q(c.Shortcut)));
        actions_.push_back(a);
        addAction(a);
    }
    // Pause shares Ctrl+U with Uncheck All; the Edit menu's Uncheck All receives the key.
    // Pause keeps the key only inside the menus that show it, so the two never clash.
    Action("ActionPause")->setShortcutContext(Qt::WidgetShortcut);
}

void TForm1::CreateMenus() {
    const auto action = [this](std::string_view name) { return Action(name); };
    for (const TMenuSpec& m : MainMenus()) {
        QMenu* menu = menuBar()->addMenu(Q(m.Title));
        menu->setObjectName(QStringLiteral("Menu") + Q(m.Title).remove(QLatin1Char('&')));
        AddCommands(*menu, m.Entries, action);
    }
    listContextMenu_ = new QMenu(this);
    listContextMenu_->setObjectName(QStringLiteral("ListContextMenu"));
    AddCommands(*listContextMenu_, JobListContextMenu(), action);
}

void TForm1::CreateToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Tool Bar"));
    toolBar_->setObjectName(QStringLiteral("ToolBar1"));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setMovable(false);
    toolBar_->toggleViewAction()->setVisible(false);
    for (std::string_view name : MainToolBar()) {
        QAction* a = Action(name);
        // A tool button shows the action's icon text, which Qt makes from the caption less
        // a trailing "..."; the caption is the button's text as it stands ("Settings...").
        a->setIconText(a->text());
        toolBar_->addAction(a);
    }
}

QWidget* TForm1::CreateTopPanel() {
    auto* panel = new QWidget(this);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);

    auto* convert = new QGroupBox(QStringLiteral("Convert Options"), panel);
    convert->setObjectName(QStringLiteral("GroupConvertOptions"));
    auto* grid = new QVBoxLayout(convert);
    auto* line1 = new QHBoxLayout;
    line1->addWidget(new QLabel(QStringLiteral("Convert all selected files to"), convert));
    comboBoxType_ = new QComboBox(convert);
    comboBoxType_->setObjectName(QStringLiteral("ComboBoxType"));
    // The target types in the order of their indexes: page i of the encoder options is the
    // page of target i.
    for (int t = 0; t < kTargetTypeCount; ++t)
        comboBoxType_->addItem(QString::fromStdString(TargetName(static_cast<TTargetType>(t))));
    line1->addWidget(comboBoxType_);
    line1->addWidget(new QLabel(QStringLiteral("with"), convert));
    TPresetMenu::TOptionPages pages;
    pages.Read = [this] { return EncoderOptions(); };
    pages.Show = [this](const TEncoderOptions& o) { SetEncoderOptions(o); };
    presetMenu_ = new TPresetMenu(store_, dialogs_, std::move(pages),
                                  [this](std::string_view name) { return Action(name); }, convert);
    line1->addWidget(presetMenu_->List());
    line1->addWidget(presetMenu_->MenuButton());
    line1->addWidget(new QLabel(QStringLiteral("preset."), convert));
    line1->addStretch(1);
    grid->addLayout(line1);

    auto* line2 = new QHBoxLayout;
    line2->addWidget(new QLabel(QStringLiteral("Save converted files to"), convert));
    editOutputFolder_ = new QLineEdit(convert);
    editOutputFolder_->setObjectName(QStringLiteral("EditOutputFolder"));
    editOutputFolder_->setReadOnly(true);
    editOutputFolder_->installEventFilter(this);
    line2->addWidget(editOutputFolder_, 1);
    auto* selectButton = new QToolButton(convert);
    selectButton->setObjectName(QStringLiteral("ButtonSelectOutput"));
    selectButton->setDefaultAction(Action("ActionSelectOutput"));
    line2->addWidget(selectButton);
    checkBoxSAS_ = new QCheckBox(QStringLiteral("Same as source"), convert);
    checkBoxSAS_->setObjectName(QStringLiteral("CheckBoxSAS"));
    line2->addWidget(checkBoxSAS_);
    grid->addLayout(line2);
    row->addWidget(convert, 1);

    TCdDrivePanel::THost host;
    host.ClearList = [this] { return RemoveAllExecute(); };
    host.ListingTracks = [this] {
        // CD tracks have no source folder to write beside.
        checkBoxSAS_->setChecked(false);
        checkBoxSAS_->setEnabled(false);
        UpdateOutputFolderField();
    };
    host.AppendTrack = [this](TmyMusicFile track) { listView_->AppendItem(std::move(track)); };
    host.DiscTakenOut = [this] {
        // The disc's tracks go with it. A run locks the door, yet a tray forced open must
        // not pull the rows from under it: the first tick after the run clears them.
        if (!progress_->isVisible())
            listView_->RemoveAllRows();
    };
    cdPanel_ = new TCdDrivePanel(cdSystem_, dialogs_, appSettings_, std::move(host), panel);
    row->addWidget(cdPanel_);
    return panel;
}

QWidget* TForm1::CreateJobList() {
    auto* panel = new QWidget(this);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    listView_ = new TJobListView(panel);
    listView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(listView_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { listContextMenu_->popup(listView_->viewport()->mapToGlobal(p)); });
    row->addWidget(listView_, 1);

    auto* side = new QVBoxLayout;
    for (std::string_view name : JobListSideButtons()) {
        auto* b = new QToolButton(panel);
        b->setObjectName(QStringLiteral("Side") + Q(name));
        b->setDefaultAction(Action(name));
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        b->setAutoRaise(true);
        side->addWidget(b);
    }
    side->addStretch(1);
    row->addLayout(side);
    return panel;
}

void TForm1::CreateStatusBar() {
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusPanels_ = std::make_unique<TStatusPanels>(*statusBar());
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(500);
    connect(statusTimer_, &QTimer::timeout, this, &TForm1::StatusTimerTimer);
    statusTimer_->start();
}

void TForm1::ConnectActions() {
    connect(comboBoxType_, &QComboBox::activated, this, &TForm1::ComboBoxTypeChange);
    connect(Action("ActionSaveQuality"), &QAction::triggered, presetMenu_, &TPresetMenu::Save);
    connect(Action("ActionSaveAsQuality"), &QAction::triggered, presetMenu_, &TPresetMenu::SaveAs);
    connect(Action("ActionRemoveQuality"), &QAction::triggered, presetMenu_, &TPresetMenu::Remove);
    // The menu entry asks first; the start-up's reset runs the command itself.
    connect(Action("ActionResetAllQuality"), &QAction::triggered, presetMenu_, &TPresetMenu::AskResetAll);
    connect(&encoderPanel_->PageControl(), &QTabWidget::currentChanged, this, &TForm1::PageControlChange);
    connect(checkBoxSAS_, &QCheckBox::clicked, this, &TForm1::SameAsSourceClick);
    connect(Action("ActionExit"), &QAction::triggered, this, &QWidget::close);
    connect(Action("ActionAbout"), &QAction::triggered, this, &TForm1::ShowAbout);
    connect(Action("ActionHelp"), &QAction::triggered, this, &TForm1::OpenHelp);
    connect(Action("ActionCheckUpgrade"), &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebPage)));
    });
    connect(Action("ActionAddFiles"), &QAction::triggered, this, &TForm1::AddFilesExecute);
    connect(Action("ActionAddFolder"), &QAction::triggered, this, &TForm1::AddFolderExecute);
    connect(Action("ActionMoveUp"), &QAction::triggered, this, [this] { listView_->MoveSelected(-1); });
    connect(Action("ActionMoveDown"), &QAction::triggered, this, [this] { listView_->MoveSelected(1); });
    connect(Action("ActionRemove"), &QAction::triggered, listView_, &TJobListView::RemoveSelected);
    connect(Action("ActionRemoveAll"), &QAction::triggered, this, [this] { RemoveAllExecute(); });
    connect(Action("ActionCheckAll"), &QAction::triggered, listView_, &TJobListView::CheckAll);
    connect(Action("ActionUncheckAll"), &QAction::triggered, listView_, &TJobListView::UncheckAll);
    connect(Action("ActionInvertAll"), &QAction::triggered, listView_, &TJobListView::InvertAll);
    connect(Action("ActionFileProperties"), &QAction::triggered, this, &TForm1::FilePropertiesExecute);
    connect(Action("ActionSelectOutput"), &QAction::triggered, this, &TForm1::SelectOutputExecute);
    connect(Action("ActionSettings"), &QAction::triggered, this, &TForm1::SettingsExecute);
    connect(Action("ActionConvert"), &QAction::triggered, this, &TForm1::ConvertExecute);
    connect(listView_, &TJobListView::Emptied, this, &TForm1::ListEmptied);
    connect(Action("ActionAddCDtracks"), &QAction::triggered, cdPanel_, &TCdDrivePanel::AddCdTracks);
    connect(Action("ActionVolumeUp"), &QAction::triggered, this,
            [this] { playerPanel_->VolumeStep(TMediaPlayer::kVolumeStep); });
    connect(Action("ActionVolumeDown"), &QAction::triggered, this,
            [this] { playerPanel_->VolumeStep(-TMediaPlayer::kVolumeStep); });
    connect(Action("ActionPlay"), &QAction::triggered, playerPanel_, &TPlayerPanel::Play);
    connect(Action("ActionPause"), &QAction::triggered, this, [this] { Player().Pause(); });
    connect(Action("ActionStop"), &QAction::triggered, playerPanel_, &TPlayerPanel::Stop);
    connect(Action("ActionNextPlay"), &QAction::triggered, this, [this] { playerPanel_->PlayNext(1); });
    connect(Action("ActionPrevPlay"), &QAction::triggered, this, [this] { playerPanel_->PlayNext(-1); });
    connect(Action("ActionEditTAG"), &QAction::triggered, this, &TForm1::EditTagExecute);
    for (std::string_view name : {std::string_view("ActionViewToolBar"), std::string_view("ActionViewEncoder"),
                                  std::string_view("ActionViewPlayer"), std::string_view("ActionViewStatus")}) {
        connect(Action(name), &QAction::toggled, this,
                [this, name](bool on) { SetViewVisible(name, on); });
    }
}

void TForm1::ShowAudioLibraryError(const QString& text) {
    const int code = audio_ ? static_cast<int>(audio_->LastError()) : 0;
    dialogs_.Show(TMessageKind::Error, "Error",
                  QStringLiteral("%1\nError code: %2").arg(text).arg(code).toStdString());
}

void TForm1::RunStartupSequence() {
    // 1. The decoders must be the ones we were built against.
    std::string mismatch;
    if (!CheckAudioLibraryVersions(&mismatch)) {
        dialogs_.Show(TMessageKind::Error, "Incorrect FFmpeg libraries",
                      "FFmpeg libraries of the expected version were not loaded!\n" + mismatch);
        startupOk_ = false;
        return;
    }
    // 2. Audio output. A converter must still convert on a machine without sound: say so
    // once and go on with the player switched off.
    audio_ = std::make_unique<TAudioDevice>();
    if (!audio_->Init()) {
        ShowAudioLibraryError(QStringLiteral("Couldnt Initialize Digital Output"));
        for (std::string_view name : PlayerToolBar())
            if (name != kSeparator)
                Action(name)->setEnabled(false);
        Action("ActionVolumeUp")->setEnabled(false);
        Action("ActionVolumeDown")->setEnabled(false);
        playerPanel_->setEnabled(false);
    }
    // 5. The genre list.
    genreList_ = &bw::GenreList();
    // 6. The CD drives.
    cdPanel_->FillDriveList();
    // 7. The side buttons show only icon and hint; Move Up and Move Down get their keys.
    Action("ActionMoveUp")->setShortcut(QKeySequence(QStringLiteral("Ctrl+Up")));
    Action("ActionMoveDown")->setShortcut(QKeySequence(QStringLiteral("Ctrl+Down")));
    // 9. Files may be dropped on the window.
    setAcceptDrops(true);
    // 10. The spare job items.
    currentJob_ = std::make_unique<TmyMusicFile>();
    playerJob_ = std::make_unique<TmyMusicFile>();
    listView_->RemoveAllRows();
    // 11. Output and source folders start on the Desktop (or where there is none, in Music
    // or the home folder).
    appSettings_.OutputFolder = DefaultOutputFolder();
    appSettings_.SourceFolder = appSettings_.OutputFolder;
    editOutputFolder_->setText(QString::fromStdString(appSettings_.OutputFolder));
    cancelAll_ = false;
    appSettings_.StartDirectory = QDir::currentPath().toStdString();
    encoderPanel_->PageControl().setCurrentIndex(0);

    // 12. The settings.
    // On first start the reset of the presets writes the defaults, fills the list and loads
    // "CD Quality"; later starts list what is stored and load the preset last selected.
    TSettingsHooks hooks;
    hooks.ResetAllPresets = [this](TSettingsStore&) { presetMenu_->ResetAll(); };
    TSettingsLoad load = LoadSettings(store_, appSettings_, CurrentWindowSettings(), programPath_, hooks);
    appSettings_ = load.App;
    CdSelection().Drives().SetReadOffsets(appSettings_.ReadOffsets);
    if (!load.FirstStart)
        presetMenu_->ShowStored(load.PresetNames, load.QualityItemRead
                                                      ? std::optional<int>(load.Window.QualityItem)
                                                      : std::nullopt);
    // On first start the window keeps its built-in place and size; what was written applies
    // from the next start on.
    ApplyWindowSettings(load.Window, !load.FirstStart);
    if (!load.Error.empty()) {
        dialogs_.Show(TMessageKind::Error, "Brindlewave", load.Error);
        return;
    }
    // 13. The target type list follows the active page.
    PageControlChange(encoderPanel_->PageControl().currentIndex());
}

TWindowSettings TForm1::CurrentWindowSettings() const {
    TWindowSettings w;
    w.ActivePage = encoderPanel_->PageControl().currentIndex();
    w.QualityItem = presetMenu_->CurrentIndex();
    w.ViewToolBar = Action("ActionViewToolBar")->isChecked();
    w.ViewEncoder = Action("ActionViewEncoder")->isChecked();
    w.ViewPlayer = Action("ActionViewPlayer")->isChecked();
    w.ViewStatus = Action("ActionViewStatus")->isChecked();
    w.Volume = playerPanel_->Volume();
    w.SAS = checkBoxSAS_->isChecked();
    w.Top = y();
    w.Left = x();
    w.Width = width();
    w.Height = height();
    return w;
}

void TForm1::ApplyWindowSettings(const TWindowSettings& w, bool geometry) {
    if (w.ActivePage >= 0 && w.ActivePage < encoderPanel_->PageControl().count())
        encoderPanel_->PageControl().setCurrentIndex(w.ActivePage);
    Action("ActionViewToolBar")->setChecked(w.ViewToolBar);
    Action("ActionViewEncoder")->setChecked(w.ViewEncoder);
    Action("ActionViewPlayer")->setChecked(w.ViewPlayer);
    Action("ActionViewStatus")->setChecked(w.ViewStatus);
    // The toggled signal does not fire for an unchanged state; apply visibility directly.
    SetViewVisible("ActionViewToolBar", w.ViewToolBar);
    SetViewVisible("ActionViewEncoder", w.ViewEncoder);
    SetViewVisible("ActionViewPlayer", w.ViewPlayer);
    SetViewVisible("ActionViewStatus", w.ViewStatus);
    playerPanel_->SetVolume(w.Volume);
    checkBoxSAS_->setChecked(w.SAS);
    UpdateOutputFolderField();
    if (geometry) {
        move(w.Left, w.Top);
        // A stored size below the minimum is raised to it.
        resize(std::max(w.Width, kMinWidth), std::max(w.Height, kMinHeight));
    }
}

void TForm1::RunShutdownSequence() {
    if (shutDown_ || !startupOk_)
        return;
    shutDown_ = true;
    setAcceptDrops(false);
    statusTimer_->stop();
    const TWindowSettings w = CurrentWindowSettings();
    playerPanel_->ClosePlayer();
    if (audio_)
        audio_->Free();
    listView_->RemoveAllRows();
    currentJob_.reset();
    playerJob_.reset();
    if (!SaveSettings(store_, appSettings_, w))
        dialogs_.Show(TMessageKind::Error, "Brindlewave",
                      "The settings could not be saved to " + store_.FileName().toStdString());
}

void TForm1::RequestStop() {
    stopRequested_ = true;
    // A question or a dialog over the window is closed first (a question closed answers
    // No); the next turn of the event loop looks again.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != progress_) {
        modal->close();
        QTimer::singleShot(0, this, [this] { RequestStop(); });
        return;
    }
    // A running conversion ends its current file cleanly; Convert closes the window after.
    if (progress_->isVisible()) {
        progress_->CancelWithoutAsking();
        return;
    }
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    RunShutdownSequence();
    event->accept();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstShowDone_)
        return;
    firstShowDone_ = true;
    // A path relative to where the program was started is made full, as Add File(s)
    // gives it: the list and the tag editor show it, and outputs are named from it.
    QStringList arguments;
    for (const QString& a : arguments_)
        arguments << QString::fromStdString(CommandLinePath(a.toStdString()));
    AddFilesToList(arguments);
    // The dialog's pattern list is the live pattern from here on.
    settingsDialog_->LoadFrom(appSettings_);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    AddFilesToList(paths);
}

int TForm1::LastJobIndex() const { return listView_->Table().LastJobIndex(); }

bool TForm1::AddFileToList(const QString& path) { return listView_->AddFileToList(path); }

int TForm1::AddFilesToList(const QStringList& paths) {
    const QStringList files = cdPanel_->AddCdImages(paths);
    if (files.isEmpty() || !ClearCdTracksFirst())
        return 0;
    if (!appSettings_.AddSubFolders)
        return listView_->AddFiles(files);
    // A folder dropped or named stands for every file below it.
    std::vector<std::string> named;
    for (const QString& f : files)
        named.push_back(f.toStdString());
    return listView_->AddFiles(ExpandFolders(named, true));
}

bool TForm1::ClearCdTracksFirst() {
    // Files and CD tracks never share the list: CD tracks are named for their disc.
    if (!listView_->ListHasCdTracks())
        return true;
    return RemoveAllExecute();
}

void TForm1::AddFilesExecute() {
    if (!ClearCdTracksFirst())
        return;
    const std::string other = OtherSourcePatterns();
    const std::vector<std::string> files = dialogs_.OpenFiles(
        "Select one or more file(s)",
        {"All supported files (*.mp3 *.wav *.ogg *.wma *.flac *.fla *.ape *.wv *.mpc *.cda *.cue *.toc " +
             other + ")",
         "MPEG files (*.mp1 *.mp2 *.mp3)", "WAV files (*.wav)", "OGG files (*.ogg)",
         "WMA files (*.wma)", "FLAC files (*.flac *.fla)", "Monkey's Audio files (*.ape)",
         "WavPack files(*.wv)", "MusePack files(*.mpc)", "CD tracks (*.cda)",
         "CD images (*.cue *.toc)", "Other audio files (" + other + ")"});
    QStringList paths;
    for (const auto& f : files)
        paths << QString::fromStdString(f);
    listView_->AddFiles(cdPanel_->AddCdImages(paths));
}

void TForm1::AddFolderExecute() {
    if (!ClearCdTracksFirst())
        return;
    const auto folder = dialogs_.BrowseForFolder("Please select the source folder", appSettings_.SourceFolder);
    if (!folder)
        return;
    appSettings_.SourceFolder = WithTrailingSeparator(*folder);
    if (appSettings_.AddSubFolders) {
        listView_->AddFiles(ListFolderTree(appSettings_.SourceFolder));
        return;
    }
    // Every entry of the folder, as the file system lists it, without going into
    // sub-folders; what is not audio falls out in the probe.
    const QDir dir(QString::fromStdString(appSettings_.SourceFolder));
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot,
                                              QDir::Unsorted);
    QStringList paths;
    for (const QString& e : entries)
        paths << QString::fromStdString(appSettings_.SourceFolder) + e;
    listView_->AddFiles(paths);
}

bool TForm1::RemoveAllExecute() {
    if (listView_->RowCount() == 0)
        return true;
    if (dialogs_.Ask(TMessageKind::Confirmation, "Confirm", "Are you sure to remove all items from list?",
                     {TAnswer::Ok, TAnswer::Cancel}) != TAnswer::Ok)
        return false;
    listView_->RemoveAllRows();
    return true;
}

void TForm1::ListEmptied() {
    // No disc's tracks are listed any more: nothing to watch, and "Same as source", which
    // CD tracks have no use for, is back.
    cdPanel_->StopWatching();
    checkBoxSAS_->setEnabled(true);
}

void TForm1::FilePropertiesExecute() {
    const int row = listView_->indexOfTopLevelItem(listView_->currentItem());
    TmyMusicFile* item = listView_->ItemAt(row);
    if (!item || item->SourceType == TSourceType::CdTrack)
        return;
    *currentJob_ = *item;
    ShowFileProperties(*currentJob_, this);
}

void TForm1::SelectOutputExecute() {
    const auto folder = dialogs_.BrowseForFolder("Please select the destination folder", appSettings_.OutputFolder);
    if (!folder)
        return;
    appSettings_.OutputFolder = WithTrailingSeparator(*folder);
    checkBoxSAS_->setChecked(false);
    UpdateOutputFolderField();
}

TEncoderOptions TForm1::EncoderOptions() const { return encoderPanel_->Options(); }

void TForm1::SetEncoderOptions(const TEncoderOptions& o) { encoderPanel_->SetOptions(o); }

void TForm1::ConvertExecute() {
    std::vector<TConversionRow> rows;
    rows.reserve(static_cast<size_t>(listView_->RowCount()));
    for (int row = 0; row < listView_->RowCount(); ++row)
        rows.push_back({*listView_->ItemAt(row), listView_->IsChecked(row), listView_->Status(row).toStdString()});
    if (!TConversionRun::HasCheckedRows(rows, dialogs_))
        return;
    QString elapsed = QStringLiteral("00:00:00");
    std::vector<std::pair<std::string, std::string>> verified;
    const int target = comboBoxType_->currentIndex();
    // Without a target type there is nothing to write.
    if (target >= 0) {
        TConversionRun run(rows, static_cast<TTargetType>(target), EncoderOptions(), appSettings_, dialogs_,
                           *progress_);
        run.SetSameAsSource(checkBoxSAS_->isChecked());
        run.SetCdDrives(&cdPanel_->Selection().Drives());
        progress_->Execute(run, *listView_);
        elapsed = QString::fromStdString(run.ElapsedText());
        for (size_t row = 0; row < rows.size(); ++row)
            if (TmyMusicFile* item = listView_->ItemAt(static_cast<int>(row)))
                item->TargetPath = rows[row].Item.TargetPath;
        verified = RipResults(rows);
    }
    if (stopRequested_) {
        close();
        return;
    }
    if (appSettings_.PlaySoundOp)
        QApplication::beep();
    result_->Prepare(elapsed, appSettings_.OpenFolderOp, checkBoxSAS_->isChecked(),
                     listView_->Skipped(), verified);
    if (result_->exec() != QDialog::Accepted || !result_->OpenFolderChecked())
        return;
    appSettings_.OpenFolderOp = true;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(appSettings_.OutputFolder)));
}

void TForm1::SettingsExecute() {
    const TCdDriveList& drives = CdSelection().Drives();
    const int drive = CdSelection().SelectedCdDrive();
    settingsDialog_->SetOffsetModel(drive >= 0 && static_cast<size_t>(drive) < drives.Count() &&
                                            !drives.At(static_cast<size_t>(drive)).Album
                                        ? drives.At(static_cast<size_t>(drive)).Model
                                        : std::string());
    settingsDialog_->LoadFrom(appSettings_);
    if (settingsDialog_->exec() != QDialog::Accepted)
        return;
    settingsDialog_->SaveTo(appSettings_);
    CdSelection().Drives().SetReadOffsets(appSettings_.ReadOffsets);
    if (!listView_->ListHasCdTracks())
        return;
    // CD tracks are named by the pattern: give every row its new name.
    const TNamePattern pattern = settingsDialog_->Pattern();
    for (int row = 0; row < listView_->RowCount(); ++row) {
        if (TmyMusicFile* item = listView_->ItemAt(row)) {
            RenameTrackItem(*item, pattern);
            listView_->RefreshRow(row);
        }
    }
}

void TForm1::ComboBoxTypeChange(int index) {
    if (index >= 0 && index < encoderPanel_->PageControl().count())
        encoderPanel_->PageControl().setCurrentIndex(index);
}

void TForm1::PageControlChange(int index) {
    // A page without a target type would leave the list without a selection.
    comboBoxType_->setCurrentIndex(index < comboBoxType_->count() ? index : -1);
}

void TForm1::SameAsSourceClick() { UpdateOutputFolderField(); }

void TForm1::UpdateOutputFolderField() {
    editOutputFolder_->setText(checkBoxSAS_->isChecked()
                                   ? QString::fromLatin1(kSameFolderAsSource)
                                   : QString::fromStdString(appSettings_.OutputFolder));
}

void TForm1::StatusTimerTimer() {
    if (const std::optional<TPlayState> state = playerPanel_->Tick())
        statusPanels_->ShowPlayState(*state);
    statusPanels_->ShowCounts(listView_->RowCount(), listView_->CheckedCount());
    statusPanels_->ShowVolume(playerPanel_->Volume());
}

void TForm1::SetViewVisible(std::string_view action, bool visible) {
    if (action == "ActionViewToolBar")
        toolBar_->setVisible(visible);
    else if (action == "ActionViewEncoder")
        encoderPanel_->setVisible(visible);
    else if (action == "ActionViewPlayer")
        playerPanel_->setVisible(visible);
    else if (action == "ActionViewStatus")
        statusBar()->setVisible(visible);
}

void TForm1::EditTagExecute() {
    const int row = listView_->indexOfTopLevelItem(listView_->currentItem());
    TmyMusicFile* item = listView_->ItemAt(row);
    if (!item)
        return;
    *currentJob_ = *item;
    tagRow_ = row;
    tagForm_->Execute(*currentJob_);
    tagRow_ = -1;
}

bool TForm1::TagFormOk(const TTagFormTexts& texts) {
    TmyMusicFile* item = listView_->ItemAt(tagRow_);
    if (!item)
        return true;
    // The fields before a bad track number stay applied, as the row shows; the window
    // stays open for the number to be put right.
    std::string error;
    const bool ok = ApplyTagForm(texts, *item, &error);
    *currentJob_ = *item;
    listView_->RefreshRow(tagRow_);
    if (!ok) {
        dialogs_.Show(TMessageKind::Error, "Brindlewave", error);
        return false;
    }
    if (listView_->ListHasCdTracks()) {
        const TNamePattern pattern = TNamePattern::FromSettings(appSettings_);
        for (int row = 0; row < listView_->RowCount(); ++row) {
            if (TmyMusicFile* r = listView_->ItemAt(row)) {
                RenameTrackItem(*r, pattern);
                *currentJob_ = *r;
                listView_->RefreshRow(row);
            }
        }
    }
    return true;
}

void TForm1::OpenHelp() {
    const std::string path = FindHelpFile(QCoreApplication::applicationDirPath().toStdString(),
                                          appSettings_.StartDirectory);
    if (path.empty()) {
        dialogs_.Show(TMessageKind::Error, "Brindlewave",
                      std::string("The user guide (") + kHelpFileName + ") was not found.");
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void TForm1::ShowAbout() { aboutBox_->exec(); }

} // namespace bw
