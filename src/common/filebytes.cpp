#include "common/filebytes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

namespace {

void Refuse(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
}

} // namespace

TFileHandle OpenRegularFile(const std::string& path, int flags, std::string* why) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        Refuse(why, "cannot open " + path + ": " + std::strerror(errno));
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        Refuse(why, "not a regular file: " + path);
        return {};
    }
    TFileHandle fd(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsOpen()) {
        Refuse(why, "cannot open " + path + ": " + std::strerror(errno));
        return {};
    }
    // Looked at again through the descriptor: the name may have changed hands since.
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Refuse(why, "not a regular file: " + path);
        return {};
    }
    const int status = ::fcntl(fd.Get(), F_GETFL);
    if (status < 0 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        Refuse(why, "cannot open " + path + ": " + std::strerror(errno));
        return {};
    }
    return fd;
}

bool IsRegularFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::vector<std::byte>> ReadFileRange(const std::string& path, uint64_t offset,
                                                    size_t maxBytes) {
    const TFileHandle fd = OpenRegularFile(path, O_RDONLY);
    if (!fd.IsOpen())
        return std::nullopt;
    std::vector<std::byte> out(maxBytes);
    size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::pread(fd.Get(), out.data() + got, maxBytes - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
}

std::optional<uint64_t> FileSizeOf(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool WriteAllAt(int fd, std::span<const std::byte> data, uint64_t offset) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAllAt(int fd, std::span<std::byte> out, uint64_t offset) {
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // the file got shorter under us
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace bw
