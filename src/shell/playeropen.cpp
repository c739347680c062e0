#include "shell/playeropen.h"

#include "cd/cddrives.h"
#include "cd/cdtrackstream.h"

namespace bw {

std::unique_ptr<TPlayerStream> OpenPlayerStream(const TmyMusicFile& item, TCdDriveList& drives,
                                                TAudioError* error, std::string* why) {
    if (item.SourceType != TSourceType::CdTrack)
        return TPlayerStream::OpenFile(item.SourcePath, error);
    if (item.CdDrive >= drives.Count()) {
        if (error)
            *error = TAudioError::Device;
        if (why)
            *why = "No CD drive " + std::to_string(item.CdDrive);
        return nullptr;
    }
    // The player reads the disc through a handle of its own: the list's, kept open by a
    // track query, is not needed any more.
    drives.Release(item.CdDrive);
    return TPlayerStream::OpenWith(
        [&](TAudioError* e) {
            return OpenCdTrack(drives.At(item.CdDrive), item.Track, drives.System(), e, why);
        },
        error);
}

} // namespace bw
