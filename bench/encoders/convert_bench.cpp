// The conversion run's cost over the outside encoder it drives.
//
//   convert_bench [--seconds N] [--reps N] [--wav] [mp3|ogg|flac|mpc|wv|opus...]
//
// Makes a FLAC of N seconds (default 600) and the same audio as a WAV file in a temporary
// folder. For each target (default: all six) it times, in turns, round after round:
//   run      brindlewave-cli convert --to TARGET (the page defaults), from the FLAC, or with
//            --wav from the WAV file, which is then the very input of the encoder alone
//   pipe     ffmpeg -i in.flac -f wav - | ENCODER <the same options> (reading standard input)
//   alone    ENCODER <the same options> on the ready WAV file (the floor)
// and prints the best wall-clock time of each, the median over the rounds of run/pipe and
// run/alone for the wall-clock time, and the best processor time of all processes involved
// with its ratios. The run's overhead over the encoder alone should stay within 5%, and
// within 10% when both start from the same WAV file (then the run's reading and checking is
// all it adds; on a busy machine the decoding of a FLAC shows in full). Apart,
// it times the check the run makes of each finished output (its header's count, its last
// second decoded) against the run's own time: that should stay under 3%. The floor
// leaves out the decoding of the source, which the run and the pipe must do: it overlaps
// the encoder only where a processor core is free, so a fast encoder (flac) on a busy
// machine shows the decoding's whole cost.

#include "encoders/externalencoder.h"
#include "encoders/outputcheck.h"
#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace bwbench;

namespace {

using TClock = std::chrono::steady_clock;
constexpr double kAllowedOverhead = 1.05;
constexpr double kAllowedOverheadFromWav = 1.10;
constexpr double kAllowedCheck = 0.03;

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 600;
    int reps = 5;
    bool fromWav = false;
    std::vector<bw::TTargetType> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--wav")
            fromWav = true;
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::atoi(argv[++i]);
        else if (a == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (const auto t = bw::TargetTypeFromName(a); t && bw::IsExternalEncoderTarget(*t))
            targets.push_back(*t);
        else {
            std::fprintf(stderr, "usage: convert_bench [--seconds N] [--reps N] [--wav] [mp3|ogg|flac|mpc|wv|opus...]\n");
            return 2;
        }
    }
    if (targets.empty())
        targets = {bw::TTargetType::Mp3, bw::TTargetType::Ogg,     bw::TTargetType::Flac,
                   bw::TTargetType::Mpc, bw::TTargetType::WavPack, bw::TTargetType::Opus};
    const double allowed = fromWav ? kAllowedOverheadFromWav : kAllowedOverhead;

    const auto dir = std::filesystem::temp_directory_path() /
                     ("bw-convert-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "run");
    const std::string wav = (dir / "in.wav").string();
    const std::string flac = (dir / "in.flac").string();
    // Music-like input: two tones and noise, so the encoders work as hard as on real audio.
    if (Time({}, bwmedia::MusicLikeCommand(wav, seconds, 440, {"-c:a", "pcm_s16le"})).Wall < 0 ||
        Time({}, {"flac", "-s", "-f", "-o", flac, wav}).Wall < 0) {
        std::fprintf(stderr, "convert_bench: cannot make the test files\n");
        return 1;
    }

    std::printf(
        "%d s of 44.1 kHz stereo from %s, %d rounds; wall-clock ratios are medians over the rounds\n",
        seconds, fromWav ? "WAV" : "FLAC", reps);
    std::printf("%-6s %8s %8s %8s %9s %9s | %8s %8s %8s %9s %9s | %7s\n", "target", "run s",
                "pipe s", "alone s", "run/pipe", "run/alone", "run cpu", "pipe cpu", "alone cpu",
                "run/pipe", "run/alone", "check %");
    int status = 0;
    for (const auto target : targets) {
        bw::TmyMusicFile item;
        item.TargetPath = (dir / ("ref" + bw::TargetExtension(target))).string();
        const auto line = bw::BuildEncoderCommand(target, bw::EncoderProgram(target),
                                                  bw::TEncoderOptions{}, item);
        // The same command with the ready WAV file in place of standard input.
        std::vector<std::string> alone = line.Argv();
        std::replace(alone.begin(), alone.end(), std::string("-"), wav);
        std::vector<std::string> ref = line.Argv();
        // FFmpeg's WAV on a pipe states no length: each encoder is told to read to the end
        // (wavpack always is).
        if (target == bw::TTargetType::Flac)
            ref.insert(ref.begin() + 1, "--ignore-chunk-sizes");
        else if (target == bw::TTargetType::Opus)
            ref.insert(ref.begin() + 1, "--ignorelength");
        const std::string name = bw::TargetExtension(target).substr(1);
        const std::vector<std::string> runLine = {bwmedia::CliProgram(), "convert", "--to", name, "--out",
                                                  (dir / "run").string(), "--overwrite", fromWav ? wav : flac};
        const std::vector<std::string> decoder = {"ffmpeg", "-nostdin", "-v", "error", "-i",
                                                  flac, "-f", "wav", "-"};
        // The three are timed in turns, one of each per round and each round starting with
        // the next of them, so a slow spell of the machine (another tenant, a lower clock)
        // or a warm cache after the one before touches all three alike.
        std::vector<TCost> times[3];
        std::vector<TCost> checks;
        const std::string output = (dir / "run" / ("in" + bw::TargetExtension(target))).string();
        const bw::TFedAudio fed{static_cast<uint64_t>(seconds) * 44100, 44100};
        bool failed = false;
        for (int i = 0; i < reps && !failed; ++i) {
            for (int k = 0; k < 3 && !failed; ++k) {
                const int which = (i + k) % 3;
                const TCost t = which == 0   ? Time({}, runLine)
                                : which == 1 ? Time(decoder, ref)
                                             : Time({}, alone);
                failed = t.Wall < 0;
                times[which].push_back(t);
                if (which == 0 && !failed) {
                    const auto start = TClock::now();
                    failed = !bw::CheckEncoderOutput(target, output, fed).empty();
                    const std::chrono::duration<double> d = TClock::now() - start;
                    checks.push_back({d.count(), 0});
                }
            }
        }
        if (failed) {
            std::printf("%-6s failed\n", name.c_str());
            status = 1;
            continue;
        }
        const TCost run = Best(times[0]);
        const TCost piped = Best(times[1]);
        const TCost floor = Best(times[2]);
        const double overPipe = MedianRatio(times[0], times[1]);
        const double overFloor = MedianRatio(times[0], times[2]);
        const double check = MedianRatio(checks, times[0]);
        std::printf("%-6s %8.2f %8.2f %8.2f %9.3f %9.3f | %8.2f %8.2f %8.2f %9.3f %9.3f | %7.2f%s%s\n",
                    name.c_str(), run.Wall, piped.Wall, floor.Wall, overPipe, overFloor, run.Cpu,
                    piped.Cpu, floor.Cpu, run.Cpu / piped.Cpu, run.Cpu / floor.Cpu, check * 100,
                    overFloor > allowed ? (fromWav ? "  over 10%" : "  over 5%") : "",
                    check > kAllowedCheck ? "  check over 3%" : "");
    }
    std::filesystem::remove_all(dir);
    return status;
}
