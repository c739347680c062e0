#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/oggvorbis.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

class OggVorbis : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new bwtest::TTempDir;
        bwtest::MakeTone(dir_->File("t.wav"), 4.0, 44100, 2);
    }
    static void TearDownTestSuite() { delete dir_; }

    std::string Encode(const std::string& name, const std::vector<std::string>& comments) {
        std::vector<std::string> argv{"oggenc", "-Q", "-q", "3", dir_->File("t.wav"), "-o", dir_->File(name)};
        for (const auto& c : comments) {
            argv.push_back("-c");
            argv.push_back(c);
        }
        bwtest::RunOk(argv);
        return dir_->File(name);
    }

    static bwtest::TTempDir* dir_;
};
bwtest::TTempDir* OggVorbis::dir_ = nullptr;

} // namespace

TEST_F(OggVorbis, StreamAndCommentsOfARealFile) {
    const std::string path = Encode("a.ogg", {"TITLE=First", "TITLE=  Second  ", "PERFORMER=Band",
                                              "TRACKNUMBER=3/12", "DATE=2004", "genre=Jazz",
                                              "DESCRIPTION=About"});
    TOggVorbis o;
    ASSERT_TRUE(o.Load(path));
    ASSERT_TRUE(o.Valid());
    EXPECT_EQ(o.Title(), "Second"); // the later of two, trimmed
    EXPECT_EQ(o.Artist(), "Band");  // PERFORMER without ARTIST
    EXPECT_EQ(o.Track(), 3);
    EXPECT_EQ(o.Date(), "2004");
    EXPECT_EQ(o.Genre(), "Jazz");
    EXPECT_EQ(o.Comment(), "About");
    EXPECT_EQ(o.Channels(), 2);
    EXPECT_EQ(o.SampleRate(), 44100);
    EXPECT_EQ(o.Samples(), 4 * 44100);
    const double ref = bwtest::FfprobeDuration(path);
    EXPECT_NEAR(o.Duration(), ref, ref * 0.01);
    EXPECT_GT(o.BitRate(), 0);
}

TEST_F(OggVorbis, ACommentSpanningManyPagesLosesNothingAfterIt) {
    // A picture stored in the comment makes the packet run over many pages.
    const std::string picture = "METADATA_BLOCK_PICTURE=" + std::string(100000, 'A');
    const std::string path = Encode("pic.ogg", {"TITLE=Before", picture, "ARTIST=After", "ALBUM=Ü"});
    TOggVorbis o;
    ASSERT_TRUE(o.Load(path));
    EXPECT_EQ(o.Title(), "Before");
    EXPECT_EQ(o.Artist(), "After");
    EXPECT_EQ(o.Album(), "Ü");
    EXPECT_TRUE(o.Valid());
    EXPECT_EQ(o.Samples(), 4 * 44100);
}

TEST_F(OggVorbis, LastPageFarFromTheEndFallsBackToTheNominalBitRate) {
    const std::string path = Encode("junk.ogg", {});
    auto bytes = bwtest::ReadAll(path);
    bytes.resize(bytes.size() + 13000, std::byte{0});
    bwtest::WriteAll(path, bytes);
    TOggVorbis o;
    ASSERT_TRUE(o.Load(path));
    EXPECT_EQ(o.Samples(), 0);
    ASSERT_GT(o.NominalBitRate(), 0);
    const double expected = static_cast<double>(bytes.size()) / o.NominalBitRate() / 2 / 125 * 2;
    EXPECT_DOUBLE_EQ(o.Duration(), expected);
}

TEST_F(OggVorbis, ALeadingId3v2TagIsSkipped) {
    const std::string path = Encode("id3.ogg", {"TITLE=Tagged"});
    const std::string tag = std::string("ID3\x03\x00\x00", 6) + bwtest::SyncSafe32(100) + std::string(100, '\0');
    const auto body = bwtest::ReadText(path);
    bwtest::WriteText(path, tag + body);
    TOggVorbis o;
    ASSERT_TRUE(o.Load(path));
    EXPECT_EQ(o.ID3v2Size(), 110);
    EXPECT_EQ(o.Title(), "Tagged");
    EXPECT_TRUE(o.Valid());
    TOggVorbis none;
    EXPECT_FALSE(none.Load(dir_->File("t.wav")));
}
