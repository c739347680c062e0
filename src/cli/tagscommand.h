#pragma once

#include "cli/clioptions.h"

#include <ostream>
#include <string>
#include <vector>

namespace bw {

// "tags FILE...": one JSON object per file and line, in argument order, with what the
// ID3v1, ID3v2 and APE tag classes read from it. Returns 0 when every file could be read,
// 1 otherwise (an unreadable file still gets a line, with an "error" text), 2 for an option
// (it takes none; a file named with a dash comes after "--").
int RunTagsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
TCliCommand TagsCliCommand();

} // namespace bw
