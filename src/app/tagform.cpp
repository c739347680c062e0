#include "app/tagform.h"

#include "core/genrelist.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace bw {

namespace {

constexpr int kClientWidth = 479;
constexpr int kClientHeight = 240;
constexpr int kTrackMaxLength = 3;

QString Q(const std::string& s) { return QString::fromStdString(s); }

} // namespace

TTAGForm::TTAGForm(const TGenreList& genres, QWidget* parent) : QDialog(parent), genres_(genres) {
    setObjectName(QStringLiteral("TAGForm"));
    setWindowTitle(QStringLiteral("Edit TAG Information"));
    setModal(true);

    fileNameEdit_ = new QLineEdit(this);
    fileNameEdit_->setObjectName(QStringLiteral("FileNameEdit"));
    // Menu-coloured: the name is there to be read (and copied), not edited.
    QPalette namePalette = fileNameEdit_->palette();
    namePalette.setColor(QPalette::Base, namePalette.color(QPalette::Window));
    fileNameEdit_->setPalette(namePalette);
    fileNameEdit_->setFrame(false);

    auto* tagBox = new QGroupBox(QStringLiteral("TAG Info"), this);
    tagBox->setObjectName(QStringLiteral("GroupBox1"));
    auto* tagLayout = new QFormLayout(tagBox);
    const auto edit = [tagBox, tagLayout](const char* name, const char* label) {
        auto* e = new QLineEdit(tagBox);
        e->setObjectName(QString::fromLatin1(name));
        tagLayout->addRow(QString::fromLatin1(label), e);
        return e;
    };
    titleEdit_ = edit("TitleEdit", "Title:");
    artistEdit_ = edit("ArtistEdit", "Artist:");
    albumEdit_ = edit("AlbumEdit", "Album:");
    genreComboBox_ = new QComboBox(tagBox);
    genreComboBox_->setObjectName(QStringLiteral("GenreComboBox"));
    genreComboBox_->setEditable(false);
    genreComboBox_->setMaxVisibleItems(20);
    tagLayout->addRow(QStringLiteral("Genre:"), genreComboBox_);
    // Year and track share a line, as there is room for both.
    auto* yearTrack = new QHBoxLayout;
    yearEdit_ = new QLineEdit(tagBox);
    yearEdit_->setObjectName(QStringLiteral("YearEdit"));
    yearEdit_->setMaxLength(kYearMaxLength);
    trackEdit_ = new QLineEdit(tagBox);
    trackEdit_->setObjectName(QStringLiteral("TrackEdit"));
    trackEdit_->setMaxLength(kTrackMaxLength);
    trackEdit_->installEventFilter(this);
    yearTrack->addWidget(yearEdit_, 1);
    yearTrack->addWidget(new QLabel(QStringLiteral("Track:"), tagBox));
    yearTrack->addWidget(trackEdit_, 1);
    tagLayout->addRow(QStringLiteral("Year:"), yearTrack);
    commentEdit_ = edit("CommentEdit", "Comment:");

    auto* infoBox = new QGroupBox(QStringLiteral("File Info"), this);
    infoBox->setObjectName(QStringLiteral("GroupBox2"));
    auto* infoLayout = new QFormLayout(infoBox);
    static constexpr std::array<std::pair<const char*, const char*>, 6> kInfo{{
        {"FiletypeEdit", "File type:"},
        {"LenghtEdit", "Length: "},
        {"FileSizeEdit", "Filesize:"},
        {"SREdit", "Sample Rate:"},
        {"ChannelsEdit", "Channels:"},
        {"BREdit", "Bit Rate:"},
    }};
    for (size_t i = 0; i < kInfo.size(); ++i) {
        info_[i] = new QLabel(infoBox);
        info_[i]->setObjectName(QString::fromLatin1(kInfo[i].first));
        infoLayout->addRow(QString::fromLatin1(kInfo[i].second), info_[i]);
    }

    button1_ = new QPushButton(QStringLiteral("OK"), this);
    button1_->setObjectName(QStringLiteral("Button1"));
    button1_->setDefault(true);
    button2_ = new QPushButton(QStringLiteral("Cancel"), this);
    button2_->setObjectName(QStringLiteral("Button2"));
    connect(button1_, &QPushButton::clicked, this, &TTAGForm::OkClick);
    connect(button2_, &QPushButton::clicked, this, &QDialog::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(tagBox, 3);
    groups->addWidget(infoBox, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(button1_);
    buttons->addWidget(button2_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileNameEdit_);
    layout->addLayout(groups);
    layout->addLayout(buttons);
    resize(kClientWidth, kClientHeight);

    setTabOrder(titleEdit_, artistEdit_);
    setTabOrder(artistEdit_, albumEdit_);
    setTabOrder(albumEdit_, genreComboBox_);
    setTabOrder(genreComboBox_, yearEdit_);
    setTabOrder(yearEdit_, trackEdit_);
    setTabOrder(trackEdit_, commentEdit_);
    setTabOrder(commentEdit_, button1_);
    setTabOrder(button1_, button2_);
}

int TTAGForm::Execute(const TmyMusicFile& item) {
    Fill(item);
    trackEdit_->setEnabled(item.SourceType != TSourceType::CdTrack);
    if (parentWidget()) // centred on the main window
        move(parentWidget()->geometry().center() - rect().center());
    const int result = exec();
    trackEdit_->setEnabled(true);
    return result;
}

void TTAGForm::Fill(const TmyMusicFile& item) {
    genreComboBox_->clear();
    for (const std::string& name : genres_.Names())
        genreComboBox_->addItem(Q(name));
    genreComboBox_->setCurrentIndex(TGenreList::kOther);
    const TTagFormTexts t = TagFormTextsOf(item);
    fileNameEdit_->setText(Q(item.SourcePath));
    titleEdit_->setText(Q(t.Title));
    artistEdit_->setText(Q(t.Artist));
    albumEdit_->setText(Q(t.Album));
    // A genre the list does not have leaves the box empty.
    genreComboBox_->setCurrentIndex(t.Genre.empty() ? -1 : genres_.IndexOf(t.Genre));
    yearEdit_->setText(Q(t.Year));
    trackEdit_->setText(Q(t.Track));
    commentEdit_->setText(Q(t.Comment));
    const TFileInfoTexts info = FileInfoTextsOf(item);
    const std::array<const std::string*, 6> texts{&info.FileType, &info.Length, &info.FileSize,
                                                  &info.SampleRate, &info.Channels, &info.BitRate};
    for (size_t i = 0; i < texts.size(); ++i)
        info_[i]->setText(Q(*texts[i]));
    titleEdit_->setFocus();
}

TTagFormTexts TTAGForm::Texts() const {
    return {titleEdit_->text().toStdString(),   artistEdit_->text().toStdString(),
            albumEdit_->text().toStdString(),   genreComboBox_->currentText().toStdString(),
            yearEdit_->text().toStdString(),    trackEdit_->text().toStdString(),
            commentEdit_->text().toStdString()};
}

QString TTAGForm::InfoText(int index) const {
    return index >= 0 && index < static_cast<int>(info_.size()) ? info_[static_cast<size_t>(index)]->text()
                                                               : QString();
}

bool TTAGForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trackEdit_) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                // Leaving by Enter is leaving: the text is put right even where the focus
                // cannot move (a window that is not active).
                trackEdit_->setText(Q(TrackTextOnLeave(trackEdit_->text().toStdString())));
                focusNextChild();
                return true;
            }
            if (key->key() == Qt::Key_Backspace)
                return false;
            // Typed characters other than digits are dropped; keys that type nothing
            // (arrows, Tab, shortcuts) go on as usual.
            const QString text = key->text();
            if (!text.isEmpty() && text.at(0).isPrint() &&
                !TrackCharAccepted(static_cast<char32_t>(text.at(0).unicode())))
                return true;
        } else if (event->type() == QEvent::FocusOut) {
            trackEdit_->setText(Q(TrackTextOnLeave(trackEdit_->text().toStdString())));
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TTAGForm::OkClick() {
    if (!okHandler_ || okHandler_(Texts()))
        accept();
}

} // namespace bw
