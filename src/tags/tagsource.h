#pragma once

// Random access to the bytes a tag parser looks at: a file on disk or a buffer in memory
// (the fuzz targets and tests feed buffers). Parsers ask for small ranges at absolute
// offsets, so a hostile size field never makes them read or allocate a whole file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace bw {

class TTagSource {
public:
    virtual ~TTagSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to maxBytes at offset; fewer where the data ends. No value on a read error.
    virtual bool Read(uint64_t offset, size_t maxBytes, std::vector<std::byte>& out) = 0;

    // Reads exactly n bytes at offset; false when they are not all there.
    bool ReadExact(uint64_t offset, size_t n, std::vector<std::byte>& out) {
        return offset <= Size() && n <= Size() - offset && Read(offset, n, out) && out.size() == n;
    }
};

class TMemorySource : public TTagSource {
public:
    explicit TMemorySource(std::span<const std::byte> data) : data_(data) {}
    uint64_t Size() const override { return data_.size(); }
    bool Read(uint64_t offset, size_t maxBytes, std::vector<std::byte>& out) override;

private:
    std::span<const std::byte> data_;
};

// A regular file opened read-only. Reads go through a small window so that parsers walking
// many small frames do not make a system call for each.
class TFileSource : public TTagSource {
public:
    TFileSource() = default;
    ~TFileSource() override;
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    // False (with LastError) when the path is missing, not a regular file or unreadable.
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& LastError() const { return error_; }

    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, size_t maxBytes, std::vector<std::byte>& out) override;

private:
    static constexpr size_t kWindow = 64 * 1024;
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string error_;
    std::vector<std::byte> window_;
    uint64_t windowStart_ = 0;
};

// Opens path into source; on failure error holds the reason.
bool OpenTagFile(const std::string& path, TFileSource& source, std::string& error);

} // namespace bw
