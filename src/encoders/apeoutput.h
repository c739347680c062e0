#pragma once

#include "core/jobitem.h"
#include "encoders/apeoptions.h"

#include <string>
#include <utility>
#include <vector>

namespace bw {

class TItemContext;

// The APE tag items a Monkey's Audio output gets from its job item, in the order they are
// written; empty values are written too.
std::vector<std::pair<std::string, std::string>> ApeTagItemsFor(const TmyMusicFile& item);

// Compresses the decoded source (a PCM WAV file) into path at level 1000..4000 on the
// writer's thread while the gauge goes from 50 to 100, then tags the file. A cancel lets
// the writer finish a valid, shorter file, which is tagged too. True only when path holds
// the whole audio; an error is shown (status "Error"), a cancel sets the cancel text.
bool EncodeApe(TItemContext& context, const std::string& tempWav, const std::string& path,
               const std::string& shownPath, int level);

// The Monkey's Audio output of one item: the source decoded into temp.wav, compressed under
// a private name beside the target, which takes the target's place when complete. A
// cancelled file is kept under the target's name only where no file stood before.
bool RunApeTarget(TItemContext& context, const TApeOptions& options);

} // namespace bw
