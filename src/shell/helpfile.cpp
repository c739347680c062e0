#include "shell/helpfile.h"

#include <filesystem>
#include <vector>

namespace bw {

std::string FindHelpFile(const std::string& programDir, const std::string& startDirectory) {
    namespace fs = std::filesystem;
    const fs::path dir(programDir);
    std::vector<fs::path> candidates{
        dir / ".." / "share" / "doc" / "brindlewave" / kHelpFileName,
        dir / kHelpFileName,
        fs::path(startDirectory) / kHelpFileName,
    };
    std::error_code ec;
    for (const auto& c : candidates)
        if (fs::is_regular_file(c, ec))
            return fs::weakly_canonical(c, ec).string();
    return {};
}

} // namespace bw
