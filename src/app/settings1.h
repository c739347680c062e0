#pragma once

#include "shell/appsettings.h"
#include "shell/naming.h"

#include <QDialog>
#include <array>
#include <string>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTabWidget;

namespace bw {

// The settings dialog: general options, the disc database, and the file-name pattern of CD
// tracks with its live preview. Its pattern list is the pattern the program names tracks by.
class TSettings : public QDialog {
    Q_OBJECT

public:
    explicit TSettings(QWidget* parent = nullptr);

    // Fills every control from the settings (the dialog is then shown modally by the caller).
    void LoadFrom(const TAppSettings& s);
    // Takes the controls back into the settings (what OK does).
    void SaveTo(TAppSettings& s) const;
    // The pattern as the list, its check marks and the separator list show it now.
    TNamePattern Pattern() const;
    bool CreateArtist() const;
    bool CreateAlbum() const;
    QString PreviewText() const;
    QString FolderPreviewText() const;

    void UpdateFileNamePreview();
    // The drive model whose read offset the FreeDB tab shows and sets; empty: no drive.
    void SetOffsetModel(std::string model) { offsetModel_ = std::move(model); }

private:
    void MoveSelected(int delta);

    QTabWidget* tabs_ = nullptr;
    QCheckBox* confirmOverwrite_ = nullptr;
    QCheckBox* playSound_ = nullptr;
    QCheckBox* openFolder_ = nullptr;
    QSpinBox* parallelJobs_ = nullptr; // files converted at once
    QComboBox* replayGain_ = nullptr;  // "ReplayGain tags": Off, Track, Track and album
    // The library switches, in the order of kLibraryFields.
    static constexpr std::array<bool TAppSettings::*, 5> kLibraryFields = {
        &TAppSettings::AddSubFolders, &TAppSettings::KeepStructure, &TAppSettings::CarryCovers,
        &TAppSettings::SkipExisting, &TAppSettings::SafeNames};
    std::array<QCheckBox*, 5> libraryBoxes_{};
    static constexpr size_t kKeepStructureBox = 1;
    static constexpr size_t kSafeNamesBox = 4;
    QLabel* folderPreview_ = nullptr;
    QCheckBox* tryFreeDB_ = nullptr;
    QLineEdit* server_ = nullptr;
    QLineEdit* email_ = nullptr;
    QSpinBox* timeout_ = nullptr;
    QCheckBox* verifyAccurateRip_ = nullptr;
    QLineEdit* accurateRipServer_ = nullptr;
    QCheckBox* lookUpMusicBrainz_ = nullptr;
    QLineEdit* musicBrainzServer_ = nullptr;
    QLineEdit* musicBrainzContact_ = nullptr;
    QLineEdit* coverArtServer_ = nullptr;
    QSpinBox* readOffset_ = nullptr;
    QCheckBox* writeRipLog_ = nullptr;
    std::string offsetModel_;
    QListWidget* pattern_ = nullptr;
    QComboBox* separator_ = nullptr;
    QCheckBox* createArtist_ = nullptr;
    QCheckBox* createAlbum_ = nullptr;
    QLabel* preview_ = nullptr;
};

} // namespace bw
