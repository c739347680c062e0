// Reading a CD track: TCdTrackStream against libcdio's own cd-paranoia on the same image.
//
//   rip_bench [--seconds N] [--rounds N]
//
// Makes an N-second (default 600) track of tones over noise with ffmpeg, writes it as a
// one-track .cue/.bin image in a temporary folder, then reads track 1 in turns:
//   ours   TCdTrackStream in 10240-byte reads, written to /dev/null
//   theirs cd-paranoia -q -d IMAGE.cue -r 1 /dev/null (the same verifying mode: every check
//          on, skipping allowed after retries)
// Each round starts with the other one; the verdict is the median of the rounds' own time
// ratios (ours / theirs), bar 1.25. Our read is checked against the audio put in. A command
// that fails stops the bench with status 1; a missed bar gives status 3.

#include "cd/cddrives.h"
#include "cd/cdtrackstream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr double kBar = 1.25;

int RunQuiet(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        // cd-paranoia reports what an image cannot do (drive speed) on its error output.
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "rip_bench: %s\n", why.c_str());
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
    char folder[] = "/tmp/rip_bench.XXXXXX";
    if (!mkdtemp(folder))
        Die("can't make a temporary folder");
    const fs::path dir = folder;
    struct TCleanup {
        fs::path Dir;
        ~TCleanup() {
            std::error_code ec;
            fs::remove_all(Dir, ec);
        }
    } cleanup{dir};

    const std::string bin = (dir / "disc.bin").string();
    const std::string cue = (dir / "disc.cue").string();
    const std::string d = std::to_string(seconds);
    if (RunQuiet({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=" + d,
                  "-f", "lavfi", "-i", "anoisesrc=d=" + d + ":c=pink:a=0.25:s=7", "-filter_complex",
                  "[0][1]amix=inputs=2:normalize=0,aformat=sample_fmts=s16:sample_rates=44100:"
                  "channel_layouts=stereo",
                  "-f", "s16le", bin}) != 0)
        Die("ffmpeg could not make the track");
    // Pad to whole sectors, as a disc holds the audio.
    const auto size = fs::file_size(bin);
    fs::resize_file(bin, (size + 2351) / 2352 * 2352);
    std::ofstream(cue) << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    std::vector<char> pcm(fs::file_size(bin));
    std::ifstream(bin, std::ios::binary).read(pcm.data(), static_cast<std::streamsize>(pcm.size()));

    bw::TCdDriveList list;
    std::string why;
    const int drive = list.AddImage(cue, &why);
    if (drive < 0)
        Die(why);

    auto ours = [&] {
        const auto start = TClock::now();
        auto stream = bw::TCdTrackStream::Open(list.At(drive), 1, nullptr, &why);
        if (!stream)
            Die(why);
        FILE* out = std::fopen("/dev/null", "wb");
        std::vector<std::byte> block(10240);
        size_t at = 0;
        bool same = true;
        for (int64_t n; (n = stream->Read(block)) != 0;) {
            if (n < 0)
                Die(stream->ErrorText());
            same = same && at + static_cast<size_t>(n) <= pcm.size() &&
                   std::memcmp(block.data(), pcm.data() + at, static_cast<size_t>(n)) == 0;
            at += static_cast<size_t>(n);
            std::fwrite(block.data(), 1, static_cast<size_t>(n), out);
        }
        std::fclose(out);
        if (!same || at != pcm.size() || !stream->DeliveredAll())
            Die("our read differs from the audio put into the image");
        return Seconds(start);
    };
    auto theirs = [&] {
        const auto start = TClock::now();
        if (RunQuiet({"cd-paranoia", "-q", "-d", cue, "-r", "1", "/dev/null"}) != 0)
            Die("cd-paranoia failed (is it installed?)");
        return Seconds(start);
    };

    std::printf("track: %.0f s, %zu bytes\n", seconds, pcm.size());
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        double a = 0, b = 0;
        if (r % 2 == 0) {
            a = ours();
            b = theirs();
        } else {
            b = theirs();
            a = ours();
        }
        std::printf("round %d: ours %.2f s (%.1fx real time), cd-paranoia %.2f s, ratio %.2f\n", r + 1,
                    a, seconds / a, b, a / b);
        ratios.push_back(a / b);
    }
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    const bool ok = median <= kBar;
    std::printf("read: median ratio ours/cd-paranoia %.2f (bar %.2f): %s\n", median, kBar,
                ok ? "ok" : "MISSED");
    return ok ? 0 : 3;
}
