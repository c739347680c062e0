// Writes the documentation's screenshots: the main window with the given files in its list,
// and each tab of the settings dialog. Run under a real X server (scripts/screenshots.sh).
// Usage: bw_screenshots OUTDIR FILE...

#include "app/joblistview.h"
#include "app/mainunit.h"
#include "app/messageboxes.h"
#include "app/settings1.h"
#include "app/tagform.h"
#include "shell/settingsstore.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QStringList files;
    for (int i = 2; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    QTemporaryDir config;
    bw::TMessageBoxes dialogs;
    bw::TSettingsStore store(config.filePath(QStringLiteral("bw.conf")));
    bw::TForm1 form(dialogs, store, files, "brindlewave");
    form.show();
    QTest::qWait(1200);
    // One row selected, as a user would have it: the shot shows how a selection reads.
    auto& list = form.JobList();
    if (list.RowCount() > 2)
        list.setCurrentItem(list.topLevelItem(2));
    QTest::qWait(200);
    if (!form.grab().save(out + QStringLiteral("/main-window-files.png")))
        return 1;
    // The player playing the selected row, the bar a little way in.
    if (list.RowCount() > 2) {
        list.topLevelItem(2)->setSelected(true);
        form.Action("ActionPlay")->trigger();
        QTest::qWait(2600);
        if (!form.grab().save(out + QStringLiteral("/player-playing.png")))
            return 1;
        form.Action("ActionStop")->trigger();
        // The tag editor for that row, shown as Ctrl+T shows it.
        auto& tagForm = form.TagForm();
        tagForm.Fill(*list.ItemAt(2));
        tagForm.show();
        QTest::qWait(400);
        if (!tagForm.grab().save(out + QStringLiteral("/tag-editor.png")))
            return 1;
        tagForm.hide();
    }
    auto& settings = form.SettingsDialog();
    settings.LoadFrom(form.AppSettings());
    settings.show();
    auto* tabs = settings.findChild<QTabWidget*>(QStringLiteral("SettingsTabs"));
    const char* names[] = {"settings-general.png", "settings-freedb.png", "settings-renaming.png"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QTest::qWait(300);
        if (!settings.grab().save(out + QLatin1Char('/') + QString::fromLatin1(names[i])))
            return 1;
    }
    return 0;
}
