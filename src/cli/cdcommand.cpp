#include "cli/cdcommand.h"

#include "cd/cddrives.h"
#include "cd/cdimage.h"
#include "cd/cdtrackitem.h"
#include "common/json.h"
#include "shell/probe.h"

#include <ostream>

namespace bw {

namespace {

int Usage(std::ostream& err) {
    err << "brindlewave-cli: usage: cd drives [IMAGE...] | cd tracks [--drive D]\n";
    return 2;
}

int Drives(const std::vector<std::string>& images, std::ostream& out, std::ostream& err,
           TCdSystem& system) {
    TCdDriveList list(system);
    list.Fill();
    int status = 0;
    for (const std::string& image : images) {
        std::string why;
        if (list.AddImage(image, &why) < 0) {
            err << "brindlewave-cli: " << why << "\n";
            status = 1;
        }
    }
    for (size_t i = 0; i < list.Count(); ++i) {
        TJsonObject o;
        o.Add("index", static_cast<int>(i)).Add("device", list.At(i).Path).Add("text", list.At(i).Text);
        out << o.Str() << "\n";
    }
    return status;
}

int Tracks(const std::string& drive, std::ostream& out, std::ostream& err, TCdSystem& system) {
    TCdDriveList list(system);
    list.Fill();
    int index = list.Find(drive);
    std::string why;
    if (index < 0 && IsCdImagePath(drive)) {
        index = list.AddImage(drive, &why);
        if (index < 0) {
            err << "brindlewave-cli: " << why << "\n";
            return 1;
        }
    }
    if (index < 0) {
        err << "brindlewave-cli: no CD drive \"" << drive << "\"\n";
        return 1;
    }
    std::vector<TCdTrack> tracks;
    if (!list.Tracks(index, tracks, &why)) {
        err << "brindlewave-cli: " << why << "\n";
        return 1;
    }
    for (const TmyMusicFile& item : CdTrackItems(tracks, static_cast<uint8_t>(index), 0)) {
        std::string json = JobItemJson(item);
        json.pop_back(); // reopen the object for one more key, as the probe does
        out << json << ",\"accepted\":true}\n";
    }
    return 0;
}

} // namespace

int RunCdCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 TCdSystem& system) {
    if (args.empty())
        return Usage(err);
    if (args[0] == "drives")
        return Drives(std::vector<std::string>(args.begin() + 1, args.end()), out, err, system);
    if (args[0] == "tracks") {
        std::string drive = "0";
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--drive" && i + 1 < args.size())
                drive = args[++i];
            else
                return Usage(err);
        }
        return Tracks(drive, out, err, system);
    }
    return Usage(err);
}

} // namespace bw
