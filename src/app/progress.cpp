#include "app/progress.h"

#include "app/aboutbox.h"
#include "app/joblistview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace bw {

TProgress::TProgress(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Progress"));
    setWindowTitle(QStringLiteral("Converting..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    from_ = new QLineEdit(this);
    from_->setObjectName(QStringLiteral("EditFrom"));
    from_->setReadOnly(true);
    to_ = new QLineEdit(this);
    to_->setObjectName(QStringLiteral("EditTo"));
    to_->setReadOnly(true);
    form->addRow(QStringLiteral("From :"), from_);
    form->addRow(QStringLiteral("To :"), to_);
    layout->addLayout(form);
    item_ = new QProgressBar(this);
    item_->setObjectName(QStringLiteral("GaugeItem"));
    total_ = new QProgressBar(this);
    total_->setObjectName(QStringLiteral("GaugeTotal"));
    layout->addWidget(item_);
    layout->addWidget(total_);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("ButtonCancel"));
    cancel_->setDefault(true);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, &TProgress::CancelClick);
    setFixedSize(520, sizeHint().height());
}

int TProgress::Execute(TConversionRun& run, TJobListView& list) {
    run_ = &run;
    list_ = &list;
    started_ = false;
    from_->clear();
    to_->clear();
    item_->setValue(0);
    total_->setValue(0);
    const int result = exec();
    run_ = nullptr;
    list_ = nullptr;
    return result;
}

void TProgress::CancelWithoutAsking() {
    if (run_)
        run_->SetCancelAll();
}

void TProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_ || !run_)
        return;
    started_ = true;
    // The run starts once the window is up, and the window closes when it has ended.
    QTimer::singleShot(0, this, [this] {
        run_->Run();
        accept();
    });
}

void TProgress::reject() { CancelClick(); }

void TProgress::CancelClick() {
    if (run_ && !run_->RunFinished())
        run_->AskCancel();
}

void TProgress::RowStatusChanged(size_t row, const std::string& status) {
    list_->SetStatus(static_cast<int>(row), QString::fromStdString(status));
}

void TProgress::RowUnchecked(size_t row) { list_->SetChecked(static_cast<int>(row), false); }

void TProgress::RowNoteChanged(size_t row, const std::string& note) {
    list_->SetNote(static_cast<int>(row), QString::fromStdString(note));
}

void TProgress::FromToChanged(const std::string& from, const std::string& to) {
    from_->setText(QString::fromStdString(from));
    to_->setText(QString::fromStdString(to));
}

void TProgress::ItemPercentChanged(int percent) { item_->setValue(percent); }
void TProgress::TotalPercentChanged(int percent) { total_->setValue(percent); }

void TProgress::ProcessEvents() { QApplication::processEvents(); }

TSuccessForm2::TSuccessForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SuccessForm2"));
    setWindowTitle(QStringLiteral("Brindlewave"));
    auto* layout = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(ProgramIcon().pixmap(48, 48));
    head->addWidget(image);
    auto* line = new QLabel(QStringLiteral("<b>Your files successfully converted!</b>"), this);
    head->addWidget(line, 1);
    layout->addLayout(head);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(QStringLiteral("Time taken :"), this));
    time_ = new QLabel(QStringLiteral("00:00:00"), this);
    time_->setObjectName(QStringLiteral("LabelTime"));
    timeRow->addWidget(time_, 1);
    layout->addLayout(timeRow);
    skippedCaption_ = new QLabel(QStringLiteral("Not converted:"), this);
    layout->addWidget(skippedCaption_);
    skipped_ = new QTreeWidget(this);
    skipped_->setObjectName(QStringLiteral("SkippedList"));
    skipped_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Reason")});
    skipped_->setRootIsDecorated(false);
    layout->addWidget(skipped_);
    verifiedCaption_ = new QLabel(QStringLiteral("AccurateRip:"), this);
    layout->addWidget(verifiedCaption_);
    verified_ = new QTreeWidget(this);
    verified_->setObjectName(QStringLiteral("AccurateRipList"));
    verified_->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Result")});
    verified_->setRootIsDecorated(false);
    layout->addWidget(verified_);
    openFolder_ = new QCheckBox(QStringLiteral("Open folder with converted files"), this);
    openFolder_->setObjectName(QStringLiteral("CheckOpenFolder"));
    layout->addWidget(openFolder_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void TSuccessForm2::Prepare(const QString& elapsed, bool openFolder, bool sameAsSource,
                            const std::vector<TFoundFile>& skipped,
                            const std::vector<std::pair<std::string, std::string>>& verified) {
    time_->setText(elapsed);
    skipped_->clear();
    for (const TFoundFile& f : skipped)
        skipped_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(f.Path), QString::fromStdString(f.Refusal)}));
    skipped_->resizeColumnToContents(0);
    skippedCaption_->setVisible(!skipped.empty());
    skipped_->setVisible(!skipped.empty());
    verified_->clear();
    for (const auto& [file, result] : verified)
        verified_->addTopLevelItem(
            new QTreeWidgetItem({QString::fromStdString(file), QString::fromStdString(result)}));
    verified_->resizeColumnToContents(0);
    verifiedCaption_->setVisible(!verified.empty());
    verified_->setVisible(!verified.empty());
    openFolder_->setChecked(openFolder && !sameAsSource);
    openFolder_->setEnabled(!sameAsSource);
}

bool TSuccessForm2::OpenFolderChecked() const { return openFolder_->isChecked(); }

} // namespace bw
