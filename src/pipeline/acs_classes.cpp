#include "pipeline/acs_classes.h"

#include "common/filebytes.h"
#include "pipeline/acs_thread.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace bw {

void TReadGate::Lock() {
    while (flag_.exchange(true, std::memory_order_acquire))
        std::this_thread::yield();
}

// ---------------------------------------------------------------------------------------
// TACSInput

TACSInput::~TACSInput() {
    std::vector<TACSInputReferrer*> referrers;
    {
        std::lock_guard lock(referrersMutex_);
        referrers.swap(referrers_);
    }
    for (auto* r : referrers)
        r->InputDestroyed(this);
}

void TACSInput::ResetInput() {
    try {
        CloseInput();
    } catch (const std::exception&) {
        // Resetting must always succeed; a failing close leaves nothing to keep.
    }
    busy_.store(false);
}

void TACSInput::AddReferrer(TACSInputReferrer* referrer) {
    std::lock_guard lock(referrersMutex_);
    referrers_.push_back(referrer);
}

void TACSInput::RemoveReferrer(TACSInputReferrer* referrer) {
    std::lock_guard lock(referrersMutex_);
    auto it = std::find(referrers_.begin(), referrers_.end(), referrer);
    if (it != referrers_.end())
        referrers_.erase(it);
}

// ---------------------------------------------------------------------------------------
// TACSFileIn

namespace {
// Opens a closed file source for the moment of a format query.
class TOpenForQuery {
public:
    explicit TOpenForQuery(TACSFileIn& in) : in_(in) { in_.OpenFile(); }
    ~TOpenForQuery() { in_.CloseFile(); }
    TOpenForQuery(const TOpenForQuery&) = delete;
    TOpenForQuery& operator=(const TOpenForQuery&) = delete;

private:
    TACSFileIn& in_;
};
} // namespace

int TACSFileIn::BitsPerSample() {
    TOpenForQuery open(*this);
    return bits_;
}

int TACSFileIn::ChannelCount() {
    TOpenForQuery open(*this);
    return channels_;
}

int TACSFileIn::SamplesPerSecond() {
    TOpenForQuery open(*this);
    return rate_;
}

int TACSFileIn::TotalTime() {
    TOpenForQuery open(*this);
    const int64_t perSecond = static_cast<int64_t>(rate_) * BytesPerFrame();
    if (dataSize_ < 0 || perSecond <= 0)
        return 0;
    return static_cast<int>(std::llround(static_cast<double>(dataSize_) / perSecond));
}

void TACSFileIn::OpenFile() {
    std::lock_guard lock(fileMutex_);
    if (openCount_++ > 0)
        return;
    try {
        if (!stream_ || ownStream_) {
            if (fileName_.empty())
                throw EACSException("The file name is not assigned");
            // A file named by the user is only read when it is a regular one: a named pipe
            // would hold the open until something writes to it. (A pipe is still read when
            // handed over as a stream.)
            if (!IsRegularFile(fileName_))
                throw EACSException("Cannot open file " + fileName_ + ": not a regular file");
            std::string error;
            auto file = TACSFileStream::Open(fileName_, TACSFileStream::TMode::Read, error);
            if (!file)
                throw EACSException("Cannot open file " + fileName_ + ": " + error);
            stream_ = std::move(file);
            ownStream_ = true;
        } else if (!stream_->Seek(0) && seekable_) {
            throw EACSException("Cannot read the stream: " + stream_->LastError());
        }
        ReadHeader();
    } catch (...) {
        openCount_ = 0;
        if (ownStream_) {
            stream_.reset();
            ownStream_ = false;
        }
        throw;
    }
}

void TACSFileIn::CloseFile() {
    std::lock_guard lock(fileMutex_);
    if (openCount_ == 0 || --openCount_ > 0)
        return;
    if (ownStream_) {
        stream_.reset();
        ownStream_ = false;
    }
}

void TACSFileIn::OpenInput() {
    if (busy_.load())
        throw EACSException("The component is buisy");
    if (fileName_.empty() && !stream_)
        throw EACSException("The file name is not assigned");
    OpenFile();
    try {
        ResetBuffer();
        if (startSample_ != 0)
            SeekSample(startSample_);
        int64_t size = dataSize_;
        if (startSample_ != 0 || endSample_ != -1) {
            // The range counts whole samples that exist: a range past the end is cut there.
            int64_t last = endSample_ == -1 ? totalSamples_ : std::min(endSample_, totalSamples_);
            if (totalSamples_ < 0)
                last = endSample_;
            const int64_t samples = last < 0 ? -1 : std::max<int64_t>(0, last - startSample_);
            size = samples < 0 ? -1 : samples * BytesPerFrame();
        }
        size_.store(size);
        position_.store(0);
        busy_.store(true);
    } catch (...) {
        CloseFile();
        throw;
    }
}

void TACSFileIn::CloseInput() {
    if (!busy_.load())
        return;
    busy_.store(false);
    CloseFile();
}

// ---------------------------------------------------------------------------------------
// TACSConverter

TACSConverter::~TACSConverter() {
    if (auto* in = input_.load())
        in->RemoveReferrer(this);
}

TACSInput* TACSConverter::RequireInput() const {
    auto* in = input_.load();
    if (!in)
        throw EACSException("Input not assigned");
    return in;
}

void TACSConverter::SetInput(TACSInput* input) {
    if (input == this)
        return;
    TACSInput* old = input_.load();
    if (input == old)
        return;
    if (busy_.load() && input)
        input->OpenInput();
    {
        TReadGuard guard(gate_);
        input_.store(input);
    }
    if (old) {
        old->RemoveReferrer(this);
        if (busy_.load())
            old->ResetInput();
    }
    if (input)
        input->AddReferrer(this);
}

size_t TACSConverter::ReadFromInput(std::span<std::byte> buffer) {
    TReadGuard guard(gate_);
    auto* in = input_.load();
    if (!in)
        throw EACSException("Input not assigned");
    return in->ReadPcm(buffer);
}

void TACSConverter::InputDestroyed(TACSInput* input) {
    TReadGuard guard(gate_);
    if (input_.load() == input)
        input_.store(nullptr);
}

// ---------------------------------------------------------------------------------------
// TACSOutput

TACSOutput::TACSOutput() : thread_(std::make_unique<TACSThread>(*this)) {}

TACSOutput::~TACSOutput() {
    ShutdownThread();
    if (auto* in = input_.load())
        in->RemoveReferrer(this);
}

void TACSOutput::ShutdownThread() {
    if (thread_)
        thread_->Terminate();
}

bool TACSOutput::SuspendWhenIdle() const { return thread_->SuspendWhenIdle(); }

void TACSOutput::SetSuspendWhenIdle(bool suspend) { thread_->SetSuspendWhenIdle(suspend); }

void TACSOutput::SetInput(TACSInput* input) {
    TACSInput* old = input_.load();
    if (input == old)
        return;
    const bool running = busy_.load();
    if (running && input)
        input->OpenInput();
    {
        TReadGuard guard(gate_);
        input_.store(input);
    }
    if (old) {
        old->RemoveReferrer(this);
        if (running)
            old->ResetInput();
    }
    if (input)
        input->AddReferrer(this);
}

void TACSOutput::InputDestroyed(TACSInput* input) {
    TReadGuard guard(gate_);
    if (input_.load() == input)
        input_.store(nullptr);
}

TACSInput& TACSOutput::RequireInput() const {
    auto* in = input_.load();
    if (!in)
        throw EACSException("Input is not assigned");
    return *in;
}

size_t TACSOutput::ReadFromInput(std::span<std::byte> buffer) {
    TReadGuard guard(gate_);
    return RequireInput().ReadPcm(buffer);
}

std::string TACSOutput::LastError() const {
    std::lock_guard lock(errorMutex_);
    return lastError_;
}

void TACSOutput::SetLastError(const std::string& text) {
    std::lock_guard lock(errorMutex_);
    lastError_ = text;
}

void TACSOutput::StartOutput() {
    if (busy_.load())
        throw EACSException("Component is buisy");
    if (!input_.load())
        throw EACSException("Input is not assigned");
    std::lock_guard section(thread_->Section());
    SetLastError({});
    endingOnError_ = false;
    lastProgress_ = 0;
    stoppedEarly_ = false;
    try {
        try {
            PrepareOutput();
        } catch (const EACSException&) {
            throw;
        } catch (const std::exception& e) {
            throw EACSException(e.what());
        }
    } catch (const EACSException& e) {
        HandleThreadException(e);
        return;
    }
    thread_->ClearStop();
    busy_.store(true);
    progressActive_.store(true);
    thread_->Resume();
}

void TACSOutput::StopOutput() { thread_->RequestStop(); }

int TACSOutput::OutputStatus() const {
    // Inside the end event the run is over (a handler may start the next one), so the
    // status is idle there; Busy() keeps pollers waiting until the handler has returned.
    if (!busy_.load())
        return kIdle;
    return thread_->Suspended() ? kPaused : kActive;
}

int TACSOutput::OutputProgress() const {
    auto* in = input_.load();
    if (!in)
        return 0;
    const int64_t size = in->Size();
    if (size == -1)
        return -1;
    if (size <= 0)
        return 0;
    const double pct = static_cast<double>(in->Position()) / static_cast<double>(size) * 100.0;
    return static_cast<int>(std::nearbyint(pct)); // rounds halves to even
}

std::optional<bool> TACSOutput::BeginStep(bool abort, bool endMark) {
    if (!progressActive_.load())
        return true;
    const int progress = OutputProgress();
    if (progress != lastProgress_) {
        lastProgress_ = progress;
        if (OnProgress)
            OnProgress(*this);
    }
    if (abort)
        stoppedEarly_ = true;
    if (abort || endMark)
        return false;
    return std::nullopt;
}

namespace {
// Marks the end event as running for its whole extent, also when a handler throws.
class TEndEventScope {
public:
    explicit TEndEventScope(std::atomic<bool>& flag) : flag_(flag) { flag_.store(true); }
    ~TEndEventScope() { flag_.store(false); }
    TEndEventScope(const TEndEventScope&) = delete;
    TEndEventScope& operator=(const TEndEventScope&) = delete;

private:
    std::atomic<bool>& flag_;
};
} // namespace

void TACSOutput::CompleteOutput() {
    if (!busy_.load())
        return;
    progressActive_.store(false);
    FinishOutput();
    TEndEventScope scope(inEndEvent_);
    busy_.store(false);
    if (OnDone)
        OnDone(*this);
}

void TACSOutput::HandleThreadException(const EACSException& e) {
    // The read gate is released by its guard on every path, so there is no flag to clear.
    SetLastError(e.what());
    endingOnError_ = true;
    progressActive_.store(false);
    try {
        // Also after a failed preparation: whatever it began (an open input, a started
        // file) is undone, so the next start does not find the input still open.
        FinishOutput();
    } catch (const std::exception&) {
        // The run has already failed; a second error adds nothing.
    }
    TEndEventScope scope(inEndEvent_);
    busy_.store(false);
    if (OnThreadException)
        OnThreadException(*this, e);
}

} // namespace bw
