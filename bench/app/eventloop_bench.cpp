// How long a GUI conversion keeps the event loop from running: the longest gap between two
// ticks of a 10 ms timer while a minute of audio is converted to MP3 from the main window.
// Usage: eventloop_bench [SECONDS_OF_AUDIO]

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/progress.h"
#include "core/dialogs.h"
#include "shell/settingsstore.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
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
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=" + std::to_string(seconds) +
                             " -ac 2 '" + wav.toStdString() + "'";
    if (std::system(make.c_str()) != 0)
        return 1;
    TAutoDialogs dialogs;
    bw::TSettingsStore store(dir.filePath(QStringLiteral("bw.conf")));
    bw::TForm1 form(dialogs, store, {}, "bench");
    form.show();
    form.AppSettings().OutputFolder = dir.path().toStdString() + "/";
    form.AppSettings().PlaySoundOp = false;
    form.AppSettings().OpenFolderOp = false;
    if (!form.AddFileToList(wav))
        return 1;

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
    std::printf("converted %d s of audio to MP3 in %.2f s; %d timer ticks; longest gap %lld ms (aim: under 100 ms); status %s\n",
                seconds, total, ticks, static_cast<long long>(longest),
                form.JobList().Status(0).toStdString().c_str());
    return form.JobList().Status(0) == QLatin1String("Done") ? 0 : 1;
}
