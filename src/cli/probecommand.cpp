#include "cli/probecommand.h"

#include "common/json.h"
#include "shell/folderscan.h"
#include "shell/probe.h"

#include <ostream>

namespace bw {

int RunProbeCommand(const std::vector<std::string>& args, std::ostream& out) {
    std::vector<std::string> files;
    bool recursive = false;
    for (const std::string& a : args)
        if (a == "--recursive")
            recursive = true;
        else
            files.push_back(a);
    TFileProbe probe;
    int status = 0;
    for (const TFoundFile& found : ExpandFolders(files, recursive)) {
        // What a folder holds besides audio (covers, playlists) is not worth a line.
        const auto result = ProbeFoundFile(probe, found);
        if (!result)
            continue;
        if (result->Accepted) {
            std::string json = JobItemJson(result->Item);
            json.pop_back(); // reopen the object for one more key
            out << json << ",\"accepted\":true}\n";
        } else {
            TJsonObject o;
            o.Add("SourcePath", found.Path).Add("accepted", false).Add("reason", result->Reason);
            out << o.Str() << "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace bw
