#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QLineEdit;

namespace bw {

// The name dialog of "Save as..." in the preset menu: asks for the name of a new quality
// preset.
class TForm2 : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxNameLength = 28;

    explicit TForm2(QWidget* parent = nullptr);
    // Shows the dialog modally, with an empty field; the name as typed (it may be empty),
    // none when the dialog ended otherwise than with OK.
    std::optional<std::string> Execute();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* edit_;
};

} // namespace bw
