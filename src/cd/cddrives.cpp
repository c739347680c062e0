#include "cd/cddrives.h"

#include "cd/cdimage.h"

#include <cdio/cdio.h>

#include <algorithm>
#include <charconv>
#include <memory>

namespace bw {

namespace {

// Between the end of an audio session and the data session after it lie the first
// session's lead-out (6750 sectors), the next lead-in (4500) and the data track's pregap
// (150); none of it holds audio.
constexpr int32_t kSessionGap = 11400;

// A string libcdio allocated, freed; empty for none. Drives and images without the code
// answer with none, or with a run of zeros or blanks, which mean the same.
std::string TakeCdioString(char* s) {
    const std::unique_ptr<char, decltype(&cdio_free)> owned(s, &cdio_free);
    std::string text = s ? s : "";
    if (text.find_first_not_of("0 ") == std::string::npos)
        text.clear();
    return text;
}

} // namespace

TCdMsf TCdMsf::FromLsn(int32_t lsn) {
    const int32_t lba = std::max(0, lsn + CDIO_PREGAP_SECTORS);
    return {static_cast<uint8_t>(std::min(lba / 4500, 255)),
            static_cast<uint8_t>((lba / 75) % 60), static_cast<uint8_t>(lba % 75)};
}

std::vector<TCdDriveEntry> EnumerateCdDrives(TCdSystem& system) {
    std::vector<TCdDriveEntry> drives;
    for (const std::string& path : system.DevicePaths()) {
        if (drives.size() == kMaxCdDevices)
            break;
        const std::string model = system.HardwareText(path);
        drives.push_back({path, path + ": " + model, false, nullptr, model});
    }
    return drives;
}

std::vector<TCdTrack> ReadCdTracks(TCdDisc& disc) {
    CdIo_t* p = disc.Handle();
    std::vector<TCdTrack> tracks;
    const track_t first = cdio_get_first_track_num(p);
    const track_t count = cdio_get_num_tracks(p);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 ||
        first + count - 1 > CDIO_CD_MAX_TRACKS)
        return tracks;
    const std::string mcn = TakeCdioString(cdio_get_mcn(p));
    lsn_t lastSession = CDIO_INVALID_LSN;
    if (cdio_get_last_session(p, &lastSession) != DRIVER_OP_SUCCESS)
        lastSession = CDIO_INVALID_LSN;
    for (int i = 0; i < count; ++i) {
        const track_t t = static_cast<track_t>(first + i);
        const bool last = i + 1 == count;
        const track_t next = last ? static_cast<track_t>(CDIO_CDROM_LEADOUT_TRACK) : static_cast<track_t>(t + 1);
        TCdTrack track;
        track.Number = i + 1;
        track.IsAudio = cdio_get_track_format(p, t) == TRACK_FORMAT_AUDIO;
        track.StartLsn = cdio_get_track_lsn(p, t);
        track.Mcn = mcn;
        if (track.IsAudio)
            track.Isrc = TakeCdioString(cdio_get_track_isrc(p, t));
        const lsn_t pregap = cdio_get_track_pregap_lsn(p, t);
        if (pregap != CDIO_INVALID_LSN && pregap >= 0 && pregap < track.StartLsn)
            track.PregapSectors = track.StartLsn - pregap;
        const lsn_t end = cdio_get_track_lsn(p, next);
        if (track.IsAudio && track.StartLsn != CDIO_INVALID_LSN && end != CDIO_INVALID_LSN &&
            end > track.StartLsn) {
            int32_t sectors = end - track.StartLsn;
            if (!last && cdio_get_track_format(p, next) != TRACK_FORMAT_AUDIO &&
                lastSession == end && lastSession > 0 && sectors > kSessionGap)
                sectors -= kSessionGap;
            track.Sectors = sectors;
            track.LengthBytes = int64_t{sectors} * kCdSectorBytes;
        } else {
            track.IsAudio = false;
        }
        tracks.push_back(track);
    }
    return tracks;
}

bool ReadToc(TCdDisc& disc, TCDToc& toc) {
    CdIo_t* p = disc.Handle();
    toc = TCDToc{};
    const track_t first = cdio_get_first_track_num(p);
    const track_t last = cdio_get_last_track_num(p);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || last < first ||
        (first == 0 && last == 0))
        return false;
    const int count = last - first + 1;
    if (count > static_cast<int>(toc.Tracks.size()))
        return false;
    toc.TrackCount = static_cast<uint8_t>(count);
    for (int i = 0; i < count; ++i) {
        const track_t t = static_cast<track_t>(first + i);
        toc.Tracks[i].Start = TCdMsf::FromLsn(cdio_get_track_lsn(p, t));
        toc.Tracks[i].IsAudio = cdio_get_track_format(p, t) == TRACK_FORMAT_AUDIO ? -1 : 0;
    }
    toc.LeadOut = TCdMsf::FromLsn(cdio_get_track_lsn(p, CDIO_CDROM_LEADOUT_TRACK));
    return true;
}

TCdDriveList::TCdDriveList(TCdSystem& system) : system_(system) {}

TCdDriveList::~TCdDriveList() = default;

void TCdDriveList::Fill() {
    std::vector<TCdDriveEntry> images;
    for (auto& e : entries_)
        if (e.IsImage)
            images.push_back(std::move(e));
    entries_ = EnumerateCdDrives(system_);
    entries_.insert(entries_.end(), images.begin(), images.end());
    open_.clear();
    open_.resize(entries_.size());
    ApplyReadOffsets();
}

int TCdDriveList::AddImage(const std::string& path, std::string* why) {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].IsImage && entries_[i].Path == path)
            return static_cast<int>(i);
    if (!IsCdImagePath(path)) {
        if (why)
            *why = "\"" + path + "\" is not a CD image (.cue or .toc)";
        return -1;
    }
    if (IsAlbumSheet(path)) {
        auto album = std::make_shared<TAlbumImage>();
        if (!OpenAlbumImage(path, *album, why))
            return -1;
        entries_.push_back({path, path + ": album image", true, std::move(album)});
        open_.push_back(nullptr);
        return static_cast<int>(entries_.size() - 1);
    }
    auto disc = system_.OpenDisc(path, true, why);
    if (!disc)
        return -1;
    entries_.push_back({path, path + ": CD image", true, nullptr, kCdImageModel});
    open_.push_back(nullptr);
    ApplyReadOffsets();
    return static_cast<int>(entries_.size() - 1);
}

int TCdDriveList::Find(std::string_view drive) const {
    int index = -1;
    const auto [end, err] = std::from_chars(drive.data(), drive.data() + drive.size(), index);
    if (err == std::errc() && end == drive.data() + drive.size())
        return Valid(index) ? index : -1;
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].Path == drive)
            return static_cast<int>(i);
    return -1;
}

TCdDisc* TCdDriveList::Disc(int drive, std::string* why) {
    if (!Valid(drive)) {
        if (why)
            *why = "No CD drive " + std::to_string(drive);
        return nullptr;
    }
    if (!open_[drive])
        open_[drive] = system_.OpenDisc(entries_[drive].Path, entries_[drive].IsImage, why);
    return open_[drive].get();
}

bool TCdDriveList::IsReady(int drive) {
    if (Valid(drive) && entries_[drive].Album)
        return true;
    return Disc(drive, nullptr) != nullptr;
}

std::vector<TCdTrack> AlbumTracks(const TAlbumImage& album) {
    std::vector<TCdTrack> tracks;
    for (size_t i = 0; i < album.Tracks.size(); ++i) {
        const TAlbumTrack& a = album.Tracks[i];
        TCdTrack t;
        t.Number = static_cast<int>(i + 1);
        t.IsAudio = true;
        t.StartLsn = a.StartFrame;
        // CD frames it covers, the last one partly filled where the track ends inside it.
        t.Sectors = static_cast<int32_t>((a.Frames() * 75 + a.SampleRate - 1) / a.SampleRate);
        t.LengthBytes = a.LengthBytes();
        t.SampleRate = a.SampleRate;
        t.Channels = a.Channels;
        t.BitsPerSample = a.BitsPerSample;
        t.Isrc = a.Isrc;
        t.Mcn = album.Catalog;
        tracks.push_back(t);
    }
    return tracks;
}

bool TCdDriveList::Tracks(int drive, std::vector<TCdTrack>& tracks, std::string* why) {
    tracks.clear();
    if (Valid(drive) && entries_[drive].Album) {
        tracks = AlbumTracks(*entries_[drive].Album);
        return !tracks.empty();
    }
    TCdDisc* disc = Disc(drive, why);
    if (!disc)
        return false;
    tracks = ReadCdTracks(*disc);
    if (tracks.empty() && why)
        *why = "The CD in \"" + entries_[drive].Path + "\" has no tracks";
    return !tracks.empty();
}

bool TCdDriveList::ReadToc(int drive, TCDToc& toc) {
    if (Valid(drive) && entries_[drive].Album) {
        toc = entries_[drive].Album->Toc();
        return toc.TrackCount > 0;
    }
    TCdDisc* disc = Disc(drive, nullptr);
    return disc && bw::ReadToc(*disc, toc);
}

bool TCdDriveList::ReadCdText(int drive, TCdText& text) {
    if (Valid(drive) && entries_[drive].Album) {
        text = entries_[drive].Album->Text();
        return !text.Empty();
    }
    TCdDisc* disc = Disc(drive, nullptr);
    return disc && bw::ReadCdText(*disc, text);
}

bool TCdDriveList::DoorIsOpen(int drive) {
    if (!Valid(drive) || entries_[drive].IsImage)
        return false;
    return system_.DoorState(entries_[drive].Path) == TCdDoorState::Open;
}

bool TCdDriveList::OpenCloseDoor(int drive, std::string* why) {
    if (!Valid(drive)) {
        if (why)
            *why = "No CD drive " + std::to_string(drive);
        return false;
    }
    if (entries_[drive].IsImage) {
        if (why)
            *why = "A CD image has no door";
        return false;
    }
    Release(drive);
    return system_.MoveDoor(entries_[drive].Path, !DoorIsOpen(drive), why);
}

bool TCdDriveList::LockDoor(int drive, std::string* why) {
    if (!Valid(drive))
        return false;
    return entries_[drive].IsImage || system_.LockDoor(entries_[drive].Path, true, why);
}

bool TCdDriveList::UnlockDoor(int drive, std::string* why) {
    if (!Valid(drive))
        return false;
    return entries_[drive].IsImage || system_.LockDoor(entries_[drive].Path, false, why);
}

void TCdDriveList::SetReadOffset(int drive, int samples) {
    if (Valid(drive))
        entries_[drive].ReadOffset = std::clamp(samples, -kMaxReadOffset, kMaxReadOffset);
}

void TCdDriveList::SetReadOffsets(const std::map<std::string, int>& byModel) {
    offsets_ = byModel;
    ApplyReadOffsets();
}

void TCdDriveList::ApplyReadOffsets() {
    for (size_t d = 0; d < entries_.size(); ++d) {
        const auto offset = offsets_.find(entries_[d].Model);
        SetReadOffset(static_cast<int>(d), offset == offsets_.end() ? 0 : offset->second);
    }
}

void TCdDriveList::Release(int drive) {
    if (Valid(drive))
        open_[drive].reset();
}

} // namespace bw
