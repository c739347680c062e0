#pragma once

// The in-process PCM pipeline: sources, converters and outputs of 8- or 16-bit interleaved
// PCM, and 24-bit from the WAV reader straight to a writer (the converters refuse it). An
// output owns a worker thread that pulls blocks through the chain while the user thread
// polls its status and progress.
//
// Threads: the user thread starts, stops, polls and rewires; the worker thread runs every
// step, every read through the chain and the OnDone / OnProgress / OnThreadException events.
// Flags, positions and sizes shared between the two are atomics; a read gate (the
// read-in-progress flag) keeps an input from being swapped while the worker reads from it.

#include "pipeline/acs_stream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace bw {

// The error raised by pipeline components.
class EACSException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The read-in-progress flag: both sides spin on it before reading from or swapping an input.
class TReadGate {
public:
    void Lock();
    void Unlock() { flag_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> flag_{false};
};

class TReadGuard {
public:
    explicit TReadGuard(TReadGate& gate) : gate_(gate) { gate_.Lock(); }
    ~TReadGuard() { gate_.Unlock(); }
    TReadGuard(const TReadGuard&) = delete;
    TReadGuard& operator=(const TReadGuard&) = delete;

private:
    TReadGate& gate_;
};

class TACSInput;

// Anything holding a reference to an input; told when that input is destroyed.
class TACSInputReferrer {
public:
    virtual void InputDestroyed(TACSInput* input) = 0;

protected:
    ~TACSInputReferrer() = default;
};

// A PCM source.
class TACSInput {
public:
    TACSInput() = default;
    virtual ~TACSInput();
    TACSInput(const TACSInput&) = delete;
    TACSInput& operator=(const TACSInput&) = delete;

    virtual int BitsPerSample() = 0;
    virtual int ChannelCount() = 0;
    virtual int SamplesPerSecond() = 0;
    // Seconds; 0 when unknown.
    virtual int TotalTime() { return 0; }
    // Bytes delivered into buffer; 0 means the end.
    virtual size_t ReadPcm(std::span<std::byte> buffer) = 0;
    // Closes (ignoring errors) and clears busy.
    virtual void ResetInput();
    virtual void OpenInput() = 0;
    virtual void CloseInput() = 0;

    bool Busy() const { return busy_.load(); }
    // Bytes delivered since opening.
    virtual int64_t Position() const { return position_.load(); }
    // Bytes the source delivers in total; -1 when unknown.
    virtual int64_t Size() const { return size_.load(); }

    void AddReferrer(TACSInputReferrer* referrer);
    void RemoveReferrer(TACSInputReferrer* referrer);

protected:
    std::atomic<bool> busy_{false};
    std::atomic<int64_t> position_{0};
    std::atomic<int64_t> size_{-1};

private:
    std::mutex referrersMutex_;
    std::vector<TACSInputReferrer*> referrers_;
};

// A source reading from a byte stream.
class TACSStreamedInput : public TACSInput {
public:
    // A stream to read instead of a file, from its beginning. A stream that cannot seek
    // (a pipe) can be opened once: open it for reading before asking for its format.
    void SetStream(std::shared_ptr<TACSStream> stream) { stream_ = std::move(stream); }
    const std::shared_ptr<TACSStream>& Stream() const { return stream_; }
    bool Seekable() const { return seekable_; }
    void SetSeekable(bool seekable) { seekable_ = seekable; }

protected:
    std::shared_ptr<TACSStream> stream_;
    bool seekable_ = true;
};

// A source reading a file. Subclasses parse their header in ReadHeader and position the
// stream in SeekSample.
class TACSFileIn : public TACSStreamedInput {
public:
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }
    int64_t StartSample() const { return startSample_; }
    void SetStartSample(int64_t sample) { startSample_ = sample; }
    // -1: to the end.
    int64_t EndSample() const { return endSample_; }
    void SetEndSample(int64_t sample) { endSample_ = sample; }
    bool Loop() const { return loop_; }
    void SetLoop(bool loop) { loop_ = loop; }

    int BitsPerSample() override;
    int ChannelCount() override;
    int SamplesPerSecond() override;
    int TotalTime() override;
    void OpenInput() override;
    void CloseInput() override;

    // Nested opens are counted; the file closes when the count returns to 0.
    void OpenFile();
    void CloseFile();
    virtual void SeekSample(int64_t sample) = 0;

protected:
    // Reads the header from stream_ (at its start): fills the format, dataSize_ (-1 when
    // unknown) and leaves the stream at the first data byte.
    virtual void ReadHeader() = 0;
    // Drops any read-ahead a subclass holds.
    virtual void ResetBuffer() = 0;
    int BytesPerFrame() const { return bits_ / 8 * channels_; }

    int bits_ = 0;
    int channels_ = 0;
    int rate_ = 0;
    int64_t dataSize_ = -1;
    int64_t totalSamples_ = -1;

private:
    std::string fileName_;
    int64_t startSample_ = 0;
    int64_t endSample_ = -1;
    bool loop_ = false;
    // The user thread may ask for the format while the worker closes the source at the end
    // of a run: opening and closing the file are serialised.
    std::mutex fileMutex_;
    int openCount_ = 0;     // under fileMutex_
    bool ownStream_ = false; // under fileMutex_
};

// A source whose data comes from another source.
class TACSConverter : public TACSInput, protected TACSInputReferrer {
public:
    ~TACSConverter() override;
    TACSInput* Input() const { return input_.load(); }
    // While busy: opens the new input, swaps it in between two reads and closes the old one.
    virtual void SetInput(TACSInput* input);

    int BitsPerSample() override { return RequireInput()->BitsPerSample(); }
    int ChannelCount() override { return RequireInput()->ChannelCount(); }
    int SamplesPerSecond() override { return RequireInput()->SamplesPerSecond(); }
    int TotalTime() override { return RequireInput()->TotalTime(); }

protected:
    // The input, or "Input not assigned".
    TACSInput* RequireInput() const;
    // One read from the input with the read gate held.
    size_t ReadFromInput(std::span<std::byte> buffer);
    void InputDestroyed(TACSInput* input) override;

    std::atomic<TACSInput*> input_{nullptr};
    TReadGate gate_;
};

class TACSThread;

// A sink with a worker thread.
class TACSOutput : protected TACSInputReferrer {
public:
    using TOutputDoneEvent = std::function<void(TACSOutput&)>;
    using TOutputProgressEvent = std::function<void(TACSOutput&)>;
    using TThreadExceptionEvent = std::function<void(TACSOutput&, const EACSException&)>;

    enum TStatus { kActive = 0, kPaused = 1, kIdle = 2 };

    TACSOutput();
    virtual ~TACSOutput();
    TACSOutput(const TACSOutput&) = delete;
    TACSOutput& operator=(const TACSOutput&) = delete;

    TACSInput* Input() const { return input_.load(); }
    virtual void SetInput(TACSInput* input);
    bool SuspendWhenIdle() const;
    void SetSuspendWhenIdle(bool suspend);

    // Events run on the worker thread; set them while the output is idle.
    TOutputDoneEvent OnDone;
    TOutputProgressEvent OnProgress;
    TThreadExceptionEvent OnThreadException;

    // Raises "Component is buisy" or "Input is not assigned"; a failure while preparing
    // ends in OnThreadException and LastError, never here.
    void StartOutput();
    void StopOutput();
    int OutputStatus() const;
    // 0..100, -1 when the input's size is unknown.
    int OutputProgress() const;
    // True from the start until the run's last event (OnDone or OnThreadException) has
    // returned, so a caller that polls for idle sees everything the events did.
    bool Busy() const { return busy_.load() || inEndEvent_.load(); }
    // Why the last run ended without success (empty after a clean end). Set before the
    // output turns idle, so a caller that polls for idle can rely on it.
    std::string LastError() const;

protected:
    virtual bool WriteStep(bool abort) = 0;
    // Completes the run. Also called after a failure (EndingOnError() true), when it must
    // undo whatever was begun, in whatever state preparation or the steps left it.
    virtual void FinishOutput() = 0;
    virtual void PrepareOutput() = 0;

    // The part of a step every writer shares: a progress event when the percentage moved.
    // Answers the step's result when the step ends here (true when idle, with nothing to do;
    // false on abort or end), nothing when the writer goes on to write a block.
    std::optional<bool> BeginStep(bool abort, bool endMark);
    // One read from the input with the read gate held.
    size_t ReadFromInput(std::span<std::byte> buffer);
    TACSInput& RequireInput() const;
    bool EndingOnError() const { return endingOnError_; }
    // The run was stopped before its input ended (worker thread, from the step that saw the
    // stop on): what was written is a partial output.
    bool StoppedEarly() const { return stoppedEarly_; }
    // Ends the worker thread; the most derived class calls it first in its destructor, so
    // no step runs on a half-destroyed writer.
    void ShutdownThread();
    void InputDestroyed(TACSInput* input) override;

private:
    friend class TACSThread;
    void CompleteOutput();
    void HandleThreadException(const EACSException& e);
    void SetLastError(const std::string& text);

    std::atomic<TACSInput*> input_{nullptr};
    std::atomic<bool> busy_{false};
    // Set while the end event runs. busy_ is already clear then, so a handler may start the
    // output again, but callers polling Busy() wait for the handler to return.
    std::atomic<bool> inEndEvent_{false};
    std::atomic<bool> progressActive_{false};
    int lastProgress_ = 0;        // worker thread only (and StartOutput under the section)
    bool stoppedEarly_ = false;   // likewise
    bool endingOnError_ = false;  // under the section
    TReadGate gate_;
    mutable std::mutex errorMutex_;
    std::string lastError_;
    std::unique_ptr<TACSThread> thread_;
};

// A sink writing to a byte stream, which it creates itself unless one is supplied.
class TACSStreamedOutput : public TACSOutput {
public:
    void SetStream(std::shared_ptr<TACSStream> stream) { stream_ = std::move(stream); }
    const std::shared_ptr<TACSStream>& Stream() const { return stream_; }

protected:
    std::shared_ptr<TACSStream> stream_;
};

enum class TFileOutputMode { foRewrite, foAppend };

// A sink writing a file.
class TACSFileOut : public TACSStreamedOutput {
public:
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }
    TFileOutputMode FileMode() const { return fileMode_; }
    void SetFileMode(TFileOutputMode mode) { fileMode_ = mode; }

private:
    std::string fileName_;
    TFileOutputMode fileMode_ = TFileOutputMode::foRewrite;
};

} // namespace bw
