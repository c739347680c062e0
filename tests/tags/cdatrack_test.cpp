#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/cdatrack.h"

#include <gtest/gtest.h>

using namespace bw;
using bwtest::LE16;
using bwtest::LE32;

namespace {

std::string Cda(uint16_t track, uint32_t serial, uint32_t start, uint32_t length) {
    return "RIFF" + LE32(36) + "CDDAfmt " + LE32(24) + LE16(1) + LE16(track) + LE32(serial) +
           LE32(start) + LE32(length) + std::string(8, '\0');
}

} // namespace

TEST(CDAtrack, ReadsTheTrackAndItsTitlesFromTheDatabase) {
    bwtest::TTempDir dir;
    bwtest::WriteText(dir.File("Track03.cda"), Cda(3, 0x0A1B2C, 150, 75 * 200 + 30));
    bwtest::WriteText(dir.File("cdplayer.ini"), "[Other]\n3=Wrong\n"
                                                "[A1B2C]\r\nArtist=Ann\r\ntitle=Shore\r\n3 = Tide \r\n");
    TCDAtrack t;
    t.SetDatabasePath(dir.File("cdplayer.ini"));
    ASSERT_TRUE(t.ReadFromFile(dir.File("Track03.cda")));
    ASSERT_TRUE(t.Valid());
    EXPECT_EQ(t.TrackNumber(), 3);
    EXPECT_DOUBLE_EQ(t.Duration(), 200.4);
    EXPECT_DOUBLE_EQ(t.StartPosition(), 2.0);
    EXPECT_EQ(t.Title(), "Tide");
    EXPECT_EQ(t.Artist(), "Ann");
    EXPECT_EQ(t.Album(), "Shore");

    // No section for this disc: valid, titles empty.
    bwtest::WriteText(dir.File("Track01.cda"), Cda(1, 0xFF, 0, 750));
    ASSERT_TRUE(t.ReadFromFile(dir.File("Track01.cda")));
    EXPECT_TRUE(t.Valid());
    EXPECT_TRUE(t.Title().empty());
    // Serials below 0x10 still have two digits.
    bwtest::WriteText(dir.File("cdplayer.ini"), "[0F]\n1=Small\n");
    bwtest::WriteText(dir.File("Track01.cda"), Cda(1, 0xF, 0, 750));
    ASSERT_TRUE(t.ReadFromFile(dir.File("Track01.cda")));
    EXPECT_EQ(t.Title(), "Small");
}

TEST(CDAtrack, ShortOrForeignFilesAreNotTrackFiles) {
    bwtest::TTempDir dir;
    TCDAtrack t;
    t.SetDatabasePath(dir.File("none.ini"));
    bwtest::WriteText(dir.File("short.cda"), "RIFF");
    EXPECT_TRUE(t.ReadFromFile(dir.File("short.cda")));
    EXPECT_FALSE(t.Valid());
    bwtest::WriteText(dir.File("wave.cda"), "RIFF" + LE32(36) + "WAVEfmt " + std::string(28, '\0'));
    EXPECT_TRUE(t.ReadFromFile(dir.File("wave.cda")));
    EXPECT_FALSE(t.Valid());
    EXPECT_FALSE(t.ReadFromFile(dir.File("missing.cda")));
}
