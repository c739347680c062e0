#pragma once

#include "encoders/encoderoptions.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace bw {

// The encoder option pages of the main window. Each shows one option set and edits it;
// what a page means on a command line is the option builders' business, not the page's.

class TMp3Page : public QWidget {
public:
    explicit TMp3Page(QWidget* parent = nullptr);
    void Load(const TMp3Options& o);
    void Save(TMp3Options& o) const;

private:
    void CBRClick();
    void VBRClick();
    void TrackBar1Change();

    QComboBox* samplerate_;
    QComboBox* channels_;
    QCheckBox* original_;
    QCheckBox* copyright_;
    QCheckBox* crc_;
    QRadioButton* cbr_;
    QComboBox* cbrBitrate_;
    QCheckBox* hq_;
    QRadioButton* vbr_;
    QComboBox* vbrMin_;
    QComboBox* vbrMax_;
    QSlider* trackBar1_;
    QLabel* quality_;
};

class TOggPage : public QWidget {
public:
    explicit TOggPage(QWidget* parent = nullptr);
    void Load(const TOggOptions& o);
    void Save(TOggOptions& o) const;
    void UpdateOggQualityLabel();

private:
    void OGGQClick();
    void BitrateManagerClick();
    void OGGVBRClick();

    QComboBox* channels_;
    QComboBox* samplerate_;
    QRadioButton* oggQ_;
    QSlider* trackBar2_;
    QLabel* quality_;
    QRadioButton* bitrateManager_;
    QComboBox* nominal_;
    QCheckBox* oggVbr_;
    QComboBox* min_;
    QComboBox* max_;
};

class TWavPage : public QWidget {
public:
    explicit TWavPage(QWidget* parent = nullptr);
    void Load(const TWavOptions& o);
    void Save(TWavOptions& o) const;

private:
    QComboBox* samplerate_;
    QComboBox* channels_;
    QComboBox* bps_;
    QCheckBox* normalize_;
};

class TWmaPage : public QWidget {
public:
    explicit TWmaPage(QWidget* parent = nullptr);
    void Load(const TWmaOptions& o);
    void Save(TWmaOptions& o) const;

private:
    void WMASamplerateChange();
    void WMAChannelsChange();
    // Refills the bitrate list with the encoder's offer for the rate and channel count and
    // selects its first entry (none when the offer is empty).
    void FillWmaBitrates(int sampleRate, int channels);
    int SelectedRate() const;

    QComboBox* samplerate_;
    QComboBox* channels_;
    QComboBox* bitrate_;
};

class TFlacPage : public QWidget {
public:
    explicit TFlacPage(QWidget* parent = nullptr);
    void Load(const TFlacOptions& o);
    void Save(TFlacOptions& o) const;

private:
    QSlider* level_;
    QCheckBox* lax_;
};

class TApePage : public QWidget {
public:
    explicit TApePage(QWidget* parent = nullptr);
    void Load(const TApeOptions& o);
    void Save(TApeOptions& o) const;

private:
    QSlider* level_;
};

class TMpcPage : public QWidget {
public:
    explicit TMpcPage(QWidget* parent = nullptr);
    void Load(const TMpcOptions& o);
    void Save(TMpcOptions& o) const;

private:
    void MPCMyTrackBarChange();

    QSlider* profile_;
    QLabel* label_;
};

class TWavPackPage : public QWidget {
public:
    explicit TWavPackPage(QWidget* parent = nullptr);
    void Load(const TWavPackOptions& o);
    void Save(TWavPackOptions& o) const;

private:
    // The bit depth and the correction file belong to hybrid mode only.
    void WVHybridClick();

    QSlider* mode_;
    QCheckBox* hybrid_;
    QDoubleSpinBox* bits_;
    QCheckBox* correction_;
};

class TOpusPage : public QWidget {
public:
    explicit TOpusPage(QWidget* parent = nullptr);
    void Load(const TOpusOptions& o);
    void Save(TOpusOptions& o) const;

private:
    QSpinBox* bitrate_;
    QComboBox* mode_;
    QSlider* complexity_;
};

class TAacPage : public QWidget {
public:
    explicit TAacPage(QWidget* parent = nullptr);
    void Load(const TAacOptions& o);
    void Save(TAacOptions& o) const;

private:
    QSpinBox* bitrate_;
};

} // namespace bw
