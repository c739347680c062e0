#include "audio/ffmpegload.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/version.h>
#include <libavformat/avformat.h>
#include <libavformat/version.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswresample/version.h>
}

#include <dlfcn.h>

#include <array>
#include <type_traits>

// Every FFmpeg function the program calls: its result, name, parameters and arguments. The
// definitions below stand in for the libraries' own at link time (the program is not linked
// against them) and forward to them once loaded. Their parameters are checked against
// FFmpeg's headers by the compiler: a definition that differs from the declaration there
// does not build.
#define BW_FFMPEG_FUNCTIONS(X) \
    X(int, av_channel_layout_compare, (const AVChannelLayout *a0, const AVChannelLayout *a1), (a0, a1)) \
    X(int, av_channel_layout_copy, (AVChannelLayout *a0, const AVChannelLayout *a1), (a0, a1)) \
    X(void, av_channel_layout_default, (AVChannelLayout *a0, int a1), (a0, a1)) \
    X(int, av_channel_layout_from_mask, (AVChannelLayout *a0, uint64_t a1), (a0, a1)) \
    X(void, av_channel_layout_uninit, (AVChannelLayout *a0), (a0)) \
    X(void, av_dict_free, (AVDictionary **a0), (a0)) \
    X(AVDictionaryEntry *, av_dict_get, (const AVDictionary *a0, const char *a1, const AVDictionaryEntry *a2, int a3), (a0, a1, a2, a3)) \
    X(int, av_dict_set, (AVDictionary **a0, const char *a1, const char *a2, int a3), (a0, a1, a2, a3)) \
    X(int, av_find_best_stream, (AVFormatContext *a0, enum AVMediaType a1, int a2, int a3, const AVCodec **a4, int a5), (a0, a1, a2, a3, a4, a5)) \
    X(const AVInputFormat *, av_find_input_format, (const char *a0), (a0)) \
    X(AVFrame *, av_frame_alloc, (), ()) \
    X(void, av_frame_free, (AVFrame **a0), (a0)) \
    X(int, av_frame_get_buffer, (AVFrame *a0, int a1), (a0, a1)) \
    X(int, av_frame_make_writable, (AVFrame *a0), (a0)) \
    X(enum AVSampleFormat, av_get_packed_sample_fmt, (enum AVSampleFormat a0), (a0)) \
    X(const AVOutputFormat *, av_guess_format, (const char *a0, const char *a1, const char *a2), (a0, a1, a2)) \
    X(int, av_log_get_level, (), ()) \
    X(void, av_log_set_level, (int a0), (a0)) \
    X(int, av_match_list, (const char *a0, const char *a1, char a2), (a0, a1, a2)) \
    X(AVPacket *, av_packet_alloc, (), ()) \
    X(void, av_packet_free, (AVPacket **a0), (a0)) \
    X(void, av_packet_rescale_ts, (AVPacket *a0, AVRational a1, AVRational a2), (a0, a1, a2)) \
    X(void, av_packet_unref, (AVPacket *a0), (a0)) \
    X(int, av_read_frame, (AVFormatContext *a0, AVPacket *a1), (a0, a1)) \
    X(int64_t, av_rescale, (int64_t a0, int64_t a1, int64_t a2), (a0, a1, a2)) \
    X(int64_t, av_rescale_q, (int64_t a0, AVRational a1, AVRational a2), (a0, a1, a2)) \
    X(int64_t, av_rescale_q_rnd, (int64_t a0, AVRational a1, AVRational a2, enum AVRounding a3), (a0, a1, a2, a3)) \
    X(char *, av_strdup, (const char *a0), (a0)) \
    X(int, av_strerror, (int a0, char *a1, size_t a2), (a0, a1, a2)) \
    X(int, av_write_frame, (AVFormatContext *a0, AVPacket *a1), (a0, a1)) \
    X(int, av_write_trailer, (AVFormatContext *a0), (a0)) \
    X(AVCodecContext *, avcodec_alloc_context3, (const AVCodec *a0), (a0)) \
    X(const AVCodecDescriptor *, avcodec_descriptor_get, (enum AVCodecID a0), (a0)) \
    X(const AVCodec *, avcodec_find_decoder, (enum AVCodecID a0), (a0)) \
    X(const AVCodec *, avcodec_find_encoder_by_name, (const char *a0), (a0)) \
    X(void, avcodec_flush_buffers, (AVCodecContext *a0), (a0)) \
    X(void, avcodec_free_context, (AVCodecContext **a0), (a0)) \
    X(const char *, avcodec_get_name, (enum AVCodecID a0), (a0)) \
    X(int, avcodec_open2, (AVCodecContext *a0, const AVCodec *a1, AVDictionary **a2), (a0, a1, a2)) \
    X(int, avcodec_parameters_from_context, (AVCodecParameters *a0, const AVCodecContext *a1), (a0, a1)) \
    X(int, avcodec_parameters_to_context, (AVCodecContext *a0, const AVCodecParameters *a1), (a0, a1)) \
    X(int, avcodec_receive_frame, (AVCodecContext *a0, AVFrame *a1), (a0, a1)) \
    X(int, avcodec_receive_packet, (AVCodecContext *a0, AVPacket *a1), (a0, a1)) \
    X(int, avcodec_send_frame, (AVCodecContext *a0, const AVFrame *a1), (a0, a1)) \
    X(int, avcodec_send_packet, (AVCodecContext *a0, const AVPacket *a1), (a0, a1)) \
    X(unsigned, avcodec_version, (), ()) \
    X(int, avformat_alloc_output_context2, (AVFormatContext **a0, const AVOutputFormat *a1, const char *a2, const char *a3), (a0, a1, a2, a3)) \
    X(void, avformat_close_input, (AVFormatContext **a0), (a0)) \
    X(int, avformat_find_stream_info, (AVFormatContext *a0, AVDictionary **a1), (a0, a1)) \
    X(void, avformat_free_context, (AVFormatContext *a0), (a0)) \
    X(AVStream *, avformat_new_stream, (AVFormatContext *a0, const AVCodec *a1), (a0, a1)) \
    X(int, avformat_open_input, (AVFormatContext **a0, const char *a1, const AVInputFormat *a2, AVDictionary **a3), (a0, a1, a2, a3)) \
    X(int, avformat_seek_file, (AVFormatContext *a0, int a1, int64_t a2, int64_t a3, int64_t a4, int a5), (a0, a1, a2, a3, a4, a5)) \
    X(unsigned, avformat_version, (), ()) \
    X(int, avformat_write_header, (AVFormatContext *a0, AVDictionary **a1), (a0, a1)) \
    X(int, avio_closep, (AVIOContext **a0), (a0)) \
    X(void, avio_flush, (AVIOContext *a0), (a0)) \
    X(int, avio_open2, (AVIOContext **a0, const char *a1, int a2, const AVIOInterruptCB *a3, AVDictionary **a4), (a0, a1, a2, a3, a4)) \
    X(int64_t, avio_size, (AVIOContext *a0), (a0)) \
    X(int64_t, avio_seek, (AVIOContext *a0, int64_t a1, int a2), (a0, a1, a2)) \
    X(unsigned, avutil_version, (), ()) \
    X(int, swr_alloc_set_opts2, (struct SwrContext **a0, AVChannelLayout *a1, enum AVSampleFormat a2, int a3, AVChannelLayout *a4, enum AVSampleFormat a5, int a6, int a7, void *a8), (a0, a1, a2, a3, a4, a5, a6, a7, a8)) \
    X(int, swr_convert, (struct SwrContext *a0, uint8_t **a1, int a2, const uint8_t **a3, int a4), (a0, a1, a2, a3, a4)) \
    X(void, swr_free, (struct SwrContext **a0), (a0)) \
    X(int, swr_get_out_samples, (struct SwrContext *a0, int a1), (a0, a1)) \
    X(int, swr_init, (struct SwrContext *a0), (a0)) \
    X(unsigned, swresample_version, (), ()) \

namespace bw {

namespace {

struct TFfmpegApi {
    bool Loaded = false;
    std::string Why;
#define BW_FFMPEG_POINTER(ret, name, params, args) decltype(&::name) name = nullptr;
    BW_FFMPEG_FUNCTIONS(BW_FFMPEG_POINTER)
#undef BW_FFMPEG_POINTER
};

TFfmpegApi Load() {
    TFfmpegApi api;
    std::array<void*, 4> handles{};
    const auto names = FfmpegLibraryNames();
    for (size_t i = 0; i < names.size(); ++i) {
        // Never closed: FFmpeg keeps state (its codec lists, the log level) for the process.
        handles[i] = dlopen(names[i].c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            const char* error = dlerror();
            api.Why = "FFmpeg's libraries could not be loaded: " + std::string(error ? error : names[i]);
            return api;
        }
    }
    const auto find = [&](const char* name) -> void* {
        for (void* handle : handles)
            if (void* symbol = dlsym(handle, name))
                return symbol;
        if (api.Why.empty())
            api.Why = "FFmpeg's libraries lack " + std::string(name);
        return nullptr;
    };
#define BW_FFMPEG_RESOLVE(ret, name, params, args) \
    api.name = reinterpret_cast<decltype(&::name)>(find(#name));
    BW_FFMPEG_FUNCTIONS(BW_FFMPEG_RESOLVE)
#undef BW_FFMPEG_RESOLVE
    api.Loaded = api.Why.empty();
    return api;
}

const TFfmpegApi& Api() {
    static const TFfmpegApi api = Load();
    return api;
}

// What a call gives while the libraries are missing: an error code where the function
// returns one, else nothing (a null object, zero).
template <typename R>
R Missing() {
    if constexpr (std::is_same_v<R, int>)
        return AVERROR(ENOSYS);
    else if constexpr (!std::is_void_v<R>)
        return R{};
}

} // namespace

std::array<std::string, 4> FfmpegLibraryNames() {
    return {"libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR),
            "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR),
            "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR),
            "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR)};
}

bool FfmpegAvailable(std::string* why) {
    const TFfmpegApi& api = Api();
    if (!api.Loaded && why)
        *why = api.Why;
    return api.Loaded;
}

} // namespace bw

#define BW_FFMPEG_FORWARD(ret, name, params, args) \
    extern "C" ret name params { \
        const bw::TFfmpegApi& api = bw::Api(); \
        if (!api.Loaded) \
            return bw::Missing<ret>(); \
        return api.name args; \
    }
BW_FFMPEG_FUNCTIONS(BW_FFMPEG_FORWARD)
#undef BW_FFMPEG_FORWARD
