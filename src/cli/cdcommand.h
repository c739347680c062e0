#pragma once

#include "cd/cdsystem.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// `brindlewave-cli cd drives [IMAGE...]`: one JSON object a line for each drive of the list
// (index, device, text), the images given added after the system's drives.
// `brindlewave-cli cd tracks [--drive D]`: one JSON object a line for each audio track of
// the disc in drive D (an index, a device path or an image path; 0 by default), as the
// probe prints a job item. Returns 0 on success, 1 when a drive or disc fails, 2 on
// wrong arguments.
int RunCdCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 TCdSystem& system = SystemCd());

} // namespace bw
