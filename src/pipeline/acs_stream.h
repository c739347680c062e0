#pragma once

#include "common/outputfile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace bw {

// A byte stream a pipeline source reads from or a sink writes to.
class TACSStream {
public:
    virtual ~TACSStream() = default;
    // Bytes read (0 at the end); -1 on an error.
    virtual int64_t Read(std::span<std::byte> buffer) = 0;
    // True when every byte was written.
    virtual bool Write(std::span<const std::byte> data) = 0;
    virtual bool Seek(int64_t offset) = 0;
    // The stream's length in bytes; -1 when it has none (a pipe).
    virtual int64_t Size() = 0;
    // The reason of the last failed call, for messages.
    virtual std::string LastError() const = 0;
};

// A stream over a file descriptor, closed with the object.
class TACSFileStream : public TACSStream {
public:
    enum class TMode { Read, Create };
    // No value when the file cannot be opened; error holds the reason.
    static std::unique_ptr<TACSFileStream> Open(const std::string& path, TMode mode,
                                                std::string& error);
    ~TACSFileStream() override;
    TACSFileStream(const TACSFileStream&) = delete;
    TACSFileStream& operator=(const TACSFileStream&) = delete;

    int64_t Read(std::span<std::byte> buffer) override;
    bool Write(std::span<const std::byte> data) override;
    bool Seek(int64_t offset) override;
    int64_t Size() override;
    std::string LastError() const override { return lastError_; }
    // Closes now, reporting what the close reports (some file systems tell of a full disk
    // only there).
    bool Close();

private:
    explicit TACSFileStream(int fd) : fd_(fd) {}
    void SetErrno(const char* what);

    int fd_ = -1;
    std::string lastError_;
};

} // namespace bw
