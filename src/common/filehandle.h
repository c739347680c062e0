#pragma once

#include <unistd.h>

namespace bw {

// Owns one POSIX file descriptor (a file, a pipe end) and closes it once.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int fd) : fd_(fd) {}
    ~TFileHandle() { Close(); }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    TFileHandle(TFileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TFileHandle& operator=(TFileHandle&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives the descriptor up to the caller (to close it and see the result).
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

} // namespace bw
