#pragma once

#include "encoders/itemcontext.h"
#include "encoders/targettype.h"
#include "tags/covers.h"

#include "tags/picture.h"

#include <optional>
#include <string>

namespace bw {

// Puts the source's front cover (embedded, or a picture beside it) into the file written
// for the current item, before the file takes its real name, when the user carries covers.
// Nothing here fails the item: the audio is whole either way. A picture too large for the
// format, or one that could not be read or written, becomes a note on the row.
void CarryCover(TItemContext& context, const std::string& written, TTargetType target);

// The cover CarryCover would put into the current item's output, for an encoder that takes
// the picture itself: none when the user does not carry covers or the source has none (a
// picture that could not be read becomes a note on the row).
std::optional<TCoverArt> CoverToCarry(TItemContext& context);

} // namespace bw
