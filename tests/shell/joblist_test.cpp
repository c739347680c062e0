#include "shell/joblist.h"
#include "shell/naming.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace bw;

TEST(JobList, FormatDuration) {
    EXPECT_EQ(FormatDuration(65000), "01:05.0");
    EXPECT_EQ(FormatDuration(3723456), "01:02:03.4");
    EXPECT_EQ(FormatDuration(59999), "00:59.9");
    EXPECT_EQ(FormatDuration(3600000), "01:00:00.0");
    EXPECT_EQ(FormatDuration(0), "00:00.0");
    EXPECT_EQ(FormatDuration(-5), "00:00.0");
}

TEST(JobList, RowTexts) {
    TmyMusicFile i;
    i.SourcePath = "/music/a/Song.mp3";
    i.TypeName = "MP3";
    i.FileSize = 5 * 1024 * 1024 + 512 * 1024;
    i.SampleRate = 44100;
    i.ChannelMode = "Joint Stereo";
    i.Bitrate = 192999;
    i.IsVbr = true;
    i.DurationMs = 65000;
    i.Title = "T";
    i.Track = 7;
    const auto t = JobRowTexts(i, "-");
    EXPECT_EQ(t[0], "Song.mp3");
    EXPECT_EQ(t[1], "MP3");
    EXPECT_EQ(t[2], "-");
    EXPECT_EQ(t[3], "5.50 MB");
    EXPECT_EQ(t[4], "44100 Hz (Joint Stereo)");
    EXPECT_EQ(t[5], "192 kbit (VBR)");
    EXPECT_EQ(t[6], "01:05.0");
    EXPECT_EQ(t[7], "T");
    EXPECT_EQ(t[12], "7");
    EXPECT_EQ(t[14], "/music/a/Song.mp3");
}

TEST(JobList, TableKeepsSlotsUntilCleared) {
    TJobTable table;
    EXPECT_EQ(table.LastJobIndex(), -1);
    for (int i = 0; i < 1500; ++i) // past the old 1,000-slot limit: nothing is refused
        EXPECT_EQ(table.Add({}).TableIndex, i);
    table.Free(3);
    EXPECT_EQ(table.At(3), nullptr);
    EXPECT_EQ(table.LastJobIndex(), 1499); // a single removal frees no slot
    EXPECT_EQ(table.Add({}).TableIndex, 1500);
    table.Clear();
    EXPECT_EQ(table.LastJobIndex(), -1);
    EXPECT_EQ(table.Add({}).TableIndex, 0);
}

TEST(Naming, BuildTrackFileNameFollowsThePattern) {
    TNamePattern p = TNamePattern::FromSettings(DefaultAppSettings());
    TNameFields f{"Rain", "Ann", "2001", "Pop", "Sky", 3};
    EXPECT_EQ(BuildTrackFileName(f, p), "03 Ann Rain");
    p.Separator = 0;
    p.Used = {false, true, false, true, false, false, false};
    f.Track = 7;
    f.Title = "Blue";
    EXPECT_EQ(BuildTrackFileName(f, p), "07Blue");
    // An empty value still gets its separator; numbers of two digits get no zero.
    p.Separator = 2;
    p.Used = {true, false, true, true, true, false, false};
    f.Artist = "";
    f.Track = 12;
    EXPECT_EQ(BuildTrackFileName(f, p), "12--Blue-Sky");
    // Both number elements on both sides of every digit count, against printf's own padding.
    p.Names[0] = "Track number 01";
    p.Names[1] = "Track number 1";
    p.Used = {true, true, false, false, false, false, false};
    for (const int track : {0, 1, 9, 10, 11, 99, 100}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%02d-%d", track, track);
        f.Track = track;
        EXPECT_EQ(BuildTrackFileName(f, p), expected);
    }
}

TEST(Naming, PreviewShowsFoldersElementsAndExtension) {
    const TNamePattern p = TNamePattern::FromSettings(DefaultAppSettings());
    EXPECT_EQ(FileNamePreview(p, true, true), "Artist/Album/01 Artist Title.mp3");
    EXPECT_EQ(FileNamePreview(p, false, true), "Album/01 Artist Title.mp3");
    TNamePattern q = p;
    q.Separator = 4;
    q.Used = {true, false, false, true, false, true, true};
    EXPECT_EQ(FileNamePreview(q, false, false), "1_Title_Year_Genre.mp3");
}
