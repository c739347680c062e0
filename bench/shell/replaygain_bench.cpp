// What measuring loudness costs a run: 20 files converted with "Track and album" ReplayGain
// tags against without, in turns, for MP3, FLAC and Ogg Vorbis.
//
//   replaygain_bench [--files N] [--seconds S] [--single S] [--rounds R] [mp3|ogg|flac...]
//
// Makes N music-like FLAC files (default 20) of S seconds (default 30: ten minutes of stereo
// audio in all) of one album. For each target it times `brindlewave-cli convert --replaygain
// album` against `--replaygain off` over all of them and prints the processor time added per
// ten minutes of audio (the median of the rounds' differences; at most 0.8 s), then the same
// for one file of --single seconds (default 300) alone with --jobs 1, whose wall time may grow
// by 10% at most: long enough that a process's start and the machine's hiccups do not decide.

#include "encoders/targettype.h"
#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace bwbench;
namespace fs = std::filesystem;

namespace {

constexpr double kAllowedCpuPerTenMinutes = 0.8; // seconds
constexpr double kAllowedWallRatio = 1.10;

double MedianCpuAdded(const std::vector<TCost>& with, const std::vector<TCost>& without) {
    std::vector<double> added;
    for (size_t i = 0; i < with.size() && i < without.size(); ++i)
        added.push_back(with[i].Cpu - without[i].Cpu);
    std::sort(added.begin(), added.end());
    return added.empty() ? 0 : added[added.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    int files = 20, seconds = 30, singleSeconds = 300, rounds = 3;
    std::vector<bw::TTargetType> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--single" && i + 1 < argc)
            singleSeconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (const auto t = bw::TargetTypeFromName(a))
            targets.push_back(*t);
        else {
            std::fprintf(
                stderr,
                "usage: replaygain_bench [--files N] [--seconds S] [--single S] [--rounds R] "
                "[mp3|ogg|flac...]\n");
            return 2;
        }
    }
    if (targets.empty())
        targets = {bw::TTargetType::Mp3, bw::TTargetType::Flac, bw::TTargetType::Ogg};

    const TBenchFolder folder("bw-replaygain-bench");
    const fs::path& dir = folder.Path();
    std::vector<std::string> sources;
    bool made = !dir.empty();
    for (int f = 0; f < files && made; ++f) {
        sources.push_back((dir / ("track" + std::to_string(f + 1) + ".flac")).string());
        made = Time({}, bwmedia::MusicLikeCommand(sources.back(), seconds, 300 + 20 * f,
                                                  {"-c:a", "flac", "-metadata", "album=Bench"}))
                   .Wall >= 0;
    }
    const std::string single = (dir / "single.flac").string();
    made = made && Time({}, bwmedia::MusicLikeCommand(single, singleSeconds, 440,
                                                      {"-c:a", "flac", "-metadata", "album=Bench"}))
                           .Wall >= 0;
    if (!made) {
        std::fprintf(stderr, "replaygain_bench: cannot make the files\n");
        return 1;
    }
    const double tenMinutes = files * seconds / 600.0;

    std::printf("%d files of %d s of stereo, one of %d s, %d rounds; medians of the rounds\n",
                files, seconds, singleSeconds, rounds);
    std::printf("%-6s %9s %9s %14s %9s %9s %7s\n", "target", "off s", "album s", "cpu+ s/10 min",
                "1 off s", "1 album s", "ratio");
    int status = 0;
    for (const auto target : targets) {
        const std::string name = bw::TargetExtension(target).substr(1);
        const auto convert = [&](const std::vector<std::string>& which, const char* mode,
                                 const char* jobs) {
            fs::remove_all(dir / "out");
            std::vector<std::string> argv{
                bwmedia::CliProgram(),  "convert",      "--to", name, "--out",
                (dir / "out").string(), "--replaygain", mode};
            if (jobs)
                argv.insert(argv.end(), {"--jobs", jobs});
            argv.insert(argv.end(), which.begin(), which.end());
            return Time({}, argv);
        };
        std::vector<TCost> with, without, oneWith, oneWithout;
        const std::vector<std::string> one{single};
        if (!TimeInTurns(
                rounds, [&] { return convert(sources, "album", nullptr); },
                [&] { return convert(sources, "off", nullptr); }, with, without) ||
            !TimeInTurns(
                rounds, [&] { return convert(one, "album", "1"); },
                [&] { return convert(one, "off", "1"); }, oneWith, oneWithout)) {
            std::printf("%-6s failed\n", name.c_str());
            status = 1;
            continue;
        }
        const double cpu = MedianCpuAdded(with, without) / tenMinutes;
        const double ratio = MedianRatio(oneWith, oneWithout);
        std::printf("%-6s %9.2f %9.2f %14.3f %9.2f %9.2f %7.3f%s%s\n", name.c_str(),
                    Best(without).Wall, Best(with).Wall, cpu, Best(oneWithout).Wall,
                    Best(oneWith).Wall, ratio,
                    cpu > kAllowedCpuPerTenMinutes ? "  cpu over 0.8 s" : "",
                    ratio > kAllowedWallRatio ? "  wall over 10%" : "");
    }
    return status;
}
