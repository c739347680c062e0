// `brindlewave-cli probe` over a folder of files read through FFmpeg's demuxer (M4A with AAC
// and with ALAC, Opus, AIFF, TTA and DSF, in equal shares) against a folder of as many FLAC
// files of the same length, which the program's own reader takes. The first may take at most
// twice as long as the second.
//
//   probe_other_bench [--files N] [--seconds S] [--rounds R]
//
// Each folder holds links to one file of each kind, so that a large count costs no disk
// space and every file is in the page cache alike.

#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace bwbench;
namespace fs = std::filesystem;

namespace {

constexpr double kMaxRatio = 2.0;

const std::vector<std::string> kTags{"-metadata", "title=Title", "-metadata", "artist=Artist",
                                     "-metadata", "album=Album", "-metadata", "track=3"};

bool Made(const std::vector<std::string>& argv) {
    const auto r = bwmedia::Run(argv);
    if (r.ExitCode != 0)
        std::fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), r.Err.c_str());
    return r.ExitCode == 0;
}

std::vector<std::string> Ffmpeg(const std::string& wav, const std::vector<std::string>& codec,
                                const std::string& out) {
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav};
    argv.insert(argv.end(), codec.begin(), codec.end());
    argv.insert(argv.end(), kTags.begin(), kTags.end());
    argv.push_back(out);
    return argv;
}

// count links in folder to the given files, in turn.
bool Fill(const fs::path& folder, const std::vector<fs::path>& files, int count) {
    std::error_code ec;
    for (int i = 0; i < count && !ec; ++i) {
        const fs::path& file = files[static_cast<size_t>(i) % files.size()];
        fs::create_hard_link(file, folder / (std::to_string(i) + file.extension().string()), ec);
    }
    return !ec;
}

} // namespace

int main(int argc, char* argv[]) {
    int files = 2000, rounds = 3;
    double seconds = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--files")
            files = std::atoi(argv[i + 1]);
        else if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--rounds")
            rounds = std::atoi(argv[i + 1]);
    }
    if (files < 1 || seconds <= 0 || rounds < 1) {
        std::fprintf(stderr, "usage: probe_other_bench [--files N] [--seconds S] [--rounds R]\n");
        return 2;
    }
    TBenchFolder folder("bw-probe-other");
    if (folder.Path().empty())
        return 1;
    const fs::path made = folder.Path() / "made", other = folder.Path() / "other",
                   flac = folder.Path() / "flac";
    for (const auto& f : {made, other, flac})
        fs::create_directories(f);
    const std::string wav = (made / "source.wav").string();
    if (!Made(bwmedia::MusicLikeCommand(wav, seconds, 440, {"-c:a", "pcm_s16le"})))
        return 1;

    struct TKind {
        std::string Name;
        std::vector<std::string> Codec;
    };
    const std::vector<TKind> kinds{{"aac.m4a", {"-c:a", "aac"}}, {"alac.m4a", {"-c:a", "alac"}},
                                   {"opus.opus", {"-c:a", "libopus"}}, {"aiff.aiff", {"-write_id3v2", "1"}},
                                   {"tta.tta", {}}};
    std::vector<fs::path> others;
    for (const TKind& k : kinds) {
        others.push_back(made / k.Name);
        if (!Made(Ffmpeg(wav, k.Codec, others.back().string())))
            return 1;
    }
    others.push_back(made / "dsd.dsf");
    if (!bwmedia::MakeDsf(wav, others.back().string()))
        return 1;
    const fs::path flacFile = made / "lossless.flac";
    if (!Made({"flac", "-s", "-f", "-T", "TITLE=Title", "-T", "ARTIST=Artist", "-T", "ALBUM=Album",
               "-T", "TRACKNUMBER=3", wav, "-o", flacFile.string()}))
        return 1;
    if (!Fill(other, others, files) || !Fill(flac, {flacFile}, files))
        return 1;

    const std::string cli = bwmedia::CliProgram();
    std::vector<TCost> otherTimes, flacTimes;
    if (!TimeInTurns(
            rounds, [&] { return Time({}, {cli, "probe", "--recursive", other.string()}); },
            [&] { return Time({}, {cli, "probe", "--recursive", flac.string()}); }, otherTimes,
            flacTimes)) {
        std::fprintf(stderr, "a probe failed\n");
        return 1;
    }
    const TCost a = Best(otherTimes), b = Best(flacTimes);
    const double ratio = MedianRatio(otherTimes, flacTimes);
    std::printf("probe of %d files of %.0f s, best of %d rounds (wall / cpu seconds)\n", files,
                seconds, rounds);
    std::printf("  FFmpeg-read sources  %8.3f / %8.3f\n", a.Wall, a.Cpu);
    std::printf("  FLAC                 %8.3f / %8.3f\n", b.Wall, b.Cpu);
    std::printf("  ratio (median of rounds) %.2f, at most %.2f: %s\n", ratio, kMaxRatio,
                ratio <= kMaxRatio ? "pass" : "FAIL");
    return ratio <= kMaxRatio ? 0 : 1;
}
