#include "app/messageboxes.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QListWidget>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <ostream>
#include <utility>

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

QString TextOf(TAnswer a) {
    switch (a) {
    case TAnswer::Ok: return QStringLiteral("OK");
    case TAnswer::Cancel: return QStringLiteral("Cancel");
    case TAnswer::Yes: return QStringLiteral("&Yes");
    case TAnswer::No: return QStringLiteral("&No");
    case TAnswer::YesToAll: return QStringLiteral("Yes to &All");
    }
    return {};
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
    // Every button gets the same role: a button box lays buttons out by role, in the
    // platform's order (Yes and Yes to All side by side, No elsewhere), while the order of
    // the answers is part of the question. One role keeps them as given.
    std::vector<std::pair<QPushButton*, TAnswer>> added;
    for (TAnswer a : buttons)
        added.emplace_back(box.addButton(TextOf(a), QMessageBox::ActionRole), a);
    const TAnswer closing = ClosingAnswer(buttons);
    if (!added.empty()) {
        box.setDefaultButton(added.front().first);
        for (const auto& [button, answer] : added)
            if (answer == closing)
                box.setEscapeButton(button);
    }
    box.exec();
    for (const auto& [button, answer] : added)
        if (box.clickedButton() == button)
            return answer;
    return closing;
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

std::optional<size_t> TMessageBoxes::ChooseLine(const std::string& caption, const std::vector<std::string>& lines) {
    QDialog dialog(parent_);
    dialog.setObjectName(QStringLiteral("ChooseLineForm"));
    dialog.setWindowTitle(QString::fromStdString(caption));
    dialog.setModal(true);
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("ListLines"));
    for (const std::string& line : lines)
        list->addItem(QString::fromStdString(line));
    list->setCurrentRow(0);
    list->setMinimumWidth(std::min(900, list->sizeHintForColumn(0) + 40));
    layout->addWidget(list);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(box);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0)
        return std::nullopt;
    return static_cast<size_t>(list->currentRow());
}

void TStoppingDialogs::Show(TMessageKind kind, const std::string& caption,
                            const std::string& text) {
    if (!stopping_())
        return shown_.Show(kind, caption, text);
    err_ << caption << ": " << text << std::endl;
}

TAnswer TStoppingDialogs::Ask(TMessageKind kind, const std::string& caption,
                              const std::string& text, const std::vector<TAnswer>& buttons) {
    if (!stopping_())
        return shown_.Ask(kind, caption, text, buttons);
    return ClosingAnswer(buttons);
}

std::vector<std::string> TStoppingDialogs::OpenFiles(const std::string& title,
                                                     const std::vector<std::string>& filters) {
    return stopping_() ? std::vector<std::string>{} : shown_.OpenFiles(title, filters);
}

std::optional<std::string> TStoppingDialogs::BrowseForFolder(const std::string& prompt,
                                                             const std::string& start) {
    return stopping_() ? std::nullopt : shown_.BrowseForFolder(prompt, start);
}

std::optional<size_t> TStoppingDialogs::ChooseLine(const std::string& caption,
                                                   const std::vector<std::string>& lines) {
    return stopping_() ? std::nullopt : shown_.ChooseLine(caption, lines);
}

} // namespace bw
