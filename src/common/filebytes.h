#pragma once

#include "common/filehandle.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bw {

// Opens an existing file given by the user, refusing anything but a regular file (a named
// pipe, a device, a socket, a folder) before it is opened: opening a named pipe waits until
// something writes to it, for ever. The open itself does not wait either, should the path
// be swapped for a pipe in between. flags: O_RDONLY, O_WRONLY or O_RDWR, with more flags
// as wanted (O_CLOEXEC is always added). An empty handle, with "cannot open PATH: reason"
// or "not a regular file: PATH" in *why, when it cannot be opened.
TFileHandle OpenRegularFile(const std::string& path, int flags, std::string* why = nullptr);
// Whether a path names a regular file (after symbolic links).
bool IsRegularFile(const std::string& path);

// Reads up to maxBytes from offset of a file (fewer where the file ends first).
// No value when the file cannot be opened or read or is not a regular file; never reads
// more than asked.
std::optional<std::vector<std::byte>> ReadFileRange(const std::string& path, uint64_t offset,
                                                    size_t maxBytes);
// The size of a file in bytes; no value when it cannot be examined.
std::optional<uint64_t> FileSizeOf(const std::string& path);

// Writes all of data at offset of an open file, going on after interrupted or partial
// writes. False with errno set (ENOSPC when the file system took nothing).
bool WriteAllAt(int fd, std::span<const std::byte> data, uint64_t offset);
// Reads exactly out.size() bytes from offset. False with errno set (EIO when the file ends
// first: it got shorter under us).
bool ReadAllAt(int fd, std::span<std::byte> out, uint64_t offset);

} // namespace bw
