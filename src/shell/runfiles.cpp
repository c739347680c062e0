#include "shell/runfiles.h"

#include <filesystem>
#include <sys/stat.h>

namespace bw {

void TRunFiles::Clear() {
    readPaths_.clear();
    readIds_.clear();
    outputPaths_.clear();
    outputIds_.clear();
}

bool TRunFiles::IdOf(const std::string& path, TFileId& id) {
    // Followed through links: a link to a source is that source, for the reader.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    return true;
}

std::string TRunFiles::Normalised(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // The links of the part that exists are resolved; the rest is taken as written.
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (!ec)
        return canonical.string();
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

void TRunFiles::AddRead(const std::string& path) {
    readPaths_.insert(Normalised(path));
    if (TFileId id; IdOf(path, id))
        readIds_.insert(id);
}

bool TRunFiles::IsRead(const std::string& path) const {
    if (TFileId id; IdOf(path, id) && readIds_.count(id))
        return true;
    return readPaths_.count(Normalised(path)) > 0;
}

void TRunFiles::AddOutput(const std::string& path, const std::string& source) {
    outputPaths_.emplace(Normalised(path), source);
}

void TRunFiles::Written(const std::string& path) {
    const auto owner = outputPaths_.find(Normalised(path));
    if (TFileId id; owner != outputPaths_.end() && IdOf(path, id))
        outputIds_.emplace(id, owner->second);
}

void TRunFiles::Abandoned(const std::string& path) { outputPaths_.erase(Normalised(path)); }

const std::string* TRunFiles::OutputOf(const std::string& path) const {
    if (const auto at = outputPaths_.find(Normalised(path)); at != outputPaths_.end())
        return &at->second;
    if (TFileId id; IdOf(path, id))
        if (const auto at = outputIds_.find(id); at != outputIds_.end())
            return &at->second;
    return nullptr;
}

} // namespace bw
