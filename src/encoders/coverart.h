#pragma once

#include "encoders/itemcontext.h"
#include "encoders/targettype.h"
#include "tags/covers.h"

#include <string>

namespace bw {

// Puts the source's front cover (embedded, or a picture beside it) into the file written
// for the current item, before the file takes its real name, when the user carries covers.
// Nothing here fails the item: the audio is whole either way. A picture too large for the
// format, or one that could not be read or written, becomes a note on the row.
void CarryCover(TItemContext& context, const std::string& written, TTargetType target);
// The same for an output of the given kind.
void CarryCover(TItemContext& context, const std::string& written, TCoverTarget kind);

} // namespace bw
