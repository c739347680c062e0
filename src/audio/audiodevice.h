#pragma once

#include "audio/audioerror.h"

#include <string>

namespace bw {

// Checks that the FFmpeg libraries load and have the major versions this program was built
// against. Returns false and a description of the first fault otherwise.
bool CheckAudioLibraryVersions(std::string* mismatch = nullptr);

// The audio output for the player (SDL2). One per process, owned by the main window.
// The conversion path never needs it: a machine without sound still converts.
class TAudioDevice {
public:
    TAudioDevice() = default;
    ~TAudioDevice(); // frees the output when still initialised
    TAudioDevice(const TAudioDevice&) = delete;
    TAudioDevice& operator=(const TAudioDevice&) = delete;

    // Initialises the audio output subsystem. False when no output can be opened.
    bool Init();
    void Free();
    bool IsInitialized() const { return initialized_; }
    TAudioError LastError() const { return lastError_; }

private:
    bool initialized_ = false;
    TAudioError lastError_ = TAudioError::Ok;
};

} // namespace bw
