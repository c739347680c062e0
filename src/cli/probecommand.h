#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli probe FILE...`: one JSON object a line for each file, in order, with the
// job item the job list would make of it, or why it would not take it. Returns 0 when
// every file was accepted, 1 otherwise.
int RunProbeCommand(const std::vector<std::string>& files, std::ostream& out);

} // namespace bw
