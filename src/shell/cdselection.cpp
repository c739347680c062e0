#include "shell/cdselection.h"

#include "cd/cdtrackitem.h"

#include <limits>

namespace bw {

TCdSelection::TCdSelection(TCdSystem& system) : drives_(system) {}

void TCdSelection::Fill() {
    drives_.Fill();
    noCdDrive_ = drives_.Empty();
    selected_ = 0;
}

std::vector<std::string> TCdSelection::DriveTexts() const {
    std::vector<std::string> texts;
    for (const TCdDriveEntry& e : drives_.Entries())
        texts.push_back(e.Text);
    return texts;
}

int TCdSelection::AddImage(const std::string& path, std::string* why) {
    const int drive = drives_.AddImage(path, why);
    // A job item keeps its drive in one byte.
    if (drive > std::numeric_limits<uint8_t>::max()) {
        if (why)
            *why = "Too many CD images are listed";
        return -1;
    }
    if (drive < 0)
        return -1;
    selected_ = drive;
    noCdDrive_ = false;
    return drive;
}

bool TCdSelection::OpenCloseDoor(std::string* why) { return drives_.OpenCloseDoor(selected_, why); }

bool TCdSelection::SelectedIsReady() { return drives_.IsReady(selected_); }

void TCdSelection::StartListing() { listed_ = selected_; }

std::vector<TmyMusicFile> TCdSelection::AudioTrackItems() {
    std::vector<TCdTrack> tracks;
    if (noCdDrive_ || !drives_.Tracks(selected_, tracks))
        return {};
    return CdTrackItems(tracks, static_cast<uint8_t>(selected_), 0);
}

bool TCdSelection::DoorWatchTick() {
    const bool open = listed_ >= 0 && drives_.DoorIsOpen(listed_);
    drives_.Release(listed_);
    drives_.Release(selected_);
    return open;
}

} // namespace bw
