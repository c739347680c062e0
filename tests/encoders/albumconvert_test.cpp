// Album images end to end: albums made by the real encoders (FLAC, our Monkey's Audio
// compressor, WavPack, WAV; 44.1 and 96 kHz; gaps; one file per track), sheets in UTF-8,
// ISO-8859-1 and UTF-16, listed as a drive, named from the sheet, converted by the run.
// The FLAC tracks joined are the album's PCM as FFmpeg decodes it, byte for byte.

#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "shell/disclookup.h"
#include "support/apemake.h"
#include "support/scripteddialogs.h"
#include "tags/textcodec.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace bw;
using namespace bwtest;

namespace {

struct TAudioShape {
    int Rate = 44100;
    int Channels = 2;
    int Bytes = 2; // per sample: 2 or 3
    std::string Format() const { return Bytes == 3 ? "s24le" : "s16le"; }
};

// Two tones and a little noise, different on each channel, so that a cut one sample off or
// channels swapped show.
std::vector<std::byte> MakePcm(const TAudioShape& shape, double seconds, uint32_t seed) {
    const auto frames = static_cast<size_t>(std::llround(seconds * shape.Rate));
    std::vector<std::byte> pcm(frames * shape.Channels * shape.Bytes);
    size_t at = 0;
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < shape.Channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double v = 0.4 * std::sin(2 * M_PI * (330.0 + 110 * c) * i / shape.Rate) +
                             0.05 * (static_cast<int32_t>(seed) / 2147483648.0);
            const auto s = static_cast<int32_t>(v * (shape.Bytes == 3 ? 8388607 : 32767));
            for (int b = 0; b < shape.Bytes; ++b)
                pcm[at++] = static_cast<std::byte>(s >> (8 * b));
        }
    }
    return pcm;
}

// Encodes PCM into path by its extension: .ape with our compressor, .wv with wavpack,
// anything else with ffmpeg (flac at its default settings, as a ripper's).
void Encode(const std::vector<std::byte>& pcm, const TAudioShape& shape, const std::string& path) {
    const std::string raw = path + ".raw";
    WriteAll(raw, pcm);
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".ape") {
        bwtest::CompressToApe(pcm, shape.Rate, shape.Bytes * 8, shape.Channels, 2000, path);
    } else {
        const std::string target = ext == ".wv" ? path + ".wav" : path;
        std::vector<std::string> args{"ffmpeg",
                                      "-nostdin",
                                      "-v",
                                      "error",
                                      "-y",
                                      "-f",
                                      shape.Format(),
                                      "-ar",
                                      std::to_string(shape.Rate),
                                      "-ac",
                                      std::to_string(shape.Channels),
                                      "-i",
                                      raw};
        if (target.ends_with(".wav")) // a WAV file is 16-bit unless told otherwise
            args.insert(args.end(), {"-c:a", shape.Bytes == 3 ? "pcm_s24le" : "pcm_s16le"});
        args.push_back(target);
        RunOk(args);
        if (ext == ".wv")
            RunOk({"wavpack", "-q", "-y", target, "-o", path});
    }
    std::filesystem::remove(raw);
}

struct TCdRun {
    std::vector<TConversionRow> Rows;
    TScriptedDialogs Dialogs;
};

std::unique_ptr<TCdRun> Convert(TCdDriveList& drives, const std::vector<TmyMusicFile>& items,
                                const std::string& folder, TTargetType target) {
    auto out = std::make_unique<TCdRun>();
    for (const auto& item : items)
        out->Rows.push_back({item, true, "-"});
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = folder + "/";
    settings.CreateArtist = false;
    settings.CreateAlbum = false;
    TRecordingObserver observer;
    TConversionRun run(out->Rows, target, TEncoderOptions{}, settings, out->Dialogs, observer);
    run.SetCdDrives(&drives);
    run.Run();
    return out;
}

// One album: its files' PCM in order (what the tracks joined must give), the sheet and the
// texts the tracks must get.
struct TAlbum {
    std::vector<std::string> Titles;
    std::string Artist, Album, Year, Genre;
    std::string Sheet = {};
    TAudioShape Shape = {};
    std::vector<std::byte> Pcm = {};
    std::vector<double> TrackSeconds = {};
};

// Lists the album as a drive, names its tracks from the sheet, converts them to FLAC, MP3
// (when lossy is set) and Ogg, and checks the joins, the lengths, the names and the tags.
void CheckAlbum(const TAlbum& album, bool lossy) {
    TCdDriveList drives;
    std::string why;
    const int drive = drives.AddImage(album.Sheet, &why);
    ASSERT_GE(drive, 0) << why;
    EXPECT_EQ(drives.At(static_cast<size_t>(drive)).Text, album.Sheet + ": album image");
    std::vector<TCdTrack> tracks;
    ASSERT_TRUE(drives.Tracks(drive, tracks, &why)) << why;
    std::vector<TmyMusicFile> items = CdTrackItems(tracks, static_cast<uint8_t>(drive), 0);
    ASSERT_EQ(items.size(), album.Titles.size());
    TCdText text;
    ASSERT_TRUE(drives.ReadCdText(drive, text));
    ASSERT_TRUE(NameCdTrackItems(items, nullptr, &text, DefaultAppSettings()));
    int64_t bytes = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const TmyMusicFile& item = items[i];
        EXPECT_EQ(item.SampleRate, album.Shape.Rate);
        EXPECT_EQ(item.Channels, album.Shape.Channels);
        EXPECT_EQ(item.Bitrate, album.Shape.Rate * album.Shape.Channels * album.Shape.Bytes * 8);
        EXPECT_EQ(item.Title, album.Titles[i]);
        EXPECT_NE(item.SourcePath.find(album.Titles[i]), std::string::npos) << item.SourcePath;
        bytes += item.FileSize;
    }
    EXPECT_EQ(bytes, static_cast<int64_t>(album.Pcm.size()));

    TTempDir out;
    const auto flac = Convert(drives, items, out.Path().string(), TTargetType::Flac);
    std::vector<std::byte> joined;
    for (size_t i = 0; i < items.size(); ++i) {
        const TConversionRow& row = flac->Rows[i];
        ASSERT_EQ(row.Status, "Done") << row.Reason;
        const std::string file = out.File(row.Item.SourcePath + ".flac");
        const auto pcm = FfmpegDecode(file, album.Shape.Format());
        EXPECT_EQ(pcm.size(), static_cast<size_t>(items[i].FileSize)) << file;
        joined.insert(joined.end(), pcm.begin(), pcm.end());
        auto tags = ProbeTags(file);
        EXPECT_EQ(tags["title"], album.Titles[i]);
        EXPECT_EQ(tags["artist"], album.Artist);
        EXPECT_EQ(tags["album"], album.Album);
        EXPECT_EQ(tags["date"], album.Year);
        EXPECT_EQ(tags["genre"], album.Genre);
    }
    EXPECT_TRUE(joined.size() == album.Pcm.size() &&
                std::memcmp(joined.data(), album.Pcm.data(), joined.size()) == 0)
        << joined.size() << " bytes joined, " << album.Pcm.size() << " in the album";

    if (!lossy)
        return;
    for (const TTargetType target : {TTargetType::Mp3, TTargetType::Ogg, TTargetType::WavPack, TTargetType::Opus}) {
        SCOPED_TRACE(TargetName(target));
        TTempDir lossyOut;
        const auto run = Convert(drives, items, lossyOut.Path().string(), target);
        for (size_t i = 0; i < items.size(); ++i) {
            ASSERT_EQ(run->Rows[i].Status, "Done") << run->Rows[i].Reason;
            EXPECT_NEAR(DecodedSeconds(
                            lossyOut.File(run->Rows[i].Item.SourcePath + TargetExtension(target))),
                        album.TrackSeconds[i], 0.06);
        }
    }
}

// A sheet for one album file: "TITLE/PERFORMER/REM" then each track with its title and,
// where gap > 0, an INDEX 00 that many frames before its INDEX 01.
std::string OneFileSheet(const TAlbum& a, const std::string& file, const std::string& type,
                         const std::vector<int>& startFrames, const std::vector<int>& gaps) {
    std::string s = "REM GENRE \"" + a.Genre + "\"\nREM DATE " + a.Year + "\nPERFORMER \"" +
                    a.Artist + "\"\nTITLE \"" + a.Album + "\"\nFILE \"" + file + "\" " + type +
                    "\r\n";
    for (size_t i = 0; i < startFrames.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\r\n", i + 1);
        s += line;
        s += "    TITLE \"" + a.Titles[i] + "\"\r\n";
        const auto time = [](int f) {
            char t[16];
            std::snprintf(t, sizeof t, "%02d:%02d:%02d", f / 4500, f / 75 % 60, f % 75);
            return std::string(t);
        };
        if (gaps[i] > 0)
            s += "    INDEX 00 " + time(startFrames[i] - gaps[i]) + "\r\n";
        s += "    INDEX 01 " + time(startFrames[i]) + "\r\n";
    }
    return s;
}

// Track lengths from the starts (frames) and the album's length (seconds).
std::vector<double> Lengths(const std::vector<int>& starts, double total) {
    std::vector<double> s;
    for (size_t i = 0; i < starts.size(); ++i)
        s.push_back((i + 1 < starts.size() ? starts[i + 1] / 75.0 : total) - starts[i] / 75.0);
    return s;
}

TAlbum OneFileAlbum(const TTempDir& dir, const std::string& file, const TAudioShape& shape,
                    double seconds, const std::vector<int>& starts, const std::vector<int>& gaps,
                    TAlbum texts, const std::string& type, int sheetEncoding) {
    TAlbum a = std::move(texts);
    a.Shape = shape;
    Encode(MakePcm(shape, seconds, 7), shape, dir.File(file));
    a.Pcm = FfmpegDecode(dir.File(file), shape.Format());
    a.TrackSeconds = Lengths(starts, seconds);
    a.Sheet = dir.File("album.cue");
    const std::string sheet = OneFileSheet(a, file, type, starts, gaps);
    std::string bytes;
    if (sheetEncoding == 1) {
        bytes = Utf8ToLatin1(sheet);
    } else if (sheetEncoding == 2) {
        bytes = "\xFF\xFE" + Utf8ToUtf16(sheet, false);
    } else {
        bytes = sheet;
    }
    WriteAll(a.Sheet, std::vector<std::byte>(reinterpret_cast<const std::byte*>(bytes.data()),
                                             reinterpret_cast<const std::byte*>(bytes.data()) +
                                                 bytes.size()));
    return a;
}

} // namespace

// FLAC at 44.1 kHz, a UTF-8 sheet in Cyrillic, gaps that go with the track before; the disc
// database sees the album as a disc whose tracks start at their INDEX 01.
TEST(AlbumConvert, FlacAlbumWithGapsAndCyrillicSheet) {
    TTempDir dir;
    TAlbum texts{.Titles = {"Первая", "Вторая песня", "Третья"},
                 .Artist = "Кино",
                 .Album = "Группа крови",
                 .Year = "1988",
                 .Genre = "Рок"};
    const std::vector<int> starts{0, 233, 512};
    const TAlbum a = OneFileAlbum(dir, "Кино - Группа крови.flac", {}, 9.37, starts, {0, 40, 75},
                                  texts, "WAVE", 0);
    CheckAlbum(a, true);

    TCdDriveList drives;
    const int drive = drives.AddImage(a.Sheet);
    TCDToc toc;
    ASSERT_TRUE(drives.ReadToc(drive, toc));
    ASSERT_EQ(toc.TrackCount, 3);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(toc.Tracks[i].Start.FrameOffset(), 150 + starts[i]);
    // 9.37 s is 702.75 frames: the lead-out takes the part-filled last one.
    EXPECT_EQ(toc.LeadOut.FrameOffset(), 150 + 703);
}

// Monkey's Audio from our compressor, an ISO-8859-1 sheet typing the file "APE".
TEST(AlbumConvert, MonkeysAudioAlbumWithLatin1Sheet) {
    TTempDir dir;
    TAlbum texts{.Titles = {"Café", "Señor", "Größe", "Ça va"},
                 .Artist = "Mötley",
                 .Album = "Été",
                 .Year = "2001",
                 .Genre = "Chanson"};
    const TAlbum a =
        OneFileAlbum(dir, "album.ape", {}, 8.0, {0, 150, 301, 452}, {0, 0, 20, 0}, texts, "APE", 1);
    CheckAlbum(a, false);
}

// WavPack at 96 kHz and 24 bits, a UTF-16 sheet: the tracks stay 96 kHz 24-bit in FLAC, and
// MP3 and Ogg get their lengths.
TEST(AlbumConvert, WavPack96kHzAlbumWithUtf16Sheet) {
    TTempDir dir;
    TAlbum texts{.Titles = {"Eins", "Zwei", "Drei"},
                 .Artist = "Band",
                 .Album = "Hoch",
                 .Year = "2020",
                 .Genre = "Jazz"};
    const TAlbum a = OneFileAlbum(dir, "album.wv", {96000, 2, 3}, 6.5, {0, 151, 302}, {0, 37, 0},
                                  texts, "WAVPACK", 2);
    CheckAlbum(a, true);
}

// WAV at 96 kHz, 16 bits.
TEST(AlbumConvert, Wav96kHzAlbum) {
    TTempDir dir;
    TAlbum texts{.Titles = {"A", "B"}, .Artist = "X", .Album = "Y", .Year = "1970", .Genre = "Pop"};
    const TAlbum a =
        OneFileAlbum(dir, "album.wav", {96000, 2, 2}, 4.2, {0, 149}, {0, 12}, texts, "WAVE", 0);
    CheckAlbum(a, false);
}

// One FLAC file a track, with the second track's gap at the end of the first file (INDEX
// 00 under the first FILE, INDEX 01 at the start of the next): each track is its file.
TEST(AlbumConvert, OneFilePerTrack) {
    TTempDir dir;
    TAlbum a{.Titles = {"One", "Two", "Three"},
             .Artist = "Trio",
             .Album = "Files",
             .Year = "2005",
             .Genre = "Folk"};
    a.Sheet = dir.File("album.cue");
    std::string sheet = "PERFORMER \"Trio\"\nTITLE \"Files\"\nREM DATE 2005\nREM GENRE Folk\n";
    const std::vector<double> seconds{2.1, 1.733, 2.9};
    for (size_t i = 0; i < 3; ++i) {
        const std::string name = std::to_string(i + 1) + ".flac";
        Encode(MakePcm(a.Shape, seconds[i], static_cast<uint32_t>(i + 3)), a.Shape, dir.File(name));
        const auto pcm = FfmpegDecode(dir.File(name));
        a.Pcm.insert(a.Pcm.end(), pcm.begin(), pcm.end());
        a.TrackSeconds.push_back(seconds[i]);
        sheet += "FILE \"" + name + "\" WAVE\n";
        if (i == 0)
            sheet += "  TRACK 01 AUDIO\n    TITLE \"One\"\n";
        sheet += "    INDEX 01 00:00:00\n";
        if (i + 1 < 3)
            sheet += "  TRACK 0" + std::to_string(i + 2) + " AUDIO\n    TITLE \"" +
                     a.Titles[i + 1] + "\"\n    INDEX 00 00:01:50\n";
    }
    WriteAll(a.Sheet, std::vector<std::byte>(reinterpret_cast<const std::byte*>(sheet.data()),
                                             reinterpret_cast<const std::byte*>(sheet.data()) +
                                                 sheet.size()));
    CheckAlbum(a, true);
}
