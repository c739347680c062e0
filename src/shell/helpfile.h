#pragma once

#include "common/buildinfo.h"

#include <string>

namespace bw {

inline constexpr const char* kHelpFileName = "user-guide.html";
// The maker's page that "Check for upgrade..." opens.
inline constexpr const char* kMakerWebPage = kHomepage;

// Where the user guide lies: beside an installed program (share/doc/brindlewave, where the
// build tree also keeps a copy), beside the program itself, or in the start directory.
// Empty when none of them has it.
std::string FindHelpFile(const std::string& programDir, const std::string& startDirectory);

} // namespace bw
