// The FLAC target, encoded in the run's own process, against the flac program at the same
// level reading the same files itself.
//
//   flac_bench [--seconds N] [--rounds N] [--level L]
//
// Makes eight music-like files of N seconds (default 300), each as WAV and as FLAC. For each
// source kind it times, in turns (each round starting with the other):
//   one file    brindlewave-cli convert --to flac --set level    flac -L on that file
//   eight files the same with --jobs 2                          flac -L on each, two at a time
// and prints the best wall-clock and processor time of each and the median of the rounds'
// ratios (ours / flac). Bar: 1.05 for both. Status 1 when a command fails, 3 when a bar is
// missed.

#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace bwbench;

namespace {

constexpr double kBar = 1.05;

double MedianCpuRatio(const std::vector<TCost>& a, const std::vector<TCost>& b) {
    std::vector<TCost> ca, cb;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        ca.push_back({a[i].Cpu, 0});
        cb.push_back({b[i].Cpu, 0});
    }
    return MedianRatio(ca, cb);
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 300;
    int rounds = 3;
    int level = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(5, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--level") == 0)
            level = std::clamp(std::atoi(argv[i + 1]), 0, 8);
    }
    const TBenchFolder folder("flac_bench");
    if (folder.Path().empty())
        return 1;
    const auto& dir = folder.Path();
    std::vector<std::string> wavs, flacs;
    for (int i = 0; i < 8; ++i) {
        const std::string wav = (dir / ("f" + std::to_string(i) + ".wav")).string();
        const std::string flac = (dir / ("f" + std::to_string(i) + ".flac")).string();
        if (Time({}, bwmedia::MusicLikeCommand(wav, seconds, 330 + 40 * i, {"-c:a", "pcm_s16le"})).Wall < 0 ||
            Time({}, {"flac", "-s", "-f", "-o", flac, wav}).Wall < 0) {
            std::fprintf(stderr, "flac_bench: cannot make the test files\n");
            return 1;
        }
        wavs.push_back(wav);
        flacs.push_back(flac);
    }
    std::filesystem::create_directories(dir / "ours");
    std::filesystem::create_directories(dir / "theirs");
    const std::string levelOption = "-" + std::to_string(level);
    std::printf("8 files of %d s, level %d, %d rounds; ratios are medians over the rounds\n", seconds, level,
                rounds);
    std::printf("%-14s %9s %9s %9s %9s %9s %9s\n", "case", "ours s", "flac s", "wall", "ours cpu", "flac cpu",
                "cpu");
    int status = 0;
    for (const bool fromFlac : {false, true}) {
        const auto& sources = fromFlac ? flacs : wavs;
        for (const int count : {1, 8}) {
            std::vector<std::string> ours{bwmedia::CliProgram(), "convert", "--to", "flac", "--set",
                                          "FLACMyTrackBar=" + std::to_string(level), "--overwrite",
                                          "--jobs", count == 1 ? "1" : "2", "--out", (dir / "ours").string()};
            std::vector<std::vector<std::string>> theirs;
            for (int i = 0; i < count; ++i) {
                ours.push_back(sources[static_cast<size_t>(i)]);
                theirs.push_back({"flac", "-s", "-f", levelOption, "-o",
                                  (dir / "theirs" / ("t" + std::to_string(i) + ".flac")).string(),
                                  sources[static_cast<size_t>(i)]});
            }
            std::vector<TCost> a, b;
            if (!TimeInTurns(
                    rounds, [&] { return Time({}, ours); }, [&] { return TimeSideBySide(theirs, 2); }, a, b)) {
                std::fprintf(stderr, "flac_bench: a command failed\n");
                return 1;
            }
            const double wall = MedianRatio(a, b);
            const double cpu = MedianCpuRatio(a, b);
            const std::string name = std::string(fromFlac ? "flac" : "wav") + (count == 1 ? " x1" : " x8 by 2");
            std::printf("%-14s %9.2f %9.2f %9.3f %9.2f %9.2f %9.3f%s\n", name.c_str(), Best(a).Wall, Best(b).Wall,
                        wall, Best(a).Cpu, Best(b).Cpu, cpu, wall > kBar || cpu > kBar ? "  OVER 1.05" : "");
            if (wall > kBar || cpu > kBar)
                status = 3;
        }
    }
    return status;
}
