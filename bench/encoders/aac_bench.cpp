// The AAC target of the command line against FFmpeg's own command line with the same encoder.
//
//   aac_bench [--seconds N] [--reps N] [--kbps N]
//
// Makes N seconds (default 600) of music-like 44.1 kHz stereo as a WAV file and times, in
// turns, round after round:
//   ours     brindlewave-cli convert --to m4a (the program's start, decoding, encoding, the
//            index moved in front of the audio, the tags, the output check, the rename)
//   ffmpeg   ffmpeg -i in.wav -c:a aac -b:a 192k out.m4a
// and prints the best wall-clock time of each and the median over the rounds of ours/ffmpeg,
// which should stay within 1.10.

#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <cstdio>
#include <cstdlib>

using namespace bwbench;

namespace {

constexpr double kAllowed = 1.10;

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
    // The run writes in.m4a beside nothing else in its own folder.
    const std::string ourFolder = (dir.Path() / "ours").string();
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
    const std::vector<std::string> run = {bwmedia::CliProgram(), "convert", "--to", "m4a", "--set",
                                          "AACBitrate=" + std::to_string(kbps), "--out", ourFolder,
                                          "--overwrite", wav};
    std::vector<TCost> ourTimes, theirTimes;
    if (!TimeInTurns(
            reps, [&] { return Time({}, run); }, [&] { return Time({}, ffmpeg); },
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
