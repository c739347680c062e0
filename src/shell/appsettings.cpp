#include "shell/appsettings.h"

#include <QDir>
#include <QHostInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <thread>
#include <pwd.h>
#include <unistd.h>

namespace bw {

TAppSettings DefaultAppSettings() {
    TAppSettings s;
    s.FreeDBServer = kDefaultFreeDBServer;
    s.AccurateRipServer = kDefaultAccurateRipServer;
    s.MusicBrainzServer = kDefaultMusicBrainzServer;
    s.CoverArtServer = kDefaultCoverArtServer;
    s.FreeDBEmail = DefaultFreeDBEmail();
    s.ParallelJobs = DefaultParallelJobs();
    return s;
}

int ClampParallelJobs(int jobs) { return std::clamp(jobs, 1, kMaxParallelJobs); }

int DefaultParallelJobs() {
    // Zero when the count is unknown: one lane, as before lanes existed.
    return ClampParallelJobs(static_cast<int>(std::thread::hardware_concurrency()));
}

TWindowSettings DefaultWindowSettings() { return TWindowSettings{}; }

std::string WithTrailingSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

std::string DefaultOutputFolder() {
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::MusicLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && QDir(folder).exists())
            return WithTrailingSeparator(folder.toStdString());
    }
    return WithTrailingSeparator(QDir::homePath().toStdString());
}

std::string DefaultFreeDBEmail() {
    std::string user;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name)
        user = pw->pw_name;
    if (user.empty())
        if (const char* u = std::getenv("USER"))
            user = u;
    if (user.empty())
        user = "user";
    std::string host = QHostInfo::localHostName().toStdString();
    if (host.empty())
        host = "localhost";
    return user + "@" + host;
}

} // namespace bw
