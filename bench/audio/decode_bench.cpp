// Decode throughput of the audio binding against FFmpeg's own command-line decode.
//
//   decode_bench [--seconds N] [--reps N] [FILE...]
//
// Without files it makes a FLAC and an MP3 of N seconds (default 240) with ffmpeg, flac and
// lame in a temporary folder. For each file it reads the whole stream through TAudioStream
// in 10240-byte blocks, as the conversion run does, and runs
// `ffmpeg -i FILE -f s16le -` into a pipe it drains; it prints the best and median time of
// each over the repetitions and the ratio binding / ffmpeg (below 1: the binding is faster).

#include "audio/audiostream.h"
#include "support/mediamake.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

// Runs a program, drains its standard output and returns the number of bytes it wrote;
// -1 when it cannot be run or fails.
int64_t RunDrained(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    int64_t total = 0;
    if (rc == 0) {
        std::vector<char> buf(1 << 16);
        ssize_t n;
        while ((n = read(out[0], buf.data(), buf.size())) > 0)
            total += n;
    }
    close(out[0]);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? total : -1;
}

int64_t DecodeWithBinding(const std::string& path) {
    auto s = bw::TAudioStream::OpenFile(path);
    if (!s)
        return -1;
    std::vector<std::byte> block(10240);
    int64_t total = 0;
    int64_t n;
    while ((n = s->Read(block)) > 0)
        total += n;
    return n < 0 ? -1 : total;
}

struct TTimes {
    double Best = 0;
    double Median = 0;
};

template <typename F>
TTimes Measure(int reps, int64_t& bytes, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto start = TClock::now();
        bytes = run();
        times.push_back(std::chrono::duration<double>(TClock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

bool Make(const std::vector<std::string>& argv) {
    if (RunDrained(argv) < 0) {
        std::fprintf(stderr, "failed: %s\n", argv[0].c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 240;
    int reps = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(a);
    }

    std::filesystem::path tmp;
    if (files.empty()) {
        tmp = std::filesystem::temp_directory_path() / ("decode_bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(tmp);
        const auto wav = (tmp / "source.wav").string();
        const auto flac = (tmp / "source.flac").string();
        const auto mp3 = (tmp / "source.mp3").string();
        std::printf("making %d s of test audio in %s\n", seconds, tmp.c_str());
        if (!Make(bwmedia::MusicLikeCommand(wav, seconds, 440, {"-fflags", "+bitexact", "-c:a", "pcm_s16le"})) ||
            !Make({"flac", "-s", "-f", "-o", flac, wav}) ||
            !Make({"lame", "--quiet", "-V", "2", wav, mp3}))
            return 1;
        files = {flac, mp3};
    }

    std::printf("%-28s %12s %12s %12s %12s %8s\n", "file", "binding best", "median",
                "ffmpeg best", "median", "ratio");
    int status = 0;
    for (const auto& f : files) {
        int64_t ours = 0;
        int64_t theirs = 0;
        const TTimes b = Measure(reps, ours, [&] { return DecodeWithBinding(f); });
        const TTimes r = Measure(reps, theirs, [&] {
            return RunDrained({"ffmpeg", "-nostdin", "-v", "error", "-i", f, "-f", "s16le", "-"});
        });
        std::printf("%-28s %11.3fs %11.3fs %11.3fs %11.3fs %8.2f\n",
                    std::filesystem::path(f).filename().c_str(), b.Best, b.Median, r.Best,
                    r.Median, b.Best / r.Best);
        if (ours != theirs) {
            std::printf("  output differs in size: binding %lld bytes, ffmpeg %lld bytes\n",
                        static_cast<long long>(ours), static_cast<long long>(theirs));
            status = 1;
        }
    }
    if (!tmp.empty())
        std::filesystem::remove_all(tmp);
    return status;
}
