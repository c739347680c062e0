#pragma once

#include <string>

namespace bw {

// This running program's private folder inside the system's temporary folder ($TMPDIR, else
// /tmp), with a trailing separator, so two instances never share their working files. Made
// at first use and removed with everything in it when the program ends; folders left by an
// instance that died are cleared away when the next one makes its own. Empty, with the
// reason in *why, when it cannot be made.
std::string InstanceTemporaryFolder(std::string* why = nullptr);

// Removes the instance's folder now, with everything in it, for a program about to end at
// once without running its destructors. Does nothing while another thread is making it.
void RemoveInstanceTemporaryFolder();

// The working folder of conversion lane `lane`, with a trailing separator: lane 0 (a run
// that converts one file at a time) works in the instance folder itself; lanes 1, 2, ...
// each in a sub-folder of it ("lane-1/", ...), made at first use, so that items converted
// at the same time keep their usual working file names without sharing a file. Empty, with
// the reason in *why, when it cannot be made.
std::string LaneTemporaryFolder(int lane, std::string* why = nullptr);

} // namespace bw
