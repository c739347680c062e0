// Listing many stored presets: `brindlewave-cli presets` over a settings file of N presets
// and over one of a tenth as many. Reading the presets must grow with their count, not with
// its square: the listing of 20,000 stays under a second, and ten times the presets take
// about ten times as long.
//
//   presets_bench [--presets N] [--rounds R]

#include "encoders/encoderoptions.h"
#include "support/benchprocess.h"
#include "support/mediamake.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace bwbench;
namespace fs = std::filesystem;

namespace {

constexpr double kBudgetSeconds = 1.0;

// The user's settings file under configHome as the program finds it, holding count presets
// with every value.
bool WriteStore(const fs::path& configHome, int count) {
    fs::create_directories(configHome / "Halvorix");
    std::ofstream out(configHome / "Halvorix" / "Brindlewave.conf", std::ios::trunc);
    out << "[General]\nQualityTotal=" << count << "\nQualityItem=0\n";
    const std::vector<std::string> names = bw::EncoderOptionNames();
    for (int i = 0; i < count; ++i) {
        out << "\n[QualityItem_" << i << "]\nName=Preset " << i << "\n";
        for (size_t v = 0; v < names.size(); ++v)
            out << names[v] << "=" << (i + static_cast<int>(v)) % 2 << "\n";
    }
    return static_cast<bool>(out.flush());
}

// The lines the listing prints, or -1 when it fails.
int ListedLines(const std::string& configHome) {
    const std::string command = "XDG_CONFIG_HOME='" + configHome + "' '" + std::string(bwmedia::CliProgram()) + "' presets";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    int lines = 0;
    for (int c; (c = std::fgetc(pipe)) != EOF;)
        lines += c == '\n' ? 1 : 0;
    return ::pclose(pipe) == 0 ? lines : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    int presets = 20000, rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--presets" && i + 1 < argc)
            presets = std::max(10, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: presets_bench [--presets N] [--rounds R]\n");
            return 2;
        }
    }
    const TBenchFolder folder("bw-presets-bench");
    const fs::path small = folder.Path() / "small";
    const fs::path large = folder.Path() / "large";
    if (folder.Path().empty() || !WriteStore(small, presets / 10) || !WriteStore(large, presets)) {
        std::fprintf(stderr, "presets_bench: cannot write the settings files\n");
        return 1;
    }
    for (const auto& [home, count] : {std::pair{small, presets / 10}, std::pair{large, presets}}) {
        if (const int lines = ListedLines(home.string()); lines != count) {
            std::fprintf(stderr, "presets_bench: %d presets listed as %d lines\n", count, lines);
            return 1;
        }
    }
    const auto list = [](const fs::path& home) {
        ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
        return Time({}, {bwmedia::CliProgram(), "presets"});
    };
    std::vector<TCost> smallTimes, largeTimes;
    if (!TimeInTurns(rounds, [&] { return list(small); }, [&] { return list(large); }, smallTimes,
                     largeTimes)) {
        std::fprintf(stderr, "presets_bench: the listing failed\n");
        return 1;
    }
    const TCost best = Best(largeTimes);
    const double seconds = best.Wall;
    std::printf("%d presets: %.3f s wall, %.3f s processor (budget %.1f s wall); %d presets: %.3f s wall; "
                "ratio %.1f for 10x the presets\n",
                presets, seconds, best.Cpu, kBudgetSeconds, presets / 10, Best(smallTimes).Wall,
                MedianRatio(largeTimes, smallTimes));
    return seconds < kBudgetSeconds ? 0 : 1;
}
