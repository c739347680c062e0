// brindlewave-cli convert --tag: one tag edit on every output of a run, the way the tag
// editor's OK stores it, read back from each output by FFprobe.

#include "encoders/convertertesthelp.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace bwtest;

namespace {

// A title no single-byte code page holds, and a genre the list lacks (kept as text).
TEST(TagOption, EditedTagsReachEveryOutputFormat) {
    TTempDir dir;
    const auto flac = MakeSource(dir, SourceKinds()[6]);
    const std::string title = "Ночь в Κρήτη 夜";
    const struct {
        const char* Target;
        const char* Extension;
    } kOutputs[] = {{"mp3", "mp3"}, {"ogg", "ogg"}, {"flac", "flac"}, {"ape", "ape"}, {"wma", "wma"}};
    for (const auto& o : kOutputs) {
        SCOPED_TRACE(o.Target);
        const std::string folder = dir.File(o.Target);
        const auto r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", o.Target, "--out", folder, "--tag",
                            "Title=" + title, "--tag", "genre=Chiptune", "--tag", "Track=300",
                            "--tag", "Year=2024-01-01Z", flac});
        ASSERT_EQ(r.ExitCode, 0) << r.Err << r.Out;
        const std::string out = folder + "/lossless." + o.Extension;
        auto tags = ProbeTags(out);
        EXPECT_EQ(tags["title"], title);
        EXPECT_EQ(tags["genre"], "Chiptune");
        // As the editor's fields hold them: 255 at most, not the low byte; 10 characters.
        EXPECT_EQ(tags["track"].substr(0, 3), "255") << tags["track"];
        EXPECT_EQ(tags["date"] + tags["year"] + tags["wm/year"] + tags["tyer"], "2024-01-01");
    }
    // The source itself is never written.
    EXPECT_TRUE(ProbeTags(flac)["title"].empty());
}

TEST(TagOption, RefusedEdits) {
    TTempDir dir;
    const auto a = MakeSource(dir, SourceKinds()[0]);
    const auto b = MakeSource(dir, SourceKinds()[6]);
    const std::string out = dir.File("out");
    // A track number names one file.
    auto r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "flac", "--out", out, "--tag", "Track=3", a, b});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("--tag Track"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out + "/wav16.flac"));
    for (const std::string bad : {"Track=", "Track=x", "Track=-5", "Composer=Me", "Title"}) {
        r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "flac", "--out", out, "--tag", bad, a});
        EXPECT_EQ(r.ExitCode, 2) << bad;
        EXPECT_NE(r.Err.find("--tag"), std::string::npos) << r.Err;
    }
    r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "flac", "--out", out, "--tag", "Track=", a});
    EXPECT_NE(r.Err.find("'' is not a valid integer value"), std::string::npos) << r.Err;
    // Other edits apply to every file of the run.
    r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "flac", "--out", out, "--tag", "Artist=Both", a, b});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ProbeTags(out + "/wav16.flac")["artist"], "Both");
    EXPECT_EQ(ProbeTags(out + "/lossless.flac")["artist"], "Both");
}

} // namespace
