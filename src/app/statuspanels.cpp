#include "app/statuspanels.h"

#include "shell/player.h"

#include <QLabel>
#include <QStatusBar>

namespace bw {

namespace {

constexpr std::array<int, 5> kStatusPanelWidths{100, 100, 130, 75, 300};

} // namespace

TStatusPanels::TStatusPanels(QStatusBar& bar) {
    const std::array<QString, 5> initial{QStringLiteral(" 0 file(s)"), QStringLiteral(" 0 selected"),
                                         QStringLiteral(" Media Player: Stopped"),
                                         QStringLiteral(" Volume: 100"), QString()};
    for (size_t i = 0; i < initial.size(); ++i) {
        auto* label = new QLabel(initial[i], &bar);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        label->setMinimumWidth(kStatusPanelWidths[i]);
        label->setFrameShape(QFrame::StyledPanel);
        bar.addWidget(label);
        panels_[i] = label;
    }
}

void TStatusPanels::ShowCounts(int files, int checked) {
    panels_[0]->setText(QStringLiteral(" %1 file(s)").arg(files));
    panels_[1]->setText(QStringLiteral(" %1 selected").arg(checked));
}

void TStatusPanels::ShowPlayState(TPlayState state) {
    panels_[2]->setText(QString::fromStdString(TMediaPlayer::StatusText(state)));
}

void TStatusPanels::ShowVolume(int volume) {
    panels_[3]->setText(QStringLiteral(" Volume: %1").arg(volume));
}

} // namespace bw
