#pragma once

// The pipeline writer that compresses its input into a Monkey's Audio file.

#include "pipeline/acs_classes.h"
#include "pipeline/apecompress.h"

#include <array>
#include <optional>

namespace bw {

// A compressor error: "MACDll error: " and the text of its code.
class EAPEException : public EACSException {
public:
    explicit EAPEException(int code)
        : EACSException("MACDll error: " + APEErrorText(code)), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

class TMACOut : public TACSFileOut {
public:
    static constexpr size_t kReadBytes = 65536;

    ~TMACOut() override;
    int CompressionLevel() const { return compressionLevel_.load(); }
    // 1000, 2000, 3000 or 4000; anything else stores 2000.
    void SetCompressionLevel(int level);
    // The expected PCM size handed to the compressor; -1: unknown.
    int64_t MaxAudioBytes() const { return maxAudioBytes_; }
    void SetMaxAudioBytes(int64_t bytes) { maxAudioBytes_ = bytes; }
    // The NN filter code path; all give the same bytes.
    void SetSimdPath(TSimdPath path) { simdPath_ = path; }
    // Threads compressing the frames; the file is the same whatever the count.
    void SetThreads(int threads) { threads_ = threads; }
    // PCM bytes compressed so far (or gathering for the next frame), for a gauge; read from
    // any thread.
    int64_t Compressed() const { return compressed_.load(std::memory_order_relaxed); }

protected:
    void PrepareOutput() override;
    bool WriteStep(bool abort) override;
    void FinishOutput() override;

private:
    std::atomic<int> compressionLevel_{2000};
    int64_t maxAudioBytes_ = -1;
    TSimdPath simdPath_ = BestSimdPath();
    int threads_ = 1;
    std::atomic<int64_t> compressed_{0};
    std::array<std::byte, kReadBytes> buffer_{};
    std::unique_ptr<TAPECompress> compressor_;
    TWaveFormatEx format_{};
    std::optional<TPendingOutput> pending_; // the file being written, beside FileName
    bool inputOpen_ = false;
    bool endMark_ = false;
};

} // namespace bw
