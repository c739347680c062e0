#include "common/instancetemp.h"

#include "common/outputfile.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "brindlewave-";

fs::path SystemTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    if (tmp && *tmp && fs::is_directory(tmp, ec))
        return tmp;
    return "/tmp";
}

// Folders are named "brindlewave-<pid>-XXXXXX". One whose process no longer runs (and is
// ours) was left by a crash.
void RemoveOrphans(const fs::path& parent) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kPrefix))
            continue;
        const std::string_view rest = std::string_view(name).substr(kPrefix.size());
        pid_t pid = 0;
        const auto [end, err] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (err != std::errc() || end == rest.data() + rest.size() || *end != '-' || pid <= 0)
            continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        if (!ProcessIsGone(pid))
            continue;
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
    }
}

class TInstanceFolder {
public:
    ~TInstanceFolder() { Remove(); }

    void Remove() {
        const std::unique_lock lock(mutex_, std::try_to_lock);
        if (lock.owns_lock() && !path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
            path_.clear();
        }
    }

    std::string Get(std::string* why) {
        const std::lock_guard lock(mutex_);
        if (!path_.empty() && fs::is_directory(path_))
            return path_.string() + "/";
        const fs::path parent = SystemTemporaryFolder();
        RemoveOrphans(parent);
        std::string name = (parent / (std::string(kPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (::mkdtemp(name.data()) == nullptr) {
            if (why)
                *why = "Can't create a temporary folder in \"" + parent.string() + "\": " +
                       std::strerror(errno);
            return {};
        }
        path_ = name;
        return path_.string() + "/";
    }

private:
    std::mutex mutex_;
    fs::path path_;
};

TInstanceFolder& Folder() {
    static TInstanceFolder folder;
    return folder;
}

} // namespace

std::string InstanceTemporaryFolder(std::string* why) {
    return Folder().Get(why);
}

void RemoveInstanceTemporaryFolder() {
    Folder().Remove();
}

std::string LaneTemporaryFolder(int lane, std::string* why) {
    const std::string base = InstanceTemporaryFolder(why);
    if (lane <= 0 || base.empty())
        return base;
    const std::string folder = base + "lane-" + std::to_string(lane);
    // Each lane makes only its own folder; two lanes starting together make two folders.
    if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        if (why)
            *why = "Can't create a temporary folder \"" + folder + "\": " + std::strerror(errno);
        return {};
    }
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) {
        if (why)
            *why = "Can't create a temporary folder \"" + folder + "\": a file of that name is in the way";
        return {};
    }
    return folder + "/";
}

} // namespace bw
