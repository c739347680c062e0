#pragma once

#include "shell/cdselection.h"

#include <QGroupBox>
#include <QStringList>
#include <functional>
#include <memory>

class QComboBox;
class QTimer;

namespace bw {

class TCddb;
class TCDDBForm;
class TDialogs;
struct TAppSettings;

// The "CD Audio Drive" group of the main window: the drive list, Open/Close, the door watch
// and what Add CD Tracks does, over the widget-free drive selection.
class TCdDrivePanel : public QGroupBox {
    Q_OBJECT

public:
    // What the panel asks of the window, which owns the job list.
    struct THost {
        // Empties the job list, asking first; false when the user keeps it.
        std::function<bool()> ClearList;
        // The tracks of a disc are about to fill the list.
        std::function<void()> ListingTracks;
        std::function<void(TmyMusicFile track)> AppendTrack;
        // The disc the listed tracks came from is being taken out.
        std::function<void()> DiscTakenOut;
    };
    // What Add CD Tracks runs to look a disc up when TryLoadFreeDB is set; it is given the
    // drive, let go of so that it can read the disc itself.
    using TDiscLookupHook = std::function<void(int drive)>;

    // settings: the window's, read as they are when a disc is added.
    TCdDrivePanel(TCdSystem& cdSystem, TDialogs& dialogs, const TAppSettings& settings,
                  THost host, QWidget* parent);
    ~TCdDrivePanel() override;

    TCdSelection& Selection() { return cd_; }
    // The door watch: runs while the list holds the tracks of a disc.
    QTimer& DoorTimer() { return *doorTimer_; }
    // The lookup window by default; tests put their own.
    void SetDiscLookup(TDiscLookupHook lookup) { discLookup_ = std::move(lookup); }

    void FillDriveList();
    // Takes the disc images out of paths as drives, the last one chosen; what is left are
    // files.
    QStringList AddCdImages(const QStringList& paths);
    void AddCdTracks();
    // The list holds no disc's tracks any more: there is nothing to watch.
    void StopWatching();

private:
    void DoorTimerTick();

    TDialogs& dialogs_;
    const TAppSettings& settings_;
    THost host_;
    TCdSelection cd_;
    // Reads tables of contents through the drive list above, so it goes first.
    std::unique_ptr<TCddb> cddb_;
    TDiscLookupHook discLookup_;

    // Owned by Qt's parent chain.
    TCDDBForm* cddbForm_ = nullptr;
    QComboBox* cmbDrives_ = nullptr;
    QTimer* doorTimer_ = nullptr;
};

} // namespace bw
