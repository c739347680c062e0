#pragma once

#include "cli/clioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli probe [--recursive] FILE...`: one JSON object a line for each file, in
// order, with the job item the job list would make of it, or why it would not take it.
// Paths are printed in full. With --recursive a folder stands for the files below it, and
// only its audio files get a line, as do its sub-folders that cannot be listed. Returns 0
// when every file was accepted, 1 otherwise, 2 for a usage error (said on err).
int RunProbeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
TCliCommand ProbeCliCommand();

} // namespace bw
