#include "app/form2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace bw {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Output Quality - Save As"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Name of new ouput quality:"), this));
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("Edit1"));
    edit_->setMaxLength(kMaxNameLength);
    layout->addWidget(edit_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ButtonOK"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("ButtonCancel"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    // A fixed dialog: its size is what its contents need.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<std::string> TForm2::Execute() {
    edit_->clear();
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return edit_->text().toStdString();
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    edit_->setFocus(Qt::OtherFocusReason);
}

} // namespace bw
