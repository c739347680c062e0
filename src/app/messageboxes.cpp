#include "app/messageboxes.h"

#include <QMessageBox>

namespace bw {

namespace {

QMessageBox::Icon IconOf(TMessageKind kind) {
    switch (kind) {
    case TMessageKind::Information: return QMessageBox::Information;
    case TMessageKind::Warning: return QMessageBox::Warning;
    case TMessageKind::Error: return QMessageBox::Critical;
    case TMessageKind::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ButtonOf(TAnswer a) {
    switch (a) {
    case TAnswer::Ok: return QMessageBox::Ok;
    case TAnswer::Cancel: return QMessageBox::Cancel;
    case TAnswer::Yes: return QMessageBox::Yes;
    case TAnswer::No: return QMessageBox::No;
    case TAnswer::YesToAll: return QMessageBox::YesToAll;
    }
    return QMessageBox::NoButton;
}

} // namespace

void TMessageBoxes::Show(TMessageKind kind, const std::string& caption, const std::string& text) {
    QMessageBox box(IconOf(kind), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent_);
    box.exec();
}

TAnswer TMessageBoxes::Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                           const std::vector<TAnswer>& buttons) {
    QMessageBox box(IconOf(kind), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, parent_);
    for (TAnswer a : buttons)
        box.addButton(ButtonOf(a));
    if (!buttons.empty()) {
        box.setDefaultButton(ButtonOf(buttons.front()));
        box.setEscapeButton(ButtonOf(buttons.back()));
    }
    const int chosen = box.exec();
    for (TAnswer a : buttons)
        if (chosen == ButtonOf(a))
            return a;
    return buttons.empty() ? TAnswer::Ok : buttons.back();
}

} // namespace bw
