#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli convert --to TYPE [--out DIR | --same-as-source] [--preset NAME]
// [--set NAME=VALUE]... [--overwrite] [--jobs N] FILE...`: the conversion run without windows. The
// options start from the pages' defaults or from the first stored quality preset of that
// name, and each --set applies on top, in the order given. Progress goes to err (a bar
// when err is a terminal), one JSON object a line per file to out at the end. Returns 0
// when every file ended "Done", 1 when any did not, 2 for a usage error (an unknown preset
// included) or a preset that cannot be read.
int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      bool errIsTerminal);

} // namespace bw
