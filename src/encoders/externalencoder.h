#pragma once

#include "encoders/commandline.h"
#include "encoders/encoderoptions.h"
#include "encoders/targettype.h"

#include <string>

namespace bw {

class TAudioStream;
class TItemContext;

// Bytes of PCM read from the conversion stream and handed to the encoder per step.
inline constexpr size_t kEncoderReadBlock = 10240;

// The program name of a target's outside encoder ("lame", "oggenc", "flac", "mpcenc",
// "wavpack", "opusenc"); empty for targets written otherwise.
std::string EncoderProgram(TTargetType target);

// The whole command line for one item: program is the encoder's path as it will be started
// (its folder included); the output is the item's TargetPath. picture: a picture file the
// encoder is to embed (Opus only), none when empty.
TCommandLine BuildEncoderCommand(TTargetType target, const std::string& program,
                                 const TEncoderOptions& options, const TmyMusicFile& item,
                                 const std::string& picture = {});

// Whether an existing output may be replaced: false when it is read-only or its attributes
// cannot be read.
bool IsReplaceableOutput(const std::string& path);

// The text shown when an existing output cannot be replaced.
std::string CantCreateFileMessage(const std::string& path);
// Why a source could not be read to its end (a read error, or a file that holds less than its
// header says or shrank while it was read).
std::string SourceEndedEarlyMessage(const std::string& source, const TAudioStream& stream);
// An outside program that failed on output: doing ("Encoding", "Resampling"), the program,
// how it ended (exitStatus: its exit status, -1 for a signal, 0 when it stopped reading its
// input early) and the last line it wrote to its error output.
std::string ProgramFailedMessage(const std::string& doing, const std::string& program,
                                 const std::string& output, int exitStatus,
                                 const std::string& errorOutput);

// The back-end of MP3, Ogg Vorbis, FLAC, Musepack, WavPack and Opus: pipes the conversion
// stream through the outside encoder into TargetPath and, for MP3 and WavPack, tags the
// result. A hybrid WavPack output with a correction file gets its .wvc beside it, under the
// same rules as the output itself. True only when the
// encoder wrote the whole output and ended well; otherwise the row's status is "Error" (with
// a message saying why) or the cancel text. An existing target is replaced only by a
// complete, checked output; a cancelled one is kept only where no file was there before.
bool RunExternalEncoder(TItemContext& context, TTargetType target, const TEncoderOptions& options);

} // namespace bw
