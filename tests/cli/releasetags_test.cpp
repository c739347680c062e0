// A FLAC source tagged with an album artist, a disc number and the MusicBrainz ids: probe
// prints them; converted to every target with tags, the output carries each under its
// format's name as mutagen reads it, and the program reads them back from the output.

#include "support/mediamake.h"
#include "support/testsupport.h"

#include <array>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

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

// Prints the values of the keys (in kFields' order) of the file's tags of one kind.
constexpr const char* kReadTags = R"(
import sys
from mutagen import File
from mutagen.apev2 import APEv2
path, kind = sys.argv[1], sys.argv[2]
ids = ['Album Id', 'Release Group Id', 'Album Artist Id', 'Artist Id', 'Release Track Id']
vorbis = ['albumartist', 'discnumber', 'musicbrainz_albumid', 'musicbrainz_releasegroupid',
          'musicbrainz_albumartistid', 'musicbrainz_artistid', 'musicbrainz_releasetrackid',
          'musicbrainz_trackid']
if kind == 'id3':
    t = File(path).tags
    keys = ['TPE2', 'TPOS'] + ['TXXX:MusicBrainz ' + i for i in ids]
    values = [t[k].text[0] for k in keys] + [t['UFID:http://musicbrainz.org'].data.decode()]
elif kind == 'vorbis':
    t = File(path).tags
    values = [t[k][0] for k in vorbis]
elif kind == 'ape':
    t = APEv2(path)
    values = [str(t[k]) for k in ['Album Artist', 'Disc'] + vorbis[2:]]
elif kind == 'wma':
    t = File(path).tags
    keys = ['WM/AlbumArtist', 'WM/PartOfSet'] + ['MusicBrainz/' + i for i in ids + ['Track Id']]
    values = [str(t[k][0]) for k in keys]
else:
    t = File(path).tags
    disc, total = t['disk'][0]
    keys = ['----:com.apple.iTunes:MusicBrainz ' + i for i in ids + ['Track Id']]
    values = [t['aART'][0], '%d/%d' % (disc, total)] + [t[k][0].decode() for k in keys]
print('\n'.join(values))
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
    for (const auto& field : kFields)
        values += std::string(field[1]) + "\n";
    const std::array<std::array<const char*, 2>, 9> targets{{{"mp3", "id3"},
                                                             {"ogg", "vorbis"},
                                                             {"flac", "vorbis"},
                                                             {"opus", "vorbis"},
                                                             {"ape", "ape"},
                                                             {"mpc", "ape"},
                                                             {"wv", "ape"},
                                                             {"wma", "wma"},
                                                             {"m4a", "mp4"}}};
    for (const auto& [to, kind] : targets) {
        const fs::path out = dir.Path() / to;
        // The WMA reader takes files below 320 kbit/s only, the encoder's highest rate.
        const auto run = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", to, "--set", "WMABitrate=1",
                                      "--out", out.string(), source});
        ASSERT_EQ(run.ExitCode, 0) << to << run.Err << run.Out;
        const std::string output = (out / ("song." + std::string(to))).string();
        EXPECT_EQ(bwtest::RunOk({"/usr/bin/python3", "-c", kReadTags, output, kind}), values) << to;
        const std::string again = bwtest::RunOk({bwmedia::CliProgram(), "probe", output});
        EXPECT_TRUE(again.ends_with(want)) << to << ": " << again;
    }
}

} // namespace
