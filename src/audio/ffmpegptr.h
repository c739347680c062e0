#pragma once

// Owners for the FFmpeg objects the binding holds, so that no path leaks one.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace bw {

struct TFormatCloser {
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct TCodecFreer {
    void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct TSwrFreer {
    void operator()(SwrContext* p) const { swr_free(&p); }
};
struct TFrameFreer {
    void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct TPacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using TFormatPtr = std::unique_ptr<AVFormatContext, TFormatCloser>;
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecFreer>;
using TSwrPtr = std::unique_ptr<SwrContext, TSwrFreer>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFreer>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFreer>;

// An AVChannelLayout by value; a custom-order layout owns a map that must be released.
class TChannelLayout {
public:
    TChannelLayout() = default;
    // Only a custom-order layout holds memory; an empty one must not load FFmpeg to be
    // dropped (a stream the program reads itself never uses its layouts).
    ~TChannelLayout() {
        if (layout_.order == AV_CHANNEL_ORDER_CUSTOM)
            av_channel_layout_uninit(&layout_);
    }
    TChannelLayout(const TChannelLayout&) = delete;
    TChannelLayout& operator=(const TChannelLayout&) = delete;
    AVChannelLayout* Get() { return &layout_; }
    const AVChannelLayout* Get() const { return &layout_; }

private:
    AVChannelLayout layout_{};
};

} // namespace bw
