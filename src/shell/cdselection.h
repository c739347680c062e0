#pragma once

#include "cd/cddrives.h"
#include "core/jobitem.h"

#include <string>
#include <vector>

namespace bw {

// The CD side of the main window without its widgets: the drive list, the drive chosen in
// it, and the drive the listed tracks were read from. The door watch follows that last one,
// not the choice, so that choosing another drive while tracks are listed does not make the
// watch clear the list when the other drive's door opens (or miss the listed disc going).
// The user-interface thread owns it.
class TCdSelection {
public:
    explicit TCdSelection(TCdSystem& system = SystemCd());

    // Lists the system's drives (images added before stay after them) and chooses the
    // first. NoCdDrive when the system has none.
    void Fill();
    bool NoCdDrive() const { return noCdDrive_; }
    // The entries' texts in drive order, as the drop-down list shows them.
    std::vector<std::string> DriveTexts() const;

    int SelectedCdDrive() const { return selected_; }
    void SetSelectedCdDrive(int drive) { selected_ = drive; }

    // Adds a disc image as a drive and chooses it. Once an image is listed there is a
    // drive, even on a machine without any. Its index, or -1 with *why.
    int AddImage(const std::string& path, std::string* why);

    // Opens the chosen drive's door when it is closed, closes it when open. An image has no
    // door: false.
    bool OpenCloseDoor(std::string* why = nullptr);
    bool SelectedIsReady();

    // Tracks are about to be listed from the chosen drive: the door watch follows it now.
    void StartListing();
    // The list no longer holds tracks of a disc.
    void StopListing() { listed_ = -1; }
    int ListedCdDrive() const { return listed_; }

    // The job items of the audio tracks of the disc in the chosen drive (data tracks left
    // out, keeping their numbers), recording the drive in each. Empty when the tracks cannot
    // be read (no disc, no drive). TableIndex is left to the job table.
    std::vector<TmyMusicFile> AudioTrackItems();

    // One tick of the door watch: true when the door of the drive the tracks were listed
    // from is open. The drive is let go of either way, so that it is not held between ticks
    // (another program may want it, and a held drive may refuse to open its door).
    bool DoorWatchTick();
    // Lets go of the chosen drive, so that another reader (the disc lookup) can open it.
    void ReleaseSelected() { drives_.Release(selected_); }

    TCdDriveList& Drives() { return drives_; }

private:
    TCdDriveList drives_;
    int selected_ = 0;
    int listed_ = -1;
    bool noCdDrive_ = false;
};

} // namespace bw
