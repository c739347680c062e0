#include "pipeline/acs_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

std::unique_ptr<TACSFileStream> TACSFileStream::Open(const std::string& path, TMode mode,
                                                     std::string& error) {
    const int flags = mode == TMode::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<TACSFileStream>(new TACSFileStream(fd));
}

TACSFileStream::~TACSFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TACSFileStream::SetErrno(const char* what) {
    lastError_ = std::string(what) + ": " + std::strerror(errno);
}

int64_t TACSFileStream::Read(std::span<std::byte> buffer) {
    size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t r = ::read(fd_, buffer.data() + done, buffer.size() - done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            SetErrno("read error");
            return -1;
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(done);
}

bool TACSFileStream::Write(std::span<const std::byte> data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t w = ::write(fd_, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            SetErrno("write error");
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

bool TACSFileStream::Seek(int64_t offset) {
    if (::lseek(fd_, offset, SEEK_SET) < 0) {
        SetErrno("seek error");
        return false;
    }
    return true;
}

int64_t TACSFileStream::Size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool TACSFileStream::Close() {
    if (fd_ < 0)
        return true;
    const int r = ::close(fd_);
    fd_ = -1;
    if (r != 0) {
        SetErrno("write error");
        return false;
    }
    return true;
}

} // namespace bw
