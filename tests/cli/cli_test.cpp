#include "common/buildinfo.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

TEST(Cli, HelpAndVersion) {
    auto help = bwtest::Run({bwmedia::CliProgram(), "--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("Usage: brindlewave-cli"), std::string::npos);
    auto version = bwtest::Run({bwmedia::CliProgram(), "--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, std::string("brindlewave-cli ") + bw::kVersion + "\n");
}

TEST(Cli, UnknownCommandFailsWithAHint) {
    auto r = bwtest::Run({bwmedia::CliProgram(), "--frobnicate"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("unknown command or option '--frobnicate'"), std::string::npos);
    auto none = bwtest::Run({bwmedia::CliProgram()});
    EXPECT_EQ(none.ExitCode, 2);
    EXPECT_NE(none.Err.find("Usage:"), std::string::npos);
}

// A named pipe is never opened: one named like an audio file in a folder of audio files,
// and one named as the data file of a .toc image. Opening one would wait for a writer for
// ever; the time-out only guards the test against that hang.
TEST(Cli, NamedPipesAreNeverOpened) {
    bwtest::TTempDir dir;
    std::filesystem::create_directories(dir.File("music"));
    ASSERT_EQ(mkfifo(dir.File("music/a.wav").c_str(), 0600), 0);
    bwtest::MakeTone(dir.File("music/b.wav"), 0.2);
    const std::string toc = dir.File("disc.toc"), out = dir.File("out");
    std::ofstream(toc) << "CD_DA\nTRACK AUDIO\nFILE \"music/a.wav\" 0\n";
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string Out, Err; // a part of each
    } cases[] = {
        // The pipe is said to be no audio file; the run goes on with the others.
        {{"probe", "--recursive", dir.File("music")}, 1, "a.wav\",\"accepted\":false,\"reason\":\"not a supported", ""},
        {{"convert", "--to", "flac", "--out", out, "--recursive", dir.File("music")}, 1,
         "\"TargetPath\":\"" + out + "/b.flac\",\"Status\":\"Done\"", "a.wav: not a supported"},
        {{"cd", "drives", toc}, 1, "", "is not a regular file"},
        {{"cd", "tracks", "--drive", toc}, 1, "", "is not a regular file"},
        {{"convert", "--to", "flac", "--out", out, "--cd", toc}, 1, "", "is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
        std::vector<std::string> args{"timeout", "-s", "KILL", "20", bwmedia::CliProgram()};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const auto r = bwtest::Run(args);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << r.Err;
        EXPECT_NE(r.Out.find(c.Out), std::string::npos) << r.Out;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    }
}
