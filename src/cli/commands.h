#pragma once

#include "cli/clioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// Every command of brindlewave-cli with its help and option table, in the order the help
// lists them; a sub-command ("cd lookup") follows its command ("cd").
const std::vector<TCliCommand>& CliCommands();

// brindlewave-cli with its arguments (the program's name left out): --help, --version, help
// [COMMAND], or a command, whose --help anywhere before "--" shows its help instead.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace bw
