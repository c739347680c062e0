#include "pipeline/acs_stream.h"

#include <algorithm>
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

void TGrowingFile::Grew(uint64_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        bytes_ = std::max(bytes_, bytes);
    }
    changed_.notify_all();
}

void TGrowingFile::Complete() {
    {
        const std::lock_guard lock(mutex_);
        complete_ = true;
    }
    changed_.notify_all();
}

void TGrowingFile::Abandon() {
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
}

int64_t TGrowingFile::WaitBeyond(uint64_t offset) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return abandoned_ || complete_ || bytes_ > offset; });
    return abandoned_ ? -1 : static_cast<int64_t>(bytes_);
}

std::unique_ptr<TGrowingFileStream> TGrowingFileStream::Open(const std::string& path,
                                                             std::shared_ptr<TGrowingFile> file,
                                                             std::string& error) {
    auto reader = TACSFileStream::Open(path, TACSFileStream::TMode::Read, error);
    if (!reader)
        return nullptr;
    return std::unique_ptr<TGrowingFileStream>(new TGrowingFileStream(std::move(reader), std::move(file)));
}

int64_t TGrowingFileStream::Read(std::span<std::byte> buffer) {
    size_t done = 0;
    while (done < buffer.size()) {
        const int64_t there = state_->WaitBeyond(pos_);
        if (there < 0) {
            lastError_ = "the file was not finished";
            return -1;
        }
        if (static_cast<uint64_t>(there) <= pos_)
            break; // complete, and all of it read
        const auto n = static_cast<size_t>(
            std::min<uint64_t>(buffer.size() - done, static_cast<uint64_t>(there) - pos_));
        const int64_t r = file_->Read(buffer.subspan(done, n));
        if (r < 0) {
            lastError_ = file_->LastError();
            return -1;
        }
        if (r == 0)
            break; // shorter than its writer said: let the reader find the end
        done += static_cast<size_t>(r);
        pos_ += static_cast<uint64_t>(r);
    }
    return static_cast<int64_t>(done);
}

} // namespace bw
