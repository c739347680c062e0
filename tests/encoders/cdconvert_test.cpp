// CD tracks through the conversion run, from generated disc images opened as drives: every
// output of every track, the drive each row was listed from, .cda files, and the Artist and
// Album folders made from names that may hold anything.

#include "cd/cddrives.h"
#include "support/cddbserver.h"
#include "support/cdimages.h"
#include "support/cdstandin.h"
#include "cd/cdtrackitem.h"
#include "encoders/convertertesthelp.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>

using namespace bw;
using namespace bwtest;

namespace {

struct TCdRun {
    std::vector<TConversionRow> Rows;
    TScriptedDialogs Dialogs;
};

// Converts the given items (read from drives) into folder.
std::unique_ptr<TCdRun> Convert(TCdDriveList& drives, std::vector<TmyMusicFile> items,
                                const std::string& folder, TTargetType target,
                                bool subFolders = false, const std::string& arServer = {}) {
    auto out = std::make_unique<TCdRun>();
    for (auto& item : items)
        out->Rows.push_back({std::move(item), true, "-"});
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = folder + "/";
    settings.CreateArtist = subFolders;
    settings.CreateAlbum = subFolders;
    // Rips are checked against the AccurateRip database only when a test names its server.
    settings.VerifyAccurateRip = !arServer.empty();
    settings.AccurateRipServer = arServer;
    settings.Timeout = 2;
    TRecordingObserver observer;
    TConversionRun run(out->Rows, target, TEncoderOptions{}, settings, out->Dialogs, observer);
    run.SetCdDrives(&drives);
    run.Run();
    return out;
}

std::vector<TmyMusicFile> ItemsOf(TCdDriveList& drives, int drive) {
    std::vector<TCdTrack> tracks;
    std::string why;
    EXPECT_TRUE(drives.Tracks(drive, tracks, &why)) << why;
    return CdTrackItems(tracks, static_cast<uint8_t>(drive), 0);
}

bool Same(const std::vector<std::byte>& a, const std::vector<std::byte>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// A .cda file as Windows writes one for a track: its number, start and length in frames.
void WriteCda(const std::string& path, int track, int32_t start, int32_t length) {
    std::vector<std::byte> b(44);
    const auto put = [&b](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            b[at + static_cast<size_t>(i)] = static_cast<std::byte>(v >> (8 * i));
    };
    std::memcpy(b.data(), "RIFF", 4);
    put(4, 36, 4);
    std::memcpy(b.data() + 8, "CDDAfmt ", 8);
    put(16, 24, 4);
    put(20, 1, 2);
    put(22, static_cast<uint32_t>(track), 2);
    put(24, 0x1234ABCD, 4);
    put(28, static_cast<uint32_t>(start), 4);
    put(32, static_cast<uint32_t>(length), 4);
    WriteAll(path, b);
}

// A track's AccurateRip checksums, copy CRC and peak worked out afresh from the image's
// bytes, to build the database's answers from: samples numbered from 1 in the track, the
// disc's first audio track counted from its 2,940th sample, the last without its last 2,940.
struct TArSums {
    uint32_t V1 = 0, V2 = 0, Crc = ~0u;
    int32_t Peak = 0;
};

TArSums ReferenceSums(const std::vector<std::byte>& pcm, bool first, bool last) {
    TArSums s;
    const auto u8 = [&pcm](size_t i) { return static_cast<uint32_t>(pcm[i]); };
    for (size_t i = first ? 2939 : 0; i < pcm.size() / 4 - (last ? 2940 : 0); ++i) {
        const uint64_t product = uint64_t{u8(4 * i) | u8(4 * i + 1) << 8 | u8(4 * i + 2) << 16 | u8(4 * i + 3) << 24} * (i + 1);
        s.V1 += static_cast<uint32_t>(product);
        s.V2 += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
    }
    for (size_t i = 0; i < pcm.size(); ++i) {
        s.Crc ^= u8(i);
        for (int k = 0; k < 8; ++k)
            s.Crc = s.Crc & 1 ? (s.Crc >> 1) ^ 0xEDB88320 : s.Crc >> 1;
        if (i % 2 == 1)
            s.Peak = std::max(s.Peak, std::abs(int32_t{static_cast<int16_t>(u8(i - 1) | u8(i) << 8)}));
    }
    s.Crc = ~s.Crc;
    return s;
}

// A 32-bit value as four little-endian bytes.
QByteArray Le32(uint32_t v) {
    const char bytes[] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    return QByteArray(bytes, 4);
}

// One block of a database answer: count, ids, and a (confidence, checksum) entry a slot.
QByteArray ArBlock(uint8_t count, const std::vector<std::pair<uint8_t, uint32_t>>& entries) {
    QByteArray b = static_cast<char>(count) + Le32(1) + Le32(2) + Le32(3);
    for (const auto& [confidence, crc] : entries)
        b += static_cast<char>(confidence) + Le32(crc) + Le32(0);
    return b;
}

} // namespace

// Every audio track of a mixed-mode image (track 1 is data) to every output: FLAC and WAV
// hold exactly the sectors of the disc, the lossy outputs and Monkey's Audio their length.
TEST(CdConvert, EveryTrackToEveryOutput) {
    TTempDir dir;
    const TTestImage image =
        MakeImage(dir.Path().string(), "mixed", {{4.0, true}, {3.27}, {2.5}, {1.013}});
    TCdDriveList drives;
    std::string why;
    const int drive = drives.AddImage(image.Sheet, &why);
    ASSERT_GE(drive, 0) << why;
    const auto items = ItemsOf(drives, drive);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items.front().SourcePath, "CD Track 2");

    for (const TTargetType target : {TTargetType::Flac, TTargetType::Wav, TTargetType::Mp3,
                                     TTargetType::Ogg, TTargetType::Ape, TTargetType::Wma,
                                     TTargetType::Mpc}) {
        SCOPED_TRACE(TargetName(target));
        TTempDir out;
        const auto result = Convert(drives, items, out.Path().string(), target);
        for (size_t i = 0; i < items.size(); ++i) {
            const TConversionRow& row = result->Rows[i];
            ASSERT_EQ(row.Status, "Done") << row.Reason;
            const std::string file = out.File(row.Item.SourcePath + TargetExtension(target));
            const std::vector<std::byte>& disc = image.Pcm[i + 1];
            if (target == TTargetType::Flac || target == TTargetType::Wav ||
                target == TTargetType::Ape) {
                EXPECT_TRUE(Same(FfmpegDecode(file), disc)) << file;
            } else {
                EXPECT_NEAR(DecodedSeconds(file), static_cast<double>(disc.size()) / 176400, 0.06)
                    << file;
            }
        }
    }
}

// Rows are read from the drive they were listed from, whichever drive is chosen later; a
// sheet naming a .bin of another name works; a .cda file finds its track on a listed disc.
TEST(CdConvert, EachRowReadsItsOwnDriveAndCdaFilesFindTheirDisc) {
    TTempDir dir;
    const TTestImage first = MakeImage(dir.Path().string(), "first", {{1.5}, {2.0}});
    const TTestImage second =
        MakeImage(dir.Path().string(), "second", {{1.2}, {2.6}, {0.8}}, "Other name.bin");
    TCdDriveList drives;
    ASSERT_EQ(drives.AddImage(first.Sheet), 0);
    ASSERT_EQ(drives.AddImage(second.Sheet), 1);

    TTempDir out;
    const auto result = Convert(drives, ItemsOf(drives, 1), out.Path().string(), TTargetType::Flac);
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(result->Rows[i].Status, "Done") << result->Rows[i].Reason;
        EXPECT_TRUE(Same(FfmpegDecode(out.File(result->Rows[i].Item.SourcePath + ".flac")),
                         second.Pcm[i]));
    }

    // Track 2 of the second disc, named by a track file with the 2 s lead-in counted, and
    // a track file no listed disc holds.
    const std::string found = dir.File("Track02.cda");
    const int32_t sectors = static_cast<int32_t>(second.Pcm[1].size() / 2352);
    WriteCda(found, 2, second.StartLsn[1] + 150, sectors);
    const std::string lost = dir.File("Track05.cda");
    WriteCda(lost, 5, 99999, 1234);
    std::vector<TmyMusicFile> cdas{RowFor(found).Item, RowFor(lost).Item};
    TTempDir cdaOut;
    const auto cda = Convert(drives, cdas, cdaOut.Path().string(), TTargetType::Flac);
    ASSERT_EQ(cda->Rows[0].Status, "Done") << cda->Rows[0].Reason;
    EXPECT_TRUE(Same(FfmpegDecode(cdaOut.File("Track02.flac")), second.Pcm[1]));
    EXPECT_EQ(cda->Rows[1].Status, "Error");
    EXPECT_NE(cda->Rows[1].Reason.find("no disc in the CD drives holds track 5"), std::string::npos)
        << cda->Rows[1].Reason;
}

// Artist and Album folders for CD outputs, from names the disc database may send: a slash
// or "..", or nothing at all, never leads outside the output folder.
TEST(CdConvert, ArtistAndAlbumFoldersFromAnyName) {
    TTempDir dir;
    const TTestImage image = MakeImage(dir.Path().string(), "disc", {{0.7}, {0.9}, {0.6}});
    TCdDriveList drives;
    ASSERT_EQ(drives.AddImage(image.Sheet), 0);
    auto items = ItemsOf(drives, 0);
    items[0].Artist = "AC/DC";
    items[0].Album = "..";
    items[1].Artist = "";
    items[1].Album = "";
    items[2].Artist = "Björk";
    items[2].Album = "Homogenic";
    items[2].SourcePath = "03 Björk Vol. 2"; // a named track: its dot is no extension
    TTempDir out;
    // An output folder not made yet is made with the first track's levels.
    const auto result = Convert(drives, items, out.File("new"), TTargetType::Flac, true);
    EXPECT_TRUE(result->Dialogs.Shown.empty()) << result->Dialogs.Shown.front().Text;
    for (const auto& row : result->Rows)
        EXPECT_EQ(row.Status, "Done") << row.Reason;
    EXPECT_TRUE(std::filesystem::exists(out.File("new/AC_DC/Unknown Album/CD Track 1.flac")));
    EXPECT_TRUE(std::filesystem::exists(out.File("new/CD Track 2.flac")));
    EXPECT_TRUE(std::filesystem::exists(out.File("new/Björk/Homogenic/03 Björk Vol. 2.flac")));
    EXPECT_EQ(FolderEntries(dir.Path().string()),
              (std::vector<std::string>{"disc.bin", "disc.cue"}));
}

// What only a stand-in drive can show: the door is locked for the run and unlocked after it;
// sectors given up on leave the output for the user but the row says "Error" and how many
// were lost; a disc taken out fails its item and every later one quickly, and the run ends.
TEST(CdConvert, LockedDoorLostSectorsAndADiscTakenOut) {
    TTempDir dir;
    const TTestImage image = MakeImage(dir.Path().string(), "disc", {{2.0}, {1.5}, {1.0}});
    TCdStandIn standIn;
    standIn.Devices = {"/dev/sr0"};
    standIn.Discs = {{"/dev/sr0", image.Sheet}};
    TCdDriveList drives(standIn);
    drives.Fill();
    const auto items = ItemsOf(drives, 0);
    ASSERT_EQ(items.size(), 3u);

    {
        TTempDir out;
        const auto result = Convert(drives, items, out.Path().string(), TTargetType::Flac);
        for (const auto& row : result->Rows)
            EXPECT_EQ(row.Status, "Done") << row.Reason;
        EXPECT_EQ(standIn.Calls, (std::vector<std::string>{"lock /dev/sr0", "unlock /dev/sr0"}));
    }
    {
        standIn.Faults.Unreadable = {image.StartLsn[0] + 20, image.StartLsn[0] + 21};
        TTempDir out;
        const auto result = Convert(drives, {items[0]}, out.Path().string(), TTargetType::Flac);
        EXPECT_EQ(result->Rows[0].Status, "Error");
        EXPECT_NE(result->Rows[0].Reason.find("CD Track 1"), std::string::npos) << result->Rows[0].Reason;
        EXPECT_NE(result->Rows[0].Reason.find("sector"), std::string::npos) << result->Rows[0].Reason;
        // Kept whole, for the user to judge.
        EXPECT_NEAR(DecodedSeconds(out.File("CD Track 1.flac")), image.Pcm[0].size() / 176400.0, 0.01);
        standIn.Faults.Unreadable.clear();
    }
    {
        standIn.Faults.GoneAfterReads = standIn.Reads + 20;
        TTempDir out;
        const auto result = Convert(drives, items, out.Path().string(), TTargetType::Flac);
        for (const auto& row : result->Rows) {
            EXPECT_EQ(row.Status, "Error");
            EXPECT_FALSE(row.Reason.empty());
        }
        EXPECT_NE(result->Rows[0].Reason.find("taken out"), std::string::npos) << result->Rows[0].Reason;
        EXPECT_LE(standIn.ReadsAfterGone, 5);
        EXPECT_TRUE(FolderEntries(out.Path().string()).empty());
        EXPECT_EQ(standIn.Calls.back(), "unlock /dev/sr0");
    }
}

// The command line rips the chosen tracks of an image; a track the disc lacks is an error.
TEST(CdConvert, CommandLineRipsTheChosenTracks) {
    TTempDir dir;
    const TTestImage image = MakeImage(dir.Path().string(), "disc", {{0.6}, {0.8}, {0.4}});
    TTempDir out;
    // No disc database: the refused loopback port names nothing.
    const TRunResult r = bwtest::Run({bwmedia::CliProgram(), "convert", "--cd", image.Sheet, "--tracks", "1,3-4",
                                      "--server", "127.0.0.1:1", "--musicbrainz-server", "http://127.0.0.1:1", "--no-accuraterip", "--to", "flac", "--out",
                                      out.Path().string()});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_NE(r.Err.find("the disc has no audio track 4"), std::string::npos) << r.Err;
    // With the rip's log, cue sheet and playlist, which are on unless switched off.
    EXPECT_EQ(FolderEntries(out.Path().string()),
              (std::vector<std::string>{"CD Track 1.flac", "CD Track 3.flac", "Unknown Album.cue",
                                        "Unknown Album.log", "Unknown Album.m3u"}));
    // Checksums, but no verdict: the database was not asked.
    EXPECT_TRUE(r.Out.find("\"CopyCrc\"") != std::string::npos && r.Out.find("\"AccurateRip\"") == std::string::npos) << r.Out;
    EXPECT_TRUE(Same(FfmpegDecode(out.File("CD Track 3.flac")), image.Pcm[2]));
}

// Ripped tracks are compared with an AccurateRip database on 127.0.0.1 whose answers are
// built from checksums worked out afresh from the image: accurate, a wrong checksum, v1-only
// and v2-only entries, a disc it lacks, the slots of a mixed-mode disc; and hostile answers
// end within the time-out with a clear note, the outputs kept.
TEST(CdConvert, RipsAreVerifiedWithAccurateRip) {
    CoreApp();
    TTempDir dir;
    const TTestImage image = MakeImage(dir.Path().string(), "disc", {{0.6}, {0.5}, {0.4}});
    const TTestImage mixed = MakeImage(dir.Path().string(), "mixed", {{1.0, true}, {0.5}, {0.4}});
    TCdDriveList drives;
    ASSERT_EQ(drives.AddImage(image.Sheet), 0);
    ASSERT_EQ(drives.AddImage(mixed.Sheet), 1);
    const TArSums sums[] = {ReferenceSums(image.Pcm[0], true, false), ReferenceSums(image.Pcm[1], false, false),
                            ReferenceSums(image.Pcm[2], false, true)};
    const TArSums mixedFirst = ReferenceSums(mixed.Pcm[1], true, false);
    // The files asked for, by hand: tracks of 45, 38 and 30 sectors start at 0, 45 and 83, the
    // lead-out at 113, so id1 = 241 = 0xf1 and id2 = 1 + 45 x 2 + 83 x 3 + 113 x 4 = 792; after
    // a data track of 75 sectors, 75 + 113 + 143 = 331 = 0x14b and 75 + 113 x 2 + 143 x 3 = 730.
    const char* paths[] = {"/accuraterip/1/f/0/dBAR-003-000000f1-00000318-", "/accuraterip/b/4/1/dBAR-002-0000014b-000002da-"};
    const auto ok = [](QByteArray body) { return TCddbReply{TCddbReply::TMode::Answer, 200, std::move(body)}; };
    const QByteArray allV1 = ArBlock(3, {{3, sums[0].V1}, {3, sums[1].V1}, {3, sums[2].V1}});
    const QByteArray allV2 = ArBlock(3, {{7, sums[0].V2}, {7, sums[1].V2}, {7, sums[2].V2}});
    const std::string a7 = "Accurate (confidence 7)", none = "Not verified";
    const struct {
        int Drive;
        TTargetType Target;
        TCddbReply Reply;
        std::vector<std::string> Results;
        const char* Note; // the reason in every row's note
    } cases[] = {
        {0, TTargetType::Flac, ok(allV1 + allV2), {a7, a7, a7}, ""},
        // Track 1 by its v1 entry only, track 2 wrong in both blocks, track 3 by its v2 only.
        {0, TTargetType::Wav,
         ok(ArBlock(3, {{3, sums[0].V1}, {3, sums[1].V1 ^ 1}, {3, 0}}) + ArBlock(3, {{9, 0}, {9, sums[1].V2 ^ 1}, {9, sums[2].V2}})),
         {"Accurate (confidence 3)", "Not accurate", "Accurate (confidence 9)"}, ""},
        {0, TTargetType::Flac, {TCddbReply::TMode::Answer, 404, "no"}, {"Not in database", "Not in database", "Not in database"}, ""},
        // Slot 0 is the data track's; the last audio track has none.
        {1, TTargetType::Flac, ok(ArBlock(2, {{0, 0}, {4, mixedFirst.V2}})), {"Accurate (confidence 4)", "Not in database"}, ""},
        {0, TTargetType::Flac, ok(allV1.chopped(1)), {none, none, none}, "damaged answer"},
        {0, TTargetType::Flac, ok("\xff" + allV1.mid(1)), {none, none, none}, "damaged answer"}, // a huge count
        {0, TTargetType::Wav, ok(QByteArray(50 << 20, '\1')), {none, none, none}, "larger than 1048576 bytes"},
        {0, TTargetType::Flac, {TCddbReply::TMode::Drip, 200, allV1}, {none, none, none}, "timed out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Results[0] + " " + c.Note);
        TCddbServer server([&](const std::string& target) {
            return target.rfind(paths[c.Drive], 0) == 0 ? c.Reply : TCddbReply{TCddbReply::TMode::Answer, 404, "wrong path"};
        });
        TTempDir out;
        const auto began = std::chrono::steady_clock::now();
        const auto result = Convert(drives, ItemsOf(drives, c.Drive), out.Path().string(), c.Target, false, server.Address());
        // The time-out is 2 s: with the rip itself, well within 10.
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
        EXPECT_EQ(server.Requests().size(), 1u); // once a disc
        ASSERT_EQ(result->Rows.size(), c.Results.size());
        for (size_t i = 0; i < c.Results.size(); ++i) {
            const TConversionRow& row = result->Rows[i];
            EXPECT_EQ(row.Status, "Done") << row.Reason;
            EXPECT_EQ(row.Item.AccurateRip, c.Results[i]) << i;
            const std::string note = "AccurateRip: " + c.Results[i] + (*c.Note ? " (The AccurateRip database" : "");
            EXPECT_EQ(row.Note.rfind(note, 0), 0u) << row.Note;
            EXPECT_NE(row.Note.find(c.Note), std::string::npos) << row.Note;
            const auto& pcm = c.Drive == 0 ? image.Pcm[i] : mixed.Pcm[i + 1];
            EXPECT_TRUE(Same(FfmpegDecode(out.File(row.Item.SourcePath + TargetExtension(c.Target))), pcm));
            const TArSums& expected = c.Drive == 0 ? sums[i] : ReferenceSums(pcm, i == 0, i == 1);
            EXPECT_EQ(std::tuple(row.Item.RipChecked, row.Item.CrcV1, row.Item.CrcV2, row.Item.CopyCrc, row.Item.Peak),
                      std::tuple(true, expected.V1, expected.V2, expected.Crc, expected.Peak));
        }
    }
}
