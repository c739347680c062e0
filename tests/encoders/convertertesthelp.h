#pragma once

// Helpers of the conversion tests: short sources made by the real encoders, rows built by
// the real probe, a recording observer, and what FFmpeg makes of an output.

#include "shell/conversionrun.h"
#include "support/testsupport.h"

#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <sys/resource.h>

namespace bwtest {

// One source of every format the run reads from files (Monkey's Audio has no encoder on
// this system; CD track files need a disc), the Other type's M4A (AAC and ALAC), Opus,
// AIFF, TTA and DSF last. Made from a 1.5 s tone by each format's own encoder (FFmpeg's,
// and bwmedia::MakeDsf for DSF); name is the file's name in dir.
struct TSourceKind {
    std::string Name;
    std::function<void(const std::string& wav, const std::string& out)> Make;
};
const std::vector<TSourceKind>& SourceKinds();
std::string MakeSource(const TTempDir& dir, const TSourceKind& kind);

// A checked row for path as the job list makes it (the test fails when the probe refuses).
bw::TConversionRow RowFor(const std::string& path);

// Records what the run reports; OnEvents runs at every ProcessEvents (the user's clicks).
class TRecordingObserver final : public bw::TConversionObserver {
public:
    void RowStatusChanged(size_t row, const std::string& status) override {
        Statuses[row].push_back(status);
    }
    void RowUnchecked(size_t row) override { Unchecked.push_back(row); }
    void FromToChanged(const std::string& from, const std::string& to) override {
        FromTo.push_back(from + "|" + to);
    }
    void ItemPercentChanged(int percent) override { LastPercent = percent; }
    void TotalPercentChanged(int percent) override { Totals.push_back(percent); }
    void ProcessEvents() override {
        if (OnEvents)
            OnEvents();
    }

    std::map<size_t, std::vector<std::string>> Statuses;
    std::vector<size_t> Unchecked;
    std::vector<std::string> FromTo;
    std::vector<int> Totals;
    int LastPercent = -1;
    std::function<void()> OnEvents;
};

// The file's tags as FFprobe reads them (container and stream tags), keys in lower case.
std::map<std::string, std::string> ProbeTags(const std::string& path);
// Seconds of audio FFmpeg decodes from a file.
double DecodedSeconds(const std::string& path);

// Limits the size of files this process and the encoders it starts may write, as a full
// disk would. With SIGXFSZ ignored the writes fail with EFBIG; with its default action
// the writer is killed.
class TFileSizeLimit {
public:
    TFileSizeLimit(rlim_t bytes, bool ignoreSignal) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// Sets an environment variable for the life of the object, then puts the old value back.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_;
};

} // namespace bwtest
