// Album images (cue sheets naming audio files) that can't be an album: each is refused
// with a message naming the sheet line, is not listed as a drive, and converts nothing
// from the command line. The boundary cases next to them open.

#include "cd/cddrives.h"
#include "support/testsupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace bw;
using namespace bwtest;

namespace {

int FilesUnder(const std::string& folder) {
    int n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

} // namespace

TEST(AlbumImage, BadSheetsAreRefusedNamingTheLineAndConvertNothing) {
    TTempDir dir;
    // Exactly 5 s: 00:05:00 is the first frame past its end.
    MakeTone(dir.File("album.flac"), 5.0);
    struct TCase {
        const char* Name;
        std::string Sheet;
        std::string Message; // empty: the sheet opens
    };
    const std::string head = "TITLE \"Album\"\nFILE \"album.flac\" WAVE\n";
    const std::vector<TCase> cases{
        {"missing file", "FILE \"gone.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: the audio file \"" + dir.File("gone.flac") + "\" does not exist"},
        {"second file missing",
         head + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"b.flac\" WAVE\n"
                "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         "line 5: the audio file \"" + dir.File("b.flac") + "\" does not exist"},
        {"start at the end",
         head +
             "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:05:00\n",
         "line 6: INDEX 01 of track 2 lies past the end of"},
        {"start on the last frame",
         head +
             "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:74\n",
         ""},
        {"gap past the end",
         head + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 00:05:01\n"
                "    INDEX 01 00:04:00\n",
         "line 6: INDEX 00 of track 2 lies past the end of"},
        {"numbers backwards",
         head +
             "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n",
         "line 5: track 1 follows track 2: the tracks are out of order"},
        {"starts backwards",
         head +
             "  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n",
         "line 6: track 2 starts at 00:01:00, not after track 1 (00:02:00): the tracks are out of "
         "order"},
        {"same start",
         head +
             "  TRACK 01 AUDIO\n    INDEX 01 00:02:00\n  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n",
         "line 6: track 2 starts at 00:02:00, not after track 1"},
        {"no track", head + "REM COMMENT nothing\n", "line 3: the sheet has no TRACK"},
        {"track before file", "TRACK 01 AUDIO\nFILE \"album.flac\" WAVE\n",
         "line 1: TRACK before any FILE"},
        {"no INDEX 01",
         head +
             "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 00 00:01:00\n",
         "line 5: track 2 has no INDEX 01"},
        {"not a time", head + "  TRACK 01 AUDIO\n    INDEX 01 00:60:00\n",
         "line 4: \"00:60:00\" is not a time (mm:ss:ff)"},
        // What the sheet says is quoted with its control characters spelled out: a carriage
        // return or an escape sequence never reaches the terminal.
        {"controls in a time", head + "  TRACK 01 AUDIO\n    INDEX 01 00:0\x07:00\n",
         "line 4: \"00:0\\x07:00\" is not a time (mm:ss:ff)"},
        {"controls in a name", "FILE \"go\rne\x1b[31m.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: the audio file \"" + dir.File("go\\x0Dne\\x1B[31m.flac") + "\" does not exist"},
        {"frame 75", head + "  TRACK 01 AUDIO\n    INDEX 01 00:00:75\n",
         "line 4: \"00:00:75\" is not a time (mm:ss:ff)"},
        {"data track", head + "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n",
         "line 3: track 1 is not an AUDIO track"},
        {"not audio", "FILE \"sheet.txt\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: can't decode the audio file"},
    };
    std::ofstream(dir.File("sheet.txt")) << "no audio here\n";
    const auto cli = BuildDir() / "bin" / "brindlewave-cli";
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string sheet = dir.File("bad.cue");
        std::ofstream(sheet, std::ios::trunc) << c.Sheet;
        TCdDriveList drives;
        std::string why;
        const int drive = drives.AddImage(sheet, &why);
        const std::string out = dir.File("out");
        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        const TRunResult run =
            bwtest::Run({cli.string(), "convert", "--cd", sheet, "--to", "flac", "--out", out});
        if (c.Message.empty()) {
            EXPECT_GE(drive, 0) << why;
            EXPECT_EQ(run.ExitCode, 0) << run.Err;
            EXPECT_EQ(FilesUnder(out), 2);
            continue;
        }
        EXPECT_LT(drive, 0);
        EXPECT_EQ(drives.Count(), 0u);
        EXPECT_NE(why.find("The cue sheet \"" + sheet + "\", " + c.Message), std::string::npos)
            << why;
        EXPECT_NE(run.ExitCode, 0);
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
        EXPECT_EQ(FilesUnder(out), 0);
    }
}
