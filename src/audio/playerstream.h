#pragma once

#include "audio/audiostream.h"

#include <functional>
#include <memory>
#include <string>

namespace bw {

enum class TPlayState : int { Stopped = 0, Playing = 1, Stalled = 2, Paused = 3 };

// A stream played through the audio output (SDL2), one output device per stream, opened at
// the source's own rate and channels.
//
// Threads: the user-interface thread owns the object and makes every public call. SDL's
// audio thread runs the callback, which pulls PCM from the decoding stream. The decoding
// stream is shared and guarded by a mutex; the callback only tries the mutex, so while the
// user-interface thread holds it (a seek decoding up to its target) the output plays
// silence and the state reads Stalled. State, volume and the played position are atomics
// the callback writes and the user-interface thread reads without waiting.
class TPlayerStream {
public:
    // Opens a file for playback; needs an initialised TAudioDevice (else LastError Init).
    // Null on failure. The stream starts stopped at position 0.
    static std::unique_ptr<TPlayerStream> OpenFile(const std::string& path,
                                                   TAudioError* error = nullptr);
    // Opens for playback the stream that open makes: a CD track, which the CD layer opens as
    // the conversion reads it. open is called only once the output is ready. Null on
    // failure, with the error open gave.
    static std::unique_ptr<TPlayerStream>
    OpenWith(const std::function<std::unique_ptr<TAudioStream>(TAudioError*)>& open,
             TAudioError* error = nullptr);
    ~TPlayerStream(); // stops playback and closes the device
    TPlayerStream(const TPlayerStream&) = delete;
    TPlayerStream& operator=(const TPlayerStream&) = delete;

    TChannelInfo Info() const;
    uint64_t LengthBytes() const;
    uint64_t Position() const; // bytes handed to the output so far
    bool Seek(uint64_t bytePos);

    // Starts or resumes playback; restart plays from the beginning.
    bool Play(bool restart = false);
    bool Pause();
    // Stops playback and keeps the position (the player rewinds itself).
    bool Stop();
    // Playing until the end of the stream, then Stopped.
    TPlayState State() const;
    // Volume 0..100; other values are refused (IllegalParam).
    bool SetVolume(int volume);
    int Volume() const;
    TAudioError LastError() const;

private:
    TPlayerStream();
    // Opens the output device for an opened decoding stream.
    static std::unique_ptr<TPlayerStream> Start(std::unique_ptr<TAudioStream> stream,
                                                TAudioError* error);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bw
