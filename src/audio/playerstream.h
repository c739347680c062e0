#pragma once

#include "audio/audiostream.h"

#include <memory>
#include <string>

namespace bw {

enum class TPlayState : int { Stopped = 0, Playing = 1, Stalled = 2, Paused = 3 };

// A stream played through the audio output (SDL2). The SDL callback thread pulls PCM from
// the decoding stream; every public call comes from the user-interface thread.
class TPlayerStream {
public:
    // Opens a file for playback; needs an initialised TAudioDevice. Null on failure.
    static std::unique_ptr<TPlayerStream> OpenFile(const std::string& path,
                                                   TAudioError* error = nullptr);
    ~TPlayerStream(); // stops playback and closes the device
    TPlayerStream(const TPlayerStream&) = delete;
    TPlayerStream& operator=(const TPlayerStream&) = delete;

    TChannelInfo Info() const;
    uint64_t LengthBytes() const;
    uint64_t Position() const; // bytes played so far
    bool Seek(uint64_t bytePos);

    bool Play(bool restart = false);
    bool Pause();
    bool Stop();
    TPlayState State() const;
    // Volume 0..100.
    bool SetVolume(int volume);
    int Volume() const;
    TAudioError LastError() const;

private:
    TPlayerStream();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bw
