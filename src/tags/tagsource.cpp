#include "tags/tagsource.h"

#include "common/filebytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

bool TMemorySource::Read(uint64_t offset, size_t maxBytes, std::vector<std::byte>& out) {
    out.clear();
    if (offset >= data_.size())
        return true;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(maxBytes, data_.size() - offset));
    auto part = data_.subspan(static_cast<size_t>(offset), n);
    out.assign(part.begin(), part.end());
    return true;
}

TFileSource::~TFileSource() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool TFileSource::Open(const std::string& path) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    window_.clear();
    TFileHandle file = OpenRegularFile(path, O_RDONLY, &error_);
    struct stat st{};
    if (!file.IsOpen() || ::fstat(file.Get(), &st) != 0)
        return false;
    fd_ = file.Release();
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool OpenTagFile(const std::string& path, TFileSource& source, std::string& error) {
    if (source.Open(path))
        return true;
    error = source.LastError();
    return false;
}

bool TFileSource::Read(uint64_t offset, size_t maxBytes, std::vector<std::byte>& out) {
    out.clear();
    if (fd_ < 0)
        return false;
    if (offset >= size_)
        return true;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(maxBytes, size_ - offset));
    if (n <= kWindow) {
        // Serve small reads from the window, refilling it at the asked offset when needed.
        const bool inside = offset >= windowStart_ && offset - windowStart_ <= window_.size() &&
                            n <= window_.size() - (offset - windowStart_);
        if (!inside) {
            window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset)));
            const ssize_t got = ::pread(fd_, window_.data(), window_.size(), static_cast<off_t>(offset));
            if (got < 0) {
                window_.clear();
                return false;
            }
            window_.resize(static_cast<size_t>(got));
            windowStart_ = offset;
        }
        const size_t from = static_cast<size_t>(offset - windowStart_);
        const size_t take = std::min(n, window_.size() - from);
        out.assign(window_.begin() + static_cast<ptrdiff_t>(from),
                   window_.begin() + static_cast<ptrdiff_t>(from + take));
        return true;
    }
    out.resize(n);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out.data() + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            out.clear();
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    out.resize(done);
    return true;
}

} // namespace bw
