#include "app/settings1.h"

#include "app/aboutbox.h"
#include "cd/cddrives.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace bw {

namespace {
const QString kTitle = QStringLiteral("Title");
}

TSettings::TSettings(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Settings"));
    setWindowTitle(QStringLiteral("Settings"));
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("SettingsTabs"));
    layout->addWidget(tabs_);

    // General.
    auto* general = new QWidget(tabs_);
    auto* generalLayout = new QVBoxLayout(general);
    auto* generalGroup = new QGroupBox(QStringLiteral("Settings"), general);
    auto* g = new QVBoxLayout(generalGroup);
    confirmOverwrite_ = new QCheckBox(QStringLiteral("Always confirm file overwrite"), generalGroup);
    playSound_ = new QCheckBox(QStringLiteral("Play sound after converting"), generalGroup);
    openFolder_ = new QCheckBox(QStringLiteral("Open the destination folder after converting"), generalGroup);
    for (QCheckBox* c : {confirmOverwrite_, playSound_, openFolder_}) {
        c->setChecked(true);
        g->addWidget(c);
    }
    confirmOverwrite_->setObjectName(QStringLiteral("CheckConfirmOverwrite"));
    playSound_->setObjectName(QStringLiteral("CheckPlaySound"));
    openFolder_->setObjectName(QStringLiteral("CheckOpenFolder"));
    auto* jobsRow = new QHBoxLayout;
    auto* jobsLabel = new QLabel(QStringLiteral("Convert up to"), generalGroup);
    parallelJobs_ = new QSpinBox(generalGroup);
    parallelJobs_->setObjectName(QStringLiteral("SpinParallelJobs"));
    parallelJobs_->setRange(1, kMaxParallelJobs);
    jobsLabel->setBuddy(parallelJobs_);
    const QString jobsTip =
        QStringLiteral("Convert this many files at the same time, each on a processor core of its own");
    jobsLabel->setToolTip(jobsTip);
    parallelJobs_->setToolTip(jobsTip);
    jobsRow->addWidget(jobsLabel);
    jobsRow->addWidget(parallelJobs_);
    jobsRow->addWidget(new QLabel(QStringLiteral("files at once"), generalGroup));
    jobsRow->addStretch(1);
    g->addLayout(jobsRow);
    auto* gainRow = new QHBoxLayout;
    auto* gainLabel = new QLabel(QStringLiteral("ReplayGain tags"), generalGroup);
    replayGain_ = new QComboBox(generalGroup);
    replayGain_->setObjectName(QStringLiteral("ComboReplayGain"));
    replayGain_->addItems(
        {QStringLiteral("Off"), QStringLiteral("Track"), QStringLiteral("Track and album")});
    gainLabel->setBuddy(replayGain_);
    replayGain_->setToolTip(QStringLiteral(
        "Measure the loudness of each output while converting and tag it, "
        "per track or per track and album, so that players play all at one loudness"));
    gainRow->addWidget(gainLabel);
    gainRow->addWidget(replayGain_);
    gainRow->addStretch(1);
    g->addLayout(gainRow);
    // Converting a whole library: each box is one switch of the settings. The captions are
    // short, so each box says in its tooltip what it does to the files.
    struct TLibraryBox {
        const char* Name;
        const char* Caption;
        const char* Tip;
    };
    const TLibraryBox libraryBoxes[] = {
        {"CheckAddSubFolders", "Include sub-folders when adding a folder",
         "Add the files of every folder below an added folder too"},
        {"CheckKeepStructure", "Keep the folder structure",
         "Put each output under the added folder's name and the sub-folders it came from"},
        {"CheckCarryCovers", "Carry cover art", "Copy the source's front cover picture into the output"},
        {"CheckSkipExisting", "Skip files already converted",
         "Skip files whose output exists and is newer than the source"},
        {"CheckSafeNames", "Names safe for FAT and Windows",
         "Replace the characters that FAT drives and Windows refuse in names by an underscore"},
    };
    static_assert(std::size(libraryBoxes) == kLibraryFields.size());
    for (size_t i = 0; i < kLibraryFields.size(); ++i) {
        libraryBoxes_[i] = new QCheckBox(QString::fromUtf8(libraryBoxes[i].Caption), generalGroup);
        libraryBoxes_[i]->setObjectName(QString::fromUtf8(libraryBoxes[i].Name));
        libraryBoxes_[i]->setToolTip(QString::fromUtf8(libraryBoxes[i].Tip));
        g->addWidget(libraryBoxes_[i]);
        connect(libraryBoxes_[i], &QCheckBox::toggled, this, &TSettings::UpdateFileNamePreview);
    }
    g->addStretch(1);
    generalLayout->addWidget(generalGroup);
    tabs_->addTab(general, QStringLiteral("General"));

    // FreeDB.
    auto* freedb = new QWidget(tabs_);
    auto* freedbLayout = new QVBoxLayout(freedb);
    auto* freedbGroup = new QGroupBox(QStringLiteral("Settings"), freedb);
    auto* f = new QVBoxLayout(freedbGroup);
    tryFreeDB_ = new QCheckBox(QStringLiteral("Try to load CD information from FreeDB"), freedbGroup);
    tryFreeDB_->setObjectName(QStringLiteral("CheckTryFreeDB"));
    f->addWidget(tryFreeDB_);
    lookUpMusicBrainz_ = new QCheckBox(QStringLiteral("Look up discs in MusicBrainz"), freedbGroup);
    lookUpMusicBrainz_->setObjectName(QStringLiteral("CheckLookUpMusicBrainz"));
    f->addWidget(lookUpMusicBrainz_);
    auto* form = new QFormLayout;
    server_ = new QLineEdit(freedbGroup);
    server_->setObjectName(QStringLiteral("EditServer"));
    email_ = new QLineEdit(freedbGroup);
    email_->setObjectName(QStringLiteral("EditEmail"));
    timeout_ = new QSpinBox(freedbGroup);
    timeout_->setObjectName(QStringLiteral("SpinTimeout"));
    timeout_->setRange(5, 999);
    timeout_->setValue(30);
    // The number is changed with the arrows only, as it always was.
    timeout_->setReadOnly(false);
    timeout_->findChild<QLineEdit*>()->setReadOnly(true);
    form->addRow(QStringLiteral("FreeDB server:"), server_);
    form->addRow(QStringLiteral("E-mail:"), email_);
    form->addRow(QStringLiteral("Timeout:"), timeout_);
    accurateRipServer_ = new QLineEdit(freedbGroup);
    accurateRipServer_->setObjectName(QStringLiteral("EditAccurateRipServer"));
    form->addRow(QStringLiteral("AccurateRip server:"), accurateRipServer_);
    musicBrainzServer_ = new QLineEdit(freedbGroup);
    musicBrainzServer_->setObjectName(QStringLiteral("EditMusicBrainzServer"));
    form->addRow(QStringLiteral("MusicBrainz server:"), musicBrainzServer_);
    musicBrainzContact_ = new QLineEdit(freedbGroup);
    musicBrainzContact_->setObjectName(QStringLiteral("EditMusicBrainzContact"));
    musicBrainzContact_->setPlaceholderText(QStringLiteral("e-mail address or URL (optional)"));
    form->addRow(QStringLiteral("MusicBrainz contact:"), musicBrainzContact_);
    coverArtServer_ = new QLineEdit(freedbGroup);
    coverArtServer_->setObjectName(QStringLiteral("EditCoverArtServer"));
    form->addRow(QStringLiteral("Cover art server:"), coverArtServer_);
    readOffset_ = new QSpinBox(freedbGroup);
    readOffset_->setObjectName(QStringLiteral("SpinReadOffset"));
    readOffset_->setRange(-kMaxReadOffset, kMaxReadOffset);
    readOffset_->setSuffix(QStringLiteral(" samples"));
    form->addRow(QStringLiteral("Read offset correction:"), readOffset_);
    f->addLayout(form);
    verifyAccurateRip_ = new QCheckBox(QStringLiteral("Verify rips with AccurateRip"), freedbGroup);
    verifyAccurateRip_->setObjectName(QStringLiteral("CheckVerifyAccurateRip"));
    verifyAccurateRip_->setChecked(true);
    f->addWidget(verifyAccurateRip_);
    writeRipLog_ = new QCheckBox(QStringLiteral("Write a log and a cue sheet"), freedbGroup);
    writeRipLog_->setObjectName(QStringLiteral("CheckWriteRipLog"));
    writeRipLog_->setToolTip(QStringLiteral(
        "A CD's tracks get a log of how each was read, a cue sheet and a playlist beside them"));
    f->addWidget(writeRipLog_);
    auto* logo = new QLabel(freedbGroup);
    logo->setObjectName(QStringLiteral("FreeDBLogo"));
    logo->setPixmap(ProgramIcon().pixmap(48, 48));
    f->addWidget(logo, 0, Qt::AlignRight);
    f->addStretch(1);
    freedbLayout->addWidget(freedbGroup);
    tabs_->addTab(freedb, QStringLiteral("FreeDB"));

    // Renaming.
    auto* renaming = new QWidget(tabs_);
    auto* renamingLayout = new QVBoxLayout(renaming);
    auto* nameGroup = new QGroupBox(QStringLiteral("Filename"), renaming);
    auto* n = new QVBoxLayout(nameGroup);
    auto* listRow = new QHBoxLayout;
    pattern_ = new QListWidget(nameGroup);
    pattern_->setObjectName(QStringLiteral("PatternList"));
    listRow->addWidget(pattern_, 1);
    auto* buttons = new QVBoxLayout;
    auto* up = new QPushButton(QStringLiteral("Up"), nameGroup);
    up->setObjectName(QStringLiteral("ButtonUp"));
    auto* down = new QPushButton(QStringLiteral("Down"), nameGroup);
    down->setObjectName(QStringLiteral("ButtonDown"));
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch(1);
    listRow->addLayout(buttons);
    n->addLayout(listRow);
    auto* sepRow = new QHBoxLayout;
    sepRow->addWidget(new QLabel(QStringLiteral("Separator:"), nameGroup));
    separator_ = new QComboBox(nameGroup);
    separator_->setObjectName(QStringLiteral("ComboSeparator"));
    for (const auto& s : kSeparators)
        separator_->addItem(QString::fromLatin1(s.Entry));
    separator_->setCurrentIndex(1);
    sepRow->addWidget(separator_);
    sepRow->addStretch(1);
    n->addLayout(sepRow);
    createArtist_ = new QCheckBox(QStringLiteral("Create Artist folder"), nameGroup);
    createArtist_->setObjectName(QStringLiteral("CheckCreateArtist"));
    createAlbum_ = new QCheckBox(QStringLiteral("Create Album folder"), nameGroup);
    createAlbum_->setObjectName(QStringLiteral("CheckCreateAlbum"));
    createArtist_->setChecked(true);
    createAlbum_->setChecked(true);
    n->addWidget(createArtist_);
    n->addWidget(createAlbum_);
    auto* previewRow = new QHBoxLayout;
    previewRow->addWidget(new QLabel(QStringLiteral("Preview:"), nameGroup));
    preview_ = new QLabel(nameGroup);
    preview_->setObjectName(QStringLiteral("PreviewLine"));
    previewRow->addWidget(preview_, 1);
    n->addLayout(previewRow);
    // Files added with a folder ("Music"), as the General tab's switches place them.
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(QStringLiteral("Files of an added folder:"), nameGroup));
    folderPreview_ = new QLabel(nameGroup);
    folderPreview_->setObjectName(QStringLiteral("PreviewFolderLine"));
    folderRow->addWidget(folderPreview_, 1);
    n->addLayout(folderRow);
    renamingLayout->addWidget(nameGroup);
    tabs_->addTab(renaming, QStringLiteral("Renaming"));

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->button(QDialogButtonBox::Ok)->setDefault(true);
    layout->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(up, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MoveSelected(1); });
    connect(pattern_, &QListWidget::itemChanged, this, &TSettings::UpdateFileNamePreview);
    connect(pattern_, &QListWidget::itemClicked, this, &TSettings::UpdateFileNamePreview);
    connect(separator_, &QComboBox::currentIndexChanged, this, &TSettings::UpdateFileNamePreview);
    connect(createArtist_, &QCheckBox::clicked, this, &TSettings::UpdateFileNamePreview);
    connect(createAlbum_, &QCheckBox::clicked, this, &TSettings::UpdateFileNamePreview);

    LoadFrom(DefaultAppSettings());
    // A fixed dialog that follows its contents: the previews change with the switches and
    // the pattern, and each shows its whole text, so the dialog widens with them.
    tabs_->setMinimumSize(tabs_->sizeHint().expandedTo(QSize(400, 320)));
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TSettings::LoadFrom(const TAppSettings& s) {
    confirmOverwrite_->setChecked(!s.OverwriteWithoutAsking);
    playSound_->setChecked(s.PlaySoundOp);
    openFolder_->setChecked(s.OpenFolderOp);
    parallelJobs_->setValue(ClampParallelJobs(s.ParallelJobs));
    replayGain_->setCurrentIndex(std::clamp(s.ReplayGainMode, 0, replayGain_->count() - 1));
    for (size_t i = 0; i < kLibraryFields.size(); ++i)
        libraryBoxes_[i]->setChecked(s.*kLibraryFields[i]);
    tryFreeDB_->setChecked(s.TryLoadFreeDB);
    server_->setText(QString::fromStdString(s.FreeDBServer));
    email_->setText(QString::fromStdString(s.FreeDBEmail));
    timeout_->setValue(s.Timeout);
    verifyAccurateRip_->setChecked(s.VerifyAccurateRip);
    accurateRipServer_->setText(QString::fromStdString(s.AccurateRipServer));
    lookUpMusicBrainz_->setChecked(s.LookUpMusicBrainz);
    musicBrainzServer_->setText(QString::fromStdString(s.MusicBrainzServer));
    musicBrainzContact_->setText(QString::fromStdString(s.MusicBrainzContact));
    coverArtServer_->setText(QString::fromStdString(s.CoverArtServer));
    // The offset belongs to the chosen drive's model; without a drive there is none to set.
    const auto offset = s.ReadOffsets.find(offsetModel_);
    readOffset_->setValue(offset == s.ReadOffsets.end() ? 0 : offset->second);
    readOffset_->setEnabled(!offsetModel_.empty());
    readOffset_->setToolTip(offsetModel_.empty()
                                ? QStringLiteral("Choose a CD drive to set its read offset")
                                : QStringLiteral("Samples every read of %1 is moved by")
                                      .arg(QString::fromStdString(offsetModel_)));
    writeRipLog_->setChecked(s.WriteRipLog);
    createArtist_->setChecked(s.CreateArtist);
    createAlbum_->setChecked(s.CreateAlbum);
    {
        const QSignalBlocker block(pattern_);
        pattern_->clear();
        for (int i = 0; i < kPatternElements; ++i) {
            auto* item = new QListWidgetItem(QString::fromStdString(s.fstr[static_cast<size_t>(i)]), pattern_);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(s.fint[static_cast<size_t>(i)] ? Qt::Checked : Qt::Unchecked);
        }
    }
    separator_->setCurrentIndex(s.Separator >= 0 && s.Separator < separator_->count() ? s.Separator : 1);
    UpdateFileNamePreview();
}

void TSettings::SaveTo(TAppSettings& s) const {
    s.OverwriteWithoutAsking = !confirmOverwrite_->isChecked();
    s.PlaySoundOp = playSound_->isChecked();
    s.OpenFolderOp = openFolder_->isChecked();
    s.ParallelJobs = parallelJobs_->value();
    s.ReplayGainMode = replayGain_->currentIndex();
    for (size_t i = 0; i < kLibraryFields.size(); ++i)
        s.*kLibraryFields[i] = libraryBoxes_[i]->isChecked();
    s.TryLoadFreeDB = tryFreeDB_->isChecked();
    s.FreeDBServer = server_->text().toStdString();
    s.FreeDBEmail = email_->text().toStdString();
    s.Timeout = timeout_->value();
    s.VerifyAccurateRip = verifyAccurateRip_->isChecked();
    s.AccurateRipServer = accurateRipServer_->text().toStdString();
    s.LookUpMusicBrainz = lookUpMusicBrainz_->isChecked();
    s.MusicBrainzServer = musicBrainzServer_->text().toStdString();
    s.MusicBrainzContact = musicBrainzContact_->text().toStdString();
    s.CoverArtServer = coverArtServer_->text().toStdString();
    if (!offsetModel_.empty())
        s.ReadOffsets[offsetModel_] = readOffset_->value();
    s.WriteRipLog = writeRipLog_->isChecked();
    s.CreateArtist = createArtist_->isChecked();
    s.CreateAlbum = createAlbum_->isChecked();
    Pattern().ToSettings(s);
}

TNamePattern TSettings::Pattern() const {
    TNamePattern p;
    for (int i = 0; i < kPatternElements && i < pattern_->count(); ++i) {
        p.Names[static_cast<size_t>(i)] = pattern_->item(i)->text().toStdString();
        p.Used[static_cast<size_t>(i)] = pattern_->item(i)->checkState() == Qt::Checked;
    }
    p.Separator = separator_->currentIndex();
    return p;
}

bool TSettings::CreateArtist() const { return createArtist_->isChecked(); }
bool TSettings::CreateAlbum() const { return createAlbum_->isChecked(); }
QString TSettings::PreviewText() const { return preview_->text(); }
QString TSettings::FolderPreviewText() const { return folderPreview_->text(); }

void TSettings::UpdateFileNamePreview() {
    // A name without its title would make every track of a disc the same file.
    {
        const QSignalBlocker block(pattern_);
        for (int i = 0; i < pattern_->count(); ++i)
            if (pattern_->item(i)->text() == kTitle)
                pattern_->item(i)->setCheckState(Qt::Checked);
    }
    preview_->setText(QString::fromStdString(FileNamePreview(Pattern(), CreateArtist(), CreateAlbum())));
    folderPreview_->setText(QString::fromStdString(
        FolderFilePreview(libraryBoxes_[kKeepStructureBox]->isChecked(), libraryBoxes_[kSafeNamesBox]->isChecked())));
}

void TSettings::MoveSelected(int delta) {
    const int row = pattern_->currentRow();
    const int target = row + delta;
    if (row >= 0 && target >= 0 && target < pattern_->count()) {
        const QSignalBlocker block(pattern_);
        QListWidgetItem* item = pattern_->takeItem(row);
        pattern_->insertItem(target, item);
        pattern_->setCurrentRow(target);
    }
    UpdateFileNamePreview();
}

} // namespace bw
