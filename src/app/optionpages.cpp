#include "app/optionpages.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

namespace bw {

namespace {

QComboBox* List(QWidget* parent, const char* name, const QStringList& entries) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(entries);
    return c;
}

QComboBox* BitrateList(QWidget* parent, const char* name) {
    QStringList entries;
    for (int i = 0; i < kBitrateCount; ++i)
        entries << QString::fromStdString(BitrateFromIndex(i)) + QStringLiteral(" kbps");
    return List(parent, name, entries);
}

template <class T> T* Named(T* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A slider between its two end labels, with a caption and a value label above it.
QWidget* SliderRow(QWidget* parent, QSlider* slider, const char* left, const char* right,
                   const char* caption, QLabel* value) {
    auto* box = new QWidget(parent);
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(0, 0, 0, 0);
    if (caption) {
        auto* top = new QHBoxLayout;
        top->addWidget(new QLabel(QString::fromLatin1(caption), box));
        if (value)
            top->addWidget(value);
        top->addStretch(1);
        v->addLayout(top);
    }
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QString::fromLatin1(left), box));
    row->addWidget(slider, 1);
    row->addWidget(new QLabel(QString::fromLatin1(right), box));
    v->addLayout(row);
    return box;
}

// A group frame with a blank caption whose top holds a radio button.
QGroupBox* RadioGroup(QWidget* parent, QRadioButton* radio, QVBoxLayout*& body) {
    auto* group = new QGroupBox(parent);
    body = new QVBoxLayout(group);
    body->addWidget(radio);
    return group;
}

// Names under a slider's ticks, each centred on its tick. A row of labels spread by a layout
// lines up with the ticks only by chance: the slider is narrower than the row (its end labels
// stand beside it) and its ticks are inset by half a handle. The labels are placed where the
// style puts the ticks, again whenever the slider or the row changes size.
class TTickLabels : public QWidget {
public:
    TTickLabels(QSlider* slider, std::span<const char* const> names, QWidget* parent)
        : QWidget(parent), slider_(slider) {
        for (const char* name : names)
            labels_.push_back(new QLabel(QString::fromLatin1(name), this));
        slider_->installEventFilter(this);
        FitSlider();
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return minimumSizeHint(); }
    QSize minimumSizeHint() const override {
        int width = 0, height = 0;
        for (const QLabel* l : labels_) {
            width += l->sizeHint().width();
            height = std::max(height, l->sizeHint().height());
        }
        return {width, height};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == slider_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
            Place();
        return QWidget::eventFilter(watched, event);
    }
    void resizeEvent(QResizeEvent*) override { Place(); }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            FitSlider();
    }

private:
    // Where the style draws the tick of a value, in the slider's own coordinates: the
    // handle's centre at that value.
    int TickX(int value) const {
        const int handle = slider_->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider_);
        return QStyle::sliderPositionFromValue(slider_->minimum(), slider_->maximum(), value,
                                               slider_->width() - handle) +
               handle / 2;
    }
    // The slider is made wide enough that neighbouring names, centred on their ticks, keep
    // a gap between them.
    void FitSlider() {
        const int gap = fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 2;
        int step = 0;
        for (size_t i = 1; i < labels_.size(); ++i) {
            const int halves = (labels_[i - 1]->sizeHint().width() + labels_[i]->sizeHint().width() + 1) / 2;
            step = std::max(step, halves + gap);
        }
        const int handle = slider_->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider_);
        const int steps = std::max(1, slider_->maximum() - slider_->minimum());
        slider_->setMinimumWidth(step * steps + handle);
    }
    void Place() {
        QWidget* top = window();
        const int origin = mapFrom(top, slider_->mapTo(top, QPoint(0, 0))).x();
        for (size_t i = 0; i < labels_.size(); ++i) {
            QLabel* label = labels_[i];
            const QSize size = label->sizeHint();
            const int centre = origin + TickX(slider_->minimum() + static_cast<int>(i));
            const int x = std::clamp(centre - size.width() / 2, 0, std::max(0, width() - size.width()));
            label->setGeometry(x, 0, size.width(), size.height());
        }
    }

    QSlider* slider_;
    std::vector<QLabel*> labels_;
};

} // namespace

namespace {

template <size_t N> QStringList Entries(const std::array<const char*, N>& texts) {
    QStringList list;
    for (const char* t : texts)
        list << QString::fromLatin1(t);
    return list;
}

} // namespace

// ---- MP3 -------------------------------------------------------------------------------

TMp3Page::TMp3Page(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Mp3Page"));
    auto* layout = new QHBoxLayout(this);
    auto* left = new QGridLayout;
    samplerate_ = List(this, "Samplerate", Entries(kMp3SamplerateNames));
    channels_ = List(this, "Channels", Entries(kMp3ChannelNames));
    left->addWidget(new QLabel(QStringLiteral("Sampe rate: "), this), 0, 0);
    left->addWidget(samplerate_, 0, 1);
    left->addWidget(new QLabel(QStringLiteral("Channels:"), this), 1, 0);
    left->addWidget(channels_, 1, 1);
    original_ = Named(new QCheckBox(QStringLiteral("Original"), this), "Original");
    copyright_ = Named(new QCheckBox(QStringLiteral("Copyright"), this), "Copyright");
    crc_ = Named(new QCheckBox(QStringLiteral("CRC Error protection"), this), "CRC");
    left->addWidget(original_, 2, 0, 1, 2);
    left->addWidget(copyright_, 3, 0, 1, 2);
    left->addWidget(crc_, 4, 0, 1, 2);
    layout->addLayout(left);

    QVBoxLayout* cbrBody = nullptr;
    cbr_ = Named(new QRadioButton(QStringLiteral("CBR (Constant Bitrate)"), this), "CBR");
    auto* cbrGroup = RadioGroup(this, cbr_, cbrBody);
    cbrBitrate_ = BitrateList(cbrGroup, "CBRBitrate");
    hq_ = Named(new QCheckBox(QStringLiteral("High Quality"), cbrGroup), "HQ");
    cbrBody->addWidget(cbrBitrate_);
    cbrBody->addWidget(hq_);
    cbrBody->addStretch(1);
    layout->addWidget(cbrGroup);

    QVBoxLayout* vbrBody = nullptr;
    vbr_ = Named(new QRadioButton(QStringLiteral("VBR (Veriable Bitrate)"), this), "VBR");
    auto* vbrGroup = RadioGroup(this, vbr_, vbrBody);
    vbrMin_ = BitrateList(vbrGroup, "VBRMin");
    vbrMax_ = BitrateList(vbrGroup, "VBRMax");
    auto* minMax = new QHBoxLayout;
    minMax->addWidget(vbrMin_);
    minMax->addWidget(vbrMax_);
    vbrBody->addLayout(minMax);
    trackBar1_ = Named(new QSlider(Qt::Horizontal, vbrGroup), "TrackBar1");
    trackBar1_->setRange(0, 9);
    quality_ = Named(new QLabel(vbrGroup), "Mp3QualityLabel");
    vbrBody->addWidget(SliderRow(vbrGroup, trackBar1_, "Low Quality", "High Quality", "Quality Selection: ", quality_));
    layout->addWidget(vbrGroup, 1);

    // Each button of the pair sits in its own frame; they still exclude each other.
    connect(cbr_, &QRadioButton::toggled, this, [this] { CBRClick(); });
    connect(vbr_, &QRadioButton::toggled, this, [this] { VBRClick(); });
    connect(trackBar1_, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    Load(TMp3Options{});
}

void TMp3Page::CBRClick() {
    if (!cbr_->isChecked())
        return;
    vbr_->setChecked(false);
    cbrBitrate_->setEnabled(true);
    hq_->setEnabled(true);
    vbrMin_->setEnabled(false);
    vbrMax_->setEnabled(false);
    trackBar1_->setEnabled(false);
}

void TMp3Page::VBRClick() {
    if (!vbr_->isChecked())
        return;
    cbr_->setChecked(false);
    cbrBitrate_->setEnabled(false);
    hq_->setEnabled(false);
    vbrMin_->setEnabled(true);
    vbrMax_->setEnabled(true);
    trackBar1_->setEnabled(true);
}

void TMp3Page::TrackBar1Change() {
    TMp3Options o;
    Save(o);
    quality_->setText(QString::fromStdString(Mp3QualityLabel(o)));
}

void TMp3Page::Load(const TMp3Options& o) {
    samplerate_->setCurrentIndex(o.Samplerate);
    channels_->setCurrentIndex(o.Channels);
    original_->setChecked(o.Original);
    copyright_->setChecked(o.Copyright);
    crc_->setChecked(o.CRC);
    cbrBitrate_->setCurrentIndex(o.CBRBitrate);
    hq_->setChecked(o.HQ);
    vbrMin_->setCurrentIndex(o.VBRMin);
    vbrMax_->setCurrentIndex(o.VBRMax);
    trackBar1_->setValue(o.TrackBar1);
    // Setting the pair runs the same handlers as a click, so the enabled state follows.
    cbr_->setChecked(o.CBR);
    vbr_->setChecked(!o.CBR);
    CBRClick();
    VBRClick();
    TrackBar1Change();
}

void TMp3Page::Save(TMp3Options& o) const {
    o.Samplerate = samplerate_->currentIndex();
    o.Channels = channels_->currentIndex();
    o.Original = original_->isChecked();
    o.Copyright = copyright_->isChecked();
    o.CRC = crc_->isChecked();
    o.CBR = cbr_->isChecked();
    o.VBR = vbr_->isChecked();
    o.CBRBitrate = cbrBitrate_->currentIndex();
    o.HQ = hq_->isChecked();
    o.VBRMin = vbrMin_->currentIndex();
    o.VBRMax = vbrMax_->currentIndex();
    o.TrackBar1 = trackBar1_->value();
}

// ---- Ogg Vorbis --------------------------------------------------------------------------

TOggPage::TOggPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("OggPage"));
    auto* layout = new QHBoxLayout(this);
    auto* left = new QGridLayout;
    channels_ = List(this, "OGGChannels", Entries(kOggChannelNames));
    QStringList rates;
    for (int i = 0; i < kOggSamplerateCount; ++i)
        rates << QString::fromStdString(OggSamplerateText(i));
    samplerate_ = List(this, "OGGSamplerate", rates);
    left->addWidget(new QLabel(QStringLiteral("Channels:"), this), 0, 0);
    left->addWidget(channels_, 0, 1);
    left->addWidget(new QLabel(QStringLiteral("Sampe rate: "), this), 1, 0);
    left->addWidget(samplerate_, 1, 1);
    left->setRowStretch(2, 1);
    layout->addLayout(left);

    QVBoxLayout* qBody = nullptr;
    oggQ_ = Named(new QRadioButton(QStringLiteral("Use OGG Quality Settings (recommended)"), this), "OGGQ");
    auto* qGroup = RadioGroup(this, oggQ_, qBody);
    trackBar2_ = Named(new QSlider(Qt::Horizontal, qGroup), "TrackBar2");
    trackBar2_->setRange(kOggMinQuality, kOggMaxQuality);
    quality_ = Named(new QLabel(qGroup), "OggQualityLabel");
    qBody->addWidget(SliderRow(qGroup, trackBar2_, "Low Quality", "High Quality", "Quality Selection: ", quality_));
    qBody->addStretch(1);
    layout->addWidget(qGroup, 1);

    QVBoxLayout* bBody = nullptr;
    bitrateManager_ = Named(new QRadioButton(QStringLiteral("Use Bitrate manager"), this), "BitrateManager");
    auto* bGroup = RadioGroup(this, bitrateManager_, bBody);
    auto* grid = new QGridLayout;
    nominal_ = BitrateList(bGroup, "OGGNominal");
    oggVbr_ = Named(new QCheckBox(QStringLiteral("Enable OGG VBR"), bGroup), "OGGVBR");
    min_ = BitrateList(bGroup, "OGGMin");
    max_ = BitrateList(bGroup, "OGGMax");
    grid->addWidget(new QLabel(QStringLiteral("Nominal Bitrate:"), bGroup), 0, 0);
    grid->addWidget(nominal_, 0, 1);
    grid->addWidget(oggVbr_, 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Min Bitrate:"), bGroup), 2, 0);
    grid->addWidget(min_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Max Bitrate:"), bGroup), 3, 0);
    grid->addWidget(max_, 3, 1);
    bBody->addLayout(grid);
    layout->addWidget(bGroup);

    connect(oggQ_, &QRadioButton::toggled, this, [this] { OGGQClick(); });
    connect(bitrateManager_, &QRadioButton::toggled, this, [this] { BitrateManagerClick(); });
    connect(oggVbr_, &QCheckBox::toggled, this, [this] { OGGVBRClick(); });
    connect(trackBar2_, &QSlider::valueChanged, this, [this] { UpdateOggQualityLabel(); });
    connect(samplerate_, &QComboBox::currentIndexChanged, this, [this] { UpdateOggQualityLabel(); });
    Load(TOggOptions{});
}

void TOggPage::OGGQClick() {
    if (!oggQ_->isChecked())
        return;
    trackBar2_->setEnabled(true);
    bitrateManager_->setChecked(false);
    nominal_->setEnabled(false);
    oggVbr_->setEnabled(false);
    min_->setEnabled(false);
    max_->setEnabled(false);
}

void TOggPage::BitrateManagerClick() {
    if (!bitrateManager_->isChecked())
        return;
    trackBar2_->setEnabled(false);
    oggQ_->setChecked(false);
    nominal_->setEnabled(true);
    oggVbr_->setEnabled(true);
    OGGVBRClick();
}

void TOggPage::OGGVBRClick() {
    const bool on = oggVbr_->isChecked() && bitrateManager_->isChecked();
    min_->setEnabled(on);
    max_->setEnabled(on);
}

void TOggPage::UpdateOggQualityLabel() {
    TOggOptions o;
    Save(o);
    quality_->setText(QString::fromStdString(OggQualityLabel(o)));
}

void TOggPage::Load(const TOggOptions& o) {
    channels_->setCurrentIndex(o.OGGChannels);
    samplerate_->setCurrentIndex(o.OGGSamplerate);
    trackBar2_->setValue(o.TrackBar2);
    nominal_->setCurrentIndex(o.OGGNominal);
    oggVbr_->setChecked(o.OGGVBR);
    min_->setCurrentIndex(o.OGGMin);
    max_->setCurrentIndex(o.OGGMax);
    oggQ_->setChecked(o.OGGQ);
    bitrateManager_->setChecked(!o.OGGQ);
    OGGQClick();
    BitrateManagerClick();
    UpdateOggQualityLabel();
}

void TOggPage::Save(TOggOptions& o) const {
    o.OGGChannels = channels_->currentIndex();
    o.OGGSamplerate = samplerate_->currentIndex();
    o.OGGQ = oggQ_->isChecked();
    o.BitrateManager = bitrateManager_->isChecked();
    o.TrackBar2 = trackBar2_->value();
    o.OGGNominal = nominal_->currentIndex();
    o.OGGVBR = oggVbr_->isChecked();
    o.OGGMin = min_->currentIndex();
    o.OGGMax = max_->currentIndex();
}

// ---- WAV -------------------------------------------------------------------------------

TWavPage::TWavPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WavPage"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    samplerate_ = List(this, "WAVSamplerate", Entries(kWavSamplerates));
    channels_ = List(this, "WAVChannels", Entries(kWavChannelNames));
    bps_ = List(this, "WAVbps", Entries(kWavBitsNames));
    grid->addWidget(new QLabel(QStringLiteral("Sampe rate: "), this), 0, 0);
    grid->addWidget(samplerate_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Channels:"), this), 1, 0);
    grid->addWidget(channels_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Bits per sample:"), this), 2, 0);
    grid->addWidget(bps_, 2, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    normalize_ = Named(new QCheckBox(QStringLiteral("Normalize"), this), "cbNormalize");
    layout->addWidget(normalize_);
    layout->addStretch(1);
    Load(TWavOptions{});
}

void TWavPage::Load(const TWavOptions& o) {
    samplerate_->setCurrentIndex(o.WAVSamplerate);
    channels_->setCurrentIndex(o.WAVChannels);
    bps_->setCurrentIndex(o.WAVbps);
    normalize_->setChecked(o.cbNormalize);
}

void TWavPage::Save(TWavOptions& o) const {
    o.WAVSamplerate = samplerate_->currentIndex();
    o.WAVChannels = channels_->currentIndex();
    o.WAVbps = bps_->currentIndex();
    o.cbNormalize = normalize_->isChecked();
}

// ---- WMA -------------------------------------------------------------------------------

TWmaPage::TWmaPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WmaPage"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    samplerate_ = List(this, "WMASamplerate", Entries(kWmaSamplerates));
    channels_ = List(this, "WMAChannels", Entries(kWmaChannelNames));
    bitrate_ = List(this, "WMABitrate", {});
    grid->addWidget(new QLabel(QStringLiteral("Sampe rate: "), this), 0, 0);
    grid->addWidget(samplerate_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Channels:"), this), 1, 0);
    grid->addWidget(channels_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Bitrate:"), this), 2, 0);
    grid->addWidget(bitrate_, 2, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    layout->addStretch(1);
    connect(samplerate_, &QComboBox::currentIndexChanged, this, [this] { WMASamplerateChange(); });
    connect(channels_, &QComboBox::currentIndexChanged, this, [this] { WMAChannelsChange(); });
    Load(TWmaOptions{});
}

int TWmaPage::SelectedRate() const { return samplerate_->currentText().toInt(); }

void TWmaPage::FillWmaBitrates(int sampleRate, int channels) {
    bitrate_->clear();
    for (const auto& entry : WmaBitrateEntries(sampleRate, channels))
        bitrate_->addItem(QString::fromStdString(entry));
    if (bitrate_->count() > 0)
        bitrate_->setCurrentIndex(0);
}

void TWmaPage::WMASamplerateChange() {
    channels_->setEnabled(true);
    if (samplerate_->currentText() == QStringLiteral("48000")) {
        // The encoder takes 48000 Hz in stereo only. Selecting it refills the list
        // through the channel handler; the refill below is then the same again.
        const QSignalBlocker quiet(channels_);
        channels_->setCurrentIndex(1);
        channels_->setEnabled(false);
    }
    FillWmaBitrates(SelectedRate(), channels_->currentIndex() + 1);
}

void TWmaPage::WMAChannelsChange() { FillWmaBitrates(SelectedRate(), channels_->currentIndex() + 1); }

void TWmaPage::Load(const TWmaOptions& o) {
    {
        const QSignalBlocker quietRate(samplerate_);
        const QSignalBlocker quietChannels(channels_);
        samplerate_->setCurrentIndex(o.WMASamplerate);
        channels_->setCurrentIndex(o.WMAChannels);
    }
    WMASamplerateChange();
    bitrate_->setCurrentIndex(o.WMABitrate < bitrate_->count() ? o.WMABitrate : -1);
}

void TWmaPage::Save(TWmaOptions& o) const {
    o.WMASamplerate = samplerate_->currentIndex();
    o.WMAChannels = channels_->currentIndex();
    // With nothing selected (an empty list) the index is past every entry: no bitrate.
    o.WMABitrate = bitrate_->currentIndex() < 0 ? kWmaMaxBitrates : bitrate_->currentIndex();
}

// ---- FLAC --------------------------------------------------------------------------------

TFlacPage::TFlacPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FlacPage"));
    auto* layout = new QVBoxLayout(this);
    level_ = Named(new QSlider(Qt::Horizontal, this), "FLACMyTrackBar");
    level_->setRange(0, kFlacMaxLevel);
    level_->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(SliderRow(this, level_, "Fastest compression ", "Highest compression", nullptr, nullptr));
    lax_ = Named(new QCheckBox(QStringLiteral("Allow generate non-Subset files"), this), "FLACLax");
    layout->addWidget(lax_);
    layout->addWidget(new QLabel(QStringLiteral("FLAC is lossless compression."), this));
    layout->addStretch(1);
    Load(TFlacOptions{});
}

void TFlacPage::Load(const TFlacOptions& o) {
    level_->setValue(o.FLACMyTrackBar);
    lax_->setChecked(o.FLACLax);
}

void TFlacPage::Save(TFlacOptions& o) const {
    o.FLACMyTrackBar = level_->value();
    o.FLACLax = lax_->isChecked();
}

// ---- Monkey's Audio ----------------------------------------------------------------------

TApePage::TApePage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ApePage"));
    auto* layout = new QVBoxLayout(this);
    level_ = Named(new QSlider(Qt::Horizontal, this), "APEMyTrackBar");
    level_->setRange(kApeMinPosition, kApeMaxPosition);
    level_->setPageStep(1);
    level_->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(SliderRow(this, level_, "Fastest compression ", "Highest compression", nullptr, nullptr));
    layout->addWidget(new TTickLabels(level_, kApePositionNames, this));
    layout->addWidget(new QLabel(QStringLiteral("Monkey's Audio is lossless compression."), this));
    layout->addStretch(1);
    Load(TApeOptions{});
}

void TApePage::Load(const TApeOptions& o) { level_->setValue(o.APEMyTrackBar); }

void TApePage::Save(TApeOptions& o) const { o.APEMyTrackBar = level_->value(); }

// ---- Musepack ------------------------------------------------------------------------------

TMpcPage::TMpcPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MpcPage"));
    auto* layout = new QVBoxLayout(this);
    profile_ = Named(new QSlider(Qt::Horizontal, this), "MPCMyTrackBar");
    profile_->setRange(kMpcMinProfile, kMpcMaxProfile);
    profile_->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(SliderRow(this, profile_, "Low Quality", "High Quality", "Quality Selection: ", nullptr));
    label_ = Named(new QLabel(this), "MPCLabel");
    layout->addWidget(label_);
    auto* hint = new QLabel(
        QStringLiteral("Hint: MusePack support files with 44.1 or 48 KHz sampling frequency only. "
                       "Other sample rates are resampled to the nearest of 32, 37.8, 44.1 and 48 kHz "
                       "at or above them."),
        this);
    hint->setWordWrap(true); // two sentences must not widen the settings window
    layout->addWidget(hint);
    layout->addStretch(1);
    connect(profile_, &QSlider::valueChanged, this, [this] { MPCMyTrackBarChange(); });
    Load(TMpcOptions{});
}

void TMpcPage::MPCMyTrackBarChange() {
    const std::string text = MpcProfileText(profile_->value());
    if (!text.empty())
        label_->setText(QString::fromStdString(text));
}

void TMpcPage::Load(const TMpcOptions& o) {
    profile_->setValue(o.MPCMyTrackBar);
    MPCMyTrackBarChange();
}

void TMpcPage::Save(TMpcOptions& o) const { o.MPCMyTrackBar = profile_->value(); }

// ---- WavPack ------------------------------------------------------------------------------

TWavPackPage::TWavPackPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("WavPackPage"));
    auto* layout = new QVBoxLayout(this);
    mode_ = Named(new QSlider(Qt::Horizontal, this), "WVMode");
    mode_->setRange(0, kWavPackMaxMode);
    mode_->setPageStep(1);
    mode_->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(SliderRow(this, mode_, "Fastest compression ", "Highest compression", nullptr, nullptr));
    layout->addWidget(new TTickLabels(mode_, kWavPackModeNames, this));
    auto* hybridRow = new QHBoxLayout;
    hybrid_ = Named(new QCheckBox(QStringLiteral("Hybrid (lossy)"), this), "WVHybrid");
    hybridRow->addWidget(hybrid_);
    bits_ = Named(new QDoubleSpinBox(this), "WVBits");
    bits_->setDecimals(1);
    bits_->setSingleStep(0.1);
    bits_->setRange(kWavPackMinBits / 10.0, kWavPackMaxBits / 10.0);
    bits_->setSuffix(QStringLiteral(" bits per sample"));
    hybridRow->addWidget(bits_);
    hybridRow->addStretch(1);
    layout->addLayout(hybridRow);
    correction_ = Named(new QCheckBox(QStringLiteral("Keep correction file (.wvc)"), this), "WVCorrection");
    layout->addWidget(correction_);
    layout->addWidget(new QLabel(QStringLiteral("WavPack is lossless compression; hybrid mode is lossy, "
                                                "and lossless again with its correction file."),
                                 this));
    layout->addStretch(1);
    connect(hybrid_, &QCheckBox::toggled, this, [this] { WVHybridClick(); });
    Load(TWavPackOptions{});
}

void TWavPackPage::WVHybridClick() {
    bits_->setEnabled(hybrid_->isChecked());
    correction_->setEnabled(hybrid_->isChecked());
}

void TWavPackPage::Load(const TWavPackOptions& o) {
    mode_->setValue(o.WVMode);
    hybrid_->setChecked(o.WVHybrid);
    bits_->setValue(o.WVBits / 10.0);
    correction_->setChecked(o.WVCorrection);
    WVHybridClick();
}

void TWavPackPage::Save(TWavPackOptions& o) const {
    o.WVMode = mode_->value();
    o.WVHybrid = hybrid_->isChecked();
    o.WVBits = static_cast<int>(std::lround(bits_->value() * 10));
    o.WVCorrection = correction_->isChecked();
}

// ---- Opus ---------------------------------------------------------------------------------

TOpusPage::TOpusPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("OpusPage"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Bit rate"), this), 0, 0);
    bitrate_ = Named(new QSpinBox(this), "OPUSBitrate");
    bitrate_->setRange(kOpusMinBitrate, kOpusMaxBitrate);
    bitrate_->setSuffix(QStringLiteral(" kbit/s"));
    grid->addWidget(bitrate_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Mode"), this), 1, 0);
    QStringList modes;
    for (const char* m : kOpusModeNames)
        modes << QString::fromLatin1(m);
    mode_ = List(this, "OPUSMode", modes);
    grid->addWidget(mode_, 1, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    complexity_ = Named(new QSlider(Qt::Horizontal, this), "OPUSComplexity");
    complexity_->setRange(0, kOpusMaxComplexity);
    complexity_->setPageStep(1);
    complexity_->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(SliderRow(this, complexity_, "Fastest encoding ", "Highest quality", "Complexity", nullptr));
    layout->addStretch(1);
    Load(TOpusOptions{});
}

void TOpusPage::Load(const TOpusOptions& o) {
    bitrate_->setValue(o.OPUSBitrate);
    mode_->setCurrentIndex(o.OPUSMode);
    complexity_->setValue(o.OPUSComplexity);
}

void TOpusPage::Save(TOpusOptions& o) const {
    o.OPUSBitrate = bitrate_->value();
    o.OPUSMode = mode_->currentIndex();
    o.OPUSComplexity = complexity_->value();
}

// ---- AAC ----------------------------------------------------------------------------------

TAacPage::TAacPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AacPage"));
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Bit rate"), this));
    bitrate_ = Named(new QSpinBox(this), "AACBitrate");
    const auto range = EncoderOptionRange("AACBitrate").value_or(std::pair{32, 320});
    bitrate_->setRange(range.first, range.second);
    bitrate_->setSuffix(QStringLiteral(" kbit/s"));
    row->addWidget(bitrate_);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addWidget(new QLabel(QStringLiteral("AAC-LC at a constant bit rate, in an .m4a file."), this));
    layout->addStretch(1);
    Load(TAacOptions{});
}

void TAacPage::Load(const TAacOptions& o) { bitrate_->setValue(o.AACBitrate); }

void TAacPage::Save(TAacOptions& o) const { o.AACBitrate = bitrate_->value(); }

} // namespace bw
