#pragma once

// The file edits the tag classes make. Each either completes or leaves the file's content
// as it was: a failed write (a full disk, a size limit, a vanished folder) is undone or
// happens in a separate file that never replaces the original.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace bw {

// Lets the owner write the file again (the read-only state a tag save clears).
bool MakeWritable(const std::string& path, std::string& error);

// Replaces everything from offset cut to the end of the file with newTail. When a write
// fails, the old bytes and the old length are put back before returning false.
bool ReplaceFileTail(const std::string& path, uint64_t cut, std::span<const std::byte> newTail,
                     std::string& error);

// Cuts the file to size bytes.
bool TruncateFile(const std::string& path, uint64_t size, std::string& error);

// Writes head over the first head.size() bytes of an existing file and flushes it.
bool OverwriteFileHead(const std::string& path, std::span<const std::byte> head, std::string& error);

// Builds a new file of head followed by the old file's bytes from keepFrom on, beside the old
// one, flushes it (unless sync is off: a file the program has just written itself and not
// yet put in place) and renames it over the old one. Until that rename the old file is not
// touched; on any failure the new file is removed and the old one stays as it was.
bool RebuildFileWithHead(const std::string& path, std::span<const std::byte> head, uint64_t keepFrom,
                         std::string& error, bool sync = true);

} // namespace bw
