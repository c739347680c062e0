#pragma once

#include "cli/clioptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

class TSettingsStore;

// `brindlewave-cli presets`: one JSON object a line for each quality preset in the store,
// in key order, with its "Index", "Name" and every value by its value name. A store never
// written (the program has not started yet) lists the built-in presets a first start would
// store, without writing them. Returns 0, 1 when a stored preset lacks a value (it is listed
// with the values before the gap), 2 for a usage error.
int RunPresetsCommand(const std::vector<std::string>& args, const TSettingsStore& store,
                      std::ostream& out, std::ostream& err);
TCliCommand PresetsCliCommand();

} // namespace bw
