#include "cli/probecommand.h"

#include "common/json.h"
#include "shell/folderscan.h"
#include "shell/probe.h"

#include <ostream>

namespace bw {

namespace {

std::vector<TCliOption> ProbeOptions(bool& recursive) {
    return {CliSwitch("--recursive", "a FOLDER stands for the audio files below it, in its sub-folders too",
                      recursive)};
}

} // namespace

TCliCommand ProbeCliCommand() {
    return {"probe",
            {"probe [--recursive] FILE|FOLDER..."},
            "what the job list would show of each file, one JSON object a line",
            "Reads each file as the job list would and prints what it found, one JSON object a "
            "line in the order given: the stream, the tags and \"accepted\", or the reason a file "
            "is refused. A FOLDER stands for the audio files in it.",
            {"probe song.mp3 album/track01.flac", "probe --recursive ~/Music"},
            [] {
                static bool scratch = false;
                return ProbeOptions(scratch);
            },
            [](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
                return RunProbeCommand(args, out, err);
            }};
}

int RunProbeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    bool recursive = false;
    if (std::string error; !ParseCliOptions(ProbeOptions(recursive), args, files, error)) {
        err << "brindlewave-cli probe: " << error << "\n";
        return 2;
    }
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
