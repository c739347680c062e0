// Adding files through the job list against the probe alone, on the same 2,000 files: what
// the list (rows, texts, the live window) costs on top of reading the files. With --tree the
// files (5,000 by default) lie in Artist/Album folders of 100 with a cover picture each, and
// are added as Add Folder with sub-folders adds them: the folder walk counts as the list's.
// Usage: joblist_bench [FILES] [--tree]

#include "app/joblistview.h"
#include "shell/folderscan.h"
#include "shell/probe.h"
#include "support/mediamake.h"

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
    bool tree = false;
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--tree")
            tree = true;
        else
            count = std::atoi(argv[i]);
    }
    if (count <= 0)
        count = tree ? 5000 : 2000;
    const fs::path dir = fs::temp_directory_path() / ("bw-list-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string mp3 = (dir / "src.mp3").string();
    if (bwmedia::Run(bwmedia::ToneCommand(mp3, 5, 44100, 2, {"-metadata", "title=T", "-metadata", "artist=A"})).ExitCode != 0)
        return 1;
    QStringList paths;
    const fs::path root = dir / "Music";
    for (int i = 0; i < count; ++i) {
        fs::path folder = dir;
        if (tree) {
            folder = root / ("Artist " + std::to_string(i / 1000)) / ("Album " + std::to_string(i / 100));
            if (i % 100 == 0) {
                fs::create_directories(folder);
                std::ofstream(folder / "cover.jpg") << std::string(20000, 'c');
            }
        }
        char name[16];
        std::snprintf(name, sizeof name, "%05d.mp3", i);
        const fs::path p = folder / name;
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
        const int added = tree ? list.AddFiles(bw::ListFolderTree(root.string())) : list.AddFiles(paths);
        const double throughList = std::chrono::duration<double>(Clock::now() - t0).count();
        if (accepted != count || added != count) {
            std::fprintf(stderr, "files refused: %d probed, %d added of %d\n", accepted, added, count);
            return 1;
        }
        best[0] = std::min(best[0], probeOnly);
        best[1] = std::min(best[1], throughList);
    }
    std::printf("%d files%s: probe alone %.3f s, through the job list %.3f s, ratio %.2f (aim: at most 1.25)\n",
                count, tree ? " in a folder tree, added with its sub-folders" : "", best[0], best[1],
                best[1] / best[0]);
    if (tree) {
        // The command-line tool's probe of the same tree, as a user would run it.
        double cli = 1e9;
        const std::string command = std::string(bwmedia::CliProgram()) + " probe --recursive '" + root.string() + "' > /dev/null";
        for (int round = 0; round < 5; ++round) {
            const auto t0 = Clock::now();
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "brindlewave-cli probe failed\n");
                return 1;
            }
            cli = std::min(cli, std::chrono::duration<double>(Clock::now() - t0).count());
        }
        std::printf("brindlewave-cli probe --recursive of the tree %.3f s; the job list against it %.2f\n", cli,
                    best[1] / cli);
    }
    fs::remove_all(dir);
    return 0;
}
