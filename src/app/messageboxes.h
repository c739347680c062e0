#pragma once

#include "core/dialogs.h"

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

private:
    QWidget* parent_;
};

} // namespace bw
