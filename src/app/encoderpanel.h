#pragma once

#include <QGroupBox>

class QTabWidget;

namespace bw {

class TAacPage;
class TApePage;
class TFlacPage;
class TMp3Page;
class TMpcPage;
class TOggPage;
class TOpusPage;
class TWavPage;
class TWavPackPage;
class TWmaPage;
struct TEncoderOptions;

// The "Encoder Options" group of the main window: one page of options per encoder, page i
// for target type i.
class TEncoderPanel : public QGroupBox {
    Q_OBJECT

public:
    explicit TEncoderPanel(QWidget* parent);

    QTabWidget& PageControl() { return *pageControl_; }
    const QTabWidget& PageControl() const { return *pageControl_; }
    // The options of every page as the pages show them now.
    TEncoderOptions Options() const;
    // Shows options on the pages; each page's handlers run, so enabled states and captions
    // follow.
    void SetOptions(const TEncoderOptions& options);

private:
    // Owned by Qt's parent chain.
    QTabWidget* pageControl_ = nullptr;
    TMp3Page* mp3Page_ = nullptr;
    TOggPage* oggPage_ = nullptr;
    TWavPage* wavPage_ = nullptr;
    TWmaPage* wmaPage_ = nullptr;
    TFlacPage* flacPage_ = nullptr;
    TApePage* apePage_ = nullptr;
    TMpcPage* mpcPage_ = nullptr;
    TWavPackPage* wavPackPage_ = nullptr;
    TOpusPage* opusPage_ = nullptr;
    TAacPage* aacPage_ = nullptr;
};

} // namespace bw
