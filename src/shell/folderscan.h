#pragma once

#include "shell/probe.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The reasons a file found below an added folder is not taken.
inline constexpr const char* kCannotBeRead = "cannot be read";
inline constexpr const char* kNotSupportedAudio = "not a supported audio file";

// A file found below a folder that is being added, with the folder it was added with.
struct TFoundFile {
    std::string Path;
    std::string AddedFrom; // the added folder, without a trailing separator
    // Set for a folder below the added one (or that one) that cannot be listed: why its
    // files are missing. Such an entry is no file and is not probed.
    std::string Refusal = {};
};

// Every file below folder, sub-folders included: the files of a folder in name order, then
// each of its sub-folders, in name order, the same way. Links to folders are not followed
// (a link back up would never end). A folder that cannot be listed is an entry of its own
// with the refusal kCannotBeRead. What is not audio falls out later, in the probe.
std::vector<TFoundFile> ListFolderTree(const std::string& folder);

// A path named on a command line as a full path: a relative one is taken from the current
// folder, "." and ".." are resolved by the text alone, and links are left as named.
std::string CommandLinePath(std::string_view path);

// Paths named on a command line, made full with CommandLinePath: with recursive, each
// folder is replaced by ListFolderTree; anything else stays as it is, added on its own.
std::vector<TFoundFile> ExpandFolders(const std::vector<std::string>& paths, bool recursive);

// The probe of a found file, as the job list takes it. A file named on its own is refused
// with the probe's reason. Below an added folder, what is not audio by its extension
// (covers, notes, playlists), or an Other file in which FFmpeg finds no audio (a video
// without sound), is passed over without a word (none); an audio file is refused
// as kCannotBeRead when it cannot be opened for reading, else as kNotSupportedAudio, and a
// folder that could not be listed keeps its refusal. An accepted item records AddedFrom.
std::optional<TFileProbe::TResult> ProbeFoundFile(TFileProbe& probe, const TFoundFile& found);

} // namespace bw
