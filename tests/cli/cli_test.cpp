#include "common/buildinfo.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>



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
