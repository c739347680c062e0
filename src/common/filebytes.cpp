#include "common/filebytes.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include <memory>
#include <sys/stat.h>

namespace bw {

namespace {
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
} // namespace

std::optional<std::vector<std::byte>> ReadFileRange(const std::string& path, uint64_t offset,
                                                    size_t maxBytes) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return std::nullopt;
    if (fseeko(f.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
        return std::nullopt;
    std::vector<std::byte> out(maxBytes);
    const size_t got = std::fread(out.data(), 1, maxBytes, f.get());
    if (got < maxBytes && std::ferror(f.get()))
        return std::nullopt;
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
