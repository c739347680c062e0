#include "app/encoderpanel.h"

#include "app/optionpages.h"

#include "encoders/encoderoptions.h"

#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

namespace bw {

namespace {

constexpr std::array<const char*, 8> kEncoderPages{"MP3", "OGG", "WAV", "WMA", "FLAC",
                                                   "APE", "MusePack", "WavPack"};

} // namespace

TEncoderPanel::TEncoderPanel(QWidget* parent)
    : QGroupBox(QStringLiteral("Encoder Options"), parent) {
    setObjectName(QStringLiteral("GroupEncoderOptions"));
    auto* layout = new QVBoxLayout(this);
    pageControl_ = new QTabWidget(this);
    pageControl_->setObjectName(QStringLiteral("PageControl1"));
    mp3Page_ = new TMp3Page(pageControl_);
    oggPage_ = new TOggPage(pageControl_);
    wavPage_ = new TWavPage(pageControl_);
    wmaPage_ = new TWmaPage(pageControl_);
    flacPage_ = new TFlacPage(pageControl_);
    apePage_ = new TApePage(pageControl_);
    mpcPage_ = new TMpcPage(pageControl_);
    const std::array<QWidget*, 8> pages{mp3Page_,  oggPage_, wavPage_, wmaPage_,
                                        flacPage_, apePage_, mpcPage_, nullptr};
    for (size_t i = 0; i < kEncoderPages.size(); ++i) {
        // The pages of the outputs still to come are empty for now.
        QWidget* page = pages[i] ? pages[i] : new QWidget(pageControl_);
        page->setObjectName(QStringLiteral("Page") + QString::fromUtf8(kEncoderPages[i]));
        page->setMinimumHeight(150);
        pageControl_->addTab(page, QString::fromUtf8(kEncoderPages[i]));
    }
    layout->addWidget(pageControl_);
}

TEncoderOptions TEncoderPanel::Options() const {
    TEncoderOptions o;
    mp3Page_->Save(o.Mp3);
    oggPage_->Save(o.Ogg);
    wavPage_->Save(o.Wav);
    wmaPage_->Save(o.Wma);
    flacPage_->Save(o.Flac);
    apePage_->Save(o.Ape);
    mpcPage_->Save(o.Mpc);
    return o;
}

void TEncoderPanel::SetOptions(const TEncoderOptions& o) {
    mp3Page_->Load(o.Mp3);
    oggPage_->Load(o.Ogg);
    wavPage_->Load(o.Wav);
    wmaPage_->Load(o.Wma);
    flacPage_->Load(o.Flac);
    apePage_->Load(o.Ape);
    mpcPage_->Load(o.Mpc);
}

} // namespace bw
