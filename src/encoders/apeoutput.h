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

// The Monkey's Audio output of one item: the source is decoded into temp.wav while the
// pipeline's compressor follows that file into a private name beside the target; the gauge
// goes 0..50 while decoding, on to 100 while compressing. The finished file is checked for
// every sample, tagged with the seven APE items, and takes the target's place. A cancel lets
// the compressor finish a valid, shorter file, which is tagged and kept under the target's
// name only where no file stood before. Errors are shown and the status is "Error".
bool RunApeTarget(TItemContext& context, const TApeOptions& options);

} // namespace bw
