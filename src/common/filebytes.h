#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bw {

// Reads up to maxBytes from offset of a file (fewer where the file ends first).
// No value when the file cannot be opened or read; never reads more than asked.
std::optional<std::vector<std::byte>> ReadFileRange(const std::string& path, uint64_t offset,
                                                    size_t maxBytes);
// The size of a file in bytes; no value when it cannot be examined.
std::optional<uint64_t> FileSizeOf(const std::string& path);

} // namespace bw
