#include "audio/avfileencoder.h"

#include "audio/ffmpegptr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <bit>
#include <cstring>
#include <unistd.h>

namespace bw {

namespace {

// An output format context and the file it writes. The file is closed without a word here:
// Close() closes it first itself, to see whether the last bytes reached the disk.
struct TOutputCloser {
    void operator()(AVFormatContext* p) const {
        if (p->pb)
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
};
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputCloser>;

// Options handed to a library call, which may take some and leave the rest.
class TDictionary {
public:
    TDictionary() = default;
    ~TDictionary() { av_dict_free(&dict_); }
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    AVDictionary** Get() { return &dict_; }

private:
    AVDictionary* dict_ = nullptr;
};

std::string AvText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(averror, text, sizeof text) < 0)
        return "error " + std::to_string(averror);
    return text;
}

std::string ChannelText(int channels) {
    return channels == 1   ? "mono"
           : channels == 2 ? "stereo"
                           : std::to_string(channels) + " channels";
}

// The sample at p, of the width the stream delivers, as the encoders' float.
template <int Bytes> float SampleAt(const std::byte* p) {
    if constexpr (Bytes == 1) {
        return (static_cast<float>(std::to_integer<uint8_t>(p[0])) - 128.0f) / 128.0f;
    } else if constexpr (Bytes == 2) {
        int16_t s;
        std::memcpy(&s, p, sizeof s);
        return static_cast<float>(s) / 32768.0f;
    } else {
        const auto s = static_cast<int32_t>(
            std::to_integer<uint32_t>(p[0]) | std::to_integer<uint32_t>(p[1]) << 8 |
            static_cast<uint32_t>(std::to_integer<int8_t>(p[2])) << 16);
        return static_cast<float>(s) / 8388608.0f;
    }
}

// Spreads interleaved PCM over the planes of a planar float frame.
template <int Bytes>
void Deinterleave(const std::byte* pcm, int samples, int channels, uint8_t* const* planes) {
    const size_t step = static_cast<size_t>(channels) * Bytes;
    for (int c = 0; c < channels; ++c) {
        auto* out = reinterpret_cast<float*>(planes[c]);
        const std::byte* in = pcm + static_cast<size_t>(c) * Bytes;
        for (int i = 0; i < samples; ++i, in += step)
            out[i] = SampleAt<Bytes>(in);
    }
}

// The layout the encoder is given: the source's own speakers where the encoder takes them,
// else the encoder's first layout of as many channels. False when it has none.
bool ChooseLayout(const AVCodec* encoder, const TChannelInfo& pcm, AVChannelLayout* out) {
    TChannelLayout wanted;
    if (pcm.ChannelMask != 0 && std::popcount(pcm.ChannelMask) == pcm.Channels)
        av_channel_layout_from_mask(wanted.Get(), pcm.ChannelMask);
    else
        av_channel_layout_default(wanted.Get(), pcm.Channels);
    if (!encoder->ch_layouts)
        return av_channel_layout_copy(out, wanted.Get()) >= 0;
    const AVChannelLayout* same = nullptr;
    for (const AVChannelLayout* l = encoder->ch_layouts; l->nb_channels != 0; ++l) {
        if (av_channel_layout_compare(l, wanted.Get()) == 0)
            return av_channel_layout_copy(out, l) >= 0;
        if (!same && l->nb_channels == pcm.Channels)
            same = l;
    }
    return same && av_channel_layout_copy(out, same) >= 0;
}

} // namespace

struct TAvFileEncoder::Impl {
    TAvFileFormat format;
    TCodecPtr codec;
    TOutputPtr output;
    TFramePtr frame;
    TPacketPtr packet;
    AVStream* stream = nullptr; // owned by output
    std::string path;
    int channels = 0;
    int bytesPerSample = 2;
    int frameSize = 0;
    // PCM not yet making up a whole encoder frame, interleaved as handed in.
    std::vector<std::byte> pending;
    int64_t nextPts = 0; // in samples
    uint64_t framesWritten = 0;
    bool open = false;
    bool failed = false; // a write failed: the file is incomplete whatever follows
    bool closeResult = true;
    std::string lastError;

    bool Fail(std::string text) {
        lastError = std::move(text);
        failed = true;
        return false;
    }
    std::string EncoderFailed(int r) const {
        return "the " + std::string(format.CodecName) + " encoder failed (" + AvText(r) + ")";
    }
    bool OpenCodec(const TChannelInfo& pcm, int bitrate);
    bool OpenFile();
    bool EncodeFrame(const std::byte* pcm, int samples);
    bool Drain();
    void Release();
};

bool TAvFileEncoder::Impl::OpenCodec(const TChannelInfo& pcm, int bitrate) {
    const std::string name = format.CodecName;
    const AVCodec* encoder = avcodec_find_encoder_by_name(format.Encoder);
    if (!encoder) {
        lastError = "this FFmpeg has no " + name + " encoder";
        return false;
    }
    codec.reset(avcodec_alloc_context3(encoder));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!codec || !frame || !packet) {
        lastError = "out of memory";
        return false;
    }
    // The encoders used take planar float only; the conversion below is written for that.
    if (!encoder->sample_fmts || encoder->sample_fmts[0] != AV_SAMPLE_FMT_FLTP) {
        lastError =
            "the " + name + " encoder wants a sample format this program does not convert to";
        return false;
    }
    const std::string refused = "the " + name + " encoder does not take " +
                                std::to_string(bitrate) + " bits per second at " +
                                std::to_string(pcm.SampleRate) + " Hz in " +
                                ChannelText(pcm.Channels);
    if (!ChooseLayout(encoder, pcm, &codec->ch_layout)) {
        lastError = refused;
        return false;
    }
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = pcm.SampleRate;
    codec->bit_rate = bitrate;
    codec->time_base = AVRational{1, pcm.SampleRate};
    // A container that keeps the codec's setup in its header (MP4) wants it from the encoder
    // at once, not in the first frame.
    if (const AVOutputFormat* muxer = av_guess_format(format.Muxer, nullptr, nullptr);
        muxer && (muxer->flags & AVFMT_GLOBALHEADER))
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int r = avcodec_open2(codec.get(), encoder, nullptr);
    if (r < 0) {
        lastError = refused + " (" + AvText(r) + ")";
        return false;
    }
    frameSize = codec->frame_size;
    if (frameSize <= 0) {
        lastError = "the " + name + " encoder reports no frame size";
        return false;
    }
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = pcm.SampleRate;
    frame->nb_samples = frameSize;
    if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0) {
        lastError = "out of memory";
        return false;
    }
    channels = pcm.Channels;
    bytesPerSample = pcm.BytesPerSample();
    return true;
}

// Creates the file and writes its header. On failure the file is gone again.
bool TAvFileEncoder::Impl::OpenFile() {
    // Always a local file: a name like "http:x.wma" must not become a URL. The name is also
    // the one a writer opens again to move its index to the front.
    const std::string url = "file:" + path;
    AVFormatContext* raw = nullptr;
    int r = avformat_alloc_output_context2(&raw, nullptr, format.Muxer, url.c_str());
    if (r < 0 || !raw) {
        lastError =
            "the " + std::string(format.Container) + " writer is not available (" + AvText(r) + ")";
        return false;
    }
    output.reset(raw);
    output->protocol_whitelist = av_strdup("file");
    stream = avformat_new_stream(output.get(), nullptr);
    if (!output->protocol_whitelist || !stream ||
        avcodec_parameters_from_context(stream->codecpar, codec.get()) < 0) {
        lastError = "out of memory";
        return false;
    }
    stream->time_base = codec->time_base;
    // Names as given, in the given order.
    for (const TAvTag& tag : format.Tags) {
        r = av_dict_set(&output->metadata, tag.Name.c_str(), tag.Value.c_str(), 0);
        if (r < 0) {
            lastError = "cannot store the tag " + tag.Name + " (" + AvText(r) + ")";
            return false;
        }
    }
    TDictionary options;
    r = av_dict_set(options.Get(), "protocol_whitelist", "file", 0);
    if (r >= 0)
        r = avio_open2(&output->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, options.Get());
    if (r < 0) {
        output->pb = nullptr;
        lastError = "cannot create the file \"" + path + "\": " + AvText(r);
        return false;
    }
    TDictionary muxerOptions;
    for (const auto& [key, value] : format.MuxerOptions)
        if (av_dict_set(muxerOptions.Get(), key.c_str(), value.c_str(), 0) < 0)
            r = AVERROR(ENOMEM);
    if (r >= 0)
        r = avformat_write_header(output.get(), muxerOptions.Get());
    if (r < 0) {
        lastError = "cannot write the header of \"" + path + "\": " + AvText(r);
        output.reset();
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

// Encodes one frame of interleaved PCM; samples below the frame size only for the last
// one, which the library pads with silence.
bool TAvFileEncoder::Impl::EncodeFrame(const std::byte* pcm, int samples) {
    int r = av_frame_make_writable(frame.get());
    if (r < 0)
        return Fail("out of memory");
    frame->nb_samples = samples;
    switch (bytesPerSample) {
    case 1:
        Deinterleave<1>(pcm, samples, channels, frame->extended_data);
        break;
    case 3:
        Deinterleave<3>(pcm, samples, channels, frame->extended_data);
        break;
    default:
        Deinterleave<2>(pcm, samples, channels, frame->extended_data);
        break;
    }
    frame->pts = nextPts;
    nextPts += samples;
    r = avcodec_send_frame(codec.get(), frame.get());
    if (r < 0)
        return Fail(EncoderFailed(r));
    return Drain();
}

// Writes every packet the encoder has ready.
bool TAvFileEncoder::Impl::Drain() {
    for (;;) {
        int r = avcodec_receive_packet(codec.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return Fail(EncoderFailed(r));
        packet->stream_index = stream->index;
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        r = av_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        if (r < 0)
            return Fail("cannot write to \"" + path + "\": " + AvText(r));
    }
}

void TAvFileEncoder::Impl::Release() {
    output.reset();
    codec.reset();
    frame.reset();
    packet.reset();
    stream = nullptr;
    pending.clear();
    pending.shrink_to_fit();
    open = false;
}

TAvFileEncoder::TAvFileEncoder() : impl_(std::make_unique<Impl>()) {}

TAvFileEncoder::~TAvFileEncoder() {
    Close();
}

bool TAvFileEncoder::Open(const std::string& path, TAvFileFormat format, const TChannelInfo& pcm,
                          int bitrate) {
    Close();
    impl_ = std::make_unique<Impl>();
    Impl& d = *impl_;
    d.format = std::move(format);
    d.path = path;
    const std::string name = d.format.CodecName;
    if (pcm.Channels <= 0) {
        d.lastError = "the " + name + " encoder takes no audio without channels";
        return false;
    }
    if (pcm.SampleRate <= 0) {
        d.lastError =
            "the " + name + " encoder does not take " + std::to_string(pcm.SampleRate) + " Hz";
        return false;
    }
    if (bitrate <= 0) {
        d.lastError = "the " + name + " encoder does not take " + std::to_string(bitrate) +
                      " bits per second";
        return false;
    }
    // The encoder is set up before the file is touched, so refused values leave no file.
    if (!d.OpenCodec(pcm, bitrate) || !d.OpenFile()) {
        d.Release();
        return false;
    }
    d.open = true;
    d.closeResult = false;
    return true;
}

bool TAvFileEncoder::Write(std::span<const std::byte> pcm) {
    Impl& d = *impl_;
    if (!d.open) {
        d.lastError = "the " + std::string(d.format.CodecName) + " file is not open";
        return false;
    }
    if (d.failed)
        return false;
    const size_t blockAlign =
        static_cast<size_t>(d.channels) * static_cast<size_t>(d.bytesPerSample);
    const size_t frameBytes = static_cast<size_t>(d.frameSize) * blockAlign;
    d.framesWritten += pcm.size() / blockAlign;
    // Fill up what is left over from the last call, then encode straight from the input.
    if (!d.pending.empty()) {
        const size_t take = std::min(frameBytes - d.pending.size(), pcm.size());
        d.pending.insert(d.pending.end(), pcm.begin(), pcm.begin() + static_cast<ptrdiff_t>(take));
        pcm = pcm.subspan(take);
        if (d.pending.size() < frameBytes)
            return true;
        if (!d.EncodeFrame(d.pending.data(), d.frameSize))
            return false;
        d.pending.clear();
    }
    while (pcm.size() >= frameBytes) {
        if (!d.EncodeFrame(pcm.data(), d.frameSize))
            return false;
        pcm = pcm.subspan(frameBytes);
    }
    // A part sample frame at the end is dropped: callers hand whole frames.
    const size_t whole = pcm.size() - pcm.size() % blockAlign;
    d.pending.assign(pcm.begin(), pcm.begin() + static_cast<ptrdiff_t>(whole));
    return true;
}

bool TAvFileEncoder::Close() {
    Impl& d = *impl_;
    if (!d.open)
        return d.closeResult;
    bool ok = !d.failed;
    const size_t blockAlign =
        static_cast<size_t>(d.channels) * static_cast<size_t>(d.bytesPerSample);
    if (ok && !d.pending.empty())
        ok = d.EncodeFrame(d.pending.data(), static_cast<int>(d.pending.size() / blockAlign));
    if (ok) {
        const int r = avcodec_send_frame(d.codec.get(), nullptr);
        ok = r >= 0 ? d.Drain() : d.Fail(d.EncoderFailed(r));
    }
    if (ok) {
        const int r = av_write_trailer(d.output.get());
        if (r < 0)
            ok = d.Fail("cannot finish \"" + d.path + "\": " + AvText(r));
    }
    // The trailer's last bytes may still be in the buffer: see them reach the file.
    AVIOContext* pb = d.output->pb;
    d.output->pb = nullptr;
    avio_flush(pb);
    const int ioError = pb->error;
    const int closeError = avio_closep(&pb); // frees pb whatever it returns
    if (ok && (ioError < 0 || closeError < 0))
        ok = d.Fail("cannot finish \"" + d.path +
                    "\": " + AvText(ioError < 0 ? ioError : closeError));
    std::string finishError;
    if (ok && d.format.Finish && !d.format.Finish(d.path, &finishError))
        ok = d.Fail(finishError);
    d.Release();
    d.closeResult = ok;
    return ok;
}

bool TAvFileEncoder::IsOpen() const {
    return impl_->open;
}
uint64_t TAvFileEncoder::FramesWritten() const {
    return impl_->framesWritten;
}
const std::string& TAvFileEncoder::LastError() const {
    return impl_->lastError;
}

} // namespace bw
