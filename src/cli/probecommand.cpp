#include "cli/probecommand.h"

#include "common/json.h"
#include "shell/probe.h"

#include <ostream>

namespace bw {

int RunProbeCommand(const std::vector<std::string>& files, std::ostream& out) {
    TFileProbe probe;
    int status = 0;
    for (const std::string& path : files) {
        const auto result = probe.Probe(path);
        if (result.Accepted) {
            std::string json = JobItemJson(result.Item);
            json.pop_back(); // reopen the object for one more key
            out << json << ",\"accepted\":true}\n";
        } else {
            TJsonObject o;
            o.Add("SourcePath", path).Add("accepted", false).Add("reason", result.Reason);
            out << o.Str() << "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace bw
