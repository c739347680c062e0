// ReplayGain tags through convert --replaygain: the gains of a dozen signals and of a 4-file
// album against Debian's loudgain scanning the same outputs, the peaks against the decoded
// samples, the tags of every target as mutagen reads them (none when off), and an album
// whose last item fails.

#include "encoders/replaygain.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

using namespace bwtest;
namespace fs = std::filesystem;

namespace {

// Every tag of a file as mutagen reads it, "NAME=value|value" by upper-case name; TXXX and
// MP4 freeform items by their description.
std::map<std::string, std::string> MutagenTags(const fs::path& file) {
    const std::string out =
        RunOk({"/usr/bin/python3", "-c",
               "import sys, mutagen\n"
               "f = mutagen.File(sys.argv[1])\n"
               "for k, v in (f.tags.items() if f is not None and f.tags is not None else []):\n"
               "    vals = v if isinstance(v, list) else getattr(v, 'text', [v])\n"
               "    vals = [x.decode() if isinstance(x, bytes) else str(x) for x in vals]\n"
               "    k = k.split(':')[-1] if k.startswith(('TXXX:', '----:')) else k\n"
               "    print(k.upper() + '=' + '|'.join(vals))\n",
               file.string()});
    std::map<std::string, std::string> tags;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (const size_t eq = line.find('='); eq != std::string::npos)
            tags[line.substr(0, eq)] = line.substr(eq + 1);
    return tags;
}

// loudgain's scan (-O): the gain in dB by file name, and "Album" for the album's.
std::map<std::string, double> LoudgainGains(const std::vector<fs::path>& files, bool album) {
    std::vector<std::string> argv{"loudgain", "-q", album ? "-a" : "-r", "-O"};
    for (const auto& f : files)
        argv.push_back(f.string());
    std::map<std::string, double> gains;
    std::istringstream lines(RunOk(argv));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() > 8 && cells[0] != "File")
            gains[fs::path(cells[0]).filename().string()] = std::stod(cells[8]);
    }
    return gains;
}

// The largest absolute sample of a file's audio as a ratio of full scale.
double DecodedPeak(const fs::path& file) {
    const auto pcm = FfmpegDecode(file.string(), "s32le");
    int64_t peak = 0;
    for (size_t i = 0; i + 4 <= pcm.size(); i += 4) {
        const auto s = static_cast<int32_t>(
            static_cast<uint32_t>(pcm[i]) | static_cast<uint32_t>(pcm[i + 1]) << 8 |
            static_cast<uint32_t>(pcm[i + 2]) << 16 | static_cast<uint32_t>(pcm[i + 3]) << 24);
        peak = std::max<int64_t>(peak, std::abs(int64_t{s}));
    }
    return static_cast<double>(peak) / 2147483648.0;
}

double GainOf(const std::string& text) {
    EXPECT_TRUE(std::regex_match(text, std::regex("[+-][0-9]+\\.[0-9]{2} dB"))) << text;
    return std::stod(text);
}

TRunResult Convert(const std::string& to, const std::string& mode, const fs::path& out,
                   const std::vector<std::string>& files,
                   const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{bwmedia::CliProgram(), "convert",      "--to", to,       "--out",
                                  out.string(),          "--replaygain", mode,   "--jobs", "2"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), files.begin(), files.end());
    return Run(argv);
}

// The test signals: a name and the ffmpeg input that makes it (lavfi filters).
struct TSignal {
    std::string Name;
    std::vector<std::string> Input;
    std::vector<std::string> Output = {};
};

std::vector<std::string> Lavfi(const std::string& graph) {
    return {"-f", "lavfi", "-i", graph};
}

} // namespace

// A dozen signals and a 4-file album to FLAC, MP3 and Ogg Vorbis: every track gain within
// 0.05 dB of loudgain's on the FLAC outputs (0.2 dB on the lossy ones), the album gain
// likewise, the peaks those of the decoded samples, and silence without tags.
TEST(ReplayGain, GainsAgreeWithLoudgainAndPeaksWithTheSamples) {
    TTempDir dir;
    const std::string sine = "sine=f=%d:r=44100:d=4,volume=%s,aformat=channel_layouts=stereo";
    const auto tone = [&](int f, const char* volume) {
        char graph[160];
        std::snprintf(graph, sizeof graph, sine.c_str(), f, volume);
        return Lavfi(graph);
    };
    const std::vector<TSignal> signals{
        {"sine-440-loud", tone(440, "0.9")},
        {"sine-440-quiet", tone(440, "0.25")},
        {"sine-1000-faint", tone(1000, "0.05")},
        {"sine-100", tone(100, "0.5")},
        {"sine-5000", tone(5000, "0.3")},
        {"pink-loud",
         Lavfi("anoisesrc=c=pink:r=44100:a=0.5:d=4:s=1,aformat=channel_layouts=stereo")},
        {"pink-soft",
         Lavfi("anoisesrc=c=pink:r=44100:a=0.1:d=4:s=2,aformat=channel_layouts=stereo")},
        {"surround", Lavfi("anoisesrc=c=pink:r=44100:a=0.3:d=4:s=3,aformat=channel_layouts=5.1")},
        {"rate-48k",
         Lavfi("anoisesrc=c=pink:r=48000:a=0.3:d=4:s=4,aformat=channel_layouts=stereo")},
        {"long-silence",
         Lavfi("anoisesrc=c=pink:r=44100:a=0.4:d=2:s=5,aformat=channel_layouts=stereo,"
               "adelay=9000|9000")},
        {"mono", Lavfi("anoisesrc=c=pink:r=44100:a=0.2:d=4:s=6,aformat=channel_layouts=mono")},
        {"deep-24bit",
         Lavfi("sine=f=700:r=44100:d=4,volume=0.7,aformat=channel_layouts=stereo"),
         {"-sample_fmt", "s32"}},
        {"silence", Lavfi("anullsrc=r=44100:cl=stereo,atrim=duration=4")},
    };
    std::vector<std::string> sources;
    for (const auto& s : signals) {
        std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
        argv.insert(argv.end(), s.Input.begin(), s.Input.end());
        argv.insert(argv.end(), s.Output.begin(), s.Output.end());
        argv.push_back(dir.File(s.Name + ".flac"));
        RunOk(argv);
        sources.push_back(dir.File(s.Name + ".flac"));
    }
    std::vector<std::string> album;
    for (int t = 1; t <= 4; ++t) {
        album.push_back(dir.File("album-" + std::to_string(t) + ".flac"));
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
               "anoisesrc=c=pink:r=44100:d=3:s=" + std::to_string(10 + t) +
                   ":a=" + std::to_string(0.1 * t) + ",aformat=channel_layouts=stereo",
               "-metadata", "album=Four", "-metadata", "title=Song " + std::to_string(t),
               album.back()});
    }
    sources.insert(sources.end(), album.begin(), album.end());

    // The lossy encoders at settings that keep the audio close: what they change is not
    // measured, since the gain is of the audio they are given.
    const std::vector<std::tuple<std::string, std::string, double, std::vector<std::string>>>
        targets{
            {"flac", ".flac", 0.05, {}},
            {"mp3",
             ".mp3",
             0.2,
             {"--set", "MP3CBR=1", "--set", "MP3BitRate=13", "--set", "MP3HQ=1", "--set",
              "MP3Channels=0", "--set", "MP3SampleRate=1"}},
            {"ogg",
             ".ogg",
             0.2,
             {"--set", "OGGQuality=1", "--set", "OGGQualitySel=10", "--set", "OGGSamplerate=1"}},
        };
    for (const auto& [to, extension, tolerance, options] : targets) {
        SCOPED_TRACE(to);
        const fs::path out = dir.Path() / ("out-" + to);
        const auto run = Convert(to, "album", out, sources, options);
        ASSERT_EQ(run.ExitCode, 0) << run.Err << run.Out;
        std::vector<fs::path> singles, albumOutputs;
        for (const auto& s : signals)
            if (s.Name != "silence")
                singles.push_back(out / (s.Name + extension));
        for (int t = 1; t <= 4; ++t)
            albumOutputs.push_back(out / ("album-" + std::to_string(t) + extension));
        const auto gains = LoudgainGains(singles, false);
        for (const auto& file : singles) {
            SCOPED_TRACE(file.filename().string());
            // oggenc takes the 48 kHz noise down to 44.1 kHz itself, and its resampler
            // drops 0.4 dB of it: a change of the encoder's, not of what it was given.
            if (to == "ogg" && file.stem() == "rate-48k")
                continue;
            const auto tags = MutagenTags(file);
            ASSERT_TRUE(tags.contains("REPLAYGAIN_TRACK_GAIN"));
            EXPECT_NEAR(GainOf(tags.at("REPLAYGAIN_TRACK_GAIN")),
                        gains.at(file.filename().string()), tolerance);
            EXPECT_FALSE(tags.contains("REPLAYGAIN_ALBUM_GAIN")) << "no album text, no album";
            ASSERT_TRUE(
                std::regex_match(tags.at("REPLAYGAIN_TRACK_PEAK"), std::regex("[01]\\.[0-9]{6}")));
            if (to == "flac") {
                EXPECT_NEAR(std::stod(tags.at("REPLAYGAIN_TRACK_PEAK")), DecodedPeak(file),
                            0.00001);
            }
        }
        const auto silent = MutagenTags(out / ("silence" + extension));
        EXPECT_FALSE(silent.contains("REPLAYGAIN_TRACK_GAIN") ||
                     silent.contains("REPLAYGAIN_TRACK_PEAK"));

        const auto albumGains = LoudgainGains(albumOutputs, true);
        double albumPeak = 0;
        for (const auto& file : albumOutputs)
            albumPeak = std::max(albumPeak, DecodedPeak(file));
        for (const auto& file : albumOutputs) {
            SCOPED_TRACE(file.filename().string());
            const auto tags = MutagenTags(file);
            ASSERT_TRUE(tags.contains("REPLAYGAIN_ALBUM_GAIN"));
            EXPECT_NEAR(GainOf(tags.at("REPLAYGAIN_TRACK_GAIN")),
                        albumGains.at(file.filename().string()), tolerance);
            EXPECT_NEAR(GainOf(tags.at("REPLAYGAIN_ALBUM_GAIN")), albumGains.at("Album"),
                        tolerance);
            if (to == "flac") {
                EXPECT_NEAR(std::stod(tags.at("REPLAYGAIN_ALBUM_PEAK")), albumPeak, 0.00001);
            }
            const std::string title = tags.contains("TIT2")    ? tags.at("TIT2")
                                      : tags.contains("TITLE") ? tags.at("TITLE")
                                                               : "";
            EXPECT_EQ(title, "Song " + file.stem().string().substr(6)) << "the other tags stay";
        }
    }
}

// Two files of one album to every target: the items each target takes (REPLAYGAIN_* but for
// Opus's R128_* and WAV's none), their values alike in every target, the other tags and the
// audio kept; "track" writes no album items, "off" none at all.
TEST(ReplayGain, TagsOfEveryTargetAndNoneWhenOff) {
    TTempDir dir;
    std::vector<std::string> sources;
    for (int i = 1; i <= 2; ++i) {
        sources.push_back(dir.File("s" + std::to_string(i) + ".flac"));
        RunOk(
            {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
             "anoisesrc=c=pink:r=44100:d=2:s=" + std::to_string(i) + ":a=0." +
                 std::to_string(3 * i) + ",aformat=channel_layouts=stereo,aformat=sample_fmts=s16",
             "-metadata", "album=Two", "-metadata", "title=T" + std::to_string(i), sources.back()});
    }
    const std::vector<std::string> replayGain{"REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK",
                                              "REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"};
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> runs{
        {"flac", "album", replayGain}, {"mp3", "album", replayGain}, {"ogg", "album", replayGain},
        {"ape", "album", replayGain},  {"mpc", "album", replayGain}, {"wv", "album", replayGain},
        {"m4a", "album", replayGain},  {"wma", "album", replayGain},
        {"opus", "album", {"R128_ALBUM_GAIN", "R128_TRACK_GAIN"}}, {"wav", "album", {}},
        {"flac", "track", {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK"}},
        {"opus", "track", {"R128_TRACK_GAIN"}},
        {"flac", "off", {}}, {"mp3", "off", {}}, {"ogg", "off", {}}, {"ape", "off", {}},
        {"mpc", "off", {}},  {"wv", "off", {}},  {"m4a", "off", {}}, {"wma", "off", {}},
        {"opus", "off", {}}};
    // clang-format on
    std::map<std::string, std::string> first; // the FLAC outputs' values, by file and name
    for (const auto& [to, mode, names] : runs) {
        SCOPED_TRACE(to + " " + mode);
        const fs::path out = dir.Path() / (to + "-" + mode);
        const auto run = Convert(to, mode, out, sources);
        ASSERT_EQ(run.ExitCode, 0) << run.Err << run.Out;
        for (int i = 1; i <= 2; ++i) {
            const fs::path file = out / ("s" + std::to_string(i) + "." + to);
            const auto tags = MutagenTags(file);
            std::vector<std::string> found;
            for (const auto& [name, value] : tags)
                if (name.find("_GAIN") != std::string::npos ||
                    name.find("_PEAK") != std::string::npos)
                    found.push_back(name);
            EXPECT_EQ(found, names);
            for (const std::string& name : found) {
                const std::string key = std::to_string(i) + name;
                const std::string& value = tags.at(name);
                if (name.starts_with("R128_")) {
                    // Q7.8 dB to -23 LUFS: the ReplayGain value less 5 dB, within the rounding.
                    ASSERT_TRUE(std::regex_match(value, std::regex("-?[0-9]+")));
                    const std::string gain =
                        first.at(std::to_string(i) + "REPLAYGAIN_" + name.substr(5));
                    EXPECT_NEAR(std::stoi(value) / 256.0, std::stod(gain) - 5, 0.02) << value;
                } else if (to == "flac" && mode == "album") {
                    first[key] = value;
                } else if (name.ends_with("_GAIN")) {
                    EXPECT_NEAR(GainOf(value), GainOf(first.at(key)), 0.011) << value;
                } else {
                    EXPECT_NEAR(std::stod(value), std::stod(first.at(key)), 0.0001) << value;
                }
            }
            const auto title = std::find_if(tags.begin(), tags.end(), [](const auto& t) {
                return t.first == "TITLE" || t.first == "TIT2" || t.first == "\xA9NAM" ||
                       t.first == "©NAM";
            });
            if (to != "wav") {
                ASSERT_NE(title, tags.end());
                EXPECT_EQ(title->second, "T" + std::to_string(i));
            }
            if (mode == "album" && i == 1 && !names.empty()) {
                // Written again in small letters: that item is replaced, every other stays.
                const std::string name = to == "opus" ? "R128_TRACK_GAIN" : "REPLAYGAIN_TRACK_GAIN";
                const std::string small =
                    to == "opus" ? "r128_track_gain" : "replaygain_track_gain";
                std::string error;
                ASSERT_TRUE(bw::AddLoudnessTags(*bw::TargetTypeFromName(to), file.string(),
                                                {{small, "-100"}}, error))
                    << error;
                auto again = MutagenTags(file);
                EXPECT_EQ(again.at(name), "-100");
                again[name] = tags.at(name);
                EXPECT_EQ(again, tags);
            }
            // The rewritten file still decodes whole.
            const auto decode = bwtest::Run(
                {"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-f", "null", "-"});
            EXPECT_EQ(decode.ExitCode, 0);
            EXPECT_EQ(decode.Err, "");
            const int rate = to == "opus" ? 48000 : 44100; // Opus decodes at 48 kHz
            EXPECT_NEAR(static_cast<double>(FfmpegDecode(file.string()).size()) / (rate * 4), 2.0,
                        0.1);
        }
    }
}

// Two albums in one run, the last item of the first failing (its source ends before its
// header says): the first album's other outputs keep their track tags but get no album
// tags, and say why; the second album is tagged whole.
TEST(ReplayGain, AlbumWhoseLastItemFails) {
    TTempDir dir;
    std::vector<std::string> sources;
    for (const std::string name : {"a1", "a2", "a3", "b1", "b2"}) {
        sources.push_back(dir.File(name + ".flac"));
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
               "anoisesrc=c=pink:r=44100:d=2:a=0.3,aformat=channel_layouts=stereo,aformat=sample_"
               "fmts=s16",
               "-metadata", std::string("album=") + (name[0] == 'a' ? "First" : "Second"),
               sources.back()});
    }
    // The failing item is the first album's last to end; the second album comes after it.
    std::swap(sources[2], sources[4]);
    fs::resize_file(dir.File("a3.flac"), fs::file_size(dir.File("a3.flac")) / 2);
    const fs::path out = dir.Path() / "out";
    const auto run = Convert("mp3", "album", out, sources, {"--jobs", "1"});
    EXPECT_NE(run.Out.find("a3.flac\",\"TargetPath\":\"" + (out / "a3.mp3").string() +
                           "\",\"Status\":\"Error\""),
              std::string::npos)
        << run.Out;
    // One note for each of the album's outputs, and none for the other album.
    const std::string note = "No album ReplayGain tags: \"" + dir.File("a3.flac") +
                             "\" of the same album was not converted.";
    size_t notes = 0;
    for (size_t at = 0; (at = run.Err.find("No album ReplayGain tags", at)) != std::string::npos;
         ++at)
        notes += run.Err.compare(at, note.size(), note) == 0 ? 1 : 100;
    EXPECT_EQ(notes, 2u) << run.Err;
    for (const std::string name : {"a1", "a2", "b1", "b2"}) {
        SCOPED_TRACE(name);
        const auto tags = MutagenTags(out / (name + ".mp3"));
        EXPECT_TRUE(tags.contains("REPLAYGAIN_TRACK_GAIN"));
        EXPECT_EQ(tags.contains("REPLAYGAIN_ALBUM_GAIN"), name[0] == 'b');
    }
}
