#pragma once

#include "core/dialogs.h"

#include <functional>
#include <iosfwd>

class QWidget;

namespace bw {

// The dialogs as real message boxes on screen.
class TMessageBoxes final : public TDialogs {
public:
    explicit TMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(TMessageKind kind, const std::string& caption, const std::string& text) override;
    TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                const std::vector<TAnswer>& buttons) override;
    std::vector<std::string> OpenFiles(const std::string& title,
                                       const std::vector<std::string>& filters) override;
    std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                               const std::string& start) override;
    std::optional<size_t> ChooseLine(const std::string& caption, const std::vector<std::string>& lines) override;

private:
    QWidget* parent_;
};

// Once the program is ending on a signal (a logout, `kill`), nobody may be there to answer
// a box, and a box would hold the program open: each message goes to standard error
// instead, and each question, unshown, gets the answer closing its box gives. Until then
// everything goes to the dialogs given.
class TStoppingDialogs final : public TDialogs {
public:
    TStoppingDialogs(TDialogs& shown, std::function<bool()> stopping, std::ostream& err)
        : shown_(shown), stopping_(std::move(stopping)), err_(err) {}
    void Show(TMessageKind kind, const std::string& caption, const std::string& text) override;
    TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                const std::vector<TAnswer>& buttons) override;
    std::vector<std::string> OpenFiles(const std::string& title,
                                       const std::vector<std::string>& filters) override;
    std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                               const std::string& start) override;
    std::optional<size_t> ChooseLine(const std::string& caption, const std::vector<std::string>& lines) override;

private:
    TDialogs& shown_;
    std::function<bool()> stopping_;
    std::ostream& err_;
};

} // namespace bw
