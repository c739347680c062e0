// What verifying a rip costs: the AccurateRip checksums, the copy CRC and the peak of a track
// against the processor time of ripping it to FLAC.
//
//   accuraterip_bench [--seconds N] [--rounds N]
//
// Makes an N-second (default 600) track of tones over noise with ffmpeg as a one-track
// .cue/.bin image, then in each round:
//   rip     brindlewave-cli convert --cd IMAGE.cue --to flac --no-accuraterip: the processor
//           time of the tool and the encoder it starts (the checksums are worked out by the
//           reader either way; --no-accuraterip only leaves the database unasked)
//   sums    the checksum accumulator over the track's PCM, sector by sector as the reader
//           hands it out: the processor time of this process
// The verdict is the median over the rounds of sums / rip; bar 0.10. A failing command
// stops the bench with status 1; a missed bar gives status 3.

#include "cd/accuraterip.h"
#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr double kBar = 0.10;
constexpr size_t kSector = 2352;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "accuraterip_bench: %s\n", why.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 600;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const bwbench::TBenchFolder folder("accuraterip_bench");
    if (folder.Path().empty())
        Die("can't make a temporary folder");
    const fs::path& dir = folder.Path();
    const std::string bin = (dir / "disc.bin").string();
    const std::string cue = (dir / "disc.cue").string();
    if (bwbench::Time({}, bwmedia::ToneOverNoiseCommand(bin, seconds, 440, 7, true)).Wall < 0)
        Die("ffmpeg could not make the track");
    fs::resize_file(bin, (fs::file_size(bin) + kSector - 1) / kSector * kSector);
    std::ofstream(cue) << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    std::vector<std::byte> pcm(fs::file_size(bin));
    std::ifstream(bin, std::ios::binary)
        .read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));

    std::printf("track: %.0f s, %zu bytes\n", seconds, pcm.size());
    std::vector<double> ratios;
    uint32_t keep = 0; // so that the sums are not left out as unused
    for (int r = 0; r < rounds; ++r) {
        const bwbench::TCost rip =
            bwbench::Time({}, {bwmedia::CliProgram(), "convert", "--cd", cue, "--to", "flac",
                               "--no-accuraterip", "--overwrite", "--out", (dir / "out").string()});
        if (rip.Wall < 0)
            Die("brindlewave-cli convert failed");
        const double before = ProcessCpuSeconds();
        // A lone track is the disc's first and last: both edges are left out, as on a disc.
        bw::TTrackChecksums sums(pcm.size() / 4, true, true);
        for (size_t at = 0; at < pcm.size(); at += kSector)
            sums.Add(std::span<const std::byte>(pcm).subspan(at, kSector));
        const double work = ProcessCpuSeconds() - before;
        if (!sums.Complete())
            Die("the checksums did not take the whole track");
        keep ^= sums.V1() ^ sums.V2() ^ sums.CopyCrc() ^ static_cast<uint32_t>(sums.Peak());
        ratios.push_back(work / rip.Cpu);
        std::printf("round %d: rip to FLAC %.2f s processor (%.2f s wall), checksums %.3f s "
                    "processor, share %.1f%%\n",
                    r + 1, rip.Cpu, rip.Wall, work, 100 * work / rip.Cpu);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    const bool met = median <= kBar;
    std::printf("verdict: checksums / rip median %.3f (bar %.2f): %s [%08x]\n", median, kBar,
                met ? "ok" : "MISSED", keep);
    return met ? 0 : 3;
}
