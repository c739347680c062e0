#include "cd/cdtrackstream.h"

#include "cd/accuraterip.h"
#include "cd/albumimage.h"
#include "core/jobitem.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace bw {

namespace {

// Low-level reads in a row that returned nothing at all before the drive is taken as gone
// (a dead drive that does not report a missing disc): scratches make short reads, not
// hundreds of empty ones.
constexpr int kMaxEmptyReadsInARow = 300;

struct TDriveDeleter {
    // The disc handle belongs to the TCdDisc, not to the paranoia drive object.
    void operator()(cdrom_drive_t* d) const { cdio_cddap_close_no_free_cdio(d); }
};
struct TParanoiaDeleter {
    void operator()(cdrom_paranoia_t* p) const { cdio_paranoia_free(p); }
};

} // namespace

struct TCdTrackStream::Impl {
    std::string drivePath;
    int track = 0;
    // Declared in the order they are made: freed in reverse, the reader before the drive
    // object before the disc.
    std::unique_ptr<TCdDisc> disc;
    std::unique_ptr<cdrom_drive_t, TDriveDeleter> drive;
    std::unique_ptr<cdrom_paranoia_t, TParanoiaDeleter> paranoia;

    int32_t sectors = 0;    // the track's length in sectors
    int32_t nextSector = 0; // in the track, the next one the stream hands out
    // The disc sectors read for the track: its own, moved by the drive's read offset, one
    // more when the offset is not whole sectors. Sector k of the track is the last part of
    // read sector k from headBytes on and the first headBytes of read sector k + 1.
    int32_t first = 0;
    int32_t readSectors = 0;
    int32_t nextRead = 0; // in the read sectors, the next one the reader delivers
    size_t headBytes = 0;
    // The disc's audio the track lies in; a read sector outside it is silence.
    int32_t audioFirst = 0;
    int32_t audioEnd = 0;
    using TSector = std::array<std::byte, CDIO_CD_FRAMESIZE_RAW>;
    TSector carried{}; // read sector nextRead - 1, whose tail begins the next track sector
    TSector assembled{};
    TSector sector{};
    size_t sectorPos = 0;
    size_t sectorSize = 0;
    size_t skipBytes = 0; // after a seek into a sector
    uint64_t position = 0;

    // What was lost: sectors handed out that the drive did not deliver at their last read
    // (silence stands in for them), and the sectors where the reader gave up on verifying
    // (reads that never agreed).
    std::vector<bool> delivered; // by the last read of each sector of the track
    // Of the sectors as they are handed out, in order from the track's start.
    std::optional<TTrackChecksums> checksums;
    std::set<long> unreadReturned;
    std::set<long> skipped;
    int emptyReadsInARow = 0;
    bool gone = false;
    bool failed = false;
    TAudioError lastError = TAudioError::Ok;
    std::string failText;
    std::vector<std::byte> scratch;

    long ReadSectors(cdrom_drive_t* d, void* buffer, lsn_t begin, long count);
    void OnReader(long word, paranoia_cb_mode_t mode);
    bool InAudio(int32_t lsn) const { return lsn >= audioFirst && lsn < audioEnd; }
    // Points the reader at the next sector it reads from the disc.
    bool SeekReader();
    // Read sector nextRead into out; false when the read failed (Fail was called).
    bool ReadSector(TSector& out);
    // Track sector nextSector with the read offset applied; null when a read failed.
    const std::byte* NextTrackSector();
    std::string TrackName() const { return "CD Track " + std::to_string(track); }
    bool Fail(TAudioError e, std::string text) {
        failed = true;
        lastError = e;
        failText = std::move(text);
        return false;
    }
};

namespace {

// libcdio-paranoia's hooks carry no context: the stream whose reader is running on this
// thread is kept here for the time of each call into it.
thread_local TCdTrackStream::Impl* tActive = nullptr;

class TActiveScope {
public:
    explicit TActiveScope(TCdTrackStream::Impl* s) : previous_(tActive) { tActive = s; }
    ~TActiveScope() { tActive = previous_; }
    TActiveScope(const TActiveScope&) = delete;
    TActiveScope& operator=(const TActiveScope&) = delete;

private:
    TCdTrackStream::Impl* previous_;
};

long ReadHook(cdrom_drive_t* d, void* buffer, lsn_t begin, long count) {
    if (!tActive) {
        errno = EBADF;
        return -1;
    }
    return tActive->ReadSectors(d, buffer, begin, count);
}

void ReaderCallback(long word, paranoia_cb_mode_t mode) {
    if (tActive)
        tActive->OnReader(word, mode);
}

} // namespace

long TCdTrackStream::Impl::ReadSectors(cdrom_drive_t* d, void* buffer, lsn_t begin, long count) {
    if (gone) {
        // The one error the reader gives up on at once instead of retrying.
        errno = ENOMEDIUM;
        return -1;
    }
    if (count <= 0)
        return 0;
    if (d->nsectors > 0)
        count = std::min<long>(count, d->nsectors);
    std::byte* out = static_cast<std::byte*>(buffer);
    if (!out) { // the reader's cache probes read without keeping the data
        scratch.resize(static_cast<size_t>(count) * CDIO_CD_FRAMESIZE_RAW);
        out = scratch.data();
    }
    // A drive ends a read at its first bad sector. Left to retry from there, the reader would
    // in the end give up on a whole stretch around the sector and hand out filler for the good
    // sectors beside it, which no drive was ever asked for. So the read goes on after a bad
    // sector, which is handed over as silence and noted as unread: the reader sees the same
    // silence on each of its passes, a later pass that reads the sector replaces it (and the
    // reader verifies it as any other), and a sector still unread when it is handed out is
    // lost.
    const auto start = std::chrono::steady_clock::now();
    long pos = 0;
    while (pos < count) {
        std::byte* at = out + pos * CDIO_CD_FRAMESIZE_RAW;
        const long n = disc->ReadAudio(begin + pos, count - pos, at);
        if (n == kCdDiscGone || (n <= 0 && ++emptyReadsInARow >= kMaxEmptyReadsInARow)) {
            gone = true;
            errno = ENOMEDIUM;
            return -1;
        }
        const long got = std::max(0L, n);
        if (got > 0)
            emptyReadsInARow = 0;
        for (long i = pos; i < pos + got + (pos + got < count ? 1 : 0); ++i)
            if (begin + i >= first && begin + i < first + readSectors)
                delivered[static_cast<size_t>(begin + i - first)] = i < pos + got;
        pos += got;
        if (pos < count) {
            std::fill_n(out + pos * CDIO_CD_FRAMESIZE_RAW, CDIO_CD_FRAMESIZE_RAW, std::byte{0});
            ++pos;
        }
    }
    d->last_milliseconds = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - start)
                                                .count());
    return count;
}

void TCdTrackStream::Impl::OnReader(long word, paranoia_cb_mode_t mode) {
    if (mode != PARANOIA_CB_SKIP)
        return;
    const long lsn = word / CD_FRAMEWORDS;
    if (lsn >= first && lsn < first + readSectors)
        skipped.insert(lsn);
}

TCdTrackStream::TCdTrackStream() : impl_(std::make_unique<Impl>()) {}
TCdTrackStream::~TCdTrackStream() = default;

std::unique_ptr<TCdTrackStream> TCdTrackStream::Open(const TCdDriveEntry& drive, int track,
                                                     TAudioError* error, std::string* why,
                                                     TCdSystem& system) {
    auto fail = [&](TAudioError e, std::string text) {
        if (error)
            *error = e;
        if (why)
            *why = std::move(text);
        return nullptr;
    };
    std::unique_ptr<TCdTrackStream> stream(new TCdTrackStream());
    Impl& s = *stream->impl_;
    s.drivePath = drive.Path;
    s.track = track;
    std::string reason;
    s.disc = system.OpenDisc(drive.Path, drive.IsImage, &reason);
    if (!s.disc)
        return fail(TAudioError::FileOpen, reason);
    const auto tracks = ReadCdTracks(*s.disc);
    if (track < 1 || static_cast<size_t>(track) > tracks.size())
        return fail(TAudioError::IllegalParam, "The CD in \"" + drive.Path + "\" has no track " +
                                                   std::to_string(track));
    const size_t index = static_cast<size_t>(track - 1);
    const TCdTrack& t = tracks[index];
    if (!t.IsAudio)
        return fail(TAudioError::NotAvailable, s.TrackName() + " is not an audio track");
    // The run of audio tracks around this one: a data track or the disc's edge bounds it.
    size_t lo = index, hi = index;
    while (lo > 0 && tracks[lo - 1].IsAudio)
        --lo;
    while (hi + 1 < tracks.size() && tracks[hi + 1].IsAudio)
        ++hi;
    s.audioFirst = std::max(0, tracks[lo].StartLsn);
    s.audioEnd = tracks[hi].StartLsn + tracks[hi].Sectors;
    constexpr int64_t kFrames = CDIO_CD_FRAMESIZE_RAW / 4;
    const int offset = std::clamp(drive.ReadOffset, -kMaxReadOffset, kMaxReadOffset);
    const int64_t firstFrame = int64_t{t.StartLsn} * kFrames + offset;
    const int64_t head = ((firstFrame % kFrames) + kFrames) % kFrames;
    s.sectors = t.Sectors;
    s.first = static_cast<int32_t>((firstFrame - head) / kFrames);
    s.readSectors = t.Sectors + (head != 0 ? 1 : 0);
    s.headBytes = static_cast<size_t>(head * 4);
    s.delivered.assign(static_cast<size_t>(s.readSectors), false);
    // The database's checksums leave out the edges of the disc's audio: the first audio
    // track's start and the last one's end.
    const auto audio = [](const TCdTrack& x) { return x.IsAudio; };
    s.checksums.emplace(uint64_t(t.Sectors) * CDIO_CD_FRAMESIZE_RAW / 4,
                        &*std::find_if(tracks.begin(), tracks.end(), audio) == &t,
                        &*std::find_if(tracks.rbegin(), tracks.rend(), audio) == &t);

    TakeCdioMessage();
    s.drive.reset(cdio_cddap_identify_cdio(s.disc->Handle(), CDDA_MESSAGE_FORGETIT, nullptr));
    if (!s.drive)
        return fail(TAudioError::FileOpen, "Can't read audio from \"" + drive.Path + "\"");
    cdio_cddap_verbose_set(s.drive.get(), CDDA_MESSAGE_FORGETIT, CDDA_MESSAGE_FORGETIT);
    // Every MMC drive and every image delivers little-endian samples. Left unknown, the
    // library guesses the byte order from the sound of the first sectors it reads, and
    // may guess wrong on quiet or synthetic audio.
    s.drive->bigendianp = 0;
    if (cdio_cddap_open(s.drive.get()) != 0)
        return fail(TAudioError::FileOpen, "Can't read audio from \"" + drive.Path + "\"");
    // From here on every sector comes through the disc of the lower layer.
    s.drive->read_audio = ReadHook;
    s.paranoia.reset(cdio_paranoia_init(s.drive.get()));
    if (!s.paranoia)
        return fail(TAudioError::Memory, "Out of memory");
    cdio_paranoia_modeset(s.paranoia.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    if (!stream->Seek(0))
        return fail(TAudioError::FileOpen, "Can't read " + s.TrackName() + " from \"" +
                                               drive.Path + "\"");
    if (error)
        *error = TAudioError::Ok;
    return stream;
}

TChannelInfo TCdTrackStream::Info() const {
    TChannelInfo info;
    info.SampleRate = 44100;
    info.Channels = 2;
    info.ChannelMask = 0x3; // front left, front right
    return info;
}

uint64_t TCdTrackStream::LengthBytes() const {
    return static_cast<uint64_t>(impl_->sectors) * CDIO_CD_FRAMESIZE_RAW;
}

bool TCdTrackStream::Impl::ReadSector(TSector& out) {
    const int32_t lsn = first + nextRead;
    if (!InAudio(lsn)) {
        // Before or after the disc's audio: what a read offset reaches there is silence.
        out.fill(std::byte{0});
        ++nextRead;
        return true;
    }
    const int16_t* data = nullptr;
    {
        TActiveScope scope(this);
        data = cdio_paranoia_read_limited(paranoia.get(), ReaderCallback, kCdMaxRetries);
    }
    if (gone)
        return Fail(TAudioError::Read, TrackName() + ": the disc in \"" + drivePath +
                                           "\" was taken out or can no longer be read");
    if (!data)
        return Fail(TAudioError::Read, TrackName() + ": can't read from \"" + drivePath + "\"");
    if (!delivered[static_cast<size_t>(nextRead)])
        unreadReturned.insert(lsn);
    std::memcpy(out.data(), data, out.size());
    ++nextRead;
    return true;
}

const std::byte* TCdTrackStream::Impl::NextTrackSector() {
    if (headBytes == 0)
        return ReadSector(assembled) ? assembled.data() : nullptr;
    // Just after a seek the sector the track sector begins in is not read yet.
    if (nextRead == nextSector && !ReadSector(carried))
        return nullptr;
    TSector next;
    if (!ReadSector(next))
        return nullptr;
    const size_t tail = assembled.size() - headBytes;
    std::memcpy(assembled.data(), carried.data() + headBytes, tail);
    std::memcpy(assembled.data() + tail, next.data(), headBytes);
    carried = next;
    return assembled.data();
}

int64_t TCdTrackStream::Read(std::span<std::byte> out) {
    Impl& s = *impl_;
    if (s.failed)
        return -1;
    const size_t want = out.size() & ~size_t{3};
    size_t done = 0;
    while (done < want) {
        if (s.sectorPos < s.sectorSize) {
            const size_t n = std::min(want - done, s.sectorSize - s.sectorPos);
            std::memcpy(out.data() + done, s.sector.data() + s.sectorPos, n);
            s.sectorPos += n;
            done += n;
            continue;
        }
        if (s.nextSector >= s.sectors)
            break;
        const std::byte* data = s.NextTrackSector();
        if (!data)
            return -1;
        // The track's next sector as read, the drive's offset applied.
        std::memcpy(s.sector.data(), data, s.sector.size());
        if (s.checksums->SamplesDone() == uint64_t(s.nextSector) * CDIO_CD_FRAMESIZE_RAW / 4)
            s.checksums->Add(s.sector);
        s.sectorSize = s.sector.size();
        s.sectorPos = std::exchange(s.skipBytes, 0);
        ++s.nextSector;
    }
    s.position += done;
    return static_cast<int64_t>(done);
}

uint64_t TCdTrackStream::Position() const {
    return impl_->position;
}

bool TCdTrackStream::Seek(uint64_t bytePos) {
    Impl& s = *impl_;
    if (s.failed)
        return false;
    if (bytePos > LengthBytes()) {
        s.lastError = TAudioError::Position;
        return false;
    }
    bytePos &= ~uint64_t{3};
    if (bytePos == 0 && s.checksums)
        s.checksums->Reset();
    s.nextSector = static_cast<int32_t>(bytePos / CDIO_CD_FRAMESIZE_RAW);
    s.nextRead = s.nextSector;
    s.skipBytes = static_cast<size_t>(bytePos % CDIO_CD_FRAMESIZE_RAW);
    s.sectorPos = s.sectorSize = 0;
    s.position = bytePos;
    return s.SeekReader();
}

bool TCdTrackStream::Impl::SeekReader() {
    // Silent sectors before the disc's audio are handed out without the reader, which waits
    // at the first sector it reads.
    const int32_t lsn = std::max(first + nextRead, audioFirst);
    if (nextSector >= sectors || lsn >= audioEnd || lsn >= first + readSectors)
        return true;
    TActiveScope scope(this);
    if (cdio_paranoia_seek(paranoia.get(), lsn, SEEK_SET) == -1) {
        lastError = TAudioError::Position;
        return false;
    }
    return true;
}

void TCdTrackStream::TakeRipChecksums(TmyMusicFile& item) const {
    const TTrackChecksums& c = *impl_->checksums;
    item.RipChecked = c.Complete();
    item.CrcV1 = c.V1();
    item.CrcV2 = c.V2();
    item.CopyCrc = c.CopyCrc();
    item.Peak = c.Peak();
}

bool TCdTrackStream::AtEnd() const {
    return impl_->nextSector >= impl_->sectors && impl_->sectorPos >= impl_->sectorSize;
}

bool TCdTrackStream::DeliveredAll() const {
    return !impl_->failed && SkippedSectors() == 0;
}

TAudioError TCdTrackStream::LastError() const {
    return impl_->lastError;
}

int64_t TCdTrackStream::SkippedSectors() const {
    const Impl& s = *impl_;
    std::set<long> lost = s.skipped;
    lost.insert(s.unreadReturned.begin(), s.unreadReturned.end());
    return static_cast<int64_t>(lost.size());
}

std::string TCdTrackStream::ErrorText() const {
    const Impl& s = *impl_;
    if (s.failed)
        return s.failText;
    const int64_t lost = SkippedSectors();
    if (lost > 0)
        return s.TrackName() + ": " + std::to_string(lost) + (lost == 1 ? " sector" : " sectors") +
               " could not be read and " + (lost == 1 ? "was" : "were") + " lost";
    return {};
}

std::unique_ptr<TAudioStream> OpenCdTrack(const TCdDriveEntry& drive, int track,
                                          TCdSystem& system, TAudioError* error, std::string* why,
                                          TChannelPolicy policy, TSampleDepth depth) {
    if (drive.Album) {
        const auto& tracks = drive.Album->Tracks;
        if (track < 1 || static_cast<size_t>(track) > tracks.size()) {
            if (error)
                *error = TAudioError::IllegalParam;
            if (why)
                *why = "The album image has no track " + std::to_string(track);
            return nullptr;
        }
        const TAlbumTrack& t = tracks[static_cast<size_t>(track - 1)];
        TAudioError e = TAudioError::Ok;
        auto s = TAudioStream::OpenFileRange(t.Path, t.First, t.End, &e, policy, depth);
        if (error)
            *error = e;
        if (!s && why)
            *why = "Can't read track " + std::to_string(track) + " from \"" + t.Path + "\"";
        return s;
    }
    auto cd = TCdTrackStream::Open(drive, track, error, why, system);
    if (!cd)
        return nullptr;
    return TAudioStream::FromSource(std::move(cd));
}

} // namespace bw
