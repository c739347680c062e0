// A disc image with ISRC, CATALOG and INDEX 00 lines ripped with convert --cd and a read
// offset: the log, cue sheet and playlist beside the outputs; the cue sheet opened again as
// an album image gives back the shifted disc audio bit-exact; the codes reach every target's
// tags as mutagen reads them.

#include "cd/cddrives.h"
#include "cd/cdtrackstream.h"
#include "support/cdimages.h"
#include "support/testsupport.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string ReadText(const fs::path& path) {
    const auto bytes = bwtest::ReadAll(path.string());
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(CliRipLog, LogCueSheetPlaylistAndCodesOfARip) {
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.6}, {0.9}, {0.5}});
    std::string sheet = ReadText(image.Sheet);
    sheet = "CATALOG 0123456789012\n" + sheet;
    sheet = Replaced(sheet, "TRACK 01 AUDIO\n", "TRACK 01 AUDIO\n    ISRC GBAYE0000001\n");
    // A gap of 10 sectors before track 2: read as the end of track 1.
    sheet = Replaced(sheet, "TRACK 02 AUDIO\n",
                     "TRACK 02 AUDIO\n    ISRC GBAYE0000002\n    INDEX 00 " +
                         bwtest::Msf(image.StartLsn[1] - 10) + "\n");
    std::ofstream(image.Sheet, std::ios::trunc) << sheet;

    const fs::path out = dir.Path() / "out";
    const auto rip =
        bwtest::Run({bwmedia::CliProgram(), "convert", "--cd", image.Sheet, "--no-lookup", "--no-accuraterip",
                     "--read-offset", "6", "--to", "flac", "--out", out.string(), "--replaygain", "album"});
    ASSERT_EQ(rip.ExitCode, 0) << rip.Err << rip.Out;
    EXPECT_EQ(
        bwtest::FolderEntries(out.string()),
        (std::vector<std::string>{"CD Track 1.flac", "CD Track 2.flac", "CD Track 3.flac",
                                  "Unknown Album.cue", "Unknown Album.log", "Unknown Album.m3u"}));
    const std::string log = ReadText(out / "Unknown Album.log");
    for (const std::string& line : std::vector<std::string>{
             "Read offset correction: +6 samples\n", "Catalogue number: 0123456789012\n",
             "  ISRC: GBAYE0000002\n", "Drive: " + image.Sheet + ": CD image\n",
             "Retries: up to 20 re-reads of a sector\n",
             "\nNot every track was verified: track 1, 2, 3.\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    EXPECT_EQ(Count(log, "  Lost sectors: 0\n"), 3) << log;
    // Each track's ReplayGain values, as its tags hold them; the disc's tracks are one album.
    EXPECT_EQ(Count(log, "  ReplayGain: "), 3) << log;
    for (int t = 1; t <= 3; ++t) {
        const std::string tags = bwtest::RunOk({"metaflac", "--export-tags-to=-",
                                                (out / ("CD Track " + std::to_string(t) + ".flac")).string()});
        const size_t gain = tags.find("REPLAYGAIN_TRACK_GAIN="), peak = tags.find("REPLAYGAIN_TRACK_PEAK=");
        ASSERT_NE(gain, std::string::npos);
        ASSERT_NE(peak, std::string::npos);
        EXPECT_NE(log.find("  ReplayGain: " + tags.substr(gain + 22, tags.find('\n', gain) - gain - 22) + ", peak " +
                           tags.substr(peak + 22, tags.find('\n', peak) - peak - 22) + "\n"),
                  std::string::npos) << log << tags;
        EXPECT_NE(tags.find("REPLAYGAIN_ALBUM_GAIN="), std::string::npos) << tags;
    }

    const std::string cue = ReadText(out / "Unknown Album.cue");
    EXPECT_NE(cue.find("CATALOG 0123456789012\n"), std::string::npos) << cue;
    EXPECT_NE(cue.find("    ISRC GBAYE0000001\n"), std::string::npos) << cue;
    // The gap sits at the end of track 1's file, before the FILE line of track 2.
    const size_t gap =
        cue.find("    INDEX 00 " + bwtest::Msf(image.StartLsn[1] - 10) + "\nFILE \"");
    EXPECT_NE(gap, std::string::npos) << cue;
    const std::string m3u = ReadText(out / "Unknown Album.m3u");
    EXPECT_EQ(Count(m3u, "\n#EXTINF:"), 3) << m3u;
    EXPECT_EQ(Count(m3u, ".flac\n"), 3) << m3u;
    EXPECT_EQ(m3u.find('/'), std::string::npos) << "names relative to the playlist: " << m3u;

    // The sheet as an album image: each track the disc's audio moved by 6 samples.
    const auto bin = bwtest::ReadAll(image.Bin);
    bw::TCdDriveList list;
    std::string why;
    const int album = list.AddImage((out / "Unknown Album.cue").string(), &why);
    ASSERT_GE(album, 0) << why;
    ASSERT_EQ(list.At(album).Album->Tracks.size(), 3u);
    EXPECT_EQ(list.At(album).Album->Catalog, "0123456789012");
    for (int t = 1; t <= 3; ++t) {
        auto stream = bw::OpenCdTrack(list.At(album), t, list.System());
        ASSERT_NE(stream, nullptr);
        std::vector<std::byte> got(image.Pcm[t - 1].size() + 4);
        got.resize(static_cast<size_t>(std::max<int64_t>(0, stream->Read(got))));
        const size_t from = static_cast<size_t>(image.StartLsn[t - 1]) * 2352 + 6 * 4;
        std::vector<std::byte> want(
            bin.begin() + from, bin.begin() + std::min(bin.size(), from + image.Pcm[t - 1].size()));
        want.resize(image.Pcm[t - 1].size()); // silence past the disc's end
        EXPECT_TRUE(got == want) << "track " << t;
    }

    // The codes in every target's tags, as mutagen reads them.
    const std::vector<std::array<std::string, 3>> targets{
        {"flac", "isrc", "barcode"}, {"mp3", "TSRC", "TXXX:BARCODE"},
        {"ogg", "isrc", "barcode"},  {"ape", "ISRC", "Barcode"},
        {"mpc", "ISRC", "Barcode"},  {"wma", "WM/ISRC", "WM/Barcode"},
        {"wv", "ISRC", "Barcode"},   {"opus", "isrc", "barcode"},
        {"m4a", "----:com.apple.iTunes:ISRC", "----:com.apple.iTunes:BARCODE"}};
    for (const auto& [to, isrcKey, barcodeKey] : targets) {
        const fs::path folder = dir.Path() / ("t-" + to);
        const auto r =
            bwtest::Run({bwmedia::CliProgram(), "convert", "--cd", image.Sheet, "--no-lookup", "--no-accuraterip",
                         "--tracks", "2", "--to", to, "--out", folder.string()});
        ASSERT_EQ(r.ExitCode, 0) << to << r.Err;
        EXPECT_EQ(bwtest::RunOk({"/usr/bin/python3", "-c", R"(
import sys, mutagen
tags = mutagen.File(sys.argv[1]).tags
for key in sys.argv[2:]:
    value = tags[key]
    value = value[0] if isinstance(value, list) else value
    value = value.text[0] if hasattr(value, 'text') else value
    print(value.decode() if isinstance(value, bytes) else value)
)",
                                 (folder / ("CD Track 2." + to)).string(), isrcKey, barcodeKey}),
                  "GBAYE0000002\n0123456789012\n")
            << to;
    }
}
