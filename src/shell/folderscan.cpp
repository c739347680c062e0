#include "shell/folderscan.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

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
    // A folder the user may not list hides its files: it is said, not passed over.
    if (ec)
        out.push_back({folder.string(), addedFrom, kCannotBeRead});
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

std::string CommandLinePath(std::string_view path) {
    std::error_code ec;
    const fs::path full = fs::absolute(fs::path(path), ec);
    return ec ? std::string(path) : full.lexically_normal().string();
}

std::vector<TFoundFile> ExpandFolders(const std::vector<std::string>& paths, bool recursive) {
    std::vector<TFoundFile> out;
    for (const std::string& named : paths) {
        const std::string path = CommandLinePath(named);
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

std::optional<TFileProbe::TResult> ProbeFoundFile(TFileProbe& probe, const TFoundFile& found) {
    TFileProbe::TResult result;
    if (!found.Refusal.empty()) {
        result.Reason = found.Refusal;
        return result;
    }
    result = probe.Probe(found.Path);
    if (result.Accepted) {
        result.Item.AddedFrom = found.AddedFrom;
        return result;
    }
    if (found.AddedFrom.empty())
        return result;
    // Neither what the program does not know by name nor what turns out to hold no audio
    // (a video without sound under .mp4) is worth a line.
    if (!SourceTypeOf(found.Path) || result.Reason == kUnsupportedFileType)
        return std::nullopt;
    // Asked of the file system rather than by opening it: a named pipe would hold an open.
    result.Reason = ::access(found.Path.c_str(), R_OK) == 0 ? kNotSupportedAudio : kCannotBeRead;
    return result;
}

} // namespace bw
