// How long a GUI conversion keeps the event loop from running: the longest gap between two
// ticks of a 10 ms timer while files of a minute of audio each are converted to MP3 from the
// main window, several at once.
// Usage: eventloop_bench [SECONDS_OF_AUDIO [FILES [LANES]]] (default 60 s, 4 files, 2 lanes)

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "core/dialogs.h"
#include "shell/settingsstore.h"
#include "support/mediamake.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Answers every question with its first button.
class TAutoDialogs final : public bw::TDialogs {
public:
    void Show(bw::TMessageKind, const std::string&, const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    bw::TAnswer Ask(bw::TMessageKind, const std::string&, const std::string&,
                    const std::vector<bw::TAnswer>& buttons) override {
        return buttons.empty() ? bw::TAnswer::Ok : buttons.front();
    }
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int files = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    const int lanes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    if (bwmedia::Run(bwmedia::ToneCommand(wav.toStdString(), seconds)).ExitCode != 0)
        return 1;
    TAutoDialogs dialogs;
    bw::TSettingsStore store(dir.filePath(QStringLiteral("bw.conf")));
    bw::TForm1 form(dialogs, store, {}, "bench");
    form.show();
    form.AppSettings().OutputFolder = dir.path().toStdString() + "/";
    form.AppSettings().PlaySoundOp = false;
    form.AppSettings().OpenFolderOp = false;
    form.AppSettings().ParallelJobs = lanes;
    for (int k = 0; k < files; ++k) {
        const QString copy = dir.filePath(QStringLiteral("source%1.wav").arg(k));
        if (!QFile::copy(wav, copy) || !form.AddFileToList(copy))
            return 1;
    }

    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    int ticks = 0;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0 && form.ProgressWindow().isVisible())
            longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    // The result window ends the run: close it as a user would.
    QTimer closer;
    closer.setInterval(50);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (form.ResultWindow().isVisible())
            form.ResultWindow().accept();
    });
    clock.start();
    tick.start();
    closer.start();
    form.Action("ActionConvert")->trigger();
    const double total = clock.elapsed() / 1000.0;
    int done = 0;
    for (int k = 0; k < files; ++k)
        done += form.JobList().Status(k) == QLatin1String("Done") ? 1 : 0;
    std::printf("converted %d files of %d s to MP3 with %d lanes in %.2f s; %d timer ticks; longest gap %lld ms "
                "(aim: under 100 ms); %d of %d Done\n",
                files, seconds, lanes, total, ticks, static_cast<long long>(longest), done, files);
    return done == files ? 0 : 1;
}
