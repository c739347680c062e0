#include "shell/probe.h"

#include "audio/mediafile.h"
#include "common/asciicase.h"
#include "common/filebytes.h"
#include "common/json.h"
#include "core/genrelist.h"
#include "core/releasefields.h"
#include "tags/cdatrack.h"
#include "tags/flacfile.h"
#include "tags/monkey.h"
#include "tags/mp4tags.h"
#include "tags/mpegaudio.h"
#include "tags/mpegplus.h"
#include "tags/oggopus.h"
#include "tags/oggvorbis.h"
#include "tags/textcodec.h"
#include "tags/wavfile.h"
#include "tags/wavpackfile.h"
#include "tags/wmafile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace bw {

namespace {

std::string LowerExtension(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return AsciiLower(path.substr(dot));
}

// A decimal number text as a track number; 0 when it is not one.
uint8_t TrackNumber(std::string_view text) {
    text = TrimControl(text);
    int v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() || v < 0)
        return 0;
    return static_cast<uint8_t>(v);
}

int32_t ToMs(double seconds) {
    const double ms = seconds * 1000;
    return ms >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

uint8_t GenreByteFor(const std::string& genre) {
    return static_cast<uint8_t>(GenreList().ByteFor(genre));
}

// A format's own tag texts (a Vorbis comment, a WMA header): always taken, the genre number
// by the genre list.
struct TTagTexts {
    std::string Title, Artist, Album, Genre, Year, Comment;
    uint8_t Track = 0;
    TReleaseTexts Release{};
};

void TakeTexts(const TTagTexts& t, TmyMusicFile& item) {
    item.HasTag = true;
    item.Title = t.Title;
    item.Artist = t.Artist;
    item.Album = t.Album;
    item.Genre = t.Genre;
    item.GenreIndex = GenreByteFor(t.Genre);
    item.Year = t.Year;
    item.Comment = t.Comment;
    item.Track = t.Track;
    TReleaseTexts release = t.Release;
    for (std::string& text : release)
        text = std::string(TrimControl(text));
    SetReleaseTexts(item, release);
}

// The ID3v1 fields, then every ID3v2 field in their place (empty ones included).
void TakeId3(const TID3v1& v1, const TID3v2& v2, TmyMusicFile& item) {
    if (v1.Present()) {
        item.HasTag = true;
        item.Title = v1.Title();
        item.Artist = v1.Artist();
        item.Album = v1.Album();
        item.Year = v1.Year();
        item.Comment = v1.Comment();
        item.GenreIndex = v1.GenreIndex() > 147 ? TGenreList::kOther : v1.GenreIndex();
        item.Genre = GenreList().Name(item.GenreIndex);
        item.Track = v1.Revision() == 2 ? v1.Track() : 0; // revision 2 is ID3v1.1
    }
    if (v2.Present()) {
        item.HasId3v2 = true;
        item.Title = v2.Title();
        item.Artist = v2.Artist();
        item.Album = v2.Album();
        item.Genre = v2.Genre();
        item.Year = v2.Year();
        item.Comment = v2.Comment();
        item.Track = static_cast<uint8_t>(v2.Track());
        item.GenreIndex = GenreByteFor(v2.Genre());
        SetReleaseTexts(item, v2.Release());
    }
}

// The APE tag's items, when there is a tag. utf8: the values are UTF-8 (else taken as they
// are, which inside the program means UTF-8 when valid and Latin-1 otherwise).
void TakeApe(const TAPETag& tag, TmyMusicFile& item) {
    if (!tag.Present())
        return;
    item.HasTag = true;
    auto value = [&](std::string_view key) { return Utf8OrLatin1(tag.GetItem(key)); };
    item.Title = value("Title");
    item.Artist = value("Artist");
    item.Album = value("Album");
    item.Year = value("Year");
    item.Comment = value("Comment");
    item.Genre = value("Genre");
    item.GenreIndex = GenreByteFor(item.Genre);
    item.Track = TrackNumber(value("Track"));
    TReleaseTexts release;
    for (size_t field = 0; field < kReleaseFieldCount; ++field)
        release[field] = std::string(TrimControl(value(kApeReleaseNames[field])));
    SetReleaseTexts(item, release);
}

// The texts of a file read through FFmpeg or the Opus reader; a track may be given with
// the count of the set ("3/12").
void TakeOtherTexts(const TMediaTags& t, TmyMusicFile& item) {
    const std::string_view track = std::string_view(t.Track).substr(0, t.Track.find('/'));
    TakeTexts({t.Title, t.Artist, t.Album, std::string(TrimControl(t.Genre)), t.Date, t.Comment,
               TrackNumber(track), t.Release},
              item);
    item.HasTag = t.Any();
}

std::string ChannelModeOf(int channels) {
    return channels == 1 ? "Mono" : channels == 2 ? "Stereo" : "Surround";
}

// What every reader says of the stream itself.
struct TStreamFacts {
    double Duration = 0; // seconds
    int64_t FileSize = 0;
    int64_t Bitrate = 0; // bits per second
    int32_t SampleRate = 0;
    int Channels = 0;
    std::string ChannelMode;
};

void TakeStream(const TStreamFacts& f, TmyMusicFile& item) {
    item.DurationMs = ToMs(f.Duration);
    item.FileSize = f.FileSize;
    item.Bitrate = static_cast<int32_t>(f.Bitrate);
    item.SampleRate = f.SampleRate;
    item.Channels = static_cast<uint8_t>(f.Channels);
    item.ChannelMode = f.ChannelMode;
}

// The checks every reader's result passes: it loaded, it is valid, its duration is above 0.
bool Require(bool loaded, bool valid, double duration, const TmyMusicFile& item,
             std::string& reason) {
    if (!loaded)
        reason = "cannot be read";
    else if (!valid)
        reason = "not a valid " + item.TypeName + " file";
    else if (!(duration > 0))
        reason = "length is zero";
    else
        return true;
    return false;
}

} // namespace

namespace {

constexpr std::array<TSourceExtension, 28> kSourceExtensions{{
    {".mp3", TSourceType::Mpeg, "MP3"},
    {".mp1", TSourceType::Mpeg, "MP1"},
    {".mp2", TSourceType::Mpeg, "MP2"},
    {".ogg", TSourceType::Ogg, "OGG"},
    {".wav", TSourceType::Wav, "WAV"},
    {".wma", TSourceType::Wma, "WMA"},
    {".flac", TSourceType::Flac, "FLAC"},
    {".fla", TSourceType::Flac, "FLAC"},
    // The Type text of this format has always had a double quote for its apostrophe.
    {".ape", TSourceType::Ape, "Monkey\"s Audio"},
    {".mpc", TSourceType::Mpc, "MusePack"},
    {".wv", TSourceType::WavPack, "WavPack"},
    {".cda", TSourceType::CdaFile, "CDA"},
    // Read through FFmpeg; the probe puts the codec's name in place of "Other".
    {".m4a", TSourceType::Other, "Other", "mov"},
    {".mp4", TSourceType::Other, "Other", "mov"},
    {".aac", TSourceType::Other, "Other", "aac"},
    {".opus", TSourceType::Other, "Other", "ogg"},
    {".aif", TSourceType::Other, "Other", "aiff"},
    {".aiff", TSourceType::Other, "Other", "aiff"},
    {".aifc", TSourceType::Other, "Other", "aiff"},
    {".tta", TSourceType::Other, "Other", "tta"},
    {".dsf", TSourceType::Other, "Other", "dsf"},
    {".dff", TSourceType::Other, "Other", "iff"},
    {".ac3", TSourceType::Other, "Other", "ac3"},
    {".mka", TSourceType::Other, "Other", "matroska"},
    {".caf", TSourceType::Other, "Other", "caf"},
    {".au", TSourceType::Other, "Other", "au"},
    {".w64", TSourceType::Other, "Other", "w64"},
    {".oga", TSourceType::Other, "Other", "ogg"},
}};

} // namespace

std::span<const TSourceExtension> SourceExtensions() {
    return kSourceExtensions;
}

std::string OtherSourcePatterns() {
    std::string patterns;
    for (const TSourceExtension& e : kSourceExtensions)
        if (e.Type == TSourceType::Other)
            patterns += (patterns.empty() ? "*" : " *") + std::string(e.Extension);
    return patterns;
}

std::optional<TTypeByExtension> SourceTypeOf(std::string_view path) {
    const std::string ext = LowerExtension(path);
    for (const TSourceExtension& e : kSourceExtensions)
        if (ext == e.Extension)
            return TTypeByExtension{e.Type, std::string(e.TypeName)};
    return std::nullopt;
}

TFileProbe::TFileProbe()
    : mpeg_(std::make_unique<TMPEGaudio>()), ogg_(std::make_unique<TOggVorbis>()),
      wav_(std::make_unique<TWAVfile>()), wma_(std::make_unique<TWMAfile>()),
      flac_(std::make_unique<TFLACfile>()), ape_(std::make_unique<TMonkey>()),
      mpc_(std::make_unique<TMPEGplus>()), wavPack_(std::make_unique<TWAVPackfile>()),
      cda_(std::make_unique<TCDAtrack>()), media_(std::make_unique<TMediaFile>()) {}

TFileProbe::~TFileProbe() = default;

void TFileProbe::SetCdPlayerDatabase(const std::string& path) {
    cda_->SetDatabasePath(path);
}

TFileProbe::TResult TFileProbe::Probe(const std::string& path) {
    TResult result;
    const auto type = SourceTypeOf(path);
    if (!type) {
        result.Reason = kUnsupportedFileType;
        return result;
    }
    TmyMusicFile& item = result.Item;
    item.SourcePath = path;
    item.SourceType = type->Type;
    item.TypeName = type->TypeName;
    bool ok = false;
    switch (type->Type) {
    case TSourceType::Mpeg:
        ok = ProbeMpeg(path, item, result.Reason);
        break;
    case TSourceType::Ogg:
        ok = ProbeOgg(path, item, result.Reason);
        break;
    case TSourceType::Wav:
        ok = ProbeWav(path, item, result.Reason);
        break;
    case TSourceType::Wma:
        ok = ProbeWma(path, item, result.Reason);
        break;
    case TSourceType::Flac:
        ok = ProbeFlac(path, item, result.Reason);
        break;
    case TSourceType::Ape:
        ok = ProbeApe(path, item, result.Reason);
        break;
    case TSourceType::Mpc:
        ok = ProbeMpc(path, item, result.Reason);
        break;
    case TSourceType::WavPack:
        ok = ProbeWavPack(path, item, result.Reason);
        break;
    case TSourceType::CdaFile:
        ok = ProbeCda(path, item, result.Reason);
        break;
    case TSourceType::Other:
        ok = ProbeOther(path, item, result.Reason);
        break;
    case TSourceType::CdTrack:
        result.Reason = kUnsupportedFileType;
        break;
    }
    result.Accepted = ok;
    if (!ok)
        result.Item = TmyMusicFile{};
    return result;
}

bool TFileProbe::ProbeMpeg(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TMPEGaudio& r = *mpeg_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream(
        {r.Duration(), r.FileSize(), r.BitRate() * 1000, r.SampleRate(), 2, r.ChannelModeText()},
        item);
    item.IsVbr = r.VBR().Found;
    TakeId3(r.ID3v1(), r.ID3v2(), item);
    return true;
}

bool TFileProbe::ProbeOgg(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TOggVorbis& r = *ogg_;
    const bool loaded = r.Load(path);
    // Any channel count: the conversion downmixes surround or keeps every channel.
    if (!Require(loaded, r.HeaderValid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.NominalBitRate() * 1000, r.SampleRate(), r.Channels(),
                r.ChannelModeText()},
               item);
    TakeTexts({r.Title(), r.Artist(), r.Album(), r.Genre(), r.Date(), r.Comment(), r.Track(),
               r.Release()},
              item);
    return true;
}

bool TFileProbe::ProbeWav(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TWAVfile& r = *wav_;
    const bool loaded = r.Load(path);
    // Any channel count: the conversion downmixes surround or keeps every channel.
    if (!Require(loaded, r.HeaderValid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.BitsPerSample() * r.Channels() * r.SampleRate(),
                r.SampleRate(), r.Channels(), r.ChannelModeText()},
               item);
    return true;
}

bool TFileProbe::ProbeWma(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TWMAfile& r = *wma_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.BitRate() * 1000, r.SampleRate(), r.Channels(),
                r.ChannelModeText()},
               item);
    TakeTexts({r.Title(), r.Artist(), r.Album(), r.Genre(), r.Year(), r.Comment(), r.Track(),
               r.Release()},
              item);
    return true;
}

bool TFileProbe::ProbeFlac(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TFLACfile& r = *flac_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.BitsPerSample() * r.Channels() * r.SampleRate(),
                r.SampleRate(), r.Channels(), r.Channels() == 1 ? "Mono" : "Stereo"},
               item);
    item.HasTag = true;
    item.Title = r.Title();
    item.Artist = r.Artist();
    item.Album = r.Album();
    item.Year = r.Date();
    item.Comment = r.Comment();
    item.Genre = std::string(TrimControl(r.Genre()));
    item.GenreIndex = GenreByteFor(item.Genre);
    item.Track = TrackNumber(r.TrackText());
    SetReleaseTexts(item, r.Release());
    return true;
}

bool TFileProbe::ProbeApe(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TMonkey& r = *ape_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.Channels() * r.BitsPerSample() * r.SampleRate(),
                r.SampleRate(), r.Channels(), r.Channels() == 1 ? "Mono" : "Stereo"},
               item);
    TakeApe(r.APETag(), item);
    return true;
}

bool TFileProbe::ProbeMpc(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TMPEGplus& r = *mpc_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.BitRate() * 1000, r.SampleRate(), r.ChannelMode(),
                r.ChannelMode() == 1 ? "Stereo" : "JointStereo"},
               item);
    TakeId3(r.ID3v1(), r.ID3v2(), item);
    TakeApe(r.APETag(), item);
    return true;
}

bool TFileProbe::ProbeWavPack(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TWAVPackfile& r = *wavPack_;
    const bool loaded = r.Load(path);
    if (!Require(loaded, r.Valid(), r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.Channels() * r.BitsPerSample() * r.SampleRate(),
                r.SampleRate(), r.Channels(),
                r.Channels() == 1   ? "Mono"
                : r.Channels() == 2 ? "Stereo"
                                    : "Surround"},
               item);
    TakeApe(r.APETag(), item);
    return true;
}

bool TFileProbe::ProbeCda(const std::string& path, TmyMusicFile& item, std::string& reason) {
    TCDAtrack& r = *cda_;
    const bool loaded = r.ReadFromFile(path);
    // A track file's length may be 0; only reading and validity count.
    if (!Require(loaded, r.Valid(), 1, item, reason))
        return false;
    TakeStream({r.Duration(), int64_t{ToMs(r.Duration())} * 177, 1411200, 44100, 2, "Stereo"},
               item);
    item.Title = r.Title();
    item.Artist = r.Artist();
    item.Album = r.Album();
    item.Track = static_cast<uint8_t>(r.TrackNumber() & 0xFF);
    return true;
}

bool TFileProbe::ProbeOther(const std::string& path, TmyMusicFile& item, std::string& reason) {
    const std::string ext = LowerExtension(path);
    const auto entry = std::find_if(kSourceExtensions.begin(), kSourceExtensions.end(),
                                    [&](const TSourceExtension& e) { return e.Extension == ext; });
    const std::string_view demuxer = entry != kSourceExtensions.end() ? entry->Demuxer : std::string_view();
    // Opus, the commonest of these formats in a library, says all the list shows in its two
    // header packets and its last page; opening a demuxer for it costs several times more.
    // Anything else in Ogg, or an Opus file whose end is not found, goes to FFmpeg.
    if (demuxer == "ogg") {
        TOggOpus opus;
        if (opus.Load(path) && opus.Samples() > 0) {
            item.TypeName = "Opus";
            TakeStream({opus.Duration(), opus.FileSize(), opus.BitRate(), TOggOpus::kDecodeRate,
                        opus.Channels(), ChannelModeOf(opus.Channels())},
                       item);
            TakeOtherTexts({opus.Title(), opus.Artist(), opus.Album(), opus.Date(), opus.Genre(),
                            opus.TrackText(), opus.Comment(), opus.Release()},
                           item);
            return true;
        }
    }
    // MP4 files of one AAC or ALAC track likewise, from their movie header.
    if (demuxer == "mov") {
        TMp4Tags mp4;
        const TMp4Audio& a = mp4.Audio();
        // An old-style genre number ("gnre") is left to FFmpeg, which names it.
        if (mp4.Load(path) && !a.Codec.empty() && mp4.Items().end() ==
            std::find_if(mp4.Items().begin(), mp4.Items().end(), [](const TMp4Item& i) { return i.Key == "gnre"; })) {
            item.TypeName = a.Codec;
            const int64_t size = static_cast<int64_t>(FileSizeOf(path).value_or(0));
            TakeStream({a.Duration, size,
                        a.BitRate > 0 ? a.BitRate : static_cast<int64_t>(static_cast<double>(size) * 8 / a.Duration),
                        static_cast<int32_t>(a.SampleRate), a.Channels, ChannelModeOf(a.Channels)},
                       item);
            const int track = mp4.Track();
            TakeOtherTexts({mp4.Text(kMp4Title), mp4.Text(kMp4Artist), mp4.Text(kMp4Album),
                            mp4.Text(kMp4Date), mp4.Text(kMp4Genre), track > 0 ? std::to_string(track) : "",
                            mp4.Text(kMp4Comment), mp4.Release()},
                           item);
            return true;
        }
    }
    TMediaFile& r = *media_;
    switch (r.Load(path, demuxer)) {
    case TMediaFile::TLoad::CannotRead:
        reason = "cannot be read";
        return false;
    case TMediaFile::TLoad::NotAudio:
        // A video without sound or a text file under an audio name: not audio at all,
        // refused as a file of an unknown extension is.
        reason = kUnsupportedFileType;
        return false;
    case TMediaFile::TLoad::Ok:
        break;
    }
    item.TypeName = r.TypeName();
    if (!Require(true, true, r.Duration(), item, reason))
        return false;
    TakeStream({r.Duration(), r.FileSize(), r.BitRate(), r.SampleRate(), r.Channels(),
                ChannelModeOf(r.Channels())},
               item);
    TakeOtherTexts(r.Tags(), item);
    return true;
}

void AddReleaseFields(TJsonObject& o, const TmyMusicFile& item) {
    for (size_t field = 0; field < kReleaseFieldCount; ++field)
        if (const std::string& text = item.*kReleaseMembers[field]; !text.empty())
            o.Add(kReleaseFieldNames[field], text);
}

std::string JobItemJson(const TmyMusicFile& i) {
    TJsonObject o;
    o.Add("SourcePath", i.SourcePath)
        .Add("TargetPath", i.TargetPath)
        .Add("DurationMs", i.DurationMs)
        .Add("FileSize", i.FileSize)
        .Add("Bitrate", i.Bitrate)
        .Add("SampleRate", i.SampleRate)
        .Add("ChannelMode", i.ChannelMode)
        .Add("Channels", static_cast<int>(i.Channels))
        .Add("Title", i.Title)
        .Add("Artist", i.Artist)
        .Add("Album", i.Album)
        .Add("GenreIndex", static_cast<int>(i.GenreIndex))
        .Add("Genre", i.Genre)
        .Add("Year", i.Year)
        .Add("Comment", i.Comment)
        .Add("Track", static_cast<int>(i.Track))
        .Add("HasTag", i.HasTag)
        .Add("HasId3v2", i.HasId3v2)
        .Add("IsVbr", i.IsVbr)
        .Add("SourceType", static_cast<int>(i.SourceType))
        .Add("TypeName", i.TypeName)
        .Add("CdDrive", static_cast<int>(i.CdDrive))
        .Add("TableIndex", i.TableIndex);
    AddReleaseFields(o, i);
    return o.Str();
}

} // namespace bw
