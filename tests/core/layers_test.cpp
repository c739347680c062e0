// The folders are layers, and a file includes only from its own folder and the layers below
// it, never from one above nor from a folder beside it in the same layer, so no two folders
// depend on each other. Bottom to top: common; core; tags, pipeline and net; audio; cd;
// encoders; shell; the windows (app) and the command-line tool (cli). The resampler program
// (tools) is built without the core library and sits on common alone.

#include "support/mediamake.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <string>

namespace {

// The layer of each folder of src, counted from the bottom.
const std::map<std::string, int>& Layer() {
    static const std::map<std::string, int> layer{
        {"common", 0}, {"core", 1},     {"tags", 2},  {"pipeline", 2}, {"net", 2}, {"audio", 3},
        {"cd", 4},     {"encoders", 5}, {"shell", 6}, {"app", 7},      {"cli", 7},
    };
    return layer;
}

bool MayInclude(const std::string& folder, const std::string& from) {
    if (from == folder)
        return true;
    // The resampler links none of the core library, only the file helper of common.
    if (folder == "tools")
        return from == "common";
    const auto below = Layer().find(from);
    return below != Layer().end() && below->second < Layer().at(folder);
}

} // namespace

TEST(Layers, NoFolderIncludesFromALayerAboveIt) {
    const std::filesystem::path src = bwmedia::SourceTree() / "src";
    const std::regex include(R"re(^\s*#\s*include\s*"([a-z]+)/)re");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        const auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp"))
            continue;
        const std::string folder = std::filesystem::relative(entry.path(), src).begin()->string();
        ASSERT_TRUE(folder == "tools" || Layer().count(folder) > 0)
            << "a folder with no place among the layers: " << folder;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (!std::regex_search(line, m, include))
                continue;
            EXPECT_TRUE(MayInclude(folder, m[1]))
                << entry.path().string() << " includes from " << m[1] << ": " << line;
        }
    }
    EXPECT_GT(files, 100);
}
