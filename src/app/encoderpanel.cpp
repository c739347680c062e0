#include "app/encoderpanel.h"

#include "app/optionpages.h"

#include "encoders/encoderoptions.h"

#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

namespace bw {

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
    wavPackPage_ = new TWavPackPage(pageControl_);
    opusPage_ = new TOpusPage(pageControl_);
    aacPage_ = new TAacPage(pageControl_);
    const std::array<QWidget*, kEncoderPageNames.size()> pages{mp3Page_,  oggPage_, wavPage_,     wmaPage_,  flacPage_,
                                                           apePage_,  mpcPage_, wavPackPage_, opusPage_, aacPage_};
    for (size_t i = 0; i < kEncoderPageNames.size(); ++i) {
        QWidget* page = pages[i];
        page->setObjectName(QStringLiteral("Page") + QString::fromUtf8(kEncoderPageNames[i]));
        page->setMinimumHeight(150);
        pageControl_->addTab(page, QString::fromUtf8(kEncoderPageNames[i]));
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
    wavPackPage_->Save(o.WavPack);
    opusPage_->Save(o.Opus);
    aacPage_->Save(o.Aac);
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
    wavPackPage_->Load(o.WavPack);
    opusPage_->Load(o.Opus);
    aacPage_->Load(o.Aac);
}

} // namespace bw
