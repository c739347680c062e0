#pragma once

#include "core/jobitem.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace bw {

class TCDAtrack;
class TJsonObject;
class TFLACfile;
class TMediaFile;
class TMonkey;
class TMPEGaudio;
class TMPEGplus;
class TOggVorbis;
class TWAVfile;
class TWAVPackfile;
class TWMAfile;

// The source type and its Type text for a path, by its extension in lower case; no value
// for an extension the program does not read.
struct TTypeByExtension {
    TSourceType Type;
    std::string TypeName;
};
std::optional<TTypeByExtension> SourceTypeOf(std::string_view path);

// Every extension SourceTypeOf knows (with its dot, in lower case), with its type and its
// Type text, in the order the open dialog lists them; for the Other type, the FFmpeg demuxer
// such files are tried with first.
struct TSourceExtension {
    std::string_view Extension;
    TSourceType Type;
    std::string_view TypeName;
    std::string_view Demuxer = {};
};
std::span<const TSourceExtension> SourceExtensions();
// The extensions of the Other type as an open dialog's patterns: "*.m4a *.mp4 ...".
std::string OtherSourcePatterns();

// The refusal of a file the program does not read: an extension it does not know, or a
// file of an Other extension in which FFmpeg finds no audio.
inline constexpr const char* kUnsupportedFileType = "unsupported file type";

// Reads a file's stream information and tags into a job item without decoding any audio.
// One reader per format is created with the probe and reused for every file.
class TFileProbe {
public:
    struct TResult {
        bool Accepted = false;
        TmyMusicFile Item;  // filled when accepted
        std::string Reason; // why not, when refused
    };

    TFileProbe();
    ~TFileProbe();
    TFileProbe(const TFileProbe&) = delete;
    TFileProbe& operator=(const TFileProbe&) = delete;

    TResult Probe(const std::string& path);
    // Where .cda titles are looked up (tests point it elsewhere).
    void SetCdPlayerDatabase(const std::string& path);

private:
    bool ProbeMpeg(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeOgg(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeWav(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeWma(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeFlac(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeApe(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeMpc(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeWavPack(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeCda(const std::string& path, TmyMusicFile& item, std::string& reason);
    bool ProbeOther(const std::string& path, TmyMusicFile& item, std::string& reason);

    std::unique_ptr<TMPEGaudio> mpeg_;
    std::unique_ptr<TOggVorbis> ogg_;
    std::unique_ptr<TWAVfile> wav_;
    std::unique_ptr<TWMAfile> wma_;
    std::unique_ptr<TFLACfile> flac_;
    std::unique_ptr<TMonkey> ape_;
    std::unique_ptr<TMPEGplus> mpc_;
    std::unique_ptr<TWAVPackfile> wavPack_;
    std::unique_ptr<TCDAtrack> cda_;
    std::unique_ptr<TMediaFile> media_;
};

// The item's fields as one JSON object, keys named as the fields.
std::string JobItemJson(const TmyMusicFile& item);
// The release fields an item has (album artist, disc number, MusicBrainz ids), each under
// its field's name; the empty ones are left out, as most items have none.
void AddReleaseFields(TJsonObject& o, const TmyMusicFile& item);

} // namespace bw
