#include "core/genrelist.h"

#include <gtest/gtest.h>

using bw::GenreList;

TEST(GenreList, HoldsTheNamesInOrderWithOurSpellings) {
    const auto& g = GenreList();
    ASSERT_EQ(g.Count(), 148);
    EXPECT_EQ(g.Name(0), "Blues");
    EXPECT_EQ(g.Name(12), "Other");
    EXPECT_EQ(g.Name(40), "Alt. Rock");
    EXPECT_EQ(g.Name(59), "Gangsta Rap");
    EXPECT_EQ(g.Name(67), "Psychedelic");
    EXPECT_EQ(g.Name(79), "Hard Rock");
    EXPECT_EQ(g.Name(80), "Folk");
    EXPECT_EQ(g.Name(81), "Folk/Rock");
    EXPECT_EQ(g.Name(123), "A Cappella");
    EXPECT_EQ(g.Name(136), "Christian Gangsta Rap");
    EXPECT_EQ(g.Name(141), "Cristian Rock");
    EXPECT_EQ(g.Name(147), "Synthpop");
}

TEST(GenreList, BytesPastTheListReadAsOther) {
    const auto& g = GenreList();
    EXPECT_EQ(g.Name(148), "Other");
    EXPECT_EQ(g.Name(255), "Other");
    EXPECT_EQ(g.Name(-1), "Other");
}

TEST(GenreList, LooksUpNamesIgnoringCase) {
    const auto& g = GenreList();
    EXPECT_EQ(g.IndexOf("rock"), 17);
    EXPECT_EQ(g.IndexOf("R&B"), 14);
    EXPECT_EQ(g.IndexOf("DRUM & BASS"), 127);
    EXPECT_EQ(g.IndexOf("Rock "), -1);
    EXPECT_EQ(g.IndexOf(""), -1);
    EXPECT_EQ(g.ByteFor("Alternative Rock"), 255); // spelt "Alt. Rock" here
    EXPECT_EQ(g.ByteFor("synthpop"), 147);
}
