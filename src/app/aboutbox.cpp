#include "app/aboutbox.h"

#include "common/buildinfo.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

extern "C" {
#include <libavformat/avformat.h>
}

// The windows' resources are compiled into a static library, and a linker keeps an object
// of a static library only when something refers to it: this call is that reference. It
// stands outside any namespace, as the function it names does.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace bw {

QIcon ProgramIcon() {
    static const bool loaded = (InitResources(), true);
    (void)loaded;
    return QIcon(QStringLiteral(":/brindlewave.svg"));
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(ProgramIcon().pixmap(64, 64));
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("AboutText"));
    text->setAlignment(Qt::AlignHCenter);
    text->setText(QStringLiteral("<h2>%1</h2><p>Version %2</p>"
                                 "<p>Audio converter and CD ripper</p>"
                                 "<p>Copyright &copy; Halvorix</p>"
                                 "<p><small>Decoding by FFmpeg (libavformat %3), Qt %4</small></p>")
                      .arg(QString::fromLatin1(kProgramName), QString::fromLatin1(kVersion),
                           QString::fromLatin1(AV_STRINGIFY(LIBAVFORMAT_VERSION)),
                           QString::fromLatin1(qVersion())));
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}

} // namespace bw
