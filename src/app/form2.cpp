#include "app/form2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
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
    // Wide enough to show a whole name of the longest length: the style's measure of a line
    // edit holding that many average characters (and the 2 pixels the edit keeps clear on
    // either side of its text).
    QStyleOptionFrame frame;
    frame.initFrom(edit_);
    frame.lineWidth = edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit_);
    const QMargins text = edit_->textMargins();
    const int nameWidth =
        edit_->fontMetrics().averageCharWidth() * kMaxNameLength + 2 * 2 + text.left() + text.right();
    edit_->setMinimumWidth(edit_->style()
                               ->sizeFromContents(QStyle::CT_LineEdit, &frame, QSize(nameWidth, 0), edit_)
                               .width());
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
    // A fixed dialog: its size is what its contents need, and no narrower than its caption
    // in the title bar, which also holds the window's icon and its buttons (about a title
    // bar's height each). The title font is the window manager's; a bold face of the
    // dialog's font stands in for it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QFont titleFont = font();
    titleFont.setBold(true);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    layout->addStrut(QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + 4 * titleBar);
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
