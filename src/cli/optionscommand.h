#pragma once

#include "cli/clioptions.h"
#include "encoders/encoderoptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// A value name as `options` lists it: "MP3BitRate: 0..13 = 32, 40, ... 320 kbit/s (page MP3,
// default 8 = 128 kbit/s)".
std::string EncoderOptionLine(const TEncoderOptionInfo& info);

// `brindlewave-cli options [--json]`: every name convert --set takes, one line each, or one
// JSON object a line. Returns 0, 2 for a usage error.
int RunOptionsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
TCliCommand OptionsCliCommand();

} // namespace bw
