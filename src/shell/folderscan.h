#pragma once

#include <string>
#include <vector>

namespace bw {

// A file found below a folder that is being added, with the folder it was added with.
struct TFoundFile {
    std::string Path;
    std::string AddedFrom; // the added folder, without a trailing separator
};

// Every file below folder, sub-folders included: the files of a folder in name order, then
// each of its sub-folders, in name order, the same way. Links to folders are not followed
// (a link back up would never end), and folders that cannot be read are passed over. What
// is not audio falls out later, in the probe.
std::vector<TFoundFile> ListFolderTree(const std::string& folder);

// Paths named on a command line: with recursive, each folder is replaced by ListFolderTree;
// anything else stays as it is, added on its own.
std::vector<TFoundFile> ExpandFolders(const std::vector<std::string>& paths, bool recursive);

} // namespace bw
