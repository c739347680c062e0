#include "app/cddbform.h"

#include "app/aboutbox.h"
#include "cd/cddb.h"
#include "cd/cddrives.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace bw {

TCDDBForm::TCDDBForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CDDBForm"));
    setWindowTitle(QStringLiteral("Connecting to freedb..."));
    setFixedSize(376, 117);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("ProgressBar1"));
    bar_->setGeometry(8, 16, 361, 16);
    bar_->setTextVisible(false);
    memo_ = new QPlainTextEdit(this);
    memo_->setObjectName(QStringLiteral("Memo1"));
    memo_->setGeometry(8, 40, 361, 41);
    memo_->setReadOnly(true);
    memo_->setBackgroundRole(QPalette::Window);
    auto* logo = new QLabel(this);
    logo->setGeometry(8, 88, 99, 26);
    logo->setPixmap(ProgramIcon().pixmap(26, 26));
    auto* stop = new QPushButton(QStringLiteral("Stop"), this);
    stop->setObjectName(QStringLiteral("ButtonStop"));
    stop->setGeometry(296, 88, 75, 25);
    stop->setDefault(true);
    connect(stop, &QPushButton::clicked, this, [this] {
        if (lookup_)
            lookup_->Stop();
    });
}

TCDDBForm::~TCDDBForm() = default;

void TCDDBForm::AddNote(const std::string& line) { memo_->appendPlainText(QString::fromStdString(line)); }

TLookupEnd TCDDBForm::LookUp(TCddb& cddb, TCdDriveList& drives, int drive,
                             const TAppSettings& settings) {
    drives.Release(drive);
    cddb.ReadDiscToc(drive);
    SetUpCddb(cddb, settings);
    lookup_ = std::make_unique<TDiscLookup>(cddb);
    lookup_->OnStatus = [this](const std::string& line) {
        memo_->appendPlainText(QString::fromStdString(line));
    };
    lookup_->OnProgress = [this](int position, int maximum) {
        bar_->setMaximum(maximum);
        bar_->setValue(std::min(position, maximum));
    };
    lookup_->OnFinished = [this](TLookupEnd end) {
        end_ = end;
        if (end == TLookupEnd::Stopped)
            reject();
        else
            accept();
    };
    bar_->setRange(0, std::max(1, settings.Timeout));
    bar_->setValue(0);
    end_ = TLookupEnd::Ended;
    // The query goes out once the window is up, so its first status line shows in it.
    QTimer::singleShot(0, this, [this, timeout = settings.Timeout] { lookup_->Start(timeout); });
    exec();
    if (lookup_->Running())
        lookup_->Stop();
    lookup_.reset();
    return end_;
}

} // namespace bw
