#pragma once

#include "encoders/flacoptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bw {

class TItemContext;

// The Vorbis comments a FLAC output gets from its job item, "Name=value" in the order they
// are written; those with an empty value are left out when written.
std::vector<std::string> FlacCommentsFor(const TmyMusicFile& item);

// The FLAC output of one item, encoded in this process with libFLAC: the page's level and
// "Lax" become the encoder's compression level and its subset check, and the file gets the
// item's Vorbis comments, a seek point every ten seconds and room for the tags to grow, as
// the flac program writes them. The file is written under a private name beside the target,
// checked for every sample, given the source's cover, and then takes the target's place. A
// cancel drops what was written. Errors are shown and the status is "Error".
bool RunFlacTarget(TItemContext& context, const TFlacOptions& options);

} // namespace bw
