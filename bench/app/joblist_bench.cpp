// Adding files through the job list against the probe alone, on the same 2,000 files: what
// the list (rows, texts, the live window) costs on top of reading the files.
// Usage: joblist_bench [FILES]

#include "app/joblistview.h"
#include "shell/probe.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const fs::path dir = fs::temp_directory_path() / ("bw-list-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string mp3 = (dir / "src.mp3").string();
    if (std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=5 -ac 2 -metadata title=T -metadata artist=A " + mp3).c_str()) != 0)
        return 1;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const fs::path p = dir / (std::to_string(i) + ".mp3");
        fs::copy_file(mp3, p);
        paths << QString::fromStdString(p.string());
        std::ifstream(p, std::ios::binary).ignore(1 << 30);
    }
    using Clock = std::chrono::steady_clock;
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 5; ++round) {
        bw::TFileProbe probe;
        auto t0 = Clock::now();
        int accepted = 0;
        for (const QString& p : paths)
            accepted += probe.Probe(p.toStdString()).Accepted;
        const double probeOnly = std::chrono::duration<double>(Clock::now() - t0).count();

        bw::TJobListView list;
        list.resize(900, 400);
        list.show();
        t0 = Clock::now();
        const int added = list.AddFiles(paths);
        const double throughList = std::chrono::duration<double>(Clock::now() - t0).count();
        if (accepted != count || added != count) {
            std::fprintf(stderr, "files refused: %d probed, %d added of %d\n", accepted, added, count);
            return 1;
        }
        best[0] = std::min(best[0], probeOnly);
        best[1] = std::min(best[1], throughList);
    }
    std::printf("%d files: probe alone %.3f s, through the job list %.3f s, ratio %.2f (aim: at most 1.25)\n",
                count, best[0], best[1], best[1] / best[0]);
    fs::remove_all(dir);
    return 0;
}
