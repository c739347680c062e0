// The folders are layers: a file includes only from its own layer and those below it. The
// windows (app) and the command-line tool (cli) sit on the shell; the shell on the back-ends
// and format code; core and common at the bottom.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

// What each folder of src may include from, besides itself.
const std::map<std::string, std::set<std::string>>& Allowed() {
    static const std::set<std::string> lower{"common", "core", "audio", "encoders", "pipeline",
                                             "cd", "tags", "net"};
    static const std::map<std::string, std::set<std::string>> allowed{
        {"common", {}},
        {"core", {"common"}},
        {"audio", lower},
        {"encoders", lower},
        {"pipeline", lower},
        {"cd", lower},
        {"tags", lower},
        {"net", lower},
        {"tools", lower},
        {"shell", lower},
        {"cli", [] { auto s = lower; s.insert("shell"); return s; }()},
        {"app", [] { auto s = lower; s.insert("shell"); return s; }()},
    };
    return allowed;
}

} // namespace

TEST(Layers, NoFolderIncludesFromALayerAboveIt) {
    const std::filesystem::path src = std::filesystem::path(BW_SOURCE_DIR) / "src";
    const std::regex include(R"re(^\s*#\s*include\s*"([a-z]+)/)re");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(src)) {
        const auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp"))
            continue;
        const std::string folder = std::filesystem::relative(entry.path(), src).begin()->string();
        const auto rule = Allowed().find(folder);
        ASSERT_NE(rule, Allowed().end()) << "a folder with no place among the layers: " << folder;
        ++files;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (!std::regex_search(line, m, include))
                continue;
            const std::string from = m[1];
            EXPECT_TRUE(from == folder || rule->second.count(from) > 0)
                << entry.path().string() << " includes from " << from << ": " << line;
        }
    }
    EXPECT_GT(files, 100);
}
