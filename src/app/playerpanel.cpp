#include "app/playerpanel.h"

#include "app/joblistview.h"

#include "shell/commands.h"

#include <QAction>
#include <QDial>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolBar>
#include <QVBoxLayout>
#include <vector>

namespace bw {

TPlayerPanel::TPlayerPanel(TMediaPlayer::TOpener opener, TJobListView& list,
                           const std::function<QAction*(std::string_view name)>& action,
                           QWidget* parent)
    : QGroupBox(QStringLiteral("Media Player"), parent),
      player_(std::make_unique<TMediaPlayer>(std::move(opener))), list_(list) {
    setObjectName(QStringLiteral("GroupMediaPlayer"));
    auto* row = new QHBoxLayout(this);
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("PlayerToolBar"));
    // A tool bar keeps its buttons out of the Tab chain; the player's are the only way to
    // reach its commands from the keyboard besides their keys, so they take focus by Tab.
    std::vector<QWidget*> chain;
    for (std::string_view e : PlayerToolBar()) {
        if (e == kSeparator) {
            bar->addSeparator();
            continue;
        }
        bar->addAction(action(e));
        QWidget* button = bar->widgetForAction(action(e));
        button->setFocusPolicy(Qt::TabFocus);
        chain.push_back(button);
    }
    row->addWidget(bar);
    positionBar_ = new QSlider(Qt::Horizontal, this);
    positionBar_->setObjectName(QStringLiteral("PositionBar"));
    positionBar_->setRange(0, 0);
    row->addWidget(positionBar_, 1);
    auto* volume = new QVBoxLayout;
    volume->addWidget(new QLabel(QStringLiteral("Volume"), this), 0, Qt::AlignHCenter);
    volumeKnob_ = new QDial(this);
    volumeKnob_->setObjectName(QStringLiteral("VolumeKnob"));
    volumeKnob_->setRange(0, 100);
    volumeKnob_->setPageStep(5);
    volumeKnob_->setValue(50);
    volumeKnob_->setNotchesVisible(true);
    volumeKnob_->setFixedSize(48, 48);
    volumeKnob_->setToolTip(QStringLiteral("Volume Control"));
    volume->addWidget(volumeKnob_, 0, Qt::AlignHCenter);
    row->addLayout(volume);
    // Left to right: the buttons, the position bar, the volume knob.
    chain.push_back(positionBar_);
    chain.push_back(volumeKnob_);
    for (size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    connect(volumeKnob_, &QDial::valueChanged, this, [this](int v) { player_->SetVolume(v); });
    connect(positionBar_, &QSlider::valueChanged, this, [this](int v) { player_->BarMoved(v); });
}

TPlayerPanel::~TPlayerPanel() = default;

TPlayerRows TPlayerPanel::Rows() {
    TPlayerRows rows;
    rows.Count = list_.RowCount();
    QTreeWidgetItem* current = list_.currentItem();
    rows.Selected = current && current->isSelected() ? list_.indexOfTopLevelItem(current) : -1;
    rows.ItemAt = [this](int row) -> const TmyMusicFile* { return list_.ItemAt(row); };
    return rows;
}

void TPlayerPanel::Play() {
    player_->Play(Rows());
    BarSync();
}

void TPlayerPanel::PlayNext(int delta) {
    const TPlayerRows rows = Rows();
    const int row = delta > 0 ? player_->PlayNext(rows) : player_->PlayPrev(rows);
    if (row < 0)
        return;
    QTreeWidgetItem* item = list_.topLevelItem(row);
    list_.clearSelection();
    list_.setCurrentItem(item);
    item->setSelected(true);
    list_.scrollToItem(item);
    BarSync();
}

void TPlayerPanel::Stop() {
    player_->Stop();
    BarSync();
}

int TPlayerPanel::Volume() const { return volumeKnob_->value(); }

void TPlayerPanel::SetVolume(int volume) { volumeKnob_->setValue(volume); }

void TPlayerPanel::VolumeStep(int delta) {
    volumeKnob_->setValue(TMediaPlayer::SteppedVolume(volumeKnob_->value(), delta));
}

std::optional<TPlayState> TPlayerPanel::Tick() {
    if (!player_)
        return std::nullopt;
    const TPlayState state = player_->Tick();
    BarSync();
    return state;
}

void TPlayerPanel::BarSync() {
    // The player moves the bar; only a move of the user's seeks.
    const QSignalBlocker block(positionBar_);
    positionBar_->setRange(0, player_->BarMaximum());
    positionBar_->setValue(player_->BarPosition());
}

} // namespace bw
