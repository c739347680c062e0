#include "app/fileinfo.h"

#include "shell/joblist.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QUrl>
#include <QVBoxLayout>

namespace bw {

namespace {

constexpr const char* kFileManager = "org.freedesktop.FileManager1";

bool AskFileManager(const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kFileManager)).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kFileManager), QStringLiteral("/org/freedesktop/FileManager1"),
        QString::fromLatin1(kFileManager), QStringLiteral("ShowItemProperties"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Not waited for: the file manager opens its window in its own time.
    return bus.send(call);
}

} // namespace

void ShowFileProperties(const TmyMusicFile& item, QWidget* parent) {
    const QString path = QString::fromStdString(item.SourcePath);
    if (AskFileManager(path))
        return;
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("FileInfoDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" Properties"));
    auto* layout = new QVBoxLayout(dialog);
    auto* form = new QFormLayout;
    const QFileInfo info(path);
    const auto texts = JobRowTexts(item, "");
    auto add = [&](const char* label, const QString& value) {
        auto* v = new QLabel(value, dialog);
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QString::fromLatin1(label), v);
    };
    add("Name:", info.fileName());
    add("Folder:", info.absolutePath());
    add("Type:", QString::fromStdString(item.TypeName));
    add("Size:", QLocale().formattedDataSize(info.size()) + QStringLiteral(" (%1 bytes)").arg(info.size()));
    add("Modified:", QLocale().toString(info.lastModified(), QLocale::LongFormat));
    add("Length:", QString::fromStdString(texts[6]));
    add("Sample rate:", QString::fromStdString(texts[4]));
    add("Bit rate:", QString::fromStdString(texts[5]));
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    dialog->show();
}

} // namespace bw
