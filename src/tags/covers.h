#pragma once

// The front cover of a source, read from whichever tag the source holds (or from a picture
// file beside it) and written into a converted output in that output's own way. The tags'
// own classes read and write the pictures; here the picture is chosen, its size checked
// against what the output's format can hold, and the failures put in words for the user.

#include "tags/picture.h"

#include <optional>
#include <string>

namespace bw {

class TTagSource;

// The kinds of output a cover is written into.
enum class TCoverTarget { Mp3, Flac, OggVorbis, Ape, Musepack, WavPack, Wma, Wav, Mp4 };

// The front cover (picture type 3, else the first picture) held by an MP3 (ID3v2.2 PIC,
// 2.3/2.4 APIC), FLAC (PICTURE block), Ogg Vorbis or Opus (METADATA_BLOCK_PICTURE), APE,
// Musepack or WavPack (APEv2 "Cover Art (Front)"), WMA (WM/Picture) or MP4 (covr) source;
// failing that, the first of cover.jpg, folder.jpg, front.jpg and cover.png beside it
// (letter case ignored). No value when there is none; *why (when given) then says why, and is empty
// when the source simply holds no picture and none lies beside it.
std::optional<TCoverArt> ReadFrontCover(const std::string& sourcePath, std::string* why);
// The embedded part of ReadFrontCover alone: the picture the tags of these bytes hold.
std::optional<TCoverArt> ReadEmbeddedCover(TTagSource& source, std::string* why);
// A picture file beside the source, as ReadFrontCover looks for it.
std::optional<TCoverArt> ReadSidecarCover(const std::string& sourcePath, std::string* why);

// Writes the picture into a finished output of the given kind: an ID3v2.3 APIC frame (the
// tag's other frames kept), a FLAC PICTURE block (the other blocks kept), a Vorbis comment
// METADATA_BLOCK_PICTURE, an APEv2 binary "Cover Art (Front)" item (the other items kept), or
// an MP4 covr item (JPEG and PNG only; the other items kept).
// A picture of the same type that is already there is replaced. WMA and WAV outputs get no
// picture (true, note empty). A picture too large for the format is left out: true, and
// *note says so in a sentence for the user. False only when the file could not be changed:
// it is then as it was, and *note says why. fresh: the output was just written under a
// name of its own and takes its real name after this, so a rebuilt file need not be forced
// to the disk first (the rest of it was not either).
bool WriteFrontCover(const std::string& outputPath, TCoverTarget kind, const TCoverArt& cover,
                     std::string* note, bool fresh = false);

} // namespace bw
