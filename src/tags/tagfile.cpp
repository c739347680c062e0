#include "tags/tagfile.h"

#include "common/filebytes.h"
#include "common/outputfile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bw {

namespace {

// Owns one file descriptor.
class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    // Closes now and tells whether the close reported an error (a late write failure).
    bool Close() {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}


bool OpenExisting(const std::string& path, int flags, TFd& fd, std::string& error) {
    fd.Reset(OpenRegularFile(path, flags, &error).Release());
    return fd.Valid();
}

} // namespace

bool MakeWritable(const std::string& path, std::string& error) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        error = Reason("cannot find", path);
        return false;
    }
    if ((st.st_mode & S_IWUSR) == 0 && ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        error = Reason("cannot make writable", path);
        return false;
    }
    return true;
}

bool ReplaceFileTail(const std::string& path, uint64_t cut, std::span<const std::byte> newTail,
                     std::string& error) {
    TFd fd;
    if (!OpenExisting(path, O_RDWR, fd, error))
        return false;
    struct stat st{};
    if (::fstat(fd.Get(), &st) != 0) {
        error = Reason("cannot examine", path);
        return false;
    }
    const uint64_t oldSize = static_cast<uint64_t>(st.st_size);
    if (cut > oldSize) {
        error = "tag position past the end of " + path;
        return false;
    }
    // Keep the bytes we are about to replace so a failed write can be undone.
    std::vector<std::byte> oldTail(static_cast<size_t>(oldSize - cut));
    if (!ReadAllAt(fd.Get(), oldTail, cut)) {
        error = Reason("cannot read", path);
        return false;
    }
    const bool written = WriteAllAt(fd.Get(), newTail, cut) &&
                         ::ftruncate(fd.Get(), static_cast<off_t>(cut + newTail.size())) == 0 &&
                         ::fsync(fd.Get()) == 0;
    if (written && fd.Close())
        return true;
    error = Reason("cannot write", path);
    // Put the old bytes back where they were; their space was the file's before we began.
    if (!WriteAllAt(fd.Get(), oldTail, cut) || ::ftruncate(fd.Get(), static_cast<off_t>(oldSize)) != 0)
        error += " (and the old tag could not be put back)";
    ::fsync(fd.Get());
    return false;
}

bool TruncateFile(const std::string& path, uint64_t size, std::string& error) {
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
        error = Reason("cannot shorten", path);
        return false;
    }
    return true;
}

bool OverwriteFileHead(const std::string& path, std::span<const std::byte> head, std::string& error) {
    TFd fd;
    if (!OpenExisting(path, O_WRONLY, fd, error))
        return false;
    if (!WriteAllAt(fd.Get(), head, 0) || ::fsync(fd.Get()) != 0 || !fd.Close()) {
        error = Reason("cannot write", path);
        return false;
    }
    return true;
}

bool RebuildFileWithHead(const std::string& path, std::span<const std::byte> head, uint64_t keepFrom,
                         std::string& error, bool sync) {
    // Work on the file a link points to, so the link stays a link.
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(path, ec);
    if (ec) {
        error = "cannot find " + path + ": " + ec.message();
        return false;
    }
    TFd old;
    if (!OpenExisting(target.string(), O_RDONLY, old, error))
        return false;
    struct stat st{};
    if (::fstat(old.Get(), &st) != 0) {
        error = Reason("cannot examine", path);
        return false;
    }
    const uint64_t oldSize = static_cast<uint64_t>(st.st_size);
    if (keepFrom > oldSize)
        keepFrom = oldSize;

    // The new file is first an unnamed one in the same folder, so that a crash while copying
    // leaves nothing behind; where the file system has no unnamed files, a hidden named one.
    // Its name is a short one of its own, not derived from the file's: a name near the
    // file system's limit would not fit once lengthened.
    const std::string folder = target.parent_path().string();
    std::string tmpName;
    TFd tmp(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    const bool unnamed = tmp.Valid();
    if (!unnamed) {
        for (int attempt = 0; attempt < 100 && !tmp.Valid(); ++attempt) {
            tmpName = TemporaryPathFor(target.string());
            tmp.Reset(::open(tmpName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
            if (!tmp.Valid() && errno != EEXIST)
                break;
        }
        if (!tmp.Valid()) {
            tmpName.clear();
            error = Reason("cannot create a file beside", path);
            return false;
        }
    }
    // From here on every failure removes the new file's name, if it has one.
    struct TRemover {
        const std::string& name;
        bool keep = false;
        ~TRemover() {
            if (!keep && !name.empty())
                ::unlink(name.c_str());
        }
    } remover{tmpName};
    const std::string shownName = unnamed ? "a new file beside " + path : tmpName;

    if (!WriteAllAt(tmp.Get(), head, 0)) {
        error = Reason("cannot write", shownName);
        return false;
    }
    uint64_t out = head.size();
    uint64_t in = keepFrom;
    // The kernel copies the rest without bringing it through this process where it can;
    // what it leaves (another file system, an old kernel) is copied block by block below.
    while (in < oldSize) {
        auto from = static_cast<off64_t>(in);
        auto to = static_cast<off64_t>(out);
        const ssize_t n = ::copy_file_range(old.Get(), &from, tmp.Get(), &to, static_cast<size_t>(oldSize - in), 0);
        if (n <= 0)
            break;
        in += static_cast<uint64_t>(n);
        out += static_cast<uint64_t>(n);
    }
    std::vector<std::byte> buffer(in < oldSize ? 256 * 1024 : 0);
    while (in < oldSize) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), oldSize - in));
        std::span<std::byte> chunk(buffer.data(), n);
        if (!ReadAllAt(old.Get(), chunk, in)) {
            error = Reason("cannot read", path);
            return false;
        }
        if (!WriteAllAt(tmp.Get(), chunk, out)) {
            error = Reason("cannot write", shownName);
            return false;
        }
        in += n;
        out += n;
    }
    // The new file takes the old one's permissions (writable by its owner) and, where we may,
    // its owner.
    if (::fchown(tmp.Get(), st.st_uid, st.st_gid) != 0) {
        // Not permitted for an ordinary user on someone else's file; the content matters more.
    }
    if (::fchmod(tmp.Get(), (st.st_mode & 07777) | S_IWUSR) != 0 || (sync && ::fsync(tmp.Get()) != 0)) {
        error = Reason("cannot finish", shownName);
        return false;
    }
    if (unnamed) {
        // Name it only now, just before it takes the old file's place.
        const std::string self = "/proc/self/fd/" + std::to_string(tmp.Get());
        for (int attempt = 0; attempt < 100 && tmpName.empty(); ++attempt) {
            std::string name = TemporaryPathFor(target.string());
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
                tmpName = std::move(name);
            else if (errno != EEXIST)
                break;
        }
        if (tmpName.empty()) {
            error = Reason("cannot name", shownName);
            return false;
        }
    }
    if (!tmp.Close()) {
        error = Reason("cannot finish", tmpName);
        return false;
    }
    // A file deleted or replaced while we copied it is not brought back or overwritten.
    struct stat now{};
    if (::stat(target.c_str(), &now) != 0 || now.st_ino != st.st_ino || now.st_dev != st.st_dev) {
        error = "the file vanished or was replaced while its tag was written: " + path;
        return false;
    }
    if (::rename(tmpName.c_str(), target.c_str()) != 0) {
        error = Reason("cannot replace", path);
        return false;
    }
    remover.keep = true;
    // Make the rename itself durable.
    if (sync) {
        TFd dir(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Valid())
            ::fsync(dir.Get());
    }
    return true;
}

} // namespace bw
