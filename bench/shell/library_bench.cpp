// What carrying covers costs when a library is converted: the same Artist/Album tree
// converted with the covers carried and without, in turns.
//
//   library_bench [--albums N] [--tracks N] [--seconds S] [--rounds R] [mp3|ogg|flac|ape|mpc...]
//
// Makes N albums (default 4) of N FLAC tracks (default 6) of S seconds (default 30), each
// album with a 600x600 JPEG cover: the first album's tracks hold it embedded, the others
// have it beside them as cover.jpg. For each target it times `brindlewave-cli convert
// --recursive --keep-structure` with and without --no-covers and prints the median ratio;
// the covers' cost should stay under 5%.

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

constexpr double kAllowedCost = 1.05;

} // namespace

int main(int argc, char* argv[]) {
    int albums = 4, tracks = 6, seconds = 30, rounds = 3;
    std::vector<bw::TTargetType> targets;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--albums" && i + 1 < argc)
            albums = std::max(1, std::atoi(argv[++i]));
        else if (a == "--tracks" && i + 1 < argc)
            tracks = std::max(1, std::atoi(argv[++i]));
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (const auto t = bw::TargetTypeFromName(a))
            targets.push_back(*t);
        else {
            std::fprintf(stderr, "usage: library_bench [--albums N] [--tracks N] [--seconds S] [--rounds R] "
                                 "[mp3|ogg|flac|ape|mpc...]\n");
            return 2;
        }
    }
    if (targets.empty())
        targets = {bw::TTargetType::Mp3, bw::TTargetType::Ogg, bw::TTargetType::Flac, bw::TTargetType::Ape,
                   bw::TTargetType::Mpc};

    const TBenchFolder folder("bw-library-bench");
    const fs::path& dir = folder.Path();
    const fs::path music = dir / "Music";
    const std::string cover = (dir / "cover.jpg").string();
    fs::create_directories(music);
    bool made = Time({}, {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "cellauto=s=600x600:rule=110", "-frames:v", "1", "-q:v", "2", cover}).Wall >= 0;
    for (int a = 0; a < albums && made; ++a) {
        const fs::path album = music / ("Artist " + std::to_string(a % 2)) / ("Album " + std::to_string(a));
        fs::create_directories(album);
        if (a > 0)
            fs::copy_file(cover, album / "cover.jpg");
        for (int t = 0; t < tracks && made; ++t) {
            const std::string flac = (album / ("0" + std::to_string(t + 1) + " Track.flac")).string();
            const int f = 300 + 20 * (a * tracks + t);
            made = Time({}, bwmedia::MusicLikeCommand(flac, seconds, f, {"-c:a", "flac"})).Wall >= 0;
            if (made && a == 0)
                made = Time({}, {"metaflac", "--import-picture-from=" + cover, flac}).Wall >= 0;
        }
    }
    if (!made) {
        std::fprintf(stderr, "library_bench: cannot make the library\n");
        return 1;
    }

    std::printf("%d albums of %d tracks of %d s, a %lld-byte cover each, %d rounds; ratios are medians\n", albums,
                tracks, seconds, static_cast<long long>(fs::file_size(cover)), rounds);
    std::printf("%-6s %10s %10s %8s\n", "target", "covers s", "without s", "ratio");
    int status = 0;
    for (const auto target : targets) {
        const std::string name = bw::TargetExtension(target).substr(1);
        std::vector<TCost> with, without;
        const auto convert = [&](bool covers) {
            fs::remove_all(dir / "out");
            std::vector<std::string> argv{bwmedia::CliProgram(), "convert", "--to", name, "--out", (dir / "out").string(),
                                          "--recursive", "--keep-structure"};
            if (!covers)
                argv.push_back("--no-covers");
            argv.push_back(music.string());
            return Time({}, argv);
        };
        if (!TimeInTurns(rounds, [&] { return convert(true); }, [&] { return convert(false); }, with, without)) {
            std::printf("%-6s failed\n", name.c_str());
            status = 1;
            continue;
        }
        const double ratio = MedianRatio(with, without);
        std::printf("%-6s %10.2f %10.2f %8.3f%s\n", name.c_str(), Best(with).Wall, Best(without).Wall, ratio,
                    ratio > kAllowedCost ? "  over 5%" : "");
    }
    return status;
}
