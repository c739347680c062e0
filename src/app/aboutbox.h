#pragma once

#include <QDialog>
#include <QIcon>

namespace bw {

// The program's icon: the window icon and the picture of the About, result and settings
// windows.
QIcon ProgramIcon();

// The About window: program name, version and the libraries it stands on.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

} // namespace bw
