#pragma once

#include "core/jobitem.h"
#include "shell/tagedit.h"

#include <QDialog>
#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace bw {

class TGenreList;

// The tag editor: the tag fields of one job item and what its probe found. It edits texts
// only; OK hands them to its handler, which stores them in the item (and says false to keep
// the window open).
class TTAGForm : public QDialog {
    Q_OBJECT

public:
    using TOkHandler = std::function<bool(const TTagFormTexts&)>;

    explicit TTAGForm(const TGenreList& genres, QWidget* parent = nullptr);
    void SetOkHandler(TOkHandler handler) { okHandler_ = std::move(handler); }
    // Fills the window from item and shows it modally; the track field is disabled for a CD
    // track during this showing.
    int Execute(const TmyMusicFile& item);
    // Fills the window from item (what showing it does).
    void Fill(const TmyMusicFile& item);
    TTagFormTexts Texts() const;

    QLineEdit* FileNameEdit() const { return fileNameEdit_; }
    QLineEdit* TitleEdit() const { return titleEdit_; }
    QLineEdit* ArtistEdit() const { return artistEdit_; }
    QLineEdit* AlbumEdit() const { return albumEdit_; }
    QComboBox* GenreComboBox() const { return genreComboBox_; }
    QLineEdit* YearEdit() const { return yearEdit_; }
    QLineEdit* TrackEdit() const { return trackEdit_; }
    QLineEdit* CommentEdit() const { return commentEdit_; }
    QPushButton* OkButton() const { return button1_; }
    QPushButton* CancelButton() const { return button2_; }
    // The file information labels, in the order shown.
    QString InfoText(int index) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OkClick();

    const TGenreList& genres_;
    TOkHandler okHandler_;
    QLineEdit* fileNameEdit_;
    QLineEdit* titleEdit_;
    QLineEdit* artistEdit_;
    QLineEdit* albumEdit_;
    QComboBox* genreComboBox_;
    QLineEdit* yearEdit_;
    QLineEdit* trackEdit_;
    QLineEdit* commentEdit_;
    std::array<QLabel*, 6> info_{};
    QPushButton* button1_;
    QPushButton* button2_;
};

} // namespace bw
