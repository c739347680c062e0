#pragma once

namespace bw {

// Error codes of the audio binding, shown to the user as "Error code: N". The numbers are
// stable: messages and logs quote them.
enum class TAudioError : int {
    Ok = 0,
    Memory = 1,      // out of memory
    FileOpen = 2,    // the file cannot be opened
    Driver = 3,      // no audio output driver could be used
    Handle = 5,      // the stream is not valid (already freed, never opened)
    Format = 6,      // the sample format is not supported
    Position = 7,    // the position is out of range
    Init = 8,        // audio output was not initialised
    Already = 14,    // already initialised / already running
    IllegalParam = 20, // an argument is out of range
    Device = 23,     // the audio device is not available
    NotAvailable = 37, // the operation is not available on this stream
    FileForm = 41,   // the file's format is not recognised
    Codec = 44,      // no decoder for the stream
    Ended = 45,      // the stream has ended
    Process = 50,    // a child process could not be started or fed
    Read = 51,       // the file could not be read on (an I/O error part way through)
    Unknown = -1,
};

} // namespace bw
