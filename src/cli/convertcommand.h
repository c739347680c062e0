#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli convert --to TYPE [--out DIR | --same-as-source] [--set NAME=VALUE]...
// [--overwrite] FILE...`: the conversion run without windows. Progress goes to err (a bar
// when err is a terminal), one JSON object a line per file to out at the end. Returns 0
// when every file ended "Done", 1 when any did not, 2 for a usage error.
int RunConvertCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      bool errIsTerminal);

} // namespace bw
