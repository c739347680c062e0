#include "audio/audiostream.h"

#include "audio/ffmpegload.h"
#include "audio/ffmpegptr.h"
#include "audio/mediafile.h"
#include "audio/pcmfilesource.h"
#include "common/filebytes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <bit>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace bw {

int ProgressPercent(uint64_t position, uint64_t length) {
    if (length == 0)
        return 0;
    if (position >= length)
        return 100;
    // In 128 bits: exact where a double would round 99.99 % up to 100.
    return static_cast<int>(static_cast<unsigned __int128>(position) * 100 / length);
}

namespace {

// Caps on what a decoder may report before it drives an allocation: more channels than
// any speaker layout has, or a frame longer than a few seconds, is a broken file.
constexpr int kMaxChannels = 64;
constexpr int kMaxFrameSamples = 1 << 20;
constexpr int64_t kMaxLengthFrames = int64_t{384000} * 3600 * 24 * 366;
// Errors tolerated while draining the decoder at the end before giving up on the rest.
constexpr int kMaxDrainErrors = 64;

static_assert(std::endian::native == std::endian::little, "PCM is handled in host order");

// Codecs whose containers state the exact sample count in their headers.
bool StatesExactLength(AVCodecID id) {
    return IsPcmCodec(id) || id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_WAVPACK ||
           id == AV_CODEC_ID_APE;
}

// Whether a decoder's samples hold more than 16 bits that a 24-bit output can keep: wide
// samples from a lossless codec or PCM. Lossy decoders give float too, but nothing exact
// below 16 bits.
bool IsDeepSource(AVSampleFormat format, AVCodecID id) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    if (packed != AV_SAMPLE_FMT_S32 && packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL &&
        packed != AV_SAMPLE_FMT_S64)
        return false;
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS) != 0;
}

// 32-bit samples to packed 24-bit ones, in place where to == from: the top three bytes of
// each, as FFmpeg's s24le output keeps them.
void PackS32ToS24(const uint8_t* from, uint8_t* to, size_t samples) {
    for (size_t i = 0; i < samples; ++i) {
        const uint8_t b1 = from[4 * i + 1], b2 = from[4 * i + 2], b3 = from[4 * i + 3];
        to[3 * i] = b1;
        to[3 * i + 1] = b2;
        to[3 * i + 2] = b3;
    }
}

// The speaker bits a WAV channel mask can hold (front left up to top back right).
constexpr uint64_t kWavMaskBits = (uint64_t{1} << 18) - 1;

// A layout whose order the decoder does not know is taken in the default order for its
// channel count, which is WAV's order, as FFmpeg's own command line takes it.
void GuessUnknownOrder(AVChannelLayout& layout) {
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int n = layout.nb_channels;
        av_channel_layout_uninit(&layout);
        av_channel_layout_default(&layout, n);
    }
}

// A layout that lists speakers in an order of its own, as the same speakers in WAV order;
// false (layout unchanged) when it names a speaker twice or one outside WAV's set.
bool ToWavOrder(AVChannelLayout& layout) {
    if (layout.order != AV_CHANNEL_ORDER_CUSTOM)
        return true;
    uint64_t mask = 0;
    for (int i = 0; i < layout.nb_channels; ++i) {
        const int id = layout.u.map[i].id;
        if (id < 0 || id >= 64 || ((uint64_t{1} << id) & (mask | ~kWavMaskBits)) != 0)
            return false;
        mask |= uint64_t{1} << id;
    }
    av_channel_layout_uninit(&layout);
    return av_channel_layout_from_mask(&layout, mask) == 0;
}

uint32_t WavChannelMask(const AVChannelLayout& layout) {
    if (layout.order != AV_CHANNEL_ORDER_NATIVE || (layout.u.mask & ~kWavMaskBits) != 0)
        return 0;
    return static_cast<uint32_t>(layout.u.mask);
}

TAudioError OpenError(int averror) {
    if (averror == AVERROR(ENOMEM))
        return TAudioError::Memory;
    if (averror == AVERROR(ENOENT) || averror == AVERROR(EACCES) || averror == AVERROR(EISDIR) ||
        averror == AVERROR(EIO) || averror == AVERROR(EPERM))
        return TAudioError::FileOpen;
    return TAudioError::FileForm;
}

} // namespace

struct TAudioStream::Impl {
    // Set for PCM read rather than decoded (a CD track): every operation goes to it
    // instead of the decoder.
    std::unique_ptr<TPcmSource> source;
    // Set for a range of a file: the whole file's stream, and the range in its bytes.
    std::unique_ptr<TAudioStream> whole;
    uint64_t rangeFirst = 0;
    uint64_t rangeLength = 0;
    bool rangeShort = false; // the file ended, or a read landed elsewhere, inside the range
    std::string path;
    TChannelPolicy policy = TChannelPolicy::DownmixToStereo;
    TSampleDepth depth = TSampleDepth::Reduce16;
    TFormatPtr format;
    TCodecPtr codec;
    TSwrPtr swr;
    TFramePtr frame;
    TPacketPtr packet;
    AVStream* stream = nullptr; // owned by format
    int streamIndex = -1;

    TChannelInfo info;
    AVSampleFormat outFormat = AV_SAMPLE_FMT_S16;
    TChannelLayout outLayout;
    // The frame shape the converter was made for; another shape gets a new converter.
    AVSampleFormat swrInFormat = AV_SAMPLE_FMT_NONE;
    int swrInRate = 0;
    TChannelLayout swrInLayout;

    // Decoded PCM not yet handed out: points into the frame (when it already is in the
    // delivered format) or into converted.
    std::vector<uint8_t> converted;
    const uint8_t* pending = nullptr;
    size_t pendingSize = 0;

    uint64_t position = 0;
    uint64_t length = 0;
    bool exact = false;
    // What the header states, kept after the end has set length to what was delivered.
    uint64_t statedLength = 0;
    bool stated = false;
    int64_t openSize = -1; // the file's size when opened
    int64_t originPts = 0;   // the first sample's timestamp, in the stream's time base
    int64_t seekTarget = -1; // after a seek: the sample frame decoding must reach
    int64_t nextFrameStart = -1; // while reaching it: where the next frame starts
    bool seeked = false;     // a seek happened: the end position no longer proves the length
    bool inputEnded = false; // demuxer drained, decoder told to flush
    bool ended = false;      // the decoder gave its last frame
    bool failed = false;     // a read error stopped the stream
    int decodeErrors = 0;
    int drainErrors = 0;
    TAudioError lastError = TAudioError::Ok;

    TAudioError Open(const std::string& filePath);
    TAudioError SetupOutput(AVSampleFormat format, int rate, const AVChannelLayout& layout);
    void ComputeLength(int64_t headerEnd);
    bool Fail(TAudioError e) {
        lastError = e;
        failed = true;
        return false;
    }
    bool SendNextPacket();
    // Whether a frame's channels are delivered as they are, without a converter.
    bool SameChannels(const AVChannelLayout& layout) const {
        // An unknown order is delivered as the default one, which outLayout then is.
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
            return layout.nb_channels == info.Channels;
        return av_channel_layout_compare(&layout, outLayout.Get()) == 0;
    }
    int DecodeFrame();
    bool Convert(const AVFrame* f);
    bool MakeConverter(const AVFrame& f);
    void ApplySeekTarget(const AVFrame& f);
    bool Produce();
    int64_t ReadRange(std::span<std::byte> out);
};

// A read of a range: never past its end, and only from where the range's position says.
// A decoder that lands anywhere else after a seek (a late landing) or a file that ends
// inside the range makes the range short, which DeliveredAll reports.
int64_t TAudioStream::Impl::ReadRange(std::span<std::byte> out) {
    const uint64_t left = rangeLength - std::min(position, rangeLength);
    if (left == 0 || rangeShort) {
        lastError = rangeShort ? TAudioError::Read : TAudioError::Ended;
        return rangeShort ? -1 : 0;
    }
    lastError = TAudioError::Ok;
    const int64_t n =
        whole->Read(out.first(static_cast<size_t>(std::min<uint64_t>(out.size(), left))));
    if (n < 0)
        return n;
    if (n == 0 || whole->Position() != rangeFirst + position + static_cast<uint64_t>(n)) {
        rangeShort = true;
        lastError = n == 0 ? TAudioError::Read : TAudioError::Position;
        return -1;
    }
    position += static_cast<uint64_t>(n);
    return n;
}

TAudioError TAudioStream::Impl::Open(const std::string& filePath) {
    path = filePath;
    // Only a regular file: the library would wait for ever on a named pipe nobody writes to.
    if (!IsRegularFile(path))
        return TAudioError::FileOpen;
    // Always a local file: a name like "http:x.mp3" must not become a URL, and a playlist
    // dressed up as a song must not make the library fetch anything, from the network or
    // from other files.
    int r = OpenAudioContainer(path, format);
    if (r < 0)
        return OpenError(r);
    // The header readers leave the file at the start of the audio data; the PCM size check
    // below needs that offset before stream probing moves on.
    const int64_t headerEnd = format->pb ? avio_tell(format->pb) : -1;
    r = avformat_find_stream_info(format.get(), nullptr);
    if (r < 0)
        return r == AVERROR(ENOMEM) ? TAudioError::Memory : TAudioError::FileForm;
    const AVCodec* decoder = nullptr;
    streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex == AVERROR_DECODER_NOT_FOUND)
        return TAudioError::Codec;
    if (streamIndex < 0 || !decoder)
        return TAudioError::FileForm;
    stream = format->streams[streamIndex];
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != streamIndex)
            format->streams[i]->discard = AVDISCARD_ALL; // cover art and the like

    codec.reset(avcodec_alloc_context3(decoder));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!codec || !frame || !packet)
        return TAudioError::Memory;
    if (avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0)
        return TAudioError::Memory;
    codec->pkt_timebase = stream->time_base;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        return TAudioError::Codec;
    originPts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;

    // Decode the first frame now: it fixes the delivered format, and a file with nothing
    // decodable in it fails here instead of converting to an empty output.
    const int got = DecodeFrame();
    if (got < 0)
        return lastError;
    if (got == 0)
        return decodeErrors > 0 ? TAudioError::Codec : TAudioError::FileForm;
    const TAudioError setup = SetupOutput(static_cast<AVSampleFormat>(frame->format),
                                          frame->sample_rate, frame->ch_layout);
    if (setup != TAudioError::Ok)
        return setup;
    ComputeLength(headerEnd);
    if (!Convert(frame.get()))
        return lastError;
    return TAudioError::Ok;
}

TAudioError TAudioStream::Impl::SetupOutput(AVSampleFormat sampleFormat, int rate,
                                            const AVChannelLayout& layout) {
    if (rate <= 0 || layout.nb_channels <= 0 || layout.nb_channels > kMaxChannels)
        return TAudioError::Format;
    // 8-bit sources stay 8-bit unsigned, as FFmpeg's u8 output of them; deep sources asked
    // for at 24 bits go through 32-bit samples (packed to 3 bytes on delivery); everything
    // else, float and 24/32-bit included, becomes 16-bit signed.
    info.EightBit = av_get_packed_sample_fmt(sampleFormat) == AV_SAMPLE_FMT_U8;
    info.TwentyFourBit =
        depth == TSampleDepth::Keep24 && IsDeepSource(sampleFormat, codec->codec_id);
    outFormat = info.EightBit        ? AV_SAMPLE_FMT_U8
                : info.TwentyFourBit ? AV_SAMPLE_FMT_S32
                                     : AV_SAMPLE_FMT_S16;
    info.SampleRate = rate;
    if (layout.nb_channels > 2 && policy == TChannelPolicy::DownmixToStereo) {
        av_channel_layout_uninit(outLayout.Get());
        av_channel_layout_default(outLayout.Get(), 2);
    } else {
        // Every channel: those in an order of their own are put in WAV's, which is what a
        // WAV header (and so every encoder we feed) can describe.
        if (av_channel_layout_copy(outLayout.Get(), &layout) < 0)
            return TAudioError::Memory;
        GuessUnknownOrder(*outLayout.Get());
        ToWavOrder(*outLayout.Get());
    }
    info.Channels = outLayout.Get()->nb_channels;
    info.ChannelMask = WavChannelMask(*outLayout.Get());
    return TAudioError::Ok;
}

void TAudioStream::Impl::ComputeLength(int64_t headerEnd) {
    openSize = format->pb ? avio_size(format->pb) : -1;
    int64_t frames = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, info.SampleRate});
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        frames = av_rescale(format->duration, info.SampleRate, AV_TIME_BASE);
    // A header may claim anything; past a year of audio it is no length at all.
    if (frames <= 0 || frames > kMaxLengthFrames) {
        length = 0;
        exact = false;
        return;
    }
    length = static_cast<uint64_t>(frames) * static_cast<uint64_t>(info.BlockAlign());
    // A duration guessed from the bit rate and file size is never exact, whatever the codec.
    exact = StatesExactLength(codec->codec_id) &&
            format->duration_estimation_method == AVFMT_DURATION_FROM_STREAM;
    stated = exact;
    statedLength = length;
    if (exact && IsPcmCodec(codec->codec_id)) {
        // A WAV cut short still states its full data size: trust it only when the file
        // really holds that much.
        const int64_t sourceBlock = stream->codecpar->block_align;
        if (headerEnd < 0 || openSize < headerEnd || sourceBlock <= 0 ||
            (openSize - headerEnd) / sourceBlock < frames)
            exact = false;
    }
}

bool TAudioStream::Impl::SendNextPacket() {
    for (;;) {
        const int r = av_read_frame(format.get(), packet.get());
        if (r < 0) {
            // As in FFmpeg's own decode, a damaged tail ends the stream; only an I/O error
            // (a disk or share gone away) is reported as one.
            const int ioError = format->pb ? format->pb->error : 0;
            if (r == AVERROR(EIO) || (ioError < 0 && ioError != AVERROR_EOF))
                return Fail(TAudioError::Read);
            avcodec_send_packet(codec.get(), nullptr);
            inputEnded = true;
            return true;
        }
        if (packet->stream_index != streamIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        const int s = avcodec_send_packet(codec.get(), packet.get());
        av_packet_unref(packet.get());
        if (s == AVERROR(ENOMEM))
            return Fail(TAudioError::Memory);
        if (s < 0)
            ++decodeErrors; // a damaged packet is skipped, as FFmpeg's own decode does
        return true;
    }
}

// 1: a frame with samples is in `frame`; 0: the decoder has ended; -1: error.
int TAudioStream::Impl::DecodeFrame() {
    for (;;) {
        const int r = avcodec_receive_frame(codec.get(), frame.get());
        if (r >= 0) {
            if (frame->nb_samples > 0)
                return 1;
            continue;
        }
        if (r == AVERROR_EOF)
            return 0;
        if (r == AVERROR(ENOMEM)) {
            Fail(TAudioError::Memory);
            return -1;
        }
        if (r != AVERROR(EAGAIN))
            ++decodeErrors;
        if (inputEnded) {
            if (r == AVERROR(EAGAIN) || ++drainErrors > kMaxDrainErrors)
                return 0;
            continue;
        }
        if (!SendNextPacket())
            return -1;
    }
}

bool TAudioStream::Impl::MakeConverter(const AVFrame& f) {
    SwrContext* raw = nullptr;
    TChannelLayout inLayout;
    if (av_channel_layout_copy(inLayout.Get(), &f.ch_layout) < 0)
        return Fail(TAudioError::Memory);
    GuessUnknownOrder(*inLayout.Get());
    // Default options, as FFmpeg's own conversion uses: no dither, so 24- and 32-bit
    // samples keep their top 16 bits exactly as its s16 output does, and its standard
    // matrix for a downmix to stereo.
    if (swr_alloc_set_opts2(&raw, outLayout.Get(), outFormat, info.SampleRate, inLayout.Get(),
                            static_cast<AVSampleFormat>(f.format), f.sample_rate, 0,
                            nullptr) < 0)
        return Fail(TAudioError::Memory);
    swr.reset(raw);
    if (swr_init(swr.get()) < 0) {
        swr.reset();
        return Fail(TAudioError::Format);
    }
    swrInFormat = static_cast<AVSampleFormat>(f.format);
    swrInRate = f.sample_rate;
    if (av_channel_layout_copy(swrInLayout.Get(), &f.ch_layout) < 0)
        return Fail(TAudioError::Memory);
    return true;
}

// Makes the frame's samples (or, with no frame, what the converter still holds) pending.
bool TAudioStream::Impl::Convert(const AVFrame* f) {
    const auto blockAlign = static_cast<size_t>(info.BlockAlign());
    const auto channels = static_cast<size_t>(info.Channels);
    // What the converter (or the decoder) gives: 24-bit delivery takes 32-bit samples.
    const size_t outBlock = info.TwentyFourBit ? 4 * channels : blockAlign;
    if (f) {
        if (f->nb_samples > kMaxFrameSamples || f->ch_layout.nb_channels <= 0 ||
            f->ch_layout.nb_channels > kMaxChannels)
            return Fail(TAudioError::Format);
        if (f->format == outFormat && f->sample_rate == info.SampleRate &&
            SameChannels(f->ch_layout)) {
            const auto frames = static_cast<size_t>(f->nb_samples);
            if (info.TwentyFourBit) {
                // Interleaved 32-bit already: only the packing to 3 bytes.
                converted.resize(frames * blockAlign);
                PackS32ToS24(f->data[0], converted.data(), frames * channels);
                pending = converted.data();
            } else {
                // Already what we deliver (16-bit or 8-bit interleaved): no copy.
                pending = f->data[0];
            }
            pendingSize = frames * blockAlign;
            return true;
        }
        if (!swr || f->format != swrInFormat || f->sample_rate != swrInRate ||
            av_channel_layout_compare(&f->ch_layout, swrInLayout.Get()) != 0) {
            if (!MakeConverter(*f))
                return false;
        }
    } else if (!swr) {
        return true;
    }
    const int inSamples = f ? f->nb_samples : 0;
    const int outMax = swr_get_out_samples(swr.get(), inSamples);
    if (outMax < 0 || outMax > kMaxFrameSamples)
        return Fail(TAudioError::Format);
    if (outMax == 0)
        return true;
    converted.resize(static_cast<size_t>(outMax) * outBlock);
    uint8_t* out = converted.data();
    const int n = swr_convert(swr.get(), &out, outMax,
                              f ? const_cast<const uint8_t**>(f->extended_data) : nullptr,
                              inSamples);
    if (n < 0)
        return Fail(TAudioError::Format);
    if (info.TwentyFourBit)
        PackS32ToS24(converted.data(), converted.data(), static_cast<size_t>(n) * channels);
    pending = converted.data();
    pendingSize = static_cast<size_t>(n) * blockAlign;
    return true;
}

// After a seek the demuxer lands on a packet at or before the target: drop the samples
// before it, found from the frame's timestamp. Some demuxers (Musepack, WMA) stamp only
// the first of several frames in a packet; the others follow on from it.
void TAudioStream::Impl::ApplySeekTarget(const AVFrame& f) {
    if (seekTarget < 0)
        return;
    const int64_t ts = f.best_effort_timestamp;
    const auto blockAlign = static_cast<int64_t>(info.BlockAlign());
    int64_t start;
    if (ts != AV_NOPTS_VALUE)
        start = av_rescale_q(ts - originPts, stream->time_base, AVRational{1, info.SampleRate});
    else if (nextFrameStart >= 0)
        start = nextFrameStart;
    else {
        seekTarget = -1; // no way to tell where this is: go on from here
        return;
    }
    const int64_t frames = static_cast<int64_t>(pendingSize) / blockAlign;
    nextFrameStart = start + frames;
    if (start + frames <= seekTarget) {
        pendingSize = 0;
        return;
    }
    if (start < seekTarget) {
        const auto skip = static_cast<size_t>((seekTarget - start) * blockAlign);
        pending += skip;
        pendingSize -= skip;
    } else if (start > seekTarget) {
        position = static_cast<uint64_t>(start * blockAlign); // landed late: say where
    }
    seekTarget = -1;
}

// Makes the next block of decoded PCM pending. False at the end or on an error.
bool TAudioStream::Impl::Produce() {
    while (pendingSize == 0) {
        if (ended || failed)
            return false;
        const int got = DecodeFrame();
        if (got < 0)
            return false;
        if (got == 0) {
            ended = true;
            if (!Convert(nullptr)) // a converter that resampled still holds a few samples
                return false;
            if (pendingSize == 0 && !seeked) {
                // Read through from the start: the real length is known now.
                length = position;
                exact = true;
            }
            return pendingSize > 0;
        }
        if (!Convert(frame.get()))
            return false;
        ApplySeekTarget(*frame);
    }
    return true;
}

// Back to the start by opening the file afresh. A timestamp seek to the start does not
// always give the first read's samples again: MPEG audio and Musepack decoders restart a
// few frames in with other state, and the encoder delay is trimmed by timestamps only
// approximately. A rewind (the player's stop, a second pass) must repeat the first read.
bool TAudioStream::Restart() {
    auto fresh = std::make_unique<Impl>();
    fresh->policy = impl_->policy;
    fresh->depth = impl_->depth;
    if (fresh->Open(impl_->path) != TAudioError::Ok)
        return false;
    if (impl_->exact) { // a length learnt by reading to the end stays known
        fresh->length = impl_->length;
        fresh->exact = true;
    }
    impl_ = std::move(fresh);
    return true;
}

TAudioStream::TAudioStream() : impl_(std::make_unique<Impl>()) {}
TAudioStream::~TAudioStream() = default;

std::unique_ptr<TAudioStream> TAudioStream::OpenFile(const std::string& path, TAudioError* error,
                                                     TChannelPolicy policy, TSampleDepth depth) {
    // The formats read without FFmpeg, which is then never loaded for them.
    if (IsRegularFile(path)) {
        if (auto own = OpenPcmFileSource(path, depth)) {
            if (error)
                *error = TAudioError::Ok;
            return FromSource(std::move(own));
        }
    }
    if (!FfmpegAvailable()) {
        if (error)
            *error = TAudioError::Codec;
        return nullptr;
    }
    QuietFfmpegLog();
    std::unique_ptr<TAudioStream> s(new TAudioStream());
    s->impl_->policy = policy;
    s->impl_->depth = depth;
    const TAudioError e = s->impl_->Open(path);
    if (error)
        *error = e;
    if (e != TAudioError::Ok)
        return nullptr;
    return s;
}

std::unique_ptr<TAudioStream> TAudioStream::FromSource(std::unique_ptr<TPcmSource> source) {
    std::unique_ptr<TAudioStream> s(new TAudioStream());
    s->impl_->info = source->Info();
    s->impl_->source = std::move(source);
    return s;
}

std::unique_ptr<TAudioStream> TAudioStream::OpenFileRange(const std::string& path, int64_t first,
                                                          int64_t end, TAudioError* error,
                                                          TChannelPolicy policy,
                                                          TSampleDepth depth) {
    auto whole = OpenFile(path, error, policy, depth);
    if (!whole)
        return nullptr;
    const auto block = static_cast<uint64_t>(whole->Info().BlockAlign());
    const uint64_t length = whole->LengthBytes();
    if (first < 0 || end <= first ||
        (whole->LengthIsExact() && static_cast<uint64_t>(end) * block > length)) {
        if (error)
            *error = TAudioError::Position;
        return nullptr;
    }
    const uint64_t firstByte = static_cast<uint64_t>(first) * block;
    if (firstByte > 0 && !whole->Seek(firstByte)) {
        if (error)
            *error = whole->LastError();
        return nullptr;
    }
    std::unique_ptr<TAudioStream> s(new TAudioStream());
    s->impl_->info = whole->Info();
    s->impl_->rangeFirst = firstByte;
    s->impl_->rangeLength = static_cast<uint64_t>(end - first) * block;
    s->impl_->whole = std::move(whole);
    return s;
}

int64_t TAudioStream::LostSectors() const {
    return impl_->source ? impl_->source->SkippedSectors() : 0;
}

std::string TAudioStream::ProblemText() const {
    return impl_->source ? impl_->source->ErrorText() : std::string();
}

void TAudioStream::TakeRipChecksums(TmyMusicFile& item) const {
    if (impl_->source)
        impl_->source->TakeRipChecksums(item);
}

bool TAudioStream::DeliveredAll() const {
    const Impl& d = *impl_;
    if (d.whole)
        return !d.rangeShort && d.whole->DeliveredAll();
    // A CD track whose every sector came back is whole; sectors given up on are reported
    // apart (LostSectors), since what was read around them is worth keeping.
    if (d.source)
        return !d.source->Incomplete() && (d.source->LastError() == TAudioError::Ok ||
                                           d.source->LastError() == TAudioError::Ended);
    if (d.failed)
        return false;
    if (d.seeked || !d.ended)
        return true; // nothing to judge by
    if (d.stated && d.position < d.statedLength)
        return false;
    // Cut while it was read: what was delivered is only what was there before the cut.
    struct stat st {};
    return d.openSize < 0 || ::stat(d.path.c_str(), &st) != 0 || st.st_size >= d.openSize;
}

uint64_t TAudioStream::StatedLengthBytes() const {
    if (impl_->whole)
        return impl_->rangeLength;
    if (impl_->source)
        return impl_->source->StatedLengthBytes();
    return impl_->stated ? impl_->statedLength : 0;
}

TChannelInfo TAudioStream::Info() const { return impl_->info; }
uint64_t TAudioStream::LengthBytes() const {
    if (impl_->whole)
        return impl_->rangeLength;
    return impl_->source ? impl_->source->LengthBytes() : impl_->length;
}
bool TAudioStream::LengthIsExact() const {
    return impl_->source || impl_->whole ? true : impl_->exact;
}
uint64_t TAudioStream::Position() const {
    if (impl_->whole)
        return impl_->position;
    return impl_->source ? impl_->source->Position() : impl_->position;
}
bool TAudioStream::AtEnd() const {
    if (impl_->whole)
        return impl_->position >= impl_->rangeLength || impl_->rangeShort || impl_->whole->AtEnd();
    return impl_->source ? impl_->source->AtEnd() : impl_->ended && impl_->pendingSize == 0;
}
TAudioError TAudioStream::LastError() const {
    if (impl_->whole && impl_->lastError != TAudioError::Ok)
        return impl_->lastError;
    if (impl_->whole)
        return impl_->whole->LastError();
    return impl_->source ? impl_->source->LastError() : impl_->lastError;
}

int64_t TAudioStream::Read(std::span<std::byte> out) {
    Impl& d = *impl_;
    if (d.source)
        return d.source->Read(out);
    if (d.whole)
        return d.ReadRange(out);
    const auto blockAlign = static_cast<size_t>(d.info.BlockAlign());
    if (out.size() < blockAlign) {
        d.lastError = TAudioError::IllegalParam;
        return -1;
    }
    const size_t want = out.size() - out.size() % blockAlign;
    size_t done = 0;
    while (done < want) {
        if (d.pendingSize == 0 && !d.Produce())
            break;
        const size_t n = std::min(want - done, d.pendingSize);
        std::memcpy(out.data() + done, d.pending, n);
        d.pending += n;
        d.pendingSize -= n;
        done += n;
        d.position += n;
    }
    if (done > 0) {
        d.lastError = TAudioError::Ok;
        return static_cast<int64_t>(done);
    }
    if (d.failed)
        return -1;
    d.lastError = TAudioError::Ended;
    return 0;
}

bool TAudioStream::Seek(uint64_t bytePos) {
    Impl& d = *impl_;
    if (d.source)
        return d.source->Seek(bytePos);
    if (d.whole) {
        const auto block = static_cast<uint64_t>(d.info.BlockAlign());
        bytePos -= bytePos % block;
        if (bytePos > d.rangeLength) {
            d.lastError = TAudioError::Position;
            return false;
        }
        if (!d.whole->Seek(d.rangeFirst + bytePos))
            return false;
        d.position = bytePos;
        d.rangeShort = false;
        d.lastError = TAudioError::Ok;
        return true;
    }
    const auto blockAlign = static_cast<uint64_t>(d.info.BlockAlign());
    bytePos -= bytePos % blockAlign;
    if (bytePos > d.length && (d.exact || d.length > 0)) {
        d.lastError = TAudioError::Position;
        return false;
    }
    if (bytePos == 0 && Restart())
        return true;
    const auto target = static_cast<int64_t>(bytePos / blockAlign);
    // Rounded down: in a coarse time base (Musepack counts in packets of 64 frames) a
    // rounded-up timestamp would land past the target.
    const int64_t ts = d.originPts + av_rescale_q_rnd(target, AVRational{1, d.info.SampleRate},
                                                      d.stream->time_base, AV_ROUND_DOWN);
    if (avformat_seek_file(d.format.get(), d.streamIndex, INT64_MIN, ts, ts, 0) < 0) {
        d.lastError = TAudioError::NotAvailable;
        return false;
    }
    avcodec_flush_buffers(d.codec.get());
    d.swr.reset(); // a resampling converter would still hold samples from before
    d.swrInFormat = AV_SAMPLE_FMT_NONE;
    d.pending = nullptr;
    d.pendingSize = 0;
    d.inputEnded = false;
    d.ended = false;
    d.failed = false;
    d.drainErrors = 0;
    d.seekTarget = target;
    d.nextFrameStart = -1;
    d.seeked = true;
    d.position = bytePos;
    d.lastError = TAudioError::Ok;
    return true;
}

} // namespace bw
