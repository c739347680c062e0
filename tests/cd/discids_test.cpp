// The ids a disc is known by in the rip databases, from tables of contents whose values are
// worked out by hand here, through the library and the command line's cd ids.

#include "cd/accuraterip.h"
#include "cd/discids.h"
#include "support/testsupport.h"

#include <discid/discid.h>
#include <gtest/gtest.h>

#include <memory>

using namespace bw;

// Starts are written with the 150-sector lead-in; the ids count without it. The freedb id
// sums the digits of every track's start second (data tracks too), then the playing time
// from the first track to the lead-out and the track count.
TEST(DiscIds, FourKindsOfDiscAndBadTables) {
    const std::string cli = (bwtest::BuildDir() / "bin" / "brindlewave-cli").string();
    std::string toc99;
    for (int i = 0; i < 99; ++i)
        toc99 += "A" + std::to_string(150 + 3000 * i) + " ";
    // MusicBrainz's id as libdiscid makes it from the first and last audio track, the
    // audio session's end (an enhanced CD's data track start less 11,400) and the starts.
    const struct {
        std::string Toc;
        uint32_t Id1, Id2;
        const char* Id;
        int First, Last;
        std::vector<int> Offsets; // the lead-out, then the tracks from First
    } cases[] = {
        // 2 s, 266 s, 546 s: digits 2 + 14 + 15 = 31 = 0x1f; 1200 s - 2 s = 1198 = 0x4ae.
        {"A150 A20000 A41000 L90000", 0 + 19850 + 40850 + 89850, 1 * 1 + 19850 * 2 + 40850 * 3 + 89850 * 4,
         "003-00024c16-0007f5b3-1f04ae03", 1, 3, {90000, 150, 20000, 41000}},
        // Enhanced: the audio ids as above with the disc's lead-out; the freedb id counts the
        // data track (946 s: 19, so 50 = 0x32) and four tracks.
        {"A150 A20000 A41000 D71000 L90000", 0 + 19850 + 40850 + 89850, 1 * 1 + 19850 * 2 + 40850 * 3 + 89850 * 4,
         "003-00024c16-0007f5b3-3204ae04", 1, 3, {71000 - 11400, 150, 20000, 41000}},
        // Mixed mode: the audio tracks are numbered from 1 without the data track; freedb:
        // 2 s, 400 s, 666 s give 2 + 4 + 18 = 24 = 0x18.
        {"D150 A30000 A50000 L90000", 29850 + 49850 + 89850, 29850 * 1 + 49850 * 2 + 89850 * 3,
         "002-0002964e-000616fc-1804ae03", 2, 3, {90000, 30000, 50000}},
        // Starts 3000 i: id1 = 3000 (0 + ... + 98) + lead-out; id2 = 1 + 3000 (1x2 + ... + 98x99)
        // + 100 lead-out, the sum of i (i + 1) being 98 x 99 x 100 / 3 = 323400. freedb: the
        // digit sums of 2, 42, 82, ... 3922 s add up to 1170, 1170 % 255 = 150 = 0x96; 3968 s -
        // 2 s = 3966 = 0xf7e; 99 = 0x63.
        {toc99 + "L297650", 3000 * 4851 + 297500, 1 + 3000 * 323400 + 297500 * 100, "099-00e299c4-3b9a06b1-960f7e63", 1, 99, {297650}},
    };
    const std::unique_ptr<DiscId, void (*)(DiscId*)> reference(discid_new(), discid_free);
    std::string mixedId;
    for (const auto& c : cases) {
        TCDToc toc;
        std::string why;
        ASSERT_TRUE(ParseTocText(c.Toc, toc, why)) << why;
        const TDiscIds ids = ComputeDiscIds(toc);
        EXPECT_EQ(std::pair(ids.Id1, ids.Id2), std::pair(c.Id1, c.Id2)) << c.Id;
        std::vector<int> offsets(100, 0);
        offsets[0] = c.Offsets[0];
        for (int t = c.First; t <= c.Last; ++t)
            offsets[static_cast<size_t>(t)] = c.Last == 99 ? 150 + 3000 * (t - 1) : c.Offsets[static_cast<size_t>(t - c.First + 1)];
        ASSERT_TRUE(discid_put(reference.get(), c.First, c.Last, offsets.data())) << c.Id;
        EXPECT_EQ(ids.MusicBrainzId, discid_get_id(reference.get())) << c.Id;
        if (c.First == 2)
            mixedId = ids.MusicBrainzId;
        // The database's file: the last three hex digits of id1, the last first.
        const std::string hex = std::string(c.Id).substr(4, 8);
        EXPECT_EQ(AccurateRipPath(ids), "accuraterip/" + hex.substr(7, 1) + "/" + hex.substr(6, 1) + "/" + hex.substr(5, 1) +
                                            "/dBAR-" + c.Id + ".bin");
    }
    const auto mixed = bwtest::Run({cli, "cd", "ids", "--toc", "D150 A30000 A50000 L90000"});
    EXPECT_EQ(mixed.Out, "{\"FreedbId\":\"1804ae03\",\"AccurateRipId\":\"002-0002964e-000616fc-1804ae03\","
                         "\"AudioTracks\":2,\"TrackOffsets\":[29850,49850],\"LeadOut\":89850,"
                         "\"MusicBrainzId\":\"" + mixedId +
                         "\"}\n");
    for (const auto& [toc, why] : {std::pair{"A150 X3 L900", "\"X3\" is no A, D or L"},
                                   {"A150 L900 A1000", "must come last"},
                                   {"A150 A1000", "the lead-out (L) last"}}) {
        const auto r = bwtest::Run({cli, "cd", "ids", "--toc", toc});
        EXPECT_EQ(r.ExitCode, 2) << toc;
        EXPECT_NE(r.Err.find(why), std::string::npos) << r.Err;
    }
}
