// Compression ratio and speed of the Monkey's Audio writer at each level, next to flac -5 and
// flac -8, on the same WAV files, in one run.
//
//   ape_bench [--24] [FILE.wav ...]
//   ape_bench --threads
//
// Without files it makes three 16-bit (with --24: 24-bit) stereo 44100 Hz test files with
// FFmpeg (tones with noise, a chord with a slow tremolo, brown noise). Speed is "times real
// time" over processor time (user + system), so a machine busy with other work does not
// distort it; wall-clock time is shown beside it.
//
// With --threads it makes one 10-minute file and compresses it at level 2000 on one thread
// and on every core, in turns, three rounds: the wall-clock time on two cores should be at
// most 0.6 of one thread's, and the processor time should stay about the same.

#include "pipeline/acs_mac.h"
#include "pipeline/acs_wave.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct TCost {
    double Cpu = 0;
    double Wall = 0;
    bool Ok = false;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double ProcessCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

// Runs a tool and answers its processor time.
TCost RunTool(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    TCost cost;
    if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&fa);
        return cost;
    }
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    cost.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.Cpu = Seconds(u.ru_utime) + Seconds(u.ru_stime);
    cost.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

TCost RunApe(const std::string& in, const std::string& out, int level, int threads = 1) {
    bw::TWaveIn wave;
    wave.SetFileName(in);
    bw::TMACOut mac;
    mac.SetInput(&wave);
    mac.SetFileName(out);
    mac.SetCompressionLevel(level);
    mac.SetThreads(threads);
    const double cpu0 = ProcessCpu();
    const auto start = std::chrono::steady_clock::now();
    mac.StartOutput();
    while (mac.Busy())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    TCost cost;
    cost.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.Cpu = ProcessCpu() - cpu0;
    cost.Ok = mac.LastError().empty();
    if (!cost.Ok)
        std::fprintf(stderr, "%s: %s\n", in.c_str(), mac.LastError().c_str());
    return cost;
}

double AudioSeconds(const std::string& wav) {
    bw::TWaveIn in;
    in.SetFileName(wav);
    in.OpenInput();
    const double bytesPerSecond = in.SamplesPerSecond() * in.ChannelCount() * in.BitsPerSample() / 8.0;
    const double s = static_cast<double>(in.Size()) / bytesPerSecond;
    in.CloseInput();
    return s;
}

} // namespace

int Threads(const std::filesystem::path& dir) {
    const std::string wav = (dir / "ten.wav").string();
    const TCost made = RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                "sine=f=440:d=600,volume=0.5[a];anoisesrc=c=pink:d=600:a=0.05:seed=1[b];"
                                "[a][b]amix=2,aformat=channel_layouts=stereo,aresample=44100",
                                "-c:a", "pcm_s16le", wav});
    if (!made.Ok) {
        std::fprintf(stderr, "ape_bench: ffmpeg could not make %s\n", wav.c_str());
        return 1;
    }
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const std::string out = (dir / "ten.ape").string();
    double wall1 = 1e30, wallN = 1e30, cpu1 = 1e30, cpuN = 1e30;
    for (int round = 0; round < 3; ++round) {
        for (const int threads : round % 2 ? std::vector{cores, 1} : std::vector{1, cores}) {
            const TCost c = RunApe(wav, out, 2000, threads);
            if (!c.Ok)
                return 1;
            (threads == 1 ? wall1 : wallN) = std::min(threads == 1 ? wall1 : wallN, c.Wall);
            (threads == 1 ? cpu1 : cpuN) = std::min(threads == 1 ? cpu1 : cpuN, c.Cpu);
        }
    }
    const double ratio = wallN / wall1;
    std::printf("10 min at level 2000, best of 3: 1 thread %.2f s wall %.2f s cpu; %d threads %.2f s wall "
                "%.2f s cpu\nwall %d/1 threads: %.2fx (bar 0.60x) %s\n",
                wall1, cpu1, cores, wallN, cpuN, cores, ratio, ratio <= 0.6 ? "ok" : "OVER");
    return ratio <= 0.6 ? 0 : 1;
}

int main(int argc, char** argv) {
    const auto dir = std::filesystem::temp_directory_path() / ("ape_bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    if (argc == 2 && std::string(argv[1]) == "--threads") {
        const int r = Threads(dir);
        std::filesystem::remove_all(dir);
        return r;
    }
    std::vector<std::string> files(argv + 1, argv + argc);
    const bool deep = !files.empty() && files.front() == "--24";
    if (deep)
        files.erase(files.begin());
    if (files.empty()) {
        const char* sources[] = {
            "sine=f=440:d=40,volume=0.5[a];anoisesrc=c=pink:d=40:a=0.05:seed=1[b];[a][b]amix=2,aformat=channel_layouts=stereo",
            "sine=f=261.6:d=40[a];sine=f=329.6:d=40[b];sine=f=392:d=40[c];[a][b][c]amix=3,tremolo=f=0.5:d=0.4,aformat=channel_layouts=stereo",
            "anoisesrc=c=brown:d=40:a=0.5:seed=2,aformat=channel_layouts=stereo",
        };
        int i = 0;
        for (const char* s : sources) {
            const std::string path = (dir / ("test" + std::to_string(++i) + ".wav")).string();
            const TCost c = RunTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     std::string(s) + ",aresample=44100", "-c:a",
                                     deep ? "pcm_s24le" : "pcm_s16le", path});
            if (!c.Ok) {
                std::fprintf(stderr, "ape_bench: ffmpeg could not make %s\n", path.c_str());
                return 1;
            }
            files.push_back(path);
        }
    }
    double audio = 0, wavBytes = 0;
    for (const auto& f : files) {
        audio += AudioSeconds(f);
        wavBytes += static_cast<double>(std::filesystem::file_size(f));
    }
    std::printf("%zu files, %.1f s of audio, %.1f MB of WAV\n", files.size(), audio, wavBytes / 1e6);
    std::printf("%-16s %10s %14s %14s\n", "encoder", "ratio %", "x real time", "(wall clock)");

    auto report = [&](const std::string& name, auto&& encode, const std::string& ext) {
        double cpu = 0, wall = 0, bytes = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string out = (dir / ("out" + std::to_string(i) + ext)).string();
            const TCost c = encode(files[i], out);
            if (!c.Ok) {
                std::printf("%-16s failed\n", name.c_str());
                return;
            }
            cpu += c.Cpu;
            wall += c.Wall;
            bytes += static_cast<double>(std::filesystem::file_size(out));
        }
        std::printf("%-16s %10.2f %14.1f %14.1f\n", name.c_str(), 100.0 * bytes / wavBytes,
                    audio / cpu, audio / wall);
    };
    for (int level : {1000, 2000, 3000, 4000})
        report("ape " + std::to_string(level),
               [&](const std::string& in, const std::string& out) { return RunApe(in, out, level); },
               ".ape");
    for (const char* preset : {"-5", "-8"})
        report(std::string("flac ") + preset,
               [&](const std::string& in, const std::string& out) {
                   return RunTool({"flac", "-s", "-f", preset, in, "-o", out});
               },
               ".flac");
    std::filesystem::remove_all(dir);
    return 0;
}
