#pragma once

#include "cli/clioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli convert --to TYPE [--out DIR | --same-as-source] [--preset NAME]
// [--set NAME=VALUE]... [--overwrite] [--jobs N] FILE...`: the conversion run without windows. The
// options start from the pages' defaults or from the first stored quality preset of that
// name, and each --set applies on top, in the order given. Progress goes to err (a bar
// when err is a terminal), one JSON object a line per file to out: for a file refused
// before the run (one below a FOLDER that cannot be read, a sub-folder that cannot be
// listed) before it starts, for every other when it ends. Paths are printed in full.
// Returns 0 when every file ended "Done", 1 when any did not or a disc has no audio
// tracks, 2 for a usage error (an unknown preset included) or a preset that cannot be read.
int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      bool errIsTerminal);
TCliCommand ConvertCliCommand();

} // namespace bw
