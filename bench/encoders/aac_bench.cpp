// The AAC output against FFmpeg's own command line with the same encoder.
//
//   aac_bench [--seconds N] [--reps N] [--kbps N]
//
// Makes N seconds (default 600) of music-like 44.1 kHz stereo as a WAV file and times, in
// turns, round after round:
//   ours     the AAC output of one item (RunAacTarget: decoding, encoding, the index moved
//            in front of the audio, the tags, the output check, the rename)
//   ffmpeg   ffmpeg -i in.wav -c:a aac -b:a 192k out.m4a
// and prints the best wall-clock time of each and the median over the rounds of ours/ffmpeg,
// which should stay within 1.10.

#include "audio/audiostream.h"
#include "core/dialogs.h"
#include "encoders/aacoutput.h"
#include "encoders/itemcontext.h"
#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace bwbench;

namespace {

constexpr double kAllowed = 1.10;

class TPrintedDialogs final : public bw::TDialogs {
public:
    void Show(bw::TMessageKind, const std::string&, const std::string& text) override {
        std::fprintf(stderr, "aac_bench: %s\n", text.c_str());
    }
    bw::TAnswer Ask(bw::TMessageKind, const std::string&, const std::string&,
                    const std::vector<bw::TAnswer>& buttons) override {
        return buttons.back();
    }
};

// One item of the run as the AAC output sees it, with nothing to cancel or show.
class TBenchItem final : public bw::TItemContext {
public:
    TBenchItem(bw::TmyMusicFile item, std::unique_ptr<bw::TAudioStream> stream)
        : item_(std::move(item)), stream_(std::move(stream)) {}
    const bw::TmyMusicFile& CurrentJob() const override { return item_; }
    bw::TAudioStream& ConversionStream() override { return *stream_; }
    bw::TDialogs& Dialogs() override { return dialogs_; }
    void SetStatus(const std::string&) override {}
    void SetItemPercent(int) override {}
    void ProcessEvents() override {}
    bool CancelCurrent() const override { return false; }
    void ClearCancelCurrent() override {}

private:
    bw::TmyMusicFile item_;
    std::unique_ptr<bw::TAudioStream> stream_;
    TPrintedDialogs dialogs_;
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

TCost TimeOurs(const std::string& wav, const std::string& output, int kbps) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    auto stream = bw::TAudioStream::OpenFile(wav);
    if (!stream)
        return {};
    bw::TmyMusicFile item;
    item.SourcePath = wav;
    item.TargetPath = output;
    item.Title = "Bench";
    TBenchItem context(std::move(item), std::move(stream));
    if (!bw::RunAacTarget(context, bw::TAacOptions{kbps}))
        return {};
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), CpuSeconds() - cpu};
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 600;
    int reps = 3;
    int kbps = 192;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (a == "--seconds")
            seconds = value;
        else if (a == "--reps")
            reps = std::max(1, value);
        else if (a == "--kbps")
            kbps = value;
    }
    TBenchFolder dir("bw-aac-bench");
    if (dir.Path().empty())
        return 1;
    const std::string wav = (dir.Path() / "in.wav").string();
    const std::string ours = (dir.Path() / "ours.m4a").string();
    const std::string theirs = (dir.Path() / "theirs.m4a").string();
    if (Time({}, bwmedia::MusicLikeCommand(wav, seconds, 440, {"-c:a", "pcm_s16le"})).Wall < 0) {
        std::fprintf(stderr, "aac_bench: cannot make the test file\n");
        return 1;
    }
    const std::vector<std::string> ffmpeg = {"ffmpeg",
                                             "-nostdin",
                                             "-v",
                                             "error",
                                             "-y",
                                             "-i",
                                             wav,
                                             "-c:a",
                                             "aac",
                                             "-b:a",
                                             std::to_string(kbps) + "k",
                                             theirs};
    std::vector<TCost> ourTimes, theirTimes;
    if (!TimeInTurns(
            reps, [&] { return TimeOurs(wav, ours, kbps); }, [&] { return Time({}, ffmpeg); },
            ourTimes, theirTimes)) {
        std::fprintf(stderr, "aac_bench: a run failed\n");
        return 1;
    }
    const TCost a = Best(ourTimes), b = Best(theirTimes);
    const double ratio = MedianRatio(ourTimes, theirTimes);
    std::printf("%d s of 44.1 kHz stereo at %d kbit/s, %d rounds\n", seconds, kbps, reps);
    std::printf("best: ours %.2f s (cpu %.2f), ffmpeg %.2f s (cpu %.2f); ours/ffmpeg: median %.3f, "
                "best %.3f, "
                "cpu %.3f%s\n",
                a.Wall, a.Cpu, b.Wall, b.Cpu, ratio, a.Wall / b.Wall, a.Cpu / b.Cpu,
                ratio > kAllowed ? "  over 1.10" : "");
    return ratio > kAllowed ? 1 : 0;
}
