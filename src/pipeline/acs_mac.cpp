#include "pipeline/acs_mac.h"

#include <cstring>

namespace bw {

TMACOut::~TMACOut() { ShutdownThread(); }

void TMACOut::SetCompressionLevel(int level) {
    const bool known = level == 1000 || level == 2000 || level == 3000 || level == 4000;
    compressionLevel_.store(known ? level : 2000);
}

void TMACOut::PrepareOutput() {
    if (FileName().empty())
        throw EACSException("File name is not assigned.");
    TACSInput& in = RequireInput();
    in.OpenInput();
    inputOpen_ = true;
    endMark_ = false;
    int error = kApeSuccess;
    compressor_ = TAPECompress::Create(error);
    if (error != kApeSuccess)
        throw EAPEException(error);
    compressor_->SetSimdPath(simdPath_);
    compressor_->SetThreads(threads_);
    compressed_ = 0;
    FillWaveFormatEx(format_, in.SamplesPerSecond(), in.BitsPerSample(), in.ChannelCount());
    // The size is only a layout hint; the input's own size is a better one than none.
    const int64_t expected = maxAudioBytes_ >= 0 ? maxAudioBytes_ : in.Size();
    pending_.emplace(FileName());
    const int r = compressor_->Start(pending_->TemporaryPath(), format_, expected, CompressionLevel());
    if (r != kApeSuccess)
        throw EACSException("Error starting APECompress.\r\n" + APEErrorText(r));
}

bool TMACOut::WriteStep(bool abort) {
    if (const auto ended = BeginStep(abort, endMark_))
        return *ended;
    const size_t n = ReadFromInput(buffer_);
    if (n == 0) {
        endMark_ = true;
        return true;
    }
    // Straight into the compressor's own buffer, as often as its free room requires.
    for (size_t done = 0; done < n;) {
        int64_t room = 0;
        std::byte* p = compressor_->LockBuffer(room);
        const size_t take = p ? std::min(n - done, static_cast<size_t>(room)) : 0;
        if (take)
            std::memcpy(p, buffer_.data() + done, take);
        const int r = compressor_->UnlockBuffer(static_cast<int64_t>(take), true);
        if (r != kApeSuccess)
            throw EACSException("APECompress.UnlockBuffer Error: " + std::to_string(r));
        if (take == 0)
            throw EACSException("APECompress.UnlockBuffer Error: " +
                                std::to_string(kApeInvalidParameter));
        done += take;
    }
    compressed_.store(static_cast<int64_t>(compressor_->AudioBytesDone()), std::memory_order_relaxed);
    return true;
}

void TMACOut::FinishOutput() {
    int result = kApeSuccess;
    std::string moveError;
    if (compressor_) {
        // After a stop the file still ends cleanly at the point reached, and is kept where
        // it replaces nothing; after an error it is dropped and whatever stood at FileName
        // before stays.
        if (!EndingOnError())
            result = compressor_->Finish();
        compressor_.reset(); // removes an unfinished file
        if (pending_) {
            if (EndingOnError() || result != kApeSuccess)
                pending_->Discard();
            else if (StoppedEarly())
                pending_->KeepPartial();
            else if (!pending_->Commit(moveError))
                result = kApeInvalidOutputFile;
        }
        pending_.reset();
    }
    if (inputOpen_) {
        inputOpen_ = false;
        if (auto* in = Input())
            in->ResetInput();
    }
    if (!moveError.empty())
        throw EACSException("Cannot create file " + FileName() + ": " + moveError);
    if (result != kApeSuccess)
        throw EAPEException(result);
}

} // namespace bw
