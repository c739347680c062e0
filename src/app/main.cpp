#include "app/mainunit.h"
#include "app/messageboxes.h"
#include "common/stopsignals.h"
#include "shell/settingsstore.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // A stop signal ends the program within moments, even when a call that never returns
    // holds the window's thread.
    const bw::TStopDeadline deadline;
    QApplication app(argc, argv);
    bw::SetApplicationIdentity();

    // Every argument is a file for the job list.
    QStringList files = QApplication::arguments();
    files.removeFirst();

    bw::TMessageBoxes dialogs;
    bw::TSettingsStore store;
    bw::TForm1 form(dialogs, store, files, QApplication::applicationFilePath().toStdString());
    if (!form.StartupOk())
        return 1;
    dialogs.SetParent(&form);
    form.show();
    return QApplication::exec();
}
