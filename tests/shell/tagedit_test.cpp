// The tag editor's rules without its window: what it shows for an item, the track field,
// the order of OK, and the renaming of CD tracks.

#include "shell/tagedit.h"

#include "core/genrelist.h"
#include "shell/appsettings.h"
#include "shell/naming.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

TEST(TagEdit, GenreTextsAndNumbers) {
    TmyMusicFile item;
    item.Genre = "Rock";
    EXPECT_EQ(TagFormTextsOf(item).Genre, "Rock");
    EXPECT_EQ(GenreList().IndexOf(TagFormTextsOf(item).Genre), 17);
    item.Genre = "hard ROCK"; // found without regard to case, shown as the list spells it
    EXPECT_EQ(TagFormTextsOf(item).Genre, "Hard Rock");
    item.Genre = "Chiptune"; // not in the list: the box shows nothing
    EXPECT_EQ(TagFormTextsOf(item).Genre, "");

    // The editor's box gives "" for no selection: 255 and no text.
    ASSERT_TRUE(ApplyTagEdit(item, TTagField::Genre, ""));
    EXPECT_EQ(item.GenreIndex, 255);
    EXPECT_EQ(item.Genre, "");
    // A text from the command line that the list lacks is kept as text.
    ASSERT_TRUE(ApplyTagEdit(item, TTagField::Genre, "Chiptune"));
    EXPECT_EQ(item.GenreIndex, 255);
    EXPECT_EQ(item.Genre, "Chiptune");
    ASSERT_TRUE(ApplyTagEdit(item, TTagField::Genre, "cristian rock"));
    EXPECT_EQ(item.GenreIndex, 141);
    EXPECT_EQ(item.Genre, "Cristian Rock");
}

TEST(TagEdit, TrackFieldRules) {
    for (char32_t c = 0; c < 128; ++c)
        EXPECT_EQ(TrackCharAccepted(c), (c >= U'0' && c <= U'9') || c == U'\b') << static_cast<int>(c);
    EXPECT_FALSE(TrackCharAccepted(U'\u0663')); // ARABIC-INDIC DIGIT THREE is no decimal digit here

    const std::pair<const char*, const char*> kLeave[] = {
        {"", ""}, {"0", "0"}, {"1", "1"}, {"7", "7"}, {"254", "254"}, {"255", "255"}, {"256", "255"},
        {"300", "255"}, {"999", "255"}, {"007", "007"}, {"65536", "255"}, {"99999999999999999999", "255"},
    };
    for (const auto& [typed, left] : kLeave)
        EXPECT_EQ(TrackTextOnLeave(typed), left) << typed;
    // The year field takes 10 characters: 9, 10 and 11 typed (one of them two bytes long).
    for (const auto& [typed, left] : {std::pair{"1999-12-é", "1999-12-é"}, {"1999-12-31", "1999-12-31"},
                                      {"1999-12-31Z", "1999-12-31"}, {"1999-12-3éZ", "1999-12-3é"}})
        EXPECT_EQ(FieldTextAsEdited(TTagField::Year, typed), left) << typed;

    // The number's low 8 bits are stored; what is no number changes nothing.
    TmyMusicFile item;
    item.Track = 9;
    const std::pair<const char*, int> kStored[] = {{"0", 0}, {"10", 10}, {"255", 255}, {"256", 0},
                                                  {"300", 44}, {"+12", 12}, {"-1", 255}};
    for (const auto& [text, stored] : kStored) {
        ASSERT_TRUE(ApplyTagEdit(item, TTagField::Track, text)) << text;
        EXPECT_EQ(item.Track, stored) << text;
    }
    item.Track = 9;
    for (const char* bad : {"", " 1", "1 ", "x", "1.5", "99999999999999999999"}) {
        std::string error;
        EXPECT_FALSE(ApplyTagEdit(item, TTagField::Track, bad, &error)) << bad;
        EXPECT_EQ(error, "'" + std::string(bad) + "' is not a valid integer value");
        EXPECT_EQ(item.Track, 9);
    }
}

// OK stores the fields in order; an empty track stops it there, the fields before it kept.
TEST(TagEdit, OkAppliesInOrderAndStopsAtABadTrack) {
    TmyMusicFile item;
    item.Track = 3;
    item.Comment = "old";
    TTagFormTexts t{"Титул", "Artist", "Album", "Jazz", "1999", "", "new"};
    std::string error;
    EXPECT_FALSE(ApplyTagForm(t, item, &error));
    EXPECT_EQ(error, "'' is not a valid integer value");
    EXPECT_EQ(item.Title, "Титул");
    EXPECT_EQ(item.Artist, "Artist");
    EXPECT_EQ(item.Album, "Album");
    EXPECT_EQ(item.Genre, "Jazz");
    EXPECT_EQ(item.GenreIndex, 8);
    EXPECT_EQ(item.Year, "1999");
    EXPECT_EQ(item.Track, 3);
    EXPECT_EQ(item.Comment, "old");

    t.Track = "12";
    ASSERT_TRUE(ApplyTagForm(t, item, &error));
    EXPECT_EQ(item.Track, 12);
    EXPECT_EQ(item.Comment, "new");
    // What the editor shows for it again.
    const TTagFormTexts back = TagFormTextsOf(item);
    EXPECT_EQ(back.Title, t.Title);
    EXPECT_EQ(back.Genre, "Jazz");
    EXPECT_EQ(back.Track, "12");
}

TEST(TagEdit, FileInformationTexts) {
    TmyMusicFile item;
    item.TypeName = "MPEG 1 Layer III";
    item.ChannelMode = "Joint Stereo";
    item.FileSize = 5000000;
    item.DurationMs = 3723400;
    item.SampleRate = 44100;
    item.Bitrate = 127999;
    TFileInfoTexts info = FileInfoTextsOf(item);
    EXPECT_EQ(info.FileType, "MPEG 1 Layer III");
    EXPECT_EQ(info.Length, "01:02:03.4");
    EXPECT_EQ(info.FileSize, "4.77 MB");
    EXPECT_EQ(info.SampleRate, "44100 Hz");
    EXPECT_EQ(info.Channels, "Joint Stereo");
    EXPECT_EQ(info.BitRate, "127 kbit");
    // Hours only from an hour on; the tenths cut, not rounded.
    const std::pair<int32_t, const char*> kLengths[] = {
        {65000, "01:05.0"}, {3599999, "59:59.9"}, {3600000, "01:00:00.0"}, {0, "00:00.0"}, {-1, "00:00.0"}};
    for (const auto& [ms, text] : kLengths) {
        item.DurationMs = ms;
        EXPECT_EQ(FileInfoTextsOf(item).Length, text) << ms;
    }
}

TEST(TagEdit, CdTracksTakeNamesFromTheirTags) {
    const TNamePattern pattern = TNamePattern::FromSettings(DefaultAppSettings());
    TmyMusicFile cd;
    cd.SourceType = TSourceType::CdTrack;
    cd.SourcePath = "Track 3";
    ASSERT_TRUE(ApplyTagForm({"Song", "Band", "", "", "", "3", ""}, cd));
    RenameTrackItem(cd, pattern);
    EXPECT_EQ(cd.SourcePath, BuildTrackFileName({"Song", "Band", "", "", "", 3}, pattern));
    EXPECT_NE(cd.SourcePath.find("Song"), std::string::npos);
    TmyMusicFile file = cd;
    file.SourceType = TSourceType::Flac;
    file.SourcePath = "/music/a.flac";
    RenameTrackItem(file, pattern);
    EXPECT_EQ(file.SourcePath, "/music/a.flac");
}

} // namespace
