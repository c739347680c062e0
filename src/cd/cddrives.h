#pragma once

#include "cd/albumimage.h"
#include "cd/cdsystem.h"
#include "cd/cdtext.h"
#include "cd/cdtoc.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// At most this many of the system's CD devices are listed.
constexpr size_t kMaxCdDevices = 10;

// One entry of the drive list: a CD device, or a disc image or album image taken as a
// drive.
struct TCdDriveEntry {
    std::string Path;     // device path or image path
    std::string Text;     // "path: vendor model", "path: CD image" or "path: album image"
    bool IsImage = false; // an image of either kind: no door, nothing to lock
    // An album image's tracks, read from its sheet when it was added; null for the rest.
    std::shared_ptr<const TAlbumImage> Album;
    // "vendor model" of a device, "CD image" for a disc image: whose read offset applies.
    std::string Model = {};
    // The drive's read offset in samples: sample n of a track is read from disc sample
    // n + ReadOffset. Ignored for an album image, which is not read from a disc.
    int ReadOffset = 0;
};

// The read offsets a drive may be given, in samples.
constexpr int kMaxReadOffset = 3000;
// The model every disc image shares for its read offset.
inline constexpr const char* kCdImageModel = "CD image";

// One track of a disc, numbered as on the disc.
struct TCdTrack {
    int Number = 0;
    bool IsAudio = false;
    int32_t StartLsn = 0;
    int32_t Sectors = 0;     // audio sectors of the track; 0 for a data track
    int64_t LengthBytes = 0; // Sectors * 2352; 0 for a data track (it has no audio length)
    // What the audio is: a CD's always 44.1 kHz 16-bit stereo, an album image's as its file.
    int SampleRate = 44100;
    int Channels = 2;
    int BitsPerSample = 16;
    std::string Isrc; // as the disc reports it; empty when it has none
    std::string Mcn;  // the disc's catalogue number, the same on every track; may be empty
    // The gap before the track (its INDEX 00) where an image's sheet gives one; a drive's
    // table of contents does not.
    int32_t PregapSectors = 0;
};

constexpr int64_t kCdSectorBytes = 2352;

// The system's CD devices in device order, at most kMaxCdDevices, each "path: vendor model".
std::vector<TCdDriveEntry> EnumerateCdDrives(TCdSystem& system = SystemCd());

// The tracks of an opened disc. For a disc whose audio session is followed by a data
// session, the last audio track ends where the audio session does. Empty when the disc
// reports no tracks.
std::vector<TCdTrack> ReadCdTracks(TCdDisc& disc);
// Fills toc from an opened disc; false when the disc reports no tracks.
bool ReadToc(TCdDisc& disc, TCDToc& toc);

// The drives the user can choose from: the system's CD devices, then the images added.
// A drive is addressed by its index in the list. Not thread-safe (the user-interface
// thread owns it); each operation opens the disc it needs, and a disc kept open by a track
// query stays open until Release.
class TCdDriveList {
public:
    explicit TCdDriveList(TCdSystem& system = SystemCd());
    ~TCdDriveList();
    TCdDriveList(const TCdDriveList&) = delete;
    TCdDriveList& operator=(const TCdDriveList&) = delete;

    // Lists the system's CD devices anew (images added before are kept after them).
    void Fill();
    // Adds a disc image as a drive ("path: CD image") after checking that it opens, or an
    // album image ("path: album image": a cue sheet naming audio files) after reading its
    // sheet and files; an image already listed is not added twice. Returns its index, or -1
    // with *why (nothing is added).
    int AddImage(const std::string& path, std::string* why = nullptr);
    // The index of a drive given as an index number, a device path or an image path;
    // -1 when there is none. An image path not listed yet is not added here.
    int Find(std::string_view drive) const;

    size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    const TCdDriveEntry& At(size_t drive) const { return entries_.at(drive); }
    const std::vector<TCdDriveEntry>& Entries() const { return entries_; }
    // Sets the read offset of a drive, brought into -kMaxReadOffset..kMaxReadOffset.
    void SetReadOffset(int drive, int samples);
    // Gives every drive, and each listed later, its model's offset (none for a model not
    // named).
    void SetReadOffsets(const std::map<std::string, int>& byModel);
    TCdSystem& System() const { return system_; }

    // Whether a disc with tracks is in the drive.
    bool IsReady(int drive);
    // The disc's tracks; false with *why when there is no disc or no drive of that index.
    bool Tracks(int drive, std::vector<TCdTrack>& tracks, std::string* why = nullptr);
    bool ReadToc(int drive, TCDToc& toc);
    // The disc's CD-TEXT (an image's from its cue sheet); false when it has none.
    bool ReadCdText(int drive, TCdText& text);

    // An image's door never opens.
    bool DoorIsOpen(int drive);
    // Opens the door when it is closed, closes it when it is open. False for an image.
    bool OpenCloseDoor(int drive, std::string* why = nullptr);
    // Keeps the user from taking the disc out during a run. A no-op for an image.
    bool LockDoor(int drive, std::string* why = nullptr);
    bool UnlockDoor(int drive, std::string* why = nullptr);
    // Closes a disc kept open by a query, so that the drive is not held.
    void Release(int drive);

private:
    TCdDisc* Disc(int drive, std::string* why);
    bool Valid(int drive) const { return drive >= 0 && static_cast<size_t>(drive) < entries_.size(); }

    TCdSystem& system_;
    std::vector<TCdDriveEntry> entries_;
    std::vector<std::unique_ptr<TCdDisc>> open_; // one slot per entry
    std::map<std::string, int> offsets_;         // by drive model
    void ApplyReadOffsets();
};

} // namespace bw
