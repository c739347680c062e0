#include "audio/ffmpegload.h"
#include "cli/commands.h"
#include "common/buildinfo.h"
#include "encoders/encoderoptions.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
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

// Every command's help names each option of the table its parser reads, with the synopsis
// and two examples; the command list names every command, and so does the README.
TEST(Cli, EveryCommandExplainsEachOptionItsParserTakes) {
    std::ostringstream list, none;
    ASSERT_EQ(bw::RunCli({"help"}, list, none), 0);
    std::ifstream readmeFile(BW_README);
    const std::string readme((std::istreambuf_iterator<char>(readmeFile)), std::istreambuf_iterator<char>());
    for (const bw::TCliCommand& c : bw::CliCommands()) {
        SCOPED_TRACE(c.Name);
        std::ostringstream help, helpErr, dashed, dashedErr;
        EXPECT_EQ(bw::RunCli({"help", c.Name}, help, helpErr), 0) << helpErr.str();
        std::vector<std::string> args = c.Name == "help" ? std::vector<std::string>{"help", "help"}
                                                         : std::vector<std::string>{c.Name, "--help"};
        if (c.Name.starts_with("cd "))
            args = {"cd", c.Name.substr(3), "--help"};
        EXPECT_EQ(bw::RunCli(args, dashed, dashedErr), 0) << dashedErr.str();
        EXPECT_EQ(dashed.str(), help.str());
        EXPECT_EQ(help.str().rfind("Usage: brindlewave-cli " + c.Synopses.at(0) + "\n", 0), 0u) << help.str();
        EXPECT_EQ(c.Examples.size(), 2u);
        for (const std::string& e : c.Examples)
            EXPECT_NE(help.str().find("\n  brindlewave-cli " + e + "\n"), std::string::npos);
        for (const bw::TCliOption& o : c.Options()) {
            EXPECT_NE(help.str().find("\n  " + o.Name + (o.ValueName.empty() ? "\n" : " " + o.ValueName + "\n")),
                      std::string::npos) << o.Name;
            EXPECT_FALSE(o.Help.empty()) << o.Name;
        }
        for (const std::string& synopsis : c.Synopses) {
            if (c.Name != "cd") { // the list names each sub-command instead
                EXPECT_NE(list.str().find("\n  " + synopsis + "\n"), std::string::npos) << synopsis;
            }
            EXPECT_NE(readme.find("brindlewave-cli " + synopsis), std::string::npos) << synopsis;
        }
    }
}

// A mistyped command, option, sub-command or --set name is answered with the nearest one,
// when one is near; a name far from all of them gets no guess.
TEST(Cli, MistypedNamesGetTheNearest) {
    const struct {
        std::vector<std::string> Args;
        std::string Says;
    } cases[] = {
        {{"conver"}, "unknown command or option 'conver' (did you mean convert?)"},
        {{"convert", "--ovewrite"}, "unknown option '--ovewrite' (did you mean --overwrite?)"},
        {{"convert", "--jbos", "2"}, "unknown option '--jbos' (did you mean --jobs?)"},
        {{"convert", "--to", "flca"}, "unknown target type 'flca' (did you mean flac?)"},
        {{"convert", "--to", "mp3", "--set", "mp3bitrate=3"}, "'mp3bitrate' (did you mean MP3BitRate?)"},
        {{"convert", "--to", "mp3", "--set", "OGGQualitySet=3"}, "(did you mean OGGQualitySel?)"},
        {{"cd", "lokup"}, "unknown sub-command 'lokup' (did you mean lookup?)"},
        {{"cd", "lookup", "--srever", "x"}, "unknown option '--srever' (did you mean --server?)"},
        {{"help", "option"}, "no command 'option' (did you mean options?)"},
        {{"probe", "--recursiv"}, "(did you mean --recursive?)"},
        {{"options", "--jsn"}, "(did you mean --json?)"},
        // Too far from every name for a guess.
        {{"--frobnicate"}, "unknown command or option '--frobnicate' (see"},
        {{"convert", "--to", "aac"}, "unknown target type 'aac'\n"},
        {{"convert", "--to", "mp3", "--set", "Bogus=1"}, "unknown option value name 'Bogus'\n"},
        {{"convert", "--xyz"}, "unknown option '--xyz'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args[0] + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
        std::ostringstream out, err;
        EXPECT_EQ(bw::RunCli(c.Args, out, err), 2);
        EXPECT_NE(err.str().find(c.Says), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

// options: one line per --set name, in the order presets store them, with its page, the
// positions it takes and what each selects; --json gives the same as one object a line.
TEST(Cli, OptionsListEverySetName) {
    const auto text = bwtest::Run({bwmedia::CliProgram(), "options"});
    const auto json = bwtest::Run({bwmedia::CliProgram(), "options", "--json"});
    ASSERT_EQ(text.ExitCode, 0);
    ASSERT_EQ(json.ExitCode, 0);
    std::istringstream lines(text.Out), jsonLines(json.Out);
    std::string line, object;
    for (const std::string& name : bw::EncoderOptionNames()) {
        ASSERT_TRUE(std::getline(lines, line) && std::getline(jsonLines, object)) << name;
        EXPECT_EQ(line.rfind(name + ": ", 0), 0u) << line;
        EXPECT_EQ(object.rfind("{\"Name\":\"" + name + "\",\"Page\":\"", 0), 0u) << object;
    }
    EXPECT_FALSE(std::getline(lines, line));
    for (const char* expected : {
             "MP3BitRate: 0..13 = 32, 40, ..., 320 kbit/s (page MP3, default 8 = 128 kbit/s)",
             "MP3Channels: 0..4 = Stereo, Joint Stereo, Forced Stereo, Dual Channels, Mono (page MP3, default 0 = Stereo)",
             "APEMyTrackBar: 1..4 = Fast, Normal, High, Extra High (page APE, default 2 = Normal)",
             "OPUSBitrate: 6..256 kbit/s (page Opus, default 128)",
             "WVBits: 20..239 = 2.0, 2.1, ..., 23.9 bits per sample (page WavPack, default 40 = 4.0 bits per sample)",
         })
        EXPECT_NE(text.Out.find(std::string("\n") + expected + "\n"), std::string::npos) << expected;
    EXPECT_NE(json.Out.find("{\"Name\":\"OGGChannels\",\"Page\":\"OGG\",\"Min\":0,\"Max\":1,\"Default\":0,"
                            "\"Values\":[\"Stereo\",\"Mono\"],\"Unit\":\"\",\"Note\":\"\"}\n"),
              std::string::npos);
}

// FFmpeg's libraries (and the hundred-odd they pull in) are loaded only for a source that
// needs them: a WAV or FLAC source converts without them, an MP3 one loads them. The
// dynamic loader's own trace says which libraries a run opened.
TEST(Cli, LoadsFfmpegOnlyForSourcesThatNeedIt) {
    bwtest::TTempDir dir;
    const std::string wav = dir.File("a.wav"), flac = dir.File("b.flac"), mp3 = dir.File("c.mp3");
    bwtest::MakeTone(wav, 0.5);
    bwtest::RunOk({"flac", "-s", "-o", flac, wav});
    bwtest::RunOk({"lame", "--quiet", wav, mp3});
    const struct {
        std::string Source, Target;
        bool LoadsFfmpeg;
    } cases[] = {{wav, "flac", false}, {flac, "flac", false}, {flac, "wav", false},
                 {wav, "wav", false},  {mp3, "flac", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Source + " to " + c.Target);
        const auto r = bwtest::Run({"env", "LD_DEBUG=files", bwmedia::CliProgram(), "convert", "--to", c.Target,
                                    "--overwrite", "--out", dir.File("out"), c.Source});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_NE(r.Out.find("\"Status\":\"Done\""), std::string::npos) << r.Out;
        EXPECT_EQ(r.Err.find("file=libavformat.so") != std::string::npos, c.LoadsFfmpeg);
    }

    // Without FFmpeg (its library hidden in a mount namespace of this run alone), the MP3
    // fails with the loader's reason and the others still convert.
    const std::string library = "/usr/lib/x86_64-linux-gnu/" + bw::FfmpegLibraryNames()[0];
    if (bwtest::Run({"unshare", "-m", "true"}).ExitCode != 0)
        GTEST_SKIP() << "no mount namespaces here";
    const auto r = bwtest::Run({"unshare", "-m", "sh", "-c", "mount --bind /dev/null \"$0\" && exec \"$@\"", library,
                                bwmedia::CliProgram(), "convert", "--to", "flac", "--overwrite", "--out",
                                dir.File("bare"), mp3, wav, flac});
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_NE(r.Out.find("\"Status\":\"Error\",\"Reason\":\"Can't read \\\"" + mp3 +
                         "\\\": FFmpeg's libraries could not be loaded: "),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(dir.File("bare/a.flac") + "\",\"Status\":\"Done\""), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find(dir.File("bare/b.flac") + "\",\"Status\":\"Done\""), std::string::npos) << r.Out;
}
