#include "audio/ffmpegload.h"
#include "common/buildinfo.h"
#include "encoders/encoderoptions.h"
#include "encoders/externalencoder.h"
#include "encoders/targettype.h"
#include "shell/helpfile.h"
#include "shell/presets.h"
#include "support/testsupport.h"

#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Text(const fs::path& file) {
    const auto bytes = bwtest::ReadAll(file.string());
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The Debian package made from the build folder as a user makes it, and unpacked into a
// scratch root; made once for the tests of one run.
class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<bwtest::TTempDir>();
        bwtest::RunOk({"cpack", "-G", "DEB", "--config",
                       (bwtest::BuildDir() / "CPackConfig.cmake").string(), "-B",
                       dir_->File("out")});
        for (const auto& entry : fs::directory_iterator(dir_->Path() / "out"))
            if (entry.path().extension() == ".deb")
                deb_ = entry.path();
        ASSERT_FALSE(deb_.empty()) << "cpack made no package";
        bwtest::RunOk({"dpkg", "-x", deb_.string(), Root().string()});
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static fs::path Root() { return dir_->Path() / "root"; }

    // The words bash offers for the command line words (the last is the one being typed),
    // with the completion script and the program as the package installs them.
    static std::set<std::string> Complete(const std::vector<std::string>& words) {
        const fs::path usr = Root() / "usr";
        std::vector<std::string> argv{
            "env",
            "-u",
            "XDG_CONFIG_HOME",
            "HOME=" + dir_->Path().string(),
            "PATH=" + (usr / "bin").string() + ":/usr/bin:/bin",
            "bash",
            "--norc",
            "--noprofile",
            "-c",
            "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _brindlewave_cli; "
            "printf '%s\\n' \"${COMPREPLY[@]}\"",
            (usr / "share/bash-completion/completions/brindlewave-cli").string()};
        argv.insert(argv.end(), words.begin(), words.end());
        const auto r = bwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        std::set<std::string> offered;
        std::istringstream lines(r.Out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                offered.insert(line);
        return offered;
    }

    static inline std::unique_ptr<bwtest::TTempDir> dir_;
    static inline fs::path deb_;
};

// Everything lands where a Debian desktop finds it, the installed tool runs, the package
// depends on each encoder the conversions start, and Debian's and the desktop's own checkers
// find no error.
TEST_F(Package, InstallsEveryFileAndPassesTheCheckers) {
    const fs::path usr = Root() / "usr";
    for (const char* file :
         {"bin/brindlewave", "bin/brindlewave-cli", "bin/brindlewave-resample",
          "share/applications/brindlewave.desktop",
          "share/icons/hicolor/scalable/apps/brindlewave.svg",
          "share/metainfo/example.halvorix.brindlewave.metainfo.xml",
          "share/man/man1/brindlewave.1.gz", "share/man/man1/brindlewave-cli.1.gz",
          "share/man/man1/brindlewave-resample.1.gz",
          "share/bash-completion/completions/brindlewave-cli", "share/doc/brindlewave/copyright",
          "share/doc/brindlewave/changelog.Debian.gz", "share/doc/brindlewave/user-guide.html"})
        EXPECT_TRUE(fs::is_regular_file(usr / file)) << file;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const auto name = std::to_string(size) + "x" + std::to_string(size);
        const QImage icon(QString::fromStdString(
            (usr / "share/icons/hicolor" / name / "apps/brindlewave.png").string()));
        EXPECT_EQ(icon.size(), QSize(size, size)) << name;
    }
    for (const char* page : {"brindlewave", "brindlewave-cli", "brindlewave-resample"}) {
        const auto r =
            bwtest::Run({"man", "--warnings", "-l", "-Tutf8", "-Z",
                         (usr / "share/man/man1" / (std::string(page) + ".1.gz")).string()});
        EXPECT_EQ(r.ExitCode, 0) << page << r.Err;
        EXPECT_EQ(r.Err, "") << page;
    }

    const auto version = bwtest::Run({(usr / "bin/brindlewave-cli").string(), "--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, std::string("brindlewave-cli ") + bw::kVersion + "\n");
    // The installed program finds its guide beside it.
    EXPECT_EQ(bw::FindHelpFile((usr / "bin").string(), "/nonexistent"),
              fs::weakly_canonical(usr / "share/doc/brindlewave/user-guide.html").string());

    const std::string entry = (usr / "share/applications/brindlewave.desktop").string();
    const std::string text = Text(entry);
    EXPECT_NE(text.find("Exec=brindlewave %F"), std::string::npos);
    for (const char* mime :
         {"audio/mpeg", "audio/flac", "audio/ogg", "audio/x-wav", "audio/x-ms-wma", "audio/x-ape",
          "audio/x-wavpack", "audio/x-musepack"})
        EXPECT_NE(text.find(mime), std::string::npos) << mime;

    // Each outside program the conversions start comes with the package, through the Debian
    // package that holds it here.
    std::string depends = bwtest::RunOk({"dpkg-deb", "-f", deb_.string(), "Depends"});
    depends = ", " + depends.substr(0, depends.find_last_not_of('\n') + 1) + ",";
    std::vector<std::string> programs{"vorbiscomment"};
    for (int t = 0; t < bw::kTargetTypeCount; ++t)
        if (bw::IsExternalEncoderTarget(static_cast<bw::TTargetType>(t)))
            programs.push_back(bw::EncoderProgram(static_cast<bw::TTargetType>(t)));
    // And so does each FFmpeg library the program loads when it needs it (no shlibdeps sees those).
    for (const std::string& library : bw::FfmpegLibraryNames())
        programs.push_back("*/" + library);
    for (const std::string& program : programs) {
        const std::string owner =
            bwtest::RunOk({"dpkg-query", "-S", program[0] == '*' ? program : "/usr/bin/" + program});
        const std::string name = owner.substr(0, owner.find(':'));
        EXPECT_TRUE(depends.find(", " + name + ",") != std::string::npos ||
                    depends.find(", " + name + " ") != std::string::npos)
            << program << " (" << name << ") missing from " << depends;
    }

    const auto desktop = bwtest::Run({"desktop-file-validate", entry});
    EXPECT_EQ(desktop.ExitCode, 0) << desktop.Out << desktop.Err;
    const auto appstream =
        bwtest::Run({"appstreamcli", "validate", "--no-net", "--no-color",
                     (usr / "share/metainfo/example.halvorix.brindlewave.metainfo.xml").string()});
    EXPECT_EQ(appstream.ExitCode, 0) << appstream.Out << appstream.Err;
    const auto lintian = bwtest::Run({"lintian", "--allow-root", deb_.string()});
    // Lintian's own exit code counts warnings too; an error is a line "E: ...".
    EXPECT_EQ(("\n" + lintian.Out).find("\nE: "), std::string::npos) << lintian.Out << lintian.Err;
}

// The installed completion offers the commands, the --to names, every --set name, the preset
// names, file paths and each command's options, as the installed program reports them.
TEST_F(Package, CompletionOffersWhatTheProgramKnows) {
    const auto commands = Complete({"brindlewave-cli", ""});
    for (const char* c : {"probe", "tags", "convert", "presets", "cd", "options", "help"})
        EXPECT_TRUE(commands.count(c)) << c;

    const auto targets = Complete({"brindlewave-cli", "convert", "--to", ""});
    EXPECT_EQ(targets.size(), static_cast<size_t>(bw::kTargetTypeCount));
    for (const std::string& t : targets)
        EXPECT_TRUE(bw::TargetTypeFromName(t)) << t;

    const auto names = Complete({"brindlewave-cli", "convert", "--set", ""});
    for (const std::string& name : bw::EncoderOptionNames())
        EXPECT_TRUE(names.count(name + "=")) << name;
    const auto mp3 = Complete({"brindlewave-cli", "convert", "--set", "MP3B"});
    EXPECT_EQ(mp3, std::set<std::string>{"MP3BitRate="});

    // A name with a space comes quoted, as one word for the shell.
    const auto presets = Complete({"brindlewave-cli", "convert", "--preset", ""});
    EXPECT_EQ(presets.size(), bw::BuiltInPresets().size());
    EXPECT_TRUE(presets.count("HiFi\\ Quality"));

    const std::string partial = (dir_->Path() / "ro").string();
    EXPECT_EQ(Complete({"brindlewave-cli", "convert", partial}),
              std::set<std::string>{Root().string()});

    const auto options = Complete({"brindlewave-cli", "convert", "--"});
    for (const char* o : {"--to", "--out", "--set", "--preset", "--tag", "--jobs", "--cd"})
        EXPECT_TRUE(options.count(o)) << o;
}

} // namespace

TEST(Install, HelpFileFallsBackToTheStartDirectory) {
    bwtest::TTempDir dir;
    bwtest::WriteAll(dir.File(bw::kHelpFileName), {std::byte{'x'}});
    // A program folder without a guide: the source tree's copy comes first, if any,
    // then the start directory.
    const std::string found = bw::FindHelpFile("/nonexistent/bin", dir.Path().string());
    EXPECT_FALSE(found.empty());
    EXPECT_TRUE(fs::is_regular_file(found));
}
