// Probe throughput: files per second read by Brindlewave's probe and by TagLib (duration,
// bit rate and tags) over the same folder of 1,000 files per format.
// Usage: probe_bench [FILES_PER_FORMAT]

#include "shell/probe.h"
#include "support/mediamake.h"

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Sh(const std::string& cmd) { return std::system(cmd.c_str()); }

template <class F> double Seconds(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const fs::path dir = fs::temp_directory_path() / ("bw-probe-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string wav = (dir / "src.wav").string();
    if (bwmedia::Run(bwmedia::ToneCommand(wav, 20)).ExitCode != 0)
        return 1;
    const std::string tags = "-metadata title=Title -metadata artist=Artist -metadata album=Album ";
    struct Format {
        const char* ext;
        std::string make; // writes OUT
    };
    const std::vector<Format> formats{
        {"mp3", "lame --quiet --tt Title --ta Artist --tl Album " + wav + " OUT"},
        {"ogg", "oggenc -Q -t Title -a Artist -l Album " + wav + " -o OUT"},
        {"flac", "flac -s -f -T TITLE=Title -T ARTIST=Artist " + wav + " -o OUT"},
        {"wav", "cp " + wav + " OUT"},
        {"wma", "ffmpeg -nostdin -v error -y -i " + wav + " " + tags + "OUT"},
        {"wv", "wavpack -q -y " + wav + " -o OUT"},
        {"mpc", "mpcenc --silent --overwrite --title Title --artist Artist " + wav + " OUT"},
        {"ape", std::string(bwmedia::BuildProgram("bench/pipeline/ape_compress")) + " " + wav + " OUT 2000 >/dev/null"},
    };
    std::printf("%-6s %14s %14s %8s\n", "format", "probe files/s", "TagLib files/s", "ratio");
    for (const auto& f : formats) {
        const fs::path sub = dir / f.ext;
        fs::create_directories(sub);
        const std::string first = (sub / (std::string("0.") + f.ext)).string();
        std::string cmd = f.make;
        cmd.replace(cmd.find("OUT"), 3, first);
        if (Sh(cmd) != 0)
            return 1;
        std::vector<std::string> files{first};
        for (int i = 1; i < count; ++i) {
            const std::string p = (sub / (std::to_string(i) + "." + f.ext)).string();
            fs::copy_file(first, p, fs::copy_options::overwrite_existing);
            files.push_back(p);
        }
        // Warm the page cache so both readers see the same conditions.
        for (const auto& p : files)
            std::ifstream(p, std::ios::binary).ignore(1 << 30);

        bw::TFileProbe probe;
        long sink = 0;
        const double ours = Seconds([&] {
            for (const auto& p : files) {
                const auto r = probe.Probe(p);
                sink += r.Item.DurationMs + r.Item.Bitrate + static_cast<long>(r.Item.Title.size());
            }
        });
        const double theirs = Seconds([&] {
            for (const auto& p : files) {
                TagLib::FileRef ref(p.c_str(), true, TagLib::AudioProperties::Average);
                if (ref.isNull())
                    continue;
                if (auto* ap = ref.audioProperties())
                    sink += ap->lengthInMilliseconds() + ap->bitrate();
                if (auto* t = ref.tag())
                    sink += static_cast<long>(t->title().size() + t->artist().size() + t->album().size() +
                                              t->genre().size()) + t->year() + t->track();
            }
        });
        std::printf("%-6s %14.0f %14.0f %8.2f\n", f.ext, count / ours, count / theirs, theirs / ours);
        if (sink == 42)
            std::puts("");
    }
    std::puts("ratio: TagLib's time over the probe's (above 1: the probe is faster)");
    fs::remove_all(dir);
    return 0;
}
