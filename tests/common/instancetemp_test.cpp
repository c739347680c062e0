#include "common/instancetemp.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace bw;

namespace fs = std::filesystem;

// Items converted at the same time each work in their lane's folder under the same file
// names; a run of one lane works in the instance folder, as runs always did.
TEST(InstanceTemp, LanesGetTheirOwnFoldersInsideTheInstanceFolder) {
    std::string why;
    const std::string instance = InstanceTemporaryFolder(&why);
    ASSERT_FALSE(instance.empty()) << why;
    EXPECT_EQ(LaneTemporaryFolder(0), instance);

    std::set<std::string> seen;
    for (int lane = 1; lane <= 16; ++lane) {
        const std::string folder = LaneTemporaryFolder(lane, &why);
        ASSERT_FALSE(folder.empty()) << why;
        EXPECT_TRUE(folder.starts_with(instance)) << folder;
        EXPECT_EQ(folder.back(), '/');
        EXPECT_TRUE(fs::is_directory(folder)) << folder;
        EXPECT_EQ(LaneTemporaryFolder(lane), folder); // asked again: the same folder
        EXPECT_TRUE(seen.insert(folder).second) << folder;
        std::ofstream(folder + "temp.wav") << lane;
    }
    for (int lane = 1; lane <= 16; ++lane) {
        std::ifstream in(LaneTemporaryFolder(lane) + "temp.wav");
        int read = 0;
        in >> read;
        EXPECT_EQ(read, lane);
    }

    // Something other than a folder under a lane's name is reported, never written through.
    const std::string blocker = instance + "lane-17";
    std::ofstream(blocker) << "x";
    why.clear();
    EXPECT_TRUE(LaneTemporaryFolder(17, &why).empty());
    EXPECT_NE(why.find("lane-17"), std::string::npos) << why;
    fs::remove(blocker);
    fs::create_symlink(instance + "lane-1", blocker);
    why.clear();
    EXPECT_TRUE(LaneTemporaryFolder(17, &why).empty());
    EXPECT_FALSE(why.empty());
    fs::remove(blocker);
}
