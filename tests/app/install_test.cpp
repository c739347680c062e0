#include "shell/helpfile.h"
#include "support/testsupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

// The install step puts the programs, the desktop entry, its icon and the user guide where a
// desktop finds them, and the entry offers Brindlewave for audio files.
TEST(Install, PutsDesktopEntryIconAndGuideInPlace) {
    bwtest::TTempDir dir;
    bwtest::RunOk({"cmake", "--install", bwtest::BuildDir().string(), "--prefix",
                   dir.Path().string()});
    const fs::path p = dir.Path();
    EXPECT_TRUE(fs::is_regular_file(p / "bin/brindlewave"));
    EXPECT_TRUE(fs::is_regular_file(p / "bin/brindlewave-cli"));
    EXPECT_TRUE(fs::is_regular_file(p / "bin/brindlewave-resample"));
    const fs::path entry = p / "share/applications/brindlewave.desktop";
    ASSERT_TRUE(fs::is_regular_file(entry));
    EXPECT_TRUE(fs::is_regular_file(p / "share/icons/hicolor/scalable/apps/brindlewave.svg"));
    const auto validate = bwtest::Run({"desktop-file-validate", entry.string()});
    EXPECT_EQ(validate.ExitCode, 0) << validate.Out << validate.Err;
    const auto bytes = bwtest::ReadAll(entry.string());
    const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    EXPECT_NE(text.find("Exec=brindlewave %F"), std::string::npos);
    for (const char* mime : {"audio/mpeg", "audio/flac", "audio/ogg", "audio/x-wav",
                             "audio/x-ms-wma", "audio/x-ape", "audio/x-wavpack", "audio/x-musepack"})
        EXPECT_NE(text.find(mime), std::string::npos) << mime;

    // The installed program finds its guide beside it.
    const std::string guide = bw::FindHelpFile((p / "bin").string(), "/nonexistent");
    EXPECT_EQ(guide, fs::weakly_canonical(p / "share/doc/brindlewave/user-guide.html").string());
}

TEST(Install, HelpFileFallsBackToTheStartDirectory) {
    bwtest::TTempDir dir;
    bwtest::WriteAll(dir.File(bw::kHelpFileName), {std::byte{'x'}});
    // A program folder without a guide: the source tree's copy comes first, if any,
    // then the start directory.
    const std::string found = bw::FindHelpFile("/nonexistent/bin", dir.Path().string());
    EXPECT_FALSE(found.empty());
    EXPECT_TRUE(fs::is_regular_file(found));
}
