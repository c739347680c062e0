#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace bw {

// Reads up to maxBytes from offset of a file (fewer where the file ends first).
// No value when the file cannot be opened or read; never reads more than asked.
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
