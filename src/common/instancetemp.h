#pragma once

#include <string>

namespace bw {

// This running program's private folder inside the system's temporary folder ($TMPDIR, else
// /tmp), with a trailing separator, so two instances never share their working files. Made
// at first use and removed with everything in it when the program ends; folders left by an
// instance that died are cleared away when the next one makes its own. Empty, with the
// reason in *why, when it cannot be made.
std::string InstanceTemporaryFolder(std::string* why = nullptr);

} // namespace bw
