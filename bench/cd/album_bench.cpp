// Splitting an album image (one FLAC file and its cue sheet) into FLAC tracks: our command
// line against shnsplit with flac doing the same split.
//
//   album_bench [--seconds N] [--tracks N] [--rounds N]
//
// Makes an N-second (default 3600) album of a tone over pink noise with ffmpeg, encodes it
// with flac -5, and writes a sheet of N (default 15) tracks at uneven frame offsets, each
// after the first with a 2 s INDEX 00 gap. Then, in turns:
//   ours   brindlewave-cli convert --cd album.cue --to flac (level 5, its default; the disc
//          database lookup switched off in a settings store of the bench's own)
//   theirs shnsplit -f album.cue -o "flac flac -s -5 -o %f -" album.flac
// Each round starts with the other one; the verdict is the median of the rounds' own time
// ratios (ours / theirs): wall-clock time at most 0.8, processor time at most 0.9. Our
// tracks joined are checked against the album's PCM.
// A command that fails stops the bench with status 1; a missed bar gives status 3.

#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr double kBar = 0.8;
constexpr double kCpuBar = 0.9;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "album_bench: %s\n", why.c_str());
    std::exit(1);
}

bool Quiet(const std::vector<std::string>& argv) {
    return bwbench::Time({}, argv).Wall >= 0;
}

std::string Time(int frames) {
    char t[16];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60, frames % 75);
    return t;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 3600;
    int trackCount = 15;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(10, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--tracks") == 0)
            trackCount = std::clamp(std::atoi(argv[i + 1]), 1, 99);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const bwbench::TBenchFolder folder("album_bench");
    if (folder.Path().empty())
        Die("can't make a temporary folder");
    const fs::path& dir = folder.Path();

    const std::string wav = (dir / "album.wav").string();
    const std::string flac = (dir / "album.flac").string();
    const std::string cue = (dir / "album.cue").string();
    if (!Quiet(bwmedia::ToneOverNoiseCommand(wav, seconds, 440, 7, false)))
        Die("ffmpeg could not make the album");
    if (!Quiet({"flac", "-s", "-f", "-5", wav, "-o", flac}))
        Die("flac could not encode the album");
    fs::remove(wav);

    std::string sheet = "PERFORMER \"Bench\"\nTITLE \"Album\"\nFILE \"album.flac\" WAVE\n";
    const int albumFrames = seconds * 75;
    for (int t = 0; t < trackCount; ++t) {
        // Uneven lengths, none on a whole second.
        const int start = t == 0 ? 0 : albumFrames / trackCount * t + (t * 37) % 75;
        char head[64];
        std::snprintf(head, sizeof head, "  TRACK %02d AUDIO\n    TITLE \"Track %d\"\n", t + 1,
                      t + 1);
        sheet += head;
        if (t > 0)
            sheet += "    INDEX 00 " + Time(start - 150) + "\n";
        sheet += "    INDEX 01 " + Time(start) + "\n";
    }
    std::ofstream(cue) << sheet;

    const std::string ours = (dir / "ours").string();
    const std::string theirs = (dir / "theirs").string();
    fs::create_directories(ours);
    fs::create_directories(theirs);
    // shnsplit looks nothing up: ours is run with the disc database lookup off too, from a
    // settings store of its own, so that the split alone is timed.
    fs::create_directories(dir / "config" / "Halvorix");
    std::ofstream(dir / "config" / "Halvorix" / "Brindlewave.conf")
        << "[General]\nTryLoadFreeDB=0\n";
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    std::vector<bwbench::TCost> a, b;
    std::printf("album: %d s, %d tracks, %ju bytes of FLAC\n", seconds, trackCount,
                static_cast<uintmax_t>(fs::file_size(flac)));
    for (int r = 0; r < rounds; ++r) {
        const auto runOurs = [&] {
            a.push_back(bwbench::Time({}, {bwmedia::CliProgram(), "convert", "--cd", cue, "--to", "flac",
                                           "--overwrite", "--out", ours}));
            if (a.back().Wall < 0)
                Die("brindlewave-cli convert failed");
        };
        const auto runTheirs = [&] {
            b.push_back(bwbench::Time({}, {"shnsplit", "-q", "-O", "always", "-d", theirs, "-f",
                                           cue, "-o", "flac flac -s -5 -o %f -", flac}));
            if (b.back().Wall < 0)
                Die("shnsplit failed (is shntool installed?)");
        };
        if (r % 2 == 0) {
            runOurs();
            runTheirs();
        } else {
            runTheirs();
            runOurs();
        }
        std::printf(
            "round %d: ours %.2f s (%.1fx real time, cpu %.2f s), shnsplit %.2f s (cpu %.2f s), "
            "ratio %.3f\n",
            r + 1, a.back().Wall, seconds / a.back().Wall, a.back().Cpu, b.back().Wall,
            b.back().Cpu, a.back().Wall / b.back().Wall);
    }

    // Our tracks joined are the album, sample for sample.
    std::vector<std::string> tracks;
    for (const auto& e : fs::recursive_directory_iterator(ours))
        if (e.path().extension() == ".flac")
            tracks.push_back(e.path().string());
    std::sort(tracks.begin(), tracks.end());
    if (static_cast<int>(tracks.size()) != trackCount)
        Die("ours made " + std::to_string(tracks.size()) + " tracks");
    const fs::path whole = dir / "album.raw";
    const fs::path part = dir / "track.raw";
    if (!Quiet(
            {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", flac, "-f", "s16le", whole.string()}))
        Die("ffmpeg could not decode the album");
    std::ifstream album(whole, std::ios::binary);
    std::vector<char> x(1 << 20), y(1 << 20);
    for (const std::string& t : tracks) {
        if (!Quiet(
                {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", t, "-f", "s16le", part.string()}))
            Die("ffmpeg could not decode " + t);
        std::ifstream track(part, std::ios::binary);
        for (;;) {
            track.read(x.data(), static_cast<std::streamsize>(x.size()));
            const auto n = track.gcount();
            if (n == 0)
                break;
            album.read(y.data(), n);
            if (album.gcount() != n || std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0)
                Die("our tracks joined differ from the album at " + t);
        }
    }
    if (album.read(y.data(), 1); album.gcount() != 0)
        Die("our tracks joined are shorter than the album");

    const double ratio = bwbench::MedianRatio(a, b);
    std::vector<bwbench::TCost> ca, cb;
    for (size_t i = 0; i < a.size(); ++i) {
        ca.push_back({a[i].Cpu, 0});
        cb.push_back({b[i].Cpu, 0});
    }
    const double cpu = bwbench::MedianRatio(ca, cb);
    const bool ok = ratio <= kBar && cpu <= kCpuBar;
    std::printf("split: median ratio ours/shnsplit wall %.3f (bar %.2f), processor %.3f (bar %.2f) %s\n", ratio,
                kBar, cpu, kCpuBar, ok ? "ok" : "TOO SLOW");
    return ok ? 0 : 3;
}
