#include "app/messageboxes.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

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
        box.setEscapeButton(ButtonOf(ClosingAnswer(buttons)));
    }
    const int chosen = box.exec();
    for (TAnswer a : buttons)
        if (chosen == ButtonOf(a))
            return a;
    return ClosingAnswer(buttons);
}

std::vector<std::string> TMessageBoxes::OpenFiles(const std::string& title,
                                                 const std::vector<std::string>& filters) {
    QStringList list;
    for (const auto& f : filters)
        list << QString::fromStdString(f);
    QFileDialog dialog(parent_, QString::fromStdString(title));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(list);
    dialog.setOption(QFileDialog::ReadOnly, false);
    std::vector<std::string> out;
    if (dialog.exec() == QDialog::Accepted)
        for (const QString& f : dialog.selectedFiles())
            out.push_back(f.toStdString());
    return out;
}

std::optional<std::string> TMessageBoxes::BrowseForFolder(const std::string& prompt,
                                                          const std::string& start) {
    const QString dir = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(prompt),
                                                          QString::fromStdString(start));
    if (dir.isEmpty())
        return std::nullopt;
    return dir.toStdString();
}

} // namespace bw
