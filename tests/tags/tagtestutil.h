#pragma once

// Helpers for the tag tests: byte strings, tone files, the outside oracle tools and
// failures injected into a forked child.

#include "support/testsupport.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bwtest {

std::span<const std::byte> Span(std::string_view s);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, std::string_view data);

// A short MPEG audio tone without any tag (made once per test program, copied per call).
std::string MakeMp3(const TTempDir& dir, const std::string& name);

// Runs Debian's python3 (which has mutagen) on a script with arguments; the test fails
// when it exits non-zero. Returns its standard output.
std::string Python(const std::string& script, const std::vector<std::string>& args = {});

// Runs body in a forked child and returns its exit status (128 + signal when it died).
// The child runs only body and then exits without touching the test framework.
int InChild(const std::function<int()>& body);


// A 32-bit number big-endian, and as a sync-safe integer of four 7-bit groups.
std::string BE32(uint32_t v);
std::string SyncSafe32(uint32_t v);
std::string LE32(uint32_t v);

} // namespace bwtest
