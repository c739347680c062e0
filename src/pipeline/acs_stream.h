#pragma once

#include "common/outputfile.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
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

// A file one thread is still writing while another reads it. The writer tells how far the
// file holds data and when it is complete (or abandoned); readers wait for what is not there
// yet, so a consumer can follow a producer through a file without either waiting for the
// whole of it.
class TGrowingFile {
public:
    // The file now holds this many bytes (never less than before).
    void Grew(uint64_t bytes);
    // No more bytes will come.
    void Complete();
    // The writer failed: readers waiting or reading past what is there get an error.
    void Abandon();
    // Waits until the file holds more than offset bytes or can hold no more. The bytes
    // there; -1 when the file was abandoned.
    int64_t WaitBeyond(uint64_t offset);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t bytes_ = 0;
    bool complete_ = false;
    bool abandoned_ = false;
};

// Reads a growing file from its start, waiting for its writer; cannot seek and has no size.
class TGrowingFileStream : public TACSStream {
public:
    // No value when the file cannot be opened; error holds the reason.
    static std::unique_ptr<TGrowingFileStream> Open(const std::string& path,
                                                    std::shared_ptr<TGrowingFile> file,
                                                    std::string& error);
    int64_t Read(std::span<std::byte> buffer) override;
    bool Write(std::span<const std::byte>) override { return false; }
    bool Seek(int64_t offset) override { return offset == static_cast<int64_t>(pos_); }
    int64_t Size() override { return -1; }
    std::string LastError() const override { return lastError_; }

private:
    TGrowingFileStream(std::unique_ptr<TACSFileStream> file, std::shared_ptr<TGrowingFile> state)
        : file_(std::move(file)), state_(std::move(state)) {}

    std::unique_ptr<TACSFileStream> file_;
    std::shared_ptr<TGrowingFile> state_;
    uint64_t pos_ = 0;
    std::string lastError_;
};

} // namespace bw
