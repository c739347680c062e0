#include "audio/wmaencoder.h"

#include "tags/asftags.h"
#include "audio/ffmpegptr.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace bw {

namespace {

constexpr int kBytesPerSample = 2; // the PCM handed in is 16-bit signed
// A tag that only keeps room in the header for moving the description tags when the file
// is finished (PlaceAsfDescriptionTags); it does not stay in the file.
constexpr const char* kReserveTag = "WM/ReservedForTags";

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
    return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

} // namespace

struct TWmaEncoder::Impl {
    TCodecPtr codec;
    TOutputPtr output;
    TFramePtr frame;
    TPacketPtr packet;
    AVStream* stream = nullptr; // owned by output
    std::string path;
    int channels = 0;
    int frameSize = 0;
    // PCM not yet making up a whole encoder frame, interleaved as handed in.
    std::vector<std::byte> pending;
    int64_t nextPts = 0; // in samples
    uint64_t framesWritten = 0;
    bool hasTags = false;
    bool open = false;
    bool failed = false; // a write failed: the file is incomplete whatever follows
    bool closeResult = true;
    std::string lastError;

    bool Fail(std::string text) {
        lastError = std::move(text);
        failed = true;
        return false;
    }
    bool OpenCodec(int sampleRate, int channelCount, int bitrate);
    bool OpenFile(std::span<const TWmaTag> tags);
    bool EncodeFrame(const std::byte* pcm, int samples);
    bool Drain();
    void Release();
};

bool TWmaEncoder::Impl::OpenCodec(int sampleRate, int channelCount, int bitrate) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!encoder) {
        lastError = "this FFmpeg has no WMA encoder";
        return false;
    }
    codec.reset(avcodec_alloc_context3(encoder));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!codec || !frame || !packet) {
        lastError = "out of memory";
        return false;
    }
    // The encoder takes planar float only; the conversion below is written for that.
    if (!encoder->sample_fmts || encoder->sample_fmts[0] != AV_SAMPLE_FMT_FLTP) {
        lastError = "the WMA encoder wants a sample format this program does not convert to";
        return false;
    }
    codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    codec->sample_rate = sampleRate;
    codec->bit_rate = bitrate;
    codec->time_base = AVRational{1, sampleRate};
    av_channel_layout_default(&codec->ch_layout, channelCount);
    const int r = avcodec_open2(codec.get(), encoder, nullptr);
    if (r < 0) {
        lastError = "the WMA encoder does not take " + std::to_string(bitrate) +
                    " bits per second at " + std::to_string(sampleRate) + " Hz in " +
                    ChannelText(channelCount) + " (" + AvText(r) + ")";
        return false;
    }
    frameSize = codec->frame_size;
    if (frameSize <= 0) {
        lastError = "the WMA encoder reports no frame size";
        return false;
    }
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = sampleRate;
    frame->nb_samples = frameSize;
    if (av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout) < 0 ||
        av_frame_get_buffer(frame.get(), 0) < 0) {
        lastError = "out of memory";
        return false;
    }
    channels = channelCount;
    return true;
}

// Creates the file and writes its header. On failure the file is gone again.
bool TWmaEncoder::Impl::OpenFile(std::span<const TWmaTag> tags) {
    AVFormatContext* raw = nullptr;
    int r = avformat_alloc_output_context2(&raw, nullptr, "asf", nullptr);
    if (r < 0 || !raw) {
        lastError = "the ASF writer is not available (" + AvText(r) + ")";
        return false;
    }
    output.reset(raw);
    stream = avformat_new_stream(output.get(), nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, codec.get()) < 0) {
        lastError = "out of memory";
        return false;
    }
    stream->time_base = codec->time_base;
    // Names as given, in the given order: the ASF writer keeps the dictionary's order and
    // renames only FFmpeg's own generic keys (album, artist, ...), which none of ours is.
    for (const TWmaTag& tag : tags) {
        r = av_dict_set(&output->metadata, tag.Name.c_str(), tag.Value.c_str(), 0);
        if (r < 0) {
            lastError = "cannot store the tag " + tag.Name + " (" + AvText(r) + ")";
            return false;
        }
    }
    hasTags = !tags.empty();
    if (hasTags) {
        r = av_dict_set(&output->metadata, kReserveTag,
                        std::string(kAsfReserveValueBytes / 2, ' ').c_str(), 0);
        if (r < 0) {
            lastError = "out of memory";
            return false;
        }
    }
    // Always a local file: a name like "http:x.wma" must not become a URL.
    TDictionary options;
    r = av_dict_set(options.Get(), "protocol_whitelist", "file", 0);
    if (r >= 0)
        r = avio_open2(&output->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE, nullptr,
                       options.Get());
    if (r < 0) {
        output->pb = nullptr;
        lastError = "cannot create the file \"" + path + "\": " + AvText(r);
        return false;
    }
    r = avformat_write_header(output.get(), nullptr);
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
bool TWmaEncoder::Impl::EncodeFrame(const std::byte* pcm, int samples) {
    int r = av_frame_make_writable(frame.get());
    if (r < 0)
        return Fail("out of memory");
    frame->nb_samples = samples;
    for (int c = 0; c < channels; ++c) {
        auto* out = reinterpret_cast<float*>(frame->extended_data[c]);
        const std::byte* in = pcm + static_cast<size_t>(c) * kBytesPerSample;
        for (int i = 0; i < samples; ++i) {
            int16_t s;
            std::memcpy(&s, in + static_cast<size_t>(i) * channels * kBytesPerSample, sizeof s);
            out[i] = static_cast<float>(s) / 32768.0f;
        }
    }
    frame->pts = nextPts;
    nextPts += samples;
    r = avcodec_send_frame(codec.get(), frame.get());
    if (r < 0)
        return Fail("the WMA encoder failed (" + AvText(r) + ")");
    return Drain();
}

// Writes every packet the encoder has ready.
bool TWmaEncoder::Impl::Drain() {
    for (;;) {
        int r = avcodec_receive_packet(codec.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return Fail("the WMA encoder failed (" + AvText(r) + ")");
        packet->stream_index = stream->index;
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        r = av_write_frame(output.get(), packet.get());
        av_packet_unref(packet.get());
        if (r < 0)
            return Fail("cannot write to \"" + path + "\": " + AvText(r));
    }
}

void TWmaEncoder::Impl::Release() {
    output.reset();
    codec.reset();
    frame.reset();
    packet.reset();
    stream = nullptr;
    pending.clear();
    pending.shrink_to_fit();
    open = false;
}

TWmaEncoder::TWmaEncoder() : impl_(std::make_unique<Impl>()) {}

TWmaEncoder::~TWmaEncoder() { Close(); }

bool TWmaEncoder::Open(const std::string& path, int sampleRate, int channels, int bitrate,
                       std::span<const TWmaTag> tags) {
    Close();
    impl_ = std::make_unique<Impl>();
    Impl& d = *impl_;
    d.path = path;
    if (channels != 1 && channels != 2) {
        d.lastError = "the WMA encoder takes mono or stereo, not " + ChannelText(channels);
        return false;
    }
    if (sampleRate <= 0) {
        d.lastError = "the WMA encoder does not take " + std::to_string(sampleRate) + " Hz";
        return false;
    }
    if (bitrate <= 0) {
        d.lastError = "the WMA encoder does not take " + std::to_string(bitrate) +
                      " bits per second";
        return false;
    }
    // The encoder is set up before the file is touched, so refused values leave no file.
    if (!d.OpenCodec(sampleRate, channels, bitrate) || !d.OpenFile(tags)) {
        d.Release();
        return false;
    }
    d.open = true;
    d.closeResult = false;
    return true;
}

bool TWmaEncoder::Write(std::span<const std::byte> pcm) {
    Impl& d = *impl_;
    if (!d.open) {
        d.lastError = "the WMA file is not open";
        return false;
    }
    if (d.failed)
        return false;
    const size_t blockAlign = static_cast<size_t>(d.channels) * kBytesPerSample;
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

bool TWmaEncoder::Close() {
    Impl& d = *impl_;
    if (!d.open)
        return d.closeResult;
    bool ok = !d.failed;
    const size_t blockAlign = static_cast<size_t>(d.channels) * kBytesPerSample;
    if (ok && !d.pending.empty())
        ok = d.EncodeFrame(d.pending.data(), static_cast<int>(d.pending.size() / blockAlign));
    if (ok) {
        const int r = avcodec_send_frame(d.codec.get(), nullptr);
        ok = r >= 0 ? d.Drain() : d.Fail("the WMA encoder failed (" + AvText(r) + ")");
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
        ok = d.Fail("cannot finish \"" + d.path + "\": " + AvText(ioError < 0 ? ioError : closeError));
    std::string tagError;
    if (ok && d.hasTags && !PlaceAsfDescriptionTags(d.path, kReserveTag, &tagError))
        ok = d.Fail(tagError);
    d.Release();
    d.closeResult = ok;
    return ok;
}

bool TWmaEncoder::IsOpen() const { return impl_->open; }
uint64_t TWmaEncoder::FramesWritten() const { return impl_->framesWritten; }
const std::string& TWmaEncoder::LastError() const { return impl_->lastError; }

} // namespace bw
