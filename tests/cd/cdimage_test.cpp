// The CD layer on real disc images through libcdio: the drive list, tracks, the table of
// contents, verified reading of every track, and the images that must be bridged or refused.

#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "cd/cdtrackstream.h"
#include "cli/cdcommand.h"
#include "support/cdimages.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

namespace {

using bw::TCdDriveList;
using bw::TCdTrackStream;
using bwtest::MakeImage;
using bwtest::TTempDir;

std::vector<std::byte> ReadTrack(const bw::TCdDriveEntry& drive, int track) {
    bw::TAudioError error{};
    std::string why;
    auto stream = TCdTrackStream::Open(drive, track, &error, &why);
    if (!stream) {
        ADD_FAILURE() << "track " << track << ": " << why;
        return {};
    }
    std::vector<std::byte> all;
    std::vector<std::byte> block(10240);
    for (;;) {
        const int64_t n = stream->Read(block);
        if (n < 0) {
            ADD_FAILURE() << stream->ErrorText();
            break;
        }
        if (n == 0)
            break;
        EXPECT_EQ(n % 4, 0);
        all.insert(all.end(), block.begin(), block.begin() + n);
        EXPECT_EQ(stream->Position(), all.size());
    }
    EXPECT_TRUE(stream->AtEnd());
    EXPECT_EQ(stream->LengthBytes(), all.size());
    EXPECT_TRUE(stream->DeliveredAll());
    EXPECT_EQ(stream->SkippedSectors(), 0);
    EXPECT_EQ(stream->ErrorText(), "");
    return all;
}

// Every audio track of an image, listed and read, is the audio put into it, padded to
// whole sectors; data tracks are listed as such and keep their numbers.
void CheckImage(const std::string& sheet, const bwtest::TTestImage& image,
                const std::vector<bool>& audio) {
    TCdDriveList list;
    std::string why;
    const int drive = list.AddImage(sheet, &why);
    ASSERT_GE(drive, 0) << why;
    EXPECT_EQ(list.At(drive).Text, sheet + ": CD image");
    EXPECT_TRUE(list.IsReady(drive));
    EXPECT_FALSE(list.DoorIsOpen(drive));
    std::vector<bw::TCdTrack> tracks;
    ASSERT_TRUE(list.Tracks(drive, tracks, &why)) << why;
    ASSERT_EQ(tracks.size(), audio.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        SCOPED_TRACE("track " + std::to_string(i + 1));
        EXPECT_EQ(tracks[i].Number, static_cast<int>(i + 1));
        EXPECT_EQ(tracks[i].IsAudio, audio[i]);
        EXPECT_EQ(tracks[i].StartLsn, image.StartLsn[i]);
        if (!audio[i]) {
            EXPECT_EQ(tracks[i].LengthBytes, 0);
            bw::TAudioError error{};
            EXPECT_EQ(TCdTrackStream::Open(list.At(drive), static_cast<int>(i + 1), &error), nullptr);
            EXPECT_EQ(error, bw::TAudioError::NotAvailable);
            continue;
        }
        EXPECT_EQ(tracks[i].LengthBytes, static_cast<int64_t>(image.Pcm[i].size()));
        EXPECT_TRUE(ReadTrack(list.At(drive), static_cast<int>(i + 1)) == image.Pcm[i]);
    }
}

TEST(CdImage, ThreeAudioTracksOfOddLengthsReadBitExact) {
    TTempDir dir;
    // Lengths that are neither whole seconds nor whole sectors: the last sector of each is
    // padded with silence, as a disc holds it.
    const auto image = MakeImage(dir.Path().string(), "album", {{2.5}, {1.3701}, {3.0133}});
    CheckImage(image.Sheet, image, {true, true, true});
}

TEST(CdImage, MixedModeDataTrackIsSkippedNumberingKept) {
    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "mixed", {{2, true}, {1.5}, {2.2}});
    CheckImage(image.Sheet, image, {false, true, true});

    std::ostringstream out, err;
    ASSERT_EQ(bw::RunCdCommand({"tracks", "--drive", image.Sheet}, out, err), 0) << err.str();
    const std::string text = out.str();
    EXPECT_EQ(text.find("\"CD Track 1\""), std::string::npos);
    EXPECT_NE(text.find("\"SourcePath\":\"CD Track 2\""), std::string::npos);
    EXPECT_NE(text.find("\"SourcePath\":\"CD Track 3\""), std::string::npos);

    TCdDriveList list;
    bw::TCDToc toc;
    ASSERT_TRUE(list.ReadToc(list.AddImage(image.Sheet), toc));
    EXPECT_EQ(toc.Tracks[0].IsAudio, 0);
    EXPECT_EQ(toc.Tracks[1].IsAudio, -1);
    EXPECT_EQ(toc.Tracks[2].IsAudio, -1);
}

TEST(CdImage, SheetNamingAnotherBinaryFileIsBridged) {
    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "sheet", {{1.2}, {2.04}}, "Other name.bin");
    CheckImage(image.Sheet, image, {true, true});
    // Nothing was written beside the image.
    EXPECT_EQ(bwtest::FolderEntries(dir.Path().string()),
              (std::vector<std::string>{"Other name.bin", "sheet.cue"}));
}

TEST(CdImage, TocFileWithRelativeNamesReads) {
    TTempDir dir;
    // The test runs in another folder than the image's, where the names would not resolve.
    const auto image = MakeImage(dir.Path().string(), "disc", {{1.1}, {2.3}}, {}, true);
    CheckImage(image.Sheet, image, {true, true});
}

// A named pipe as a sheet's data file is refused before anything opens it (an open would
// wait for a writer for ever), and so is every position past the end of the data file: one
// sector short of it is still taken. A null reason: the sheet is taken.
TEST(CdImage, SheetsThatCannotBeOpenedAreRefusedWithAReason) {
    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "good", {{1}}); // 75 sectors
    const std::string bin = "\"" + image.Bin + "\"";
    ASSERT_EQ(mkfifo(dir.File("pipe.bin").c_str(), 0600), 0);
    const auto twoTracks = [&bin](const char* second, const char* mode = "AUDIO") {
        return "FILE " + bin + " BINARY\n  TRACK 01 " + mode +
               "\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 " + second + "\n";
    };
    const struct {
        const char* Name;
        std::string Sheet;
        const char* Reason;
    } cases[] = {
        {"last.cue", twoTracks("00:00:74"), nullptr},
        {"past.cue", twoTracks("00:01:00"), "line 5: 00:01:00 lies past the end of the data file"},
        // 84 sectors of 2048 bytes then one of 2352 fit into 75 raw sectors; 85 do not.
        {"modes.cue", twoTracks("00:01:09", "MODE1/2048"), nullptr},
        {"modes-past.cue", twoTracks("00:01:10", "MODE1/2048"), "line 5: 00:01:10 lies past"},
        {"back.cue", twoTracks("00:00:00"), "line 5: 00:00:00 does not come after 00:00:00"},
        {"pipe-bin.cue", "FILE \"pipe.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "is not a regular file"},
        {"last.toc", "CD_DA\nTRACK AUDIO\nFILE " + bin + " 00:00:74\n", nullptr},
        {"past.toc", "CD_DA\nTRACK AUDIO\nFILE " + bin + " 00:01:00\n", "line 3: the audio starts"},
        {"two.cue", "FILE " + bin + " BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                    "FILE " + bin + " BINARY\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         "names several files"},
        // Sheets naming audio files are album images, read from those files.
        {"wave.cue", "FILE \"x.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: the audio file"},
        {"flac.cue", "FILE \"x.flac\" FLAC\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: the audio file"},
        {"mixed.cue", "FILE " + bin + " BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                      "FILE \"x.flac\" FLAC\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n",
         "line 1: a sheet naming audio files can't name raw BINARY data too"},
        {"none.cue", "TRACK 01 AUDIO\n", "names no data file"},
        {"missing.cue", "FILE \"gone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
         "does not exist"},
        {"notes.txt", "FILE " + bin + " BINARY\n", "is not a CD image"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = dir.File(c.Name);
        bwtest::WriteAll(path, {reinterpret_cast<const std::byte*>(c.Sheet.data()),
                                reinterpret_cast<const std::byte*>(c.Sheet.data()) + c.Sheet.size()});
        TCdDriveList list;
        std::string why;
        EXPECT_EQ(list.AddImage(path, &why), c.Reason ? -1 : 0) << why;
        EXPECT_NE(why.find(c.Reason ? c.Reason : ""), std::string::npos) << why;
        EXPECT_EQ(list.Count(), c.Reason ? 0u : 1u);
    }
}

// Addresses and lengths on both sides of each boundary: the 2-second lead-in, a second's
// 75 frames, a minute, and track 9 against 10 in names and table slots.
TEST(CdImage, TableOfContentsAndItemsOfTwelveTracks) {
    const struct {
        int32_t Lsn;
        bw::TCdMsf Msf;
    } addresses[] = {
        {0, {0, 2, 0}},     {74, {0, 2, 74}},    {75, {0, 3, 0}},
        {4349, {0, 59, 74}}, {4350, {1, 0, 0}},  {-150, {0, 0, 0}},
        {449849, {99, 59, 74}},
    };
    for (const auto& a : addresses) {
        EXPECT_EQ(bw::TCdMsf::FromLsn(a.Lsn), a.Msf) << a.Lsn;
        EXPECT_EQ(bw::TCdMsf::FromLsn(a.Lsn).FrameOffset(), a.Lsn + 150);
    }

    TTempDir dir;
    std::vector<bwtest::TTrackSpec> specs;
    for (int i = 0; i < 12; ++i)
        specs.push_back({0.4 + 0.13 * i});
    const auto image = MakeImage(dir.Path().string(), "twelve", specs);
    TCdDriveList list;
    const int drive = list.AddImage(image.Sheet);
    ASSERT_EQ(drive, 0);
    bw::TCDToc toc;
    ASSERT_TRUE(list.ReadToc(drive, toc));
    EXPECT_EQ(toc.TrackCount, 12);
    EXPECT_EQ(toc.Tracks[0].Start, (bw::TCdMsf{0, 2, 0}));
    for (int i = 0; i < 12; ++i) {
        const int32_t lba = image.StartLsn[i] + 150;
        EXPECT_EQ(toc.Tracks[i].Start, (bw::TCdMsf{static_cast<uint8_t>(lba / 4500),
                                                    static_cast<uint8_t>(lba / 75 % 60),
                                                    static_cast<uint8_t>(lba % 75)}))
            << "track " << i + 1;
        EXPECT_EQ(toc.Tracks[i].IsAudio, -1);
    }
    EXPECT_EQ(toc.LeadOut.FrameOffset(), image.LeadOutLsn + 150);
    EXPECT_EQ(toc.Tracks[12].Start, bw::TCdMsf{}); // unused entries stay empty

    std::vector<bw::TCdTrack> tracks;
    ASSERT_TRUE(list.Tracks(drive, tracks));
    const auto items = bw::CdTrackItems(tracks, static_cast<uint8_t>(drive), 5);
    ASSERT_EQ(items.size(), 12u);
    for (int i = 8; i <= 9; ++i) {
        const bw::TmyMusicFile& item = items[static_cast<size_t>(i)];
        EXPECT_EQ(item.SourcePath, "CD Track " + std::to_string(i + 1));
        EXPECT_EQ(item.Track, i + 1);
        EXPECT_EQ(item.TableIndex, 5 + i);
        EXPECT_EQ(item.FileSize, static_cast<int64_t>(image.Pcm[static_cast<size_t>(i)].size()));
        EXPECT_EQ(item.DurationMs, item.FileSize / 177);
    }
}

TEST(CdImage, OneMinuteTrackItemAndTheCommandLine) {
    // 177 bytes stand for a millisecond; the division truncates.
    const struct {
        int64_t Bytes;
        int32_t Ms;
    } lengths[] = {{176, 0}, {177, 1}, {10583999, 59796}, {10584000, 59796}, {10584177, 59797}};
    for (const auto& l : lengths)
        EXPECT_EQ(bw::MakeCdTrackItem(1, l.Bytes, 0).DurationMs, l.Ms) << l.Bytes;

    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "minute", {{60}, {0.5}});
    ASSERT_EQ(image.Pcm[0].size(), 10584000u);
    const auto cli = bwtest::BuildDir() / "bin" / "brindlewave-cli";
    const auto drives = bwtest::Run({cli.string(), "cd", "drives", image.Sheet});
    EXPECT_EQ(drives.ExitCode, 0) << drives.Err;
    // The machine's own drives (if any) come first.
    const std::string line = "\"device\":\"" + image.Sheet + "\",\"text\":\"" + image.Sheet + ": CD image\"}\n";
    EXPECT_TRUE(drives.Out.ends_with(line)) << drives.Out;

    const auto tracks = bwtest::Run({cli.string(), "cd", "tracks", "--drive", image.Sheet});
    ASSERT_EQ(tracks.ExitCode, 0) << tracks.Err;
    EXPECT_EQ(tracks.Out.substr(0, tracks.Out.find('\n')),
              "{\"SourcePath\":\"CD Track 1\",\"TargetPath\":\"\",\"DurationMs\":59796,"
              "\"FileSize\":10584000,\"Bitrate\":1411200,\"SampleRate\":44100,"
              "\"ChannelMode\":\"Stereo\",\"Channels\":2,\"Title\":\"\",\"Artist\":\"\","
              "\"Album\":\"\",\"GenreIndex\":12,\"Genre\":\"\",\"Year\":\"\",\"Comment\":\"\","
              "\"Track\":1,\"HasTag\":false,\"HasId3v2\":false,\"IsVbr\":false,"
              "\"SourceType\":9,\"TypeName\":\"CD Track\",\"CdDrive\":" +
                  std::to_string(std::count(drives.Out.begin(), drives.Out.end(), '\n') - 1) +
                  ",\"TableIndex\":0,\"accepted\":true}");

    const auto bad = bwtest::Run({cli.string(), "cd", "tracks", "--drive", "57"});
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_NE(bad.Err.find("no CD drive \"57\""), std::string::npos) << bad.Err;
}

TEST(CdImage, SeekLandsOnTheByte) {
    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "seek", {{1.0}, {2.0}});
    TCdDriveList list;
    const int drive = list.AddImage(image.Sheet);
    auto stream = TCdTrackStream::Open(list.At(drive), 2);
    ASSERT_NE(stream, nullptr);
    const std::vector<std::byte>& pcm = image.Pcm[1];
    for (uint64_t pos : {uint64_t{2352 * 40 + 1000}, uint64_t{4}, uint64_t{0}, uint64_t{pcm.size() - 8}}) {
        ASSERT_TRUE(stream->Seek(pos + 2)); // rounded down to a whole sample frame
        EXPECT_EQ(stream->Position(), pos);
        std::vector<std::byte> block(5000);
        const int64_t n = stream->Read(block);
        ASSERT_GT(n, 0);
        EXPECT_EQ(static_cast<uint64_t>(n), std::min<uint64_t>(5000, pcm.size() - pos));
        EXPECT_TRUE(std::equal(block.begin(), block.begin() + n, pcm.begin() + static_cast<long>(pos)))
            << pos;
    }
    EXPECT_FALSE(stream->Seek(pcm.size() + 4));
    EXPECT_TRUE(stream->Seek(pcm.size()));
    std::vector<std::byte> block(16);
    EXPECT_EQ(stream->Read(block), 0);
    EXPECT_TRUE(stream->AtEnd());
}

} // namespace

namespace {

// A read offset moves every read of the drive by whole samples, across track boundaries,
// and what it reaches before the disc's first sample or past its last is silence: each
// track, read with the offset, against the .bin sample by sample.
TEST(CdImage, ReadOffsetShiftsEveryTrackWithSilencePastTheDisc) {
    TTempDir dir;
    const auto image = MakeImage(dir.Path().string(), "offset", {{0.7}, {1.1}, {0.4}});
    const auto bin = bwtest::ReadAll(image.Bin);
    ASSERT_EQ(bin.size(), static_cast<size_t>(image.LeadOutLsn) * 2352);
    TCdDriveList list;
    const int drive = list.AddImage(image.Sheet);
    ASSERT_GE(drive, 0);
    for (const int offset : {6, -1200, 3000, -3000}) {
        list.SetReadOffset(drive, offset);
        for (size_t t = 0; t < image.Pcm.size(); ++t) {
            std::vector<std::byte> want(image.Pcm[t].size());
            for (size_t i = 0; i < want.size(); ++i) {
                const int64_t at = int64_t{image.StartLsn[t]} * 2352 + int64_t{offset} * 4 +
                                   static_cast<int64_t>(i);
                if (at >= 0 && at < static_cast<int64_t>(bin.size()))
                    want[i] = bin[static_cast<size_t>(at)];
            }
            const auto got = ReadTrack(list.At(drive), static_cast<int>(t + 1));
            ASSERT_EQ(got.size(), want.size());
            EXPECT_EQ(std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin(),
                      static_cast<long>(got.size()))
                << "offset " << offset << ", track " << t + 1;
            // A seek lands on the shifted byte too.
            auto stream = TCdTrackStream::Open(list.At(drive), static_cast<int>(t + 1));
            ASSERT_NE(stream, nullptr);
            const uint64_t pos = 2352 * 5 + 1000;
            std::vector<std::byte> block(5000);
            ASSERT_TRUE(stream->Seek(pos));
            ASSERT_EQ(stream->Read(block), 5000);
            EXPECT_TRUE(std::equal(block.begin(), block.end(), want.begin() + pos)) << offset;
        }
    }
    list.SetReadOffset(drive, 4000);
    EXPECT_EQ(list.At(drive).ReadOffset, 3000);
}

} // namespace
