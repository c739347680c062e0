#include "shell/folderscan.h"

#include <algorithm>
#include <filesystem>

namespace bw {

namespace fs = std::filesystem;

namespace {

void ListInto(const fs::path& folder, const std::string& addedFrom, std::vector<TFoundFile>& out) {
    std::vector<fs::path> files, folders;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_symlink(typeError) && it->is_directory(typeError))
            continue;
        if (it->is_directory(typeError))
            folders.push_back(it->path());
        else
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const fs::path& f : files)
        out.push_back({f.string(), addedFrom});
    for (const fs::path& sub : folders)
        ListInto(sub, addedFrom, out);
}

} // namespace

std::vector<TFoundFile> ListFolderTree(const std::string& folder) {
    std::vector<TFoundFile> out;
    fs::path root = fs::path(folder).lexically_normal();
    if (!root.has_filename())
        root = root.parent_path(); // "Music/" is "Music"
    ListInto(root, root.string(), out);
    return out;
}

std::vector<TFoundFile> ExpandFolders(const std::vector<std::string>& paths, bool recursive) {
    std::vector<TFoundFile> out;
    for (const std::string& path : paths) {
        std::error_code ec;
        if (!recursive || !fs::is_directory(path, ec)) {
            out.push_back({path, {}});
            continue;
        }
        auto found = ListFolderTree(path);
        out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return out;
}

} // namespace bw
