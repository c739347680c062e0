#include "app/cddrivepanel.h"

#include "app/cddbform.h"

#include "shell/appsettings.h"
#include "shell/disclookup.h"

#include "cd/cddb.h"
#include "cd/cdimage.h"
#include "cd/cdtext.h"

#include "core/dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace bw {

TCdDrivePanel::TCdDrivePanel(TCdSystem& cdSystem, TDialogs& dialogs, const TAppSettings& settings,
                             THost host, QWidget* parent)
    : QGroupBox(QStringLiteral("CD Audio Drive"), parent), dialogs_(dialogs), settings_(settings),
      host_(std::move(host)), cd_(cdSystem),
      cddb_(std::make_unique<TCddb>(cd_.Drives())) {
    setObjectName(QStringLiteral("GroupCdDrive"));
    // The lookup window belongs to the main window, as its other dialogs do.
    cddbForm_ = new TCDDBForm(window());
    discLookup_ = [this](int drive) { cddbForm_->LookUp(*cddb_, cd_.Drives(), drive, settings_); };

    auto* layout = new QVBoxLayout(this);
    cmbDrives_ = new QComboBox(this);
    cmbDrives_->setObjectName(QStringLiteral("cmbDrives"));
    cmbDrives_->setMinimumWidth(200);
    layout->addWidget(cmbDrives_);
    auto* openClose = new QPushButton(QStringLiteral("Open/Close"), this);
    openClose->setObjectName(QStringLiteral("ButtonOpenClose"));
    // A drive that will not move its door (an image has none) is left as it is, unsaid.
    connect(openClose, &QPushButton::clicked, this, [this] { cd_.OpenCloseDoor(); });
    layout->addWidget(openClose, 0, Qt::AlignRight);
    doorTimer_ = new QTimer(this);
    doorTimer_->setObjectName(QStringLiteral("CdTimer"));
    doorTimer_->setInterval(1000);

    connect(cmbDrives_, &QComboBox::currentIndexChanged, this,
            [this](int index) { cd_.SetSelectedCdDrive(index); });
    connect(doorTimer_, &QTimer::timeout, this, &TCdDrivePanel::DoorTimerTick);
}

TCdDrivePanel::~TCdDrivePanel() = default;

void TCdDrivePanel::FillDriveList() {
    cd_.Fill();
    const QSignalBlocker quiet(cmbDrives_);
    cmbDrives_->clear();
    for (const std::string& text : cd_.DriveTexts())
        cmbDrives_->addItem(QString::fromStdString(text));
    cmbDrives_->setCurrentIndex(cmbDrives_->count() > 0 ? 0 : -1);
}

QStringList TCdDrivePanel::AddCdImages(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        const std::string p = path.toStdString();
        if (!IsCdImagePath(p)) {
            files << path;
            continue;
        }
        // An image is a disc to rip, not a song: it joins the drive list and is chosen.
        std::string why;
        const int drive = cd_.AddImage(p, &why);
        if (drive < 0) {
            dialogs_.Show(TMessageKind::Error, "Brindlewave",
                          "The CD image \"" + p + "\" can't be used as a drive:\n" + why);
            continue;
        }
        if (drive >= cmbDrives_->count())
            cmbDrives_->addItem(
                QString::fromStdString(cd_.Drives().At(static_cast<size_t>(drive)).Text));
        cmbDrives_->setCurrentIndex(drive);
    }
    return files;
}

void TCdDrivePanel::AddCdTracks() {
    // A list holds files or the tracks of one disc, never both.
    if (!host_.ClearList())
        return;
    if (!cd_.SelectedIsReady()) {
        dialogs_.Show(TMessageKind::Warning, "Brindlewave",
                      "No CD in CD drive \"" + cmbDrives_->currentText().toStdString() + "\"!");
        return;
    }
    cd_.StartListing();
    doorTimer_->start();
    host_.ListingTracks();
    std::vector<TmyMusicFile> items = cd_.AudioTrackItems();
    bool named = false;
    if (settings_.TryLoadFreeDB) {
        cd_.ReleaseSelected();
        // MusicBrainz first; why it named nothing shows in the freedb lookup's window.
        named = NameFromMusicBrainz(items, cd_.Drives(), cd_.SelectedCdDrive(), settings_,
                                    ChooseReleaseInDialog(dialogs_),
                                    [this](const std::string& line) { cddbForm_->AddNote(line); });
        if (!named && discLookup_)
            discLookup_(cd_.SelectedCdDrive());
    }
    // Else named from the disc database entry just read, else from the disc's CD-TEXT.
    if (!named) {
        TCdText cdText;
        cd_.Drives().ReadCdText(cd_.SelectedCdDrive(), cdText);
        NameCdTrackItems(items, cddb_.get(), &cdText, settings_);
    }
    for (TmyMusicFile& item : items)
        host_.AppendTrack(std::move(item));
}

void TCdDrivePanel::StopWatching() {
    doorTimer_->stop();
    cd_.StopListing();
}

void TCdDrivePanel::DoorTimerTick() {
    if (cd_.DoorWatchTick())
        host_.DiscTakenOut();
}

} // namespace bw
