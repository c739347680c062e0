#include "common/buildinfo.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>

TEST(Cli, HelpAndVersion) {
    auto help = bwtest::Run({BW_CLI_PATH, "--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("Usage: brindlewave-cli"), std::string::npos);
    auto version = bwtest::Run({BW_CLI_PATH, "--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, std::string("brindlewave-cli ") + bw::kVersion + "\n");
}

TEST(Cli, UnknownCommandFailsWithAHint) {
    auto r = bwtest::Run({BW_CLI_PATH, "--frobnicate"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("unknown command or option '--frobnicate'"), std::string::npos);
    auto none = bwtest::Run({BW_CLI_PATH});
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_NE(none.Err.find("Usage:"), std::string::npos);
}

namespace {

// Runs the tool in folder, as a user would from there.
bwtest::TRunResult RunIn(const std::filesystem::path& folder, const std::vector<std::string>& argv) {
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    auto r = bwtest::Run(argv);
    std::filesystem::current_path(before);
    return r;
}

} // namespace

// Paths named relative to the current folder come out in full, as Add File(s) gives them;
// "." and ".." are resolved.
TEST(Cli, RelativePathsComeOutInFull) {
    bwtest::TTempDir dir;
    std::filesystem::create_directory(dir.Path() / "media");
    bwtest::MakeTone(dir.File("media/song1.flac"), 0.2);
    const std::string here = std::filesystem::canonical(dir.Path()).string();
    const std::string full = here + "/media/song1.flac";

    const auto probe = RunIn(dir.Path(), {BW_CLI_PATH, "probe", "media/song1.flac"});
    EXPECT_EQ(probe.ExitCode, 0) << probe.Err;
    EXPECT_TRUE(probe.Out.starts_with("{\"SourcePath\":\"" + full + "\",")) << probe.Out;
    const auto tags = RunIn(dir.Path(), {BW_CLI_PATH, "tags", "./media/song1.flac"});
    EXPECT_TRUE(tags.Out.starts_with("{\"File\":\"" + full + "\",")) << tags.Out;
    const auto convert = RunIn(dir.Path(), {BW_CLI_PATH, "convert", "--to", "flac", "--out", "out/.",
                                            "media/../media/song1.flac"});
    EXPECT_EQ(convert.ExitCode, 0) << convert.Err;
    EXPECT_EQ(convert.Out, "{\"SourcePath\":\"" + full + "\",\"TargetPath\":\"" + here +
                               "/out/song1.flac\",\"Status\":\"Done\"}\n");
}

// Each file's line comes out when that file ends: the first is read through the pipe while
// the last file is still being converted.
TEST(Cli, EachLineComesWhenItsFileEnds) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("short.wav"), 0.2);
    bwtest::MakeTone(dir.File("long.flac"), 120); // a few seconds of work for the encoder
    const std::string out = dir.File("out");
    const std::string command = std::string("'") + BW_CLI_PATH + "' convert --to mp3 --jobs 1 --out '" + out +
                                "' '" + dir.File("short.wav") + "' '" + dir.File("long.flac") + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::array<char, 4096> line{};
    ASSERT_NE(fgets(line.data(), static_cast<int>(line.size()), pipe), nullptr);
    const bool lastEnded = std::filesystem::exists(out + "/long.mp3");
    std::string rest;
    for (std::array<char, 4096> more{}; fgets(more.data(), static_cast<int>(more.size()), pipe);)
        rest += more.data();
    const int status = pclose(pipe);
    EXPECT_NE(std::string(line.data()).find("short.wav\",\"TargetPath\":\"" + out + "/short.mp3\",\"Status\":\"Done\"}"),
              std::string::npos) << line.data();
    EXPECT_FALSE(lastEnded) << "the first line came only after the last file had ended";
    EXPECT_NE(rest.find("long.flac\",\"TargetPath\":\"" + out + "/long.mp3\",\"Status\":\"Done\"}"), std::string::npos)
        << rest;
    EXPECT_EQ(status, 0);
}
