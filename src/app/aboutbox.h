#pragma once

#include <QDialog>

namespace bw {

// The About window: program name, version and the libraries it stands on.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

} // namespace bw
