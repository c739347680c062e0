// A batch converted with two lanes against one, to every target, and against two FFmpeg
// processes side by side.
//
//   lanes_bench [--files N] [--seconds S] [--rounds R] [mp3|ogg|wav|wma|flac|ape|mpc...]
//
// Makes N FLAC files of S seconds (default 20 x 60) of music-like audio. For each target it
// times, in turns, round after round, `brindlewave-cli convert --jobs 1` and `--jobs 2`
// over all of them, and prints the median speed-up with its bar: 1.7x for the targets whose
// one lane keeps about one core busy (MP3, Ogg Vorbis, Musepack, Monkey's Audio), and 85% of
// 2 / (one lane's processor time / its wall time) for the others, whose encoder may run on
// a core of its own beside our decoder. Then MP3 with two lanes against two
// `ffmpeg -i in.flac -c:a libmp3lame -b:a 128k` processes over the same files: ours should
// stay within 1.1x. A line ends with "below the bar" when a figure misses.

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

constexpr double kOneCoreBar = 1.7;
constexpr double kShareOfTwoCores = 0.85;
constexpr double kAgainstFfmpeg = 1.1;

bool KeepsOneCore(bw::TTargetType t) {
    return t == bw::TTargetType::Mp3 || t == bw::TTargetType::Ogg || t == bw::TTargetType::Mpc ||
           t == bw::TTargetType::Ape;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Empties the output folder, so every run writes new files and asks nothing.
void Clear(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

} // namespace

int main(int argc, char* argv[]) {
    int files = 20;
    int seconds = 60;
    int rounds = 3;
    std::vector<bw::TTargetType> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--files" && i + 1 < argc)
            files = std::max(2, std::atoi(argv[++i]));
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (const auto t = bw::TargetTypeFromName(a))
            targets.push_back(*t);
        else {
            std::fprintf(stderr, "usage: lanes_bench [--files N] [--seconds S] [--rounds R] "
                                 "[mp3|ogg|wav|wma|flac|ape|mpc...]\n");
            return 2;
        }
    }
    if (targets.empty())
        targets = {bw::TTargetType::Mp3, bw::TTargetType::Ogg, bw::TTargetType::Flac, bw::TTargetType::Mpc,
                   bw::TTargetType::Ape, bw::TTargetType::Wav, bw::TTargetType::Wma};

    const TBenchFolder folder("bw-lanes-bench");
    const fs::path& dir = folder.Path();
    fs::create_directories(dir);
    std::vector<std::string> sources;
    for (int k = 0; k < files; ++k) {
        const std::string flac = (dir / ("in" + std::to_string(k) + ".flac")).string();
        // Two tones and noise, a little different in every file, so the encoders work as
        // hard as on real music.
        if (Time({}, bwmedia::MusicLikeCommand(flac, seconds, 330 + 40 * k, {"-c:a", "flac"})).Wall < 0) {
            std::fprintf(stderr, "lanes_bench: cannot make the test files\n");
            return 1;
        }
        sources.push_back(flac);
    }
    const auto convert = [&](const std::string& name, int jobs, const fs::path& out) {
        std::vector<std::string> argv = {bwmedia::CliProgram(), "convert", "--to", name, "--out", out.string(),
                                         "--overwrite", "--jobs", std::to_string(jobs), "--"};
        argv.insert(argv.end(), sources.begin(), sources.end());
        return argv;
    };

    std::printf("%d files of %d s (44.1 kHz stereo FLAC), %d rounds; ratios are medians over the rounds\n",
                files, seconds, rounds);
    // "cores used" is one lane's processor time over its wall time; "ceiling" is what two
    // cores allow at that: 2 / cores used.
    std::printf("%-6s %9s %9s %9s %9s %10s %8s %8s %6s\n", "target", "1 lane s", "2 lanes s", "1 lane cpu",
                "2 lanes cpu", "cores used", "ceiling", "speed-up", "bar");
    int status = 0;
    for (const auto target : targets) {
        const std::string name = bw::TargetExtension(target).substr(1);
        std::vector<TCost> one, two;
        const auto lanes = [&](int jobs) {
            Clear(dir / "out");
            return Time({}, convert(name, jobs, dir / "out"));
        };
        if (!TimeInTurns(rounds, [&] { return lanes(1); }, [&] { return lanes(2); }, one, two)) {
            std::printf("%-5s failed\n", name.c_str());
            status = 1;
            continue;
        }
        const double speedUp = MedianRatio(one, two);
        std::vector<double> busy;
        for (const TCost& c : one)
            busy.push_back(c.Cpu / c.Wall);
        const double oneLaneCores = Median(busy);
        const double bar = KeepsOneCore(target) ? kOneCoreBar
                                                : std::min(kOneCoreBar, kShareOfTwoCores * 2 / oneLaneCores);
        std::printf("%-6s %9.2f %9.2f %9.2f %9.2f %10.2f %8.2f %8.2f %6.2f%s\n", name.c_str(), Best(one).Wall,
                    Best(two).Wall, Best(one).Cpu, Best(two).Cpu, oneLaneCores, 2 / oneLaneCores, speedUp, bar,
                    speedUp < bar ? "  below the bar" : "");
    }

    // MP3 with two lanes against two FFmpeg processes, one file each at a time.
    std::vector<TCost> ours, theirs;
    const auto lanes2Mp3 = [&] {
        Clear(dir / "out");
        return Time({}, convert("mp3", 2, dir / "out"));
    };
    const auto viaFfmpeg = [&] {
        Clear(dir / "out");
        std::vector<std::vector<std::string>> commands;
        for (size_t i = 0; i < sources.size(); ++i)
            commands.push_back({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", sources[i], "-c:a", "libmp3lame",
                                "-b:a", "128k", (dir / "out" / ("ff" + std::to_string(i) + ".mp3")).string()});
        return TimeSideBySide(commands, 2);
    };
    if (!TimeInTurns(rounds, lanes2Mp3, viaFfmpeg, ours, theirs)) {
        std::printf("mp3 against ffmpeg: failed\n");
        status = 1;
    } else {
        const double ratio = MedianRatio(ours, theirs);
        std::printf("mp3, 2 lanes %.2f s against 2 ffmpeg libmp3lame processes %.2f s: %.3f (bar %.2f)%s\n",
                    Best(ours).Wall, Best(theirs).Wall, ratio, kAgainstFfmpeg,
                    ratio > kAgainstFfmpeg ? "  below the bar" : "");
    }
    return status;
}
