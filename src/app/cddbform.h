#pragma once

#include "shell/disclookup.h"

#include <QDialog>

#include <memory>

class QPlainTextEdit;
class QProgressBar;

namespace bw {

class TCdDriveList;
class TCddb;

// The disc lookup window: "Connecting to freedb...", a bar counting the seconds, the status
// lines of every lookup since the program started, and Stop. It only shows the lookup,
// which TDiscLookup runs.
class TCDDBForm : public QDialog {
public:
    explicit TCDDBForm(QWidget* parent = nullptr);
    ~TCDDBForm() override;

    // Looks the disc in a drive up (the drive is freed, its table of contents read, the
    // client pointed at the settings' server) while the window is shown modally; returns
    // when the lookup ends, the deadline passes or Stop is pressed.
    // A line for the window's text box, shown with the next lookup's status lines.
    void AddNote(const std::string& line);
    TLookupEnd LookUp(TCddb& cddb, TCdDriveList& drives, int drive, const TAppSettings& settings);

private:
    QProgressBar* bar_;
    QPlainTextEdit* memo_;
    std::unique_ptr<TDiscLookup> lookup_;
    TLookupEnd end_ = TLookupEnd::Ended;
};

} // namespace bw
