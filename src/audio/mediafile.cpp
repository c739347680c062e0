#include "audio/mediafile.h"

#include "common/asciicase.h"
#include "common/filebytes.h"
#include "tags/vorbiscomment.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

#include <array>
#include <cerrno>
#include <mutex>
#include <string_view>

namespace bw {

namespace {

// The names the list shows for codecs; PCM is named after its container instead.
struct TCodecName {
    AVCodecID Id;
    const char* Name;
};
constexpr std::array<TCodecName, 19> kCodecNames{{
    {AV_CODEC_ID_AAC, "AAC"},
    {AV_CODEC_ID_AAC_LATM, "AAC"},
    {AV_CODEC_ID_ALAC, "ALAC"},
    {AV_CODEC_ID_OPUS, "Opus"},
    {AV_CODEC_ID_VORBIS, "Vorbis"},
    {AV_CODEC_ID_FLAC, "FLAC"},
    {AV_CODEC_ID_TTA, "TTA"},
    {AV_CODEC_ID_AC3, "AC-3"},
    {AV_CODEC_ID_EAC3, "E-AC-3"},
    {AV_CODEC_ID_DTS, "DTS"},
    {AV_CODEC_ID_TRUEHD, "TrueHD"},
    {AV_CODEC_ID_MP1, "MP1"},
    {AV_CODEC_ID_MP2, "MP2"},
    {AV_CODEC_ID_MP3, "MP3"},
    {AV_CODEC_ID_WAVPACK, "WavPack"},
    {AV_CODEC_ID_DSD_LSBF, "DSD"},
    {AV_CODEC_ID_DSD_MSBF, "DSD"},
    {AV_CODEC_ID_DSD_LSBF_PLANAR, "DSD"},
    {AV_CODEC_ID_DSD_MSBF_PLANAR, "DSD"},
}};

struct TContainerName {
    std::string_view Demuxer;
    const char* Name;
};
constexpr std::array<TContainerName, 5> kPcmContainerNames{{
    {"aiff", "AIFF"},
    {"caf", "CAF"},
    {"au", "AU"},
    {"w64", "Wave64"},
    {"wav", "WAV"},
}};

std::string TypeNameOf(AVCodecID id, std::string_view demuxer) {
    if (IsPcmCodec(id)) {
        for (const auto& c : kPcmContainerNames)
            if (c.Demuxer == demuxer)
                return c.Name;
        return "PCM";
    }
    for (const auto& c : kCodecNames)
        if (c.Id == id)
            return c.Name;
    // A codec without a name of its own here: FFmpeg's short name for it.
    return AsciiUpper(avcodec_get_name(id));
}

// Rate and channel count, which a container's header states; a raw stream (ADTS AAC,
// AC-3) states them only in its frames.
bool HasStreamFacts(const AVCodecParameters& par) {
    return par.sample_rate > 0 && par.ch_layout.nb_channels > 0;
}

bool IsAccessError(int averror) {
    return averror == AVERROR(ENOENT) || averror == AVERROR(EACCES) || averror == AVERROR(EPERM) ||
           averror == AVERROR(EISDIR) || averror == AVERROR(EIO);
}

std::string TagText(const AVFormatContext& format, const AVStream& stream, const char* key) {
    // Containers keep their tags with the file (MP4, ID3v2) or with the stream (Ogg).
    for (const AVDictionary* d : {static_cast<const AVDictionary*>(format.metadata),
                                  static_cast<const AVDictionary*>(stream.metadata)})
        if (const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0))
            return e->value;
    return {};
}

} // namespace

bool IsPcmCodec(AVCodecID id) {
    return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

void QuietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
}

int OpenAudioContainer(const std::string& path, TFormatPtr& format, std::string_view demuxer) {
    QuietFfmpegLog();
    const auto open = [&](const AVInputFormat* chosen) {
        AVFormatContext* raw = nullptr;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "format_whitelist", kAudioDemuxers, 0);
        const int r = avformat_open_input(&raw, ("file:" + path).c_str(), chosen, &options);
        av_dict_free(&options);
        if (r >= 0)
            format.reset(raw);
        return r;
    };
    const std::string name(demuxer);
    const AVInputFormat* chosen = name.empty() ? nullptr : av_find_input_format(name.c_str());
    if (chosen && av_match_list(chosen->name, kAudioDemuxers, ',') > 0) {
        const int r = open(chosen);
        if (r >= 0 || IsAccessError(r))
            return r;
    }
    return open(nullptr);
}

bool TMediaTags::Any() const {
    return !(Title.empty() && Artist.empty() && Album.empty() && Date.empty() && Genre.empty() &&
             Track.empty() && Comment.empty());
}

TMediaFile::TLoad TMediaFile::Load(const std::string& path, std::string_view demuxer) {
    *this = TMediaFile{};
    const auto size = FileSizeOf(path);
    if (!IsRegularFile(path) || !size)
        return TLoad::CannotRead;
    TFormatPtr format;
    const int r = OpenAudioContainer(path, format, demuxer);
    if (r < 0)
        return IsAccessError(r) ? TLoad::CannotRead : TLoad::NotAudio;
    // The header readers leave the file at the start of the audio data.
    const int64_t dataStart = format->pb ? avio_tell(format->pb) : 0;
    int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index >= 0 && !HasStreamFacts(*format->streams[index]->codecpar)) {
        // Only a stream without a header needs its first frames looked at, as every
        // player of such a stream does.
        if (avformat_find_stream_info(format.get(), nullptr) < 0)
            return TLoad::NotAudio;
        index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    }
    // Audio that cannot be decoded is no audio to convert or play.
    if (index < 0 || !HasStreamFacts(*format->streams[index]->codecpar) ||
        !avcodec_find_decoder(format->streams[index]->codecpar->codec_id))
        return TLoad::NotAudio;
    const AVStream& stream = *format->streams[index];
    const AVCodecParameters& par = *stream.codecpar;

    fileSize_ = static_cast<int64_t>(*size);
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0)
        duration_ = static_cast<double>(stream.duration) * av_q2d(stream.time_base);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        duration_ = static_cast<double>(format->duration) / AV_TIME_BASE;
    else if (par.bit_rate > 0 && fileSize_ > dataStart)
        // A constant-rate stream whose header gives no length (DSF): its data's size
        // over its rate, as FFmpeg estimates it for decoding.
        duration_ = static_cast<double>(fileSize_ - dataStart) * 8 / static_cast<double>(par.bit_rate);
    bitRate_ = par.bit_rate > 0     ? par.bit_rate
               : duration_ > 0 ? static_cast<int64_t>(static_cast<double>(fileSize_) * 8 / duration_)
                               : 0;
    sampleRate_ = par.sample_rate;
    channels_ = par.ch_layout.nb_channels;
    typeName_ = TypeNameOf(par.codec_id, format->iformat->name);

    tags_.Title = TagText(*format, stream, "title");
    tags_.Artist = TagText(*format, stream, "artist");
    tags_.Album = TagText(*format, stream, "album");
    tags_.Date = TagText(*format, stream, "date");
    if (tags_.Date.empty())
        tags_.Date = TagText(*format, stream, "year");
    tags_.Genre = TagText(*format, stream, "genre");
    tags_.Track = TagText(*format, stream, "track");
    tags_.Comment = TagText(*format, stream, "comment");
    // FFmpeg gives most containers' album artist and disc its own names; the ids keep the
    // names they have in the file: a Vorbis comment's, or an MP4 freeform item's and an
    // ID3v2 TXXX frame's description.
    constexpr TReleaseNames kFfmpegNames{"album_artist", "disc"};
    for (size_t field = 0; field < kReleaseFieldCount; ++field)
        for (const std::string_view name :
             {kFfmpegNames[field], kVorbisReleaseNames[field], kMusicBrainzIdNames[field]})
            if (tags_.Release[field].empty() && !name.empty())
                tags_.Release[field] = TagText(*format, stream, std::string(name).c_str());
    return TLoad::Ok;
}

std::optional<TCoverArt> TMediaFile::FrontCover(const std::string& path) {
    TFormatPtr format;
    if (!IsRegularFile(path) || OpenAudioContainer(path, format) < 0)
        return std::nullopt;
    std::optional<TCoverArt> picked;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream& stream = *format->streams[i];
        const AVPacket& picture = stream.attached_pic;
        if ((stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 || picture.size <= 0 ||
            static_cast<size_t>(picture.size) > kMaxCoverBytes)
            continue;
        // ID3v2 and FLAC-style pictures carry their type's name; an MP4 or Matroska cover
        // carries none and is the front cover.
        const AVDictionaryEntry* kind = av_dict_get(stream.metadata, "comment", nullptr, 0);
        const bool front = !kind || std::string_view(kind->value) == "Cover (front)";
        if (picked && !front)
            continue;
        TCoverArt cover;
        const auto* bytes = reinterpret_cast<const std::byte*>(picture.data);
        cover.Data.assign(bytes, bytes + picture.size);
        cover.PictureType = front ? kFrontCoverType : 0;
        if (const AVDictionaryEntry* title = av_dict_get(stream.metadata, "title", nullptr, 0))
            cover.Description = title->value;
        FillPictureMimeType(cover);
        picked = std::move(cover);
        if (front)
            break;
    }
    return picked;
}

} // namespace bw
