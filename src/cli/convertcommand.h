#pragma once

#include "cli/clioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli convert --to TYPE [OPTION]... FILE|FOLDER...` (its options: ConvertCliCommand):
// the conversion run without windows. The options start from the pages' defaults or from the
// first stored quality preset of that name, and each --set applies on top, in the order given.
// Progress goes to err: when err is a terminal a block with every running file redrawn in
// place and a summary at the end, else plain lines; nothing with --quiet. One JSON object a
// line per file goes to out: for a file refused before the run (one below a FOLDER that
// cannot be read, a sub-folder that cannot be listed) before it starts, for every other when
// it ends. Paths are printed in full. Returns 0 when every file ended "Done", 1 when any did
// not or a disc has no audio tracks, 2 for a usage error (an unknown preset included) or a
// preset that cannot be read.
int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      bool errIsTerminal);
TCliCommand ConvertCliCommand();

} // namespace bw
