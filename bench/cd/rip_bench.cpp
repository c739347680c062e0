// Ripping a CD track: our reader and our FLAC and WAV outputs against libcdio's own
// cd-paranoia on the same image.
//
//   rip_bench [--seconds N] [--rounds N]
//
// Makes an N-second (default 600) track of tones over noise with ffmpeg, writes it as a
// one-track .cue/.bin image in a temporary folder, then reads track 1 in turns:
//   ours   TCdTrackStream in 10240-byte reads, written to /dev/null
//   theirs cd-paranoia -q -d IMAGE.cue -r 1 /dev/null (the same verifying mode: every check
//          on, skipping allowed after retries)
//   flac   brindlewave-cli convert --cd IMAGE.cue --to flac, against cd-paranoia -w writing
//          track 1 to a WAV file followed by flac -5 on it; bar 1.1
//   wav    brindlewave-cli convert --cd IMAGE.cue --to wav (44100 Hz stereo 16 bits, through
//          its temporary files), against cd-paranoia -w writing the WAV file; bar 1.5
// Each round starts with the other one; each verdict is the median of the rounds' own time
// ratios (ours / theirs). Our read is checked against the audio put in. A command that fails
// stops the bench with status 1; a missed bar gives status 3.

#include "cd/cddrives.h"
#include "cd/cdtrackstream.h"

#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

constexpr double kBar = 1.25;
constexpr double kFlacBar = 1.1;
constexpr double kWavBar = 1.5;

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
    const bwbench::TBenchFolder folder("rip_bench");
    if (folder.Path().empty())
        Die("can't make a temporary folder");
    const fs::path& dir = folder.Path();

    const std::string bin = (dir / "disc.bin").string();
    const std::string cue = (dir / "disc.cue").string();
    if (RunQuiet(bwmedia::ToneOverNoiseCommand(bin, seconds, 440, 7, true)) != 0)
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

    const std::string out = (dir / "out").string();
    const std::string wav = (dir / "paranoia.wav").string();
    const auto timed = [](const std::vector<std::string>& argv, const char* what) {
        const auto start = TClock::now();
        if (RunQuiet(argv) != 0)
            Die(std::string(what) + " failed");
        return Seconds(start);
    };
    auto oursTo = [&](const char* target) {
        return timed({bwmedia::CliProgram(), "convert", "--cd", cue, "--to", target, "--overwrite", "--out", out},
                     "brindlewave-cli convert");
    };
    auto paranoiaWav = [&] { return timed({"cd-paranoia", "-q", "-w", "-d", cue, "1", wav}, "cd-paranoia"); };
    auto paranoiaFlac = [&] {
        return paranoiaWav() + timed({"flac", "-s", "-f", "-5", wav, "-o", (dir / "paranoia.flac").string()},
                                     "flac");
    };

    std::printf("track: %.0f s, %zu bytes\n", seconds, pcm.size());
    struct TPart {
        const char* Name;
        std::function<double()> Ours, Theirs;
        double Bar;
        std::vector<double> Ratios;
    };
    std::vector<TPart> parts{{"read", ours, theirs, kBar, {}},
                             {"flac", [&] { return oursTo("flac"); }, paranoiaFlac, kFlacBar, {}},
                             {"wav", [&] { return oursTo("wav"); }, paranoiaWav, kWavBar, {}}};
    for (int r = 0; r < rounds; ++r) {
        for (TPart& p : parts) {
            double a = 0, b = 0;
            if (r % 2 == 0) {
                a = p.Ours();
                b = p.Theirs();
            } else {
                b = p.Theirs();
                a = p.Ours();
            }
            std::printf("round %d %-4s: ours %.2f s (%.1fx real time), reference %.2f s, ratio %.3f\n",
                        r + 1, p.Name, a, seconds / a, b, a / b);
            p.Ratios.push_back(a / b);
        }
    }
    // Our outputs hold the track: the FLAC exactly, the WAV too.
    for (const char* ext : {".flac", ".wav"}) {
        const std::string file = out + "/CD Track 1" + ext;
        const std::string raw = (dir / "check.raw").string();
        if (RunQuiet({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file, "-f", "s16le", raw}) != 0 ||
            fs::file_size(raw) != pcm.size())
            Die(file + " does not hold the whole track");
    }
    bool ok = true;
    for (TPart& p : parts) {
        std::sort(p.Ratios.begin(), p.Ratios.end());
        const double median = p.Ratios[p.Ratios.size() / 2];
        const bool met = median <= p.Bar;
        std::printf("verdict: %-4s median ratio ours/reference %.3f (bar %.2f): %s\n", p.Name, median,
                    p.Bar, met ? "ok" : "MISSED");
        ok = ok && met;
    }
    return ok ? 0 : 3;
}
