#include "shell/folderscan.h"

#include <algorithm>
#include <filesystem>

namespace bw {

namespace fs = std::filesystem;

namespace {

void ListInto(const fs::path& folder, const std::string& addedFrom, std::vector<TFoundFile>& out) {
    // Names sorted as plain strings: a path comparison goes component by component and is
    // many times slower, which shows in a library of thousands of files.
    std::vector<std::string> files, folders;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        // The type comes with the folder listing; a link is looked at only to tell a link to
        // a folder (not followed) from a link to a file (taken).
        std::error_code typeError;
        const bool isFolder = it->is_directory(typeError);
        if (isFolder && it->is_symlink(typeError))
            continue;
        (isFolder ? folders : files).push_back(it->path().filename().string());
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    const std::string prefix = folder.string() + "/";
    for (const std::string& f : files)
        out.push_back({prefix + f, addedFrom});
    for (const std::string& sub : folders)
        ListInto(folder / sub, addedFrom, out);
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
