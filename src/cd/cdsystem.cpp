#include "cd/cdsystem.h"

#include "cd/cdimage.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/cdrom.h>
#include <mutex>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace bw {

namespace {

thread_local std::string tCdioMessage;

// libcdio logs to standard error by default; its warnings are kept here and turned into
// the reasons this layer gives.
void CaptureLog(cdio_log_level_t level, const char message[]) {
    if (level >= CDIO_LOG_WARN && message) {
        tCdioMessage = message;
        while (!tCdioMessage.empty() &&
               (tCdioMessage.back() == '\n' || tCdioMessage.back() == ' '))
            tCdioMessage.pop_back();
    }
}

void QuietLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler(CaptureLog); });
}

struct TCdioDeleter {
    void operator()(CdIo_t* p) const { cdio_destroy(p); }
};
using TCdioPtr = std::unique_ptr<CdIo_t, TCdioDeleter>;

// A file descriptor opened for the CD-ROM ioctls. O_NONBLOCK: a drive with its door open or
// without a disc must still answer.
class TDeviceFd {
public:
    explicit TDeviceFd(const std::string& device)
        : fd_(::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~TDeviceFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TDeviceFd(const TDeviceFd&) = delete;
    TDeviceFd& operator=(const TDeviceFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string Trimmed(const char* s, size_t max) {
    std::string t(s, strnlen(s, max));
    const size_t first = t.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return t.substr(first, t.find_last_not_of(' ') - first + 1);
}

bool Errno(std::string* why, const std::string& what) {
    if (why)
        *why = what + ": " + std::strerror(errno);
    return false;
}

class TLibcdioDisc final : public TCdDisc {
public:
    TLibcdioDisc(TCdioPtr handle, std::string device)
        : handle_(std::move(handle)), device_(std::move(device)) {}

    _CdIo* Handle() override { return handle_.get(); }

    long ReadAudio(int32_t lsn, long count, std::byte* out) override {
        if (count <= 0)
            return 0;
        if (cdio_read_audio_sectors(handle_.get(), out, lsn, static_cast<uint32_t>(count)) ==
            DRIVER_OP_SUCCESS)
            return count;
        // A drive fails the whole command for one bad sector: find how far the good part
        // goes, so that the verifying reader above keeps it.
        long good = 0;
        while (good < count &&
               cdio_read_audio_sector(handle_.get(), out + good * CDIO_CD_FRAMESIZE_RAW,
                                      lsn + good) == DRIVER_OP_SUCCESS)
            ++good;
        if (good == 0 && !device_.empty() && !DiscPresent())
            return kCdDiscGone;
        return good;
    }

private:
    bool DiscPresent() const {
        TDeviceFd fd(device_);
        if (fd.Get() < 0)
            return false; // the device itself went away (a USB drive pulled out)
        const int status = ::ioctl(fd.Get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
        return status < 0 || status == CDS_DISC_OK || status == CDS_DRIVE_NOT_READY;
    }

    TCdioPtr handle_;
    std::string device_; // empty for an image
};

class TLibcdioSystem final : public TCdSystem {
public:
    std::vector<std::string> DevicePaths() override {
        QuietLibraryLog();
        std::vector<std::string> paths;
        std::vector<std::filesystem::path> seen;
        char** list = cdio_get_devices(DRIVER_DEVICE);
        for (char** p = list; p && *p; ++p) {
            // /dev/cdrom and /dev/sr0 are often one drive under two names.
            std::error_code ec;
            auto real = std::filesystem::canonical(*p, ec);
            if (ec)
                real = *p;
            if (std::find(seen.begin(), seen.end(), real) != seen.end())
                continue;
            seen.push_back(real);
            paths.emplace_back(*p);
        }
        cdio_free_device_list(list);
        return paths;
    }

    std::string HardwareText(const std::string& device) override {
        QuietLibraryLog();
        TCdioPtr p(cdio_open(device.c_str(), DRIVER_DEVICE));
        cdio_hwinfo_t hw{};
        if (!p || !cdio_get_hwinfo(p.get(), &hw))
            return {};
        const std::string vendor = Trimmed(hw.psz_vendor, sizeof hw.psz_vendor);
        const std::string model = Trimmed(hw.psz_model, sizeof hw.psz_model);
        return vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
    }

    std::unique_ptr<TCdDisc> OpenDisc(const std::string& path, bool image,
                                      std::string* why) override {
        QuietLibraryLog();
        TakeCdioMessage();
        TCdioPtr p;
        if (image) {
            TCdImageSource source;
            if (!PrepareCdImage(path, source, why))
                return nullptr;
            p.reset(cdio_open(source.OpenPath.c_str(), source.Toc ? DRIVER_CDRDAO : DRIVER_BINCUE));
            if (!p) {
                const std::string detail = TakeCdioMessage();
                if (why)
                    *why = "Can't open the CD image \"" + path + "\"" +
                           (detail.empty() ? "" : ": " + detail);
                return nullptr;
            }
        } else {
            p.reset(cdio_open(path.c_str(), DRIVER_DEVICE));
        }
        const track_t tracks =
            p ? cdio_get_num_tracks(p.get()) : static_cast<track_t>(CDIO_INVALID_TRACK);
        if (tracks == CDIO_INVALID_TRACK || tracks == 0) {
            if (why)
                *why = "No CD in CD drive \"" + path + "\"";
            return nullptr;
        }
        return std::make_unique<TLibcdioDisc>(std::move(p), image ? std::string() : path);
    }

    TCdDoorState DoorState(const std::string& device) override {
        TDeviceFd fd(device);
        if (fd.Get() < 0)
            return TCdDoorState::Unknown;
        const int status = ::ioctl(fd.Get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
        if (status == CDS_TRAY_OPEN)
            return TCdDoorState::Open;
        if (status == CDS_NO_DISC || status == CDS_DISC_OK || status == CDS_DRIVE_NOT_READY)
            return TCdDoorState::Closed;
        return TCdDoorState::Unknown;
    }

    bool MoveDoor(const std::string& device, bool open, std::string* why) override {
        TDeviceFd fd(device);
        if (fd.Get() < 0)
            return Errno(why, "Can't open \"" + device + "\"");
        if (::ioctl(fd.Get(), open ? CDROMEJECT : CDROMCLOSETRAY, 0) < 0)
            return Errno(why, std::string("Can't ") + (open ? "open" : "close") +
                                  " the door of \"" + device + "\"");
        return true;
    }

    bool LockDoor(const std::string& device, bool lock, std::string* why) override {
        TDeviceFd fd(device);
        if (fd.Get() < 0)
            return Errno(why, "Can't open \"" + device + "\"");
        // The kernel keeps the lock after this descriptor is closed, until it is unlocked.
        if (::ioctl(fd.Get(), CDROM_LOCKDOOR, lock ? 1 : 0) < 0)
            return Errno(why, std::string("Can't ") + (lock ? "lock" : "unlock") +
                                  " the door of \"" + device + "\"");
        return true;
    }
};

} // namespace

TCdSystem& SystemCd() {
    static TLibcdioSystem system;
    return system;
}

std::string TakeCdioMessage() {
    return std::exchange(tCdioMessage, {});
}

} // namespace bw
