#include "cd/albumimage.h"

#include "audio/audiostream.h"
#include "cd/cdimage.h"
#include "cd/cuesheet.h"
#include "common/controlchars.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace bw {

namespace {

namespace fs = std::filesystem;

bool Fail(std::string* why, const std::string& text) {
    if (why)
        *why = text;
    return false;
}

// What an audio file of the sheet holds.
struct TAudioFileFacts {
    std::string Path;
    int SampleRate = 0;
    int Channels = 0;
    int BitsPerSample = 16;
    int64_t Frames = 0; // sample frames
};

// Opens a file as the tracks will be read (every channel, a deep source's 24 bits) and
// learns its exact length: from the header where it states one, else by decoding it
// through once.
bool Examine(const std::string& path, TAudioFileFacts& out, std::string& why) {
    TAudioError error = TAudioError::Ok;
    auto stream =
        TAudioStream::OpenFile(path, &error, TChannelPolicy::KeepAll, TSampleDepth::Keep24);
    if (!stream) {
        why = "can't decode the audio file \"" + ControlCharsEscaped(path) + "\"";
        return false;
    }
    const TChannelInfo info = stream->Info();
    out.Path = path;
    out.SampleRate = info.SampleRate;
    out.Channels = info.Channels;
    out.BitsPerSample = info.BytesPerSample() * 8;
    const auto block = static_cast<uint64_t>(info.BlockAlign());
    if (!stream->LengthIsExact()) {
        std::vector<std::byte> buffer(1 << 16);
        for (;;) {
            const int64_t n = stream->Read(buffer);
            if (n < 0) {
                why = "can't read the audio file \"" + ControlCharsEscaped(path) + "\"";
                return false;
            }
            if (n == 0)
                break;
        }
    }
    out.Frames = static_cast<int64_t>(stream->LengthBytes() / block);
    if (out.Frames <= 0) {
        why = "the audio file \"" + ControlCharsEscaped(path) + "\" holds no audio";
        return false;
    }
    return true;
}

// CD frames (rounded up) that hold a file's samples: where the next file starts on the
// album as one disc.
int64_t FileCdFrames(const TAudioFileFacts& f) {
    return (f.Frames * 75 + f.SampleRate - 1) / f.SampleRate;
}

std::string TimeText(int64_t samples, int rate) {
    const int64_t frames = samples * 75 / rate;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / 4500),
                  static_cast<long long>(frames / 75 % 60), static_cast<long long>(frames % 75));
    return text;
}

} // namespace

TCDToc TAlbumImage::Toc() const {
    TCDToc toc;
    toc.TrackCount = static_cast<uint8_t>(std::min(Tracks.size(), toc.Tracks.size()));
    for (size_t i = 0; i < toc.TrackCount; ++i) {
        toc.Tracks[i].Start = TCdMsf::FromLsn(Tracks[i].StartFrame);
        toc.Tracks[i].IsAudio = -1;
    }
    toc.LeadOut = TCdMsf::FromLsn(LeadOutFrame);
    return toc;
}

TCdText TAlbumImage::Text() const {
    TCdText text;
    text.Performer = Performer;
    text.Title = Title;
    text.Genre = Genre;
    text.Year = Date;
    // Tracks in disc order: a sheet's numbering may start past 1, the disc's does not.
    for (size_t i = 0; i < Tracks.size() && i < text.TrackTitles.size(); ++i) {
        text.TrackTitles[i] = Tracks[i].Title;
        text.TrackPerformers[i] = Tracks[i].Performer;
    }
    return text;
}

bool OpenAlbumImage(const std::string& path, TAlbumImage& out, std::string* why) {
    const auto bytes = ReadCueSheetBytes(path, why);
    if (!bytes)
        return false;
    const std::string prefix = "The cue sheet \"" + path + "\", ";
    TCueSheet sheet;
    std::string reason;
    if (!ParseCueSheet(DecodeCueText(*bytes), sheet, &reason))
        return Fail(why, prefix + reason);
    if (sheet.Tracks.size() > 99)
        return Fail(why, prefix + "line " + std::to_string(sheet.Tracks[99].Line) +
                             ": an album holds at most 99 tracks");

    std::vector<TAudioFileFacts> files(sheet.Files.size());
    std::vector<int64_t> base(sheet.Files.size() + 1, 0); // CD frames before each file
    for (size_t f = 0; f < sheet.Files.size(); ++f) {
        const TCueFileLine& line = sheet.Files[f];
        const std::string lineText = "line " + std::to_string(line.Line) + ": ";
        if (line.Type == "BINARY" || line.Type == "MOTOROLA")
            return Fail(why, prefix + lineText + "a sheet naming audio files can't name raw " +
                                 line.Type + " data too");
        const fs::path p(line.Name);
        const std::string file =
            (p.is_absolute() ? p : fs::path(path).parent_path() / p).lexically_normal().string();
        std::error_code ec;
        if (!fs::is_regular_file(file, ec))
            return Fail(why, prefix + lineText + "the audio file \"" + ControlCharsEscaped(file) +
                                 "\" does not exist");
        if (!Examine(file, files[f], reason))
            return Fail(why, prefix + lineText + reason);
        base[f + 1] = base[f] + FileCdFrames(files[f]);
    }
    if (base.back() > 99 * 4500 * 60)
        return Fail(why, prefix + "the album is too long to be taken as a disc");

    TAlbumImage album;
    album.Sheet = path;
    album.Title = sheet.Title;
    album.Performer = sheet.Performer;
    album.Date = sheet.Date;
    album.Genre = sheet.Genre;
    album.Catalog = sheet.Catalog;
    album.LeadOutFrame = static_cast<int32_t>(base.back());
    for (size_t t = 0; t < sheet.Tracks.size(); ++t) {
        const TCueTrackEntry& entry = sheet.Tracks[t];
        for (const TCueIndex& index : entry.Indexes) {
            const TAudioFileFacts& f = files[index.File];
            const int64_t sample = CueFrameToSample(index.Frame, f.SampleRate);
            // A track must keep at least one sample; a gap may reach the file's very end.
            if (sample > f.Frames || (index.Number == 1 && sample == f.Frames))
                return Fail(why, prefix + "line " + std::to_string(index.Line) + ": INDEX " +
                                     (index.Number < 10 ? "0" : "") + std::to_string(index.Number) +
                                     " of track " + std::to_string(entry.Number) +
                                     " lies past the end of \"" + ControlCharsEscaped(f.Path) +
                                     "\" (" + TimeText(f.Frames, f.SampleRate) + ")");
        }
        const TCueIndex& start = entry.Start();
        const TAudioFileFacts& f = files[start.File];
        TAlbumTrack track;
        track.Number = entry.Number;
        track.Path = f.Path;
        track.SampleRate = f.SampleRate;
        track.Channels = f.Channels;
        track.BitsPerSample = f.BitsPerSample;
        track.First = CueFrameToSample(start.Frame, f.SampleRate);
        // To the next track's start when it is in the same file (the gap before it, INDEX
        // 00, goes with this track), else to the end of the file.
        track.End = f.Frames;
        if (t + 1 < sheet.Tracks.size() && sheet.Tracks[t + 1].Start().File == start.File)
            track.End = CueFrameToSample(sheet.Tracks[t + 1].Start().Frame, f.SampleRate);
        track.StartFrame = static_cast<int32_t>(base[start.File] + start.Frame);
        track.Title = entry.Title;
        track.Performer = entry.Performer;
        track.Isrc = entry.Isrc;
        album.Tracks.push_back(std::move(track));
    }
    out = std::move(album);
    return true;
}

} // namespace bw
