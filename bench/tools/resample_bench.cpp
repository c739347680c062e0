// The resampler program against SoX, the WAV and WMA targets against FFmpeg, and the
// Monkey's Audio target against our compressor alone.
//
//   resample_bench [--seconds N] [--reps N] [speed] [snr] [wav] [wma] [ape]
//
// Makes an N-second (default 600) 44.1 kHz 16-bit stereo WAV file of tones and noise and the
// same audio as FLAC in a temporary folder, then measures (default: all four parts):
//   speed  brindlewave-resample --rate 48000 --bits 16 in.wav out.wav
//          against sox in.wav -r 48000 out.wav rate -v; time ratio, bar 1.25
//   snr    a 10 s 1 kHz sine at -1 dBFS through 44100->48000 and 44100->22050, ours and
//          SoX's (the same command as above): the signal-to-noise ratio of the sine fitted
//          by least squares, skipping the first and last half second; bar: ours no more
//          than 1 dB below SoX's. SoX dithers by default; its figure without dither (-D) is
//          shown beside it for the filter alone.
//   wav    brindlewave-cli convert --to wav --set WAVSamplerate=0 (48 kHz) against
//          ffmpeg -i in.flac -af aresample=48000:resampler=soxr:precision=28; bar 1.5
//   wma    brindlewave-cli convert --to wma --set WMABitrate=4 (128 kbps) against
//          ffmpeg -i in.flac -c:a wmav2 -b:a 128k; bar 1.5
//   ape    brindlewave-cli convert --to ape (level 2000) against ape_compress on the ready
//          WAV file (the floor): decoding into temp.wav and the rest may add at most 15%
// Ours and the reference are timed in turns, each round starting with the other one, and a
// time verdict comes from the median over the rounds of each round's own ratio: this
// machine's speed drifts by a tenth and more over minutes, and two times taken next to each
// other share most of that drift. Each part prints one verdict line. A command that fails
// stops the bench with its error and status 1; a missed bar gives status 3.

#include "support/mediamake.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;
using TArgv = std::vector<std::string>;

constexpr double kSpeedBar = 1.25;
constexpr double kSnrMargin = 1.0;
constexpr double kTargetBar = 1.5;
constexpr double kApeBar = 1.15;

fs::path gDir; // the temporary folder, removed at exit

void RemoveDir() {
    std::error_code ec;
    if (!gDir.empty())
        fs::remove_all(gDir, ec);
}

std::string Line(const TArgv& argv) {
    std::string s;
    for (const auto& a : argv)
        s += (s.empty() ? "" : " ") + a;
    return s;
}

// The last non-empty line of a file (a failed program's own words).
std::string LastLine(const fs::path& path) {
    std::ifstream f(path);
    std::string line, last;
    while (std::getline(f, line))
        if (!line.empty())
            last = line;
    return last;
}

[[noreturn]] void Stop(const TArgv& argv, const std::string& why) {
    std::printf("stopped: %s\n  command: %s\n", why.c_str(), Line(argv).c_str());
    std::fflush(stdout);
    RemoveDir();
    std::exit(1);
}

// Runs argv with standard output to /dev/null and standard error to a file; stops the bench
// when it cannot start or does not exit with status 0. Returns the wall-clock seconds.
double RunTimed(const TArgv& argv) {
    const fs::path err = gDir / "stderr.txt";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = TClock::now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        Stop(argv, std::string("cannot start it: ") + std::strerror(rc));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::chrono::duration<double> d = TClock::now() - start;
    if (!WIFEXITED(status))
        Stop(argv, "it was killed by signal " + std::to_string(WTERMSIG(status)));
    if (WEXITSTATUS(status) != 0)
        Stop(argv,
             "it exited with status " + std::to_string(WEXITSTATUS(status)) + ": " + LastLine(err));
    return d.count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Seconds of audio FFmpeg decodes from a file, stopping the bench when it is none: a
// command that "succeeded" without its output must not give a ratio.
double DecodedSeconds(const std::string& path, const TArgv& madeBy) {
    if (!fs::exists(path) || fs::file_size(path) == 0)
        Stop(madeBy, "it left no output at " + path);
    const std::string raw = (gDir / "decoded.raw").string();
    RunTimed({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-f", "s16le", "-ac", "1",
              "-ar", "48000", raw});
    const double seconds = static_cast<double>(fs::file_size(raw)) / 2 / 48000;
    fs::remove(raw);
    return seconds;
}

bool Verdict(const char* what, double value, const char* relation, double bar, bool pass) {
    std::printf("verdict: %-34s %8.3f %s %.3f  %s\n", what, value, relation, bar,
                pass ? "PASS" : "FAIL");
    return pass;
}

// Times ours and the reference in turns; prints the best times and the median ratio and
// returns whether the ratio stays within the bar. Each output is checked for its length once.
bool CompareTimes(const char* name, const TArgv& ours, const std::string& ourOutput,
                  const TArgv& reference, const std::string& refOutput, double inputSeconds,
                  int reps, double bar) {
    std::vector<double> a, b, ratios;
    for (int i = 0; i < reps; ++i) {
        const bool oursFirst = i % 2 == 0;
        const double t1 = RunTimed(oursFirst ? ours : reference);
        const double t2 = RunTimed(oursFirst ? reference : ours);
        a.push_back(oursFirst ? t1 : t2);
        b.push_back(oursFirst ? t2 : t1);
        ratios.push_back(a.back() / b.back());
        if (i == 0) {
            for (const auto& [path, by] :
                 {std::pair{ourOutput, ours}, std::pair{refOutput, reference}}) {
                const double s = DecodedSeconds(path, by);
                if (std::fabs(s - inputSeconds) > 0.1)
                    Stop(by, "its output holds " + std::to_string(s) + " s, not " +
                                 std::to_string(inputSeconds) + " s");
            }
        }
    }
    const double ratio = Median(ratios);
    std::printf("%-6s ours best %7.3f s, reference best %7.3f s, ratio per round:", name,
                *std::min_element(a.begin(), a.end()), *std::min_element(b.begin(), b.end()));
    for (const double r : ratios)
        std::printf(" %.3f", r);
    std::printf("\n");
    const std::string what = std::string(name) + " time ours/reference (median)";
    return Verdict(what.c_str(), ratio, "<=", bar, ratio <= bar);
}

std::vector<int16_t> ReadRaw(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// The signal-to-noise ratio in dB of a 1 kHz sine in a WAV file: the sine (with any phase
// and offset) fitted by least squares, the rest counted as noise; the first and last half
// second are left out, where the filters start and stop.
double SineSnr(const std::string& wav, int rate) {
    const std::string raw = (gDir / "snr.raw").string();
    RunTimed({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-f", "s16le", raw});
    const std::vector<int16_t> y = ReadRaw(raw);
    fs::remove(raw);
    const size_t from = rate / 2,
                 to = y.size() > static_cast<size_t>(rate) ? y.size() - rate / 2 : 0;
    if (to <= from)
        Stop({"ffmpeg", "-i", wav}, "too few samples decoded for the sine fit");
    // Normal equations of y = a sin + b cos + c.
    double m[3][3] = {}, v[3] = {};
    const double w = 2 * M_PI * 1000.0 / rate;
    for (size_t n = from; n < to; ++n) {
        const double basis[3] = {std::sin(w * n), std::cos(w * n), 1.0};
        for (int i = 0; i < 3; ++i) {
            v[i] += basis[i] * y[n];
            for (int j = 0; j < 3; ++j)
                m[i][j] += basis[i] * basis[j];
        }
    }
    // Gauss-Jordan on the 3x3 system (well conditioned: the basis is nearly orthogonal).
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k) {
            if (k == i)
                continue;
            const double f = m[k][i] / m[i][i];
            for (int j = 0; j < 3; ++j)
                m[k][j] -= f * m[i][j];
            v[k] -= f * v[i];
        }
    }
    const double a = v[0] / m[0][0], b = v[1] / m[1][1], c = v[2] / m[2][2];
    double signal = 0, noise = 0;
    for (size_t n = from; n < to; ++n) {
        const double fit = a * std::sin(w * n) + b * std::cos(w * n) + c;
        signal += fit * fit;
        noise += (y[n] - fit) * (y[n] - fit);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-9));
}

bool SnrPart(const std::string& resampler) {
    const std::string sine = (gDir / "sine.wav").string();
    RunTimed({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
              "aevalsrc=0.891251*sin(1000*2*PI*t):s=44100:d=10", "-c:a", "pcm_s16le", sine});
    std::printf("1 kHz sine at -1 dBFS, 10 s: source %.2f dB\n", SineSnr(sine, 44100));
    bool ok = true;
    for (const int rate : {48000, 22050}) {
        const std::string ours = (gDir / "sine-ours.wav").string();
        const std::string sox = (gDir / "sine-sox.wav").string();
        const std::string soxPlain = (gDir / "sine-sox-nodither.wav").string();
        RunTimed({resampler, "--rate", std::to_string(rate), "--bits", "16", sine, ours});
        RunTimed({"sox", sine, "-r", std::to_string(rate), sox, "rate", "-v"});
        RunTimed({"sox", "-D", sine, "-r", std::to_string(rate), soxPlain, "rate", "-v"});
        const double o = SineSnr(ours, rate), s = SineSnr(sox, rate), sd = SineSnr(soxPlain, rate);
        std::printf("snr    44100->%d: ours %.2f dB, sox %.2f dB (sox -D %.2f dB)\n", rate, o, s,
                    sd);
        const std::string what = "snr ours-sox dB, 44100->" + std::to_string(rate);
        ok &= Verdict(what.c_str(), o - s, ">=", -kSnrMargin, o - s >= -kSnrMargin);
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 600;
    int reps = 5;
    std::set<std::string> parts;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(2, std::atoi(argv[++i]));
        else if (a == "--reps" && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (a == "speed" || a == "snr" || a == "wav" || a == "wma" || a == "ape")
            parts.insert(a);
        else {
            std::fprintf(
                stderr,
                "usage: resample_bench [--seconds N] [--reps N] [speed] [snr] [wav] [wma] [ape]\n");
            return 2;
        }
    }
    if (parts.empty())
        parts = {"speed", "snr", "wav", "wma", "ape"};
    const bool all = parts.size() == 5;

    gDir = fs::temp_directory_path() / ("bw-resample-bench-" + std::to_string(getpid()));
    fs::create_directories(gDir / "run");
    const std::string wav = (gDir / "in.wav").string();
    const std::string flac = (gDir / "in.flac").string();
    // Music-like input: tones and noise, so the filters and encoders work as on real audio.
    RunTimed(bwmedia::MusicLikeCommand(wav, seconds, 440, {"-c:a", "pcm_s16le"}));
    if (parts.count("wav") || parts.count("wma") || parts.count("ape"))
        RunTimed({"flac", "-s", "-f", "-o", flac, wav});
    std::printf("%d s of 44.1 kHz 16-bit stereo, %d rounds\n", seconds, reps);

    bool ok = true;
    const std::string resampler = bwmedia::ResamplerProgram();
    if (parts.count("speed")) {
        const std::string ours = (gDir / "ours.wav").string(), sox = (gDir / "sox.wav").string();
        ok &= CompareTimes("speed", {resampler, "--rate", "48000", "--bits", "16", wav, ours}, ours,
                           {"sox", wav, "-r", "48000", sox, "rate", "-v"}, sox, seconds, reps,
                           kSpeedBar);
        fs::remove(ours);
        fs::remove(sox);
    }
    if (parts.count("snr"))
        ok &= SnrPart(resampler);
    const std::string run = (gDir / "run").string();
    if (parts.count("wav")) {
        const std::string ref = (gDir / "ref.wav").string();
        ok &= CompareTimes("wav",
                           {bwmedia::CliProgram(), "convert", "--to", "wav", "--set", "WAVSamplerate=0",
                            "--overwrite", "--out", run, flac},
                           run + "/in.wav",
                           {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", flac, "-af",
                            "aresample=48000:resampler=soxr:precision=28", ref},
                           ref, seconds, reps, kTargetBar);
    }
    if (parts.count("wma")) {
        const std::string ref = (gDir / "ref.wma").string();
        ok &= CompareTimes("wma",
                           {bwmedia::CliProgram(), "convert", "--to", "wma", "--set", "WMABitrate=4",
                            "--overwrite", "--out", run, flac},
                           run + "/in.wma",
                           {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", flac, "-c:a", "wmav2",
                            "-b:a", "128k", ref},
                           ref, seconds, reps, kTargetBar);
    }
    if (parts.count("ape")) {
        const std::string floor = (gDir / "floor.ape").string();
        ok &= CompareTimes("ape",
                           {bwmedia::CliProgram(), "convert", "--to", "ape", "--set", "APEMyTrackBar=2",
                            "--overwrite", "--out", run, flac},
                           run + "/in.ape", {bwmedia::BuildProgram("bench/pipeline/ape_compress"), wav, floor, "2000"}, floor, seconds,
                           reps, kApeBar);
    }
    std::printf("%s\n",
                ok ? (all ? "all bars met" : "the bars measured were met") : "a bar was missed");
    RemoveDir();
    return ok ? 0 : 3;
}
