// A FLAC source tagged with an album artist, a disc number and the MusicBrainz ids: probe
// prints them; converted to every target with tags, the output carries each under its
// format's name as mutagen reads it, and the program reads them back from the output.

#include "support/mediamake.h"
#include "support/testsupport.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The fields' names as probe prints them, their values in the source, and what the Vorbis
// comment of the source calls them.
constexpr std::array<std::array<const char*, 3>, 8> kFields{{
    {"AlbumArtist", "Ансамбль 東京", "ALBUMARTIST"},
    {"DiscNumber", "2/3", "DISCNUMBER"},
    {"MbAlbumId", "a1b2c3d4-0000-4000-8000-000000000001", "MUSICBRAINZ_ALBUMID"},
    {"MbReleaseGroupId", "a1b2c3d4-0000-4000-8000-000000000002", "MUSICBRAINZ_RELEASEGROUPID"},
    {"MbAlbumArtistId", "a1b2c3d4-0000-4000-8000-000000000003", "MUSICBRAINZ_ALBUMARTISTID"},
    {"MbArtistId", "a1b2c3d4-0000-4000-8000-000000000004", "MUSICBRAINZ_ARTISTID"},
    {"MbReleaseTrackId", "a1b2c3d4-0000-4000-8000-000000000005", "MUSICBRAINZ_RELEASETRACKID"},
    {"MbTrackId", "a1b2c3d4-0000-4000-8000-000000000006", "MUSICBRAINZ_TRACKID"},
}};

// Prints the values of the fields, in kFields' order, from the file's tags of one kind; the
// Vorbis names follow.
constexpr const char* kReadTags = R"(
import sys
from mutagen import File
from mutagen.apev2 import APEv2
path, kind, vorbis = sys.argv[1], sys.argv[2], sys.argv[3:]
ids = ['MusicBrainz %s Id' % i for i in
       ['Album', 'Release Group', 'Album Artist', 'Artist', 'Release Track', 'Track']]
t = APEv2(path) if kind == 'ape' else File(path).tags
if kind == 'id3':
    v = [t[k].text[0] for k in ['TPE2', 'TPOS'] + ['TXXX:' + i for i in ids[:5]]]
    v.append(t['UFID:http://musicbrainz.org'].data.decode())
elif kind == 'mp4':
    v = [t['aART'][0], '%d/%d' % t['disk'][0]]
    v += [t['----:com.apple.iTunes:' + i][0].decode() for i in ids]
else:
    v = [str(t[k][0]) for k in {'vorbis': vorbis, 'ape': ['Album Artist', 'Disc'] + vorbis[2:],
         'wma': ['WM/AlbumArtist', 'WM/PartOfSet'] + [i.replace(' ', '/', 1) for i in ids]}[kind]]
print('\n'.join(v))
)";

// The end of a probe line of a file that has every field.
std::string ProbedFields() {
    std::string json;
    for (const auto& [name, value, comment] : kFields)
        json += ",\"" + std::string(name) + "\":\"" + value + "\"";
    return json + ",\"accepted\":true}\n";
}

TEST(CliReleaseTags, EveryTaggedTargetCarriesAndGivesBackTheReleaseFields) {
    bwtest::TTempDir dir;
    const std::string source = dir.File("song.flac");
    std::vector<std::string> metadata;
    for (const auto& [name, value, comment] : kFields)
        metadata.insert(metadata.end(), {"-metadata", std::string(comment) + "=" + value});
    bwtest::MakeTone(source, 0.3, 44100, 2, metadata);
    const std::string want = ProbedFields();
    const std::string probed = bwtest::RunOk({bwmedia::CliProgram(), "probe", source});
    EXPECT_TRUE(probed.ends_with(want)) << probed;

    std::string values;
    std::vector<std::string> vorbisNames;
    for (const auto& [name, value, comment] : kFields) {
        values += std::string(value) + "\n";
        vorbisNames.emplace_back(comment);
    }
    const std::array<std::array<const char*, 2>, 9> targets{
        {{"mp3", "id3"}, {"ogg", "vorbis"}, {"flac", "vorbis"}, {"opus", "vorbis"}, {"ape", "ape"},
         {"mpc", "ape"}, {"wv", "ape"}, {"wma", "wma"}, {"m4a", "mp4"}}};
    for (const auto& [to, kind] : targets) {
        const fs::path out = dir.Path() / to;
        const auto run = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", to, "--out", out.string(), source});
        ASSERT_EQ(run.ExitCode, 0) << to << run.Err << run.Out;
        const std::string output = (out / ("song." + std::string(to))).string();
        std::vector<std::string> read{"/usr/bin/python3", "-c", kReadTags, output, kind};
        read.insert(read.end(), vorbisNames.begin(), vorbisNames.end());
        EXPECT_EQ(bwtest::RunOk(read), values) << to;
        const std::string again = bwtest::RunOk({bwmedia::CliProgram(), "probe", output});
        EXPECT_TRUE(again.ends_with(want)) << to << ": " << again;
    }
}

} // namespace
