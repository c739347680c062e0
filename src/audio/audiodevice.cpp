#include "audio/audiodevice.h"

#include "audio/ffmpegload.h"

#include <SDL2/SDL.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace bw {

namespace {
bool SameMajor(const char* name, unsigned runtime, unsigned builtMajor, std::string* mismatch) {
    if (AV_VERSION_MAJOR(runtime) == builtMajor)
        return true;
    if (mismatch)
        *mismatch = std::string(name) + " " + std::to_string(AV_VERSION_MAJOR(runtime)) +
                    " found, " + std::to_string(builtMajor) + " expected";
    return false;
}
} // namespace

bool CheckAudioLibraryVersions(std::string* mismatch) {
    if (!FfmpegAvailable(mismatch))
        return false;
    // A different major version means a different ABI: decoding would crash or misbehave,
    // so refuse to start instead.
    return SameMajor("libavformat", avformat_version(), LIBAVFORMAT_VERSION_MAJOR, mismatch) &&
           SameMajor("libavcodec", avcodec_version(), LIBAVCODEC_VERSION_MAJOR, mismatch) &&
           SameMajor("libavutil", avutil_version(), LIBAVUTIL_VERSION_MAJOR, mismatch) &&
           SameMajor("libswresample", swresample_version(), LIBSWRESAMPLE_VERSION_MAJOR,
                     mismatch);
}

TAudioDevice::~TAudioDevice() { Free(); }

bool TAudioDevice::Init() {
    if (initialized_) {
        lastError_ = TAudioError::Already;
        return false;
    }
    // SDL would otherwise catch SIGINT and SIGTERM itself and only queue a quit event that
    // nothing reads: a logout or `kill` could not end the program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        lastError_ = TAudioError::Driver;
        return false;
    }
    // A driver can load on a machine that has no sound card at all; only opening the
    // default output tells whether anything can be played.
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (dev == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        lastError_ = TAudioError::Device;
        return false;
    }
    SDL_CloseAudioDevice(dev);
    initialized_ = true;
    lastError_ = TAudioError::Ok;
    return true;
}

void TAudioDevice::Free() {
    if (!initialized_)
        return;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    initialized_ = false;
}

} // namespace bw
