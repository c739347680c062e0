#include "audio/playerstream.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace bw {

namespace {

// SDL's own converter handles these channel counts; more cannot be played.
constexpr int kMaxOutputChannels = 8;
// About 90 ms at 44.1 kHz: short enough for a pause to answer at once, long enough for
// the callback to decode without gaps.
constexpr Uint16 kOutputFrames = 4096;
constexpr int kFullVolume = 100;

// Owns one opened SDL audio device. Closing waits for a callback that is running.
class TSdlAudioDevice {
public:
    TSdlAudioDevice() = default;
    ~TSdlAudioDevice() {
        if (id_ != 0)
            SDL_CloseAudioDevice(id_);
    }
    TSdlAudioDevice(const TSdlAudioDevice&) = delete;
    TSdlAudioDevice& operator=(const TSdlAudioDevice&) = delete;
    void Reset(SDL_AudioDeviceID id) { id_ = id; }
    SDL_AudioDeviceID Id() const { return id_; }

private:
    SDL_AudioDeviceID id_ = 0;
};

void ScaleVolume(std::byte* data, size_t bytes, bool eightBit, int volume) {
    if (volume >= kFullVolume)
        return;
    if (eightBit) {
        for (size_t i = 0; i < bytes; ++i) {
            const int centred = std::to_integer<int>(data[i]) - 128;
            data[i] = static_cast<std::byte>(128 + centred * volume / kFullVolume);
        }
        return;
    }
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        int16_t s;
        std::memcpy(&s, data + i, 2);
        s = static_cast<int16_t>(s * volume / kFullVolume);
        std::memcpy(data + i, &s, 2);
    }
}

bool Exchange(std::atomic<int>& state, TPlayState from, TPlayState to) {
    int expected = static_cast<int>(from);
    return state.compare_exchange_strong(expected, static_cast<int>(to));
}

// The output needs an initialised TAudioDevice; checked before any source is opened.
bool OutputReady(TAudioError* error) {
    if (SDL_WasInit(SDL_INIT_AUDIO) != 0)
        return true;
    if (error)
        *error = TAudioError::Init;
    return false;
}

} // namespace

struct TPlayerStream::Impl {
    std::unique_ptr<TAudioStream> stream; // guarded by mutex once the device is open
    std::mutex mutex;
    TChannelInfo info;                     // fixed at open
    std::atomic<int> state{static_cast<int>(TPlayState::Stopped)};
    std::atomic<int> volume{kFullVolume};
    std::atomic<uint64_t> position{0};
    std::atomic<uint64_t> length{0};
    TAudioError lastError = TAudioError::Ok; // user-interface thread only
    TSdlAudioDevice device;                // last: closed first, before the stream goes

    static void Callback(void* user, Uint8* out, int len) {
        static_cast<Impl*>(user)->Fill(reinterpret_cast<std::byte*>(out),
                                       static_cast<size_t>(len));
    }
    void Fill(std::byte* out, size_t len);
    void PauseOutput(bool pause) const { SDL_PauseAudioDevice(device.Id(), pause ? 1 : 0); }
};

// SDL's audio thread.
void TPlayerStream::Impl::Fill(std::byte* out, size_t len) {
    const auto silence = static_cast<std::byte>(info.EightBit ? 0x80 : 0);
    const auto now = static_cast<TPlayState>(state.load());
    if (now != TPlayState::Playing && now != TPlayState::Stalled) {
        std::memset(out, std::to_integer<int>(silence), len);
        return;
    }
    std::unique_lock lock(mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // The user-interface thread is moving the stream: play silence until it is done.
        std::memset(out, std::to_integer<int>(silence), len);
        Exchange(state, TPlayState::Playing, TPlayState::Stalled);
        return;
    }
    size_t done = 0;
    while (done < len) {
        const int64_t n = stream->Read(std::span<std::byte>(out + done, len - done));
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    position.store(stream->Position());
    length.store(stream->LengthBytes());
    lock.unlock();
    ScaleVolume(out, done, info.EightBit, volume.load());
    if (done < len) {
        std::memset(out + done, std::to_integer<int>(silence), len - done);
        // The end of the stream (or a read error): playback is over.
        if (!Exchange(state, TPlayState::Playing, TPlayState::Stopped))
            Exchange(state, TPlayState::Stalled, TPlayState::Stopped);
        return;
    }
    Exchange(state, TPlayState::Stalled, TPlayState::Playing);
}

TPlayerStream::TPlayerStream() : impl_(std::make_unique<Impl>()) {}

TPlayerStream::~TPlayerStream() = default;

std::unique_ptr<TPlayerStream> TPlayerStream::OpenFile(const std::string& path,
                                                       TAudioError* error) {
    if (!OutputReady(error))
        return nullptr;
    TAudioError e = TAudioError::Ok;
    // Surround sources are heard as FFmpeg's standard stereo downmix, as on any stereo
    // output: SDL's own conversion would drop or misplace channels it has no speaker for.
    auto stream = TAudioStream::OpenFile(path, &e, TChannelPolicy::DownmixToStereo);
    if (!stream) {
        if (error)
            *error = e;
        return nullptr;
    }
    return Start(std::move(stream), error);
}

std::unique_ptr<TPlayerStream>
TPlayerStream::OpenWith(const std::function<std::unique_ptr<TAudioStream>(TAudioError*)>& open,
                        TAudioError* error) {
    if (!OutputReady(error))
        return nullptr;
    TAudioError e = TAudioError::Ok;
    auto stream = open(&e);
    if (!stream) {
        if (error)
            *error = e;
        return nullptr;
    }
    return Start(std::move(stream), error);
}

std::unique_ptr<TPlayerStream> TPlayerStream::Start(std::unique_ptr<TAudioStream> stream,
                                                    TAudioError* error) {
    auto fail = [error](TAudioError e) {
        if (error)
            *error = e;
        return nullptr;
    };
    std::unique_ptr<TPlayerStream> player(new TPlayerStream());
    Impl& d = *player->impl_;
    d.stream = std::move(stream);
    d.info = d.stream->Info();
    d.length.store(d.stream->LengthBytes());
    if (d.info.Channels > kMaxOutputChannels)
        return fail(TAudioError::Format);

    SDL_AudioSpec want{};
    want.freq = d.info.SampleRate;
    want.format = d.info.EightBit ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(d.info.Channels);
    want.samples = kOutputFrames;
    want.callback = &Impl::Callback;
    want.userdata = &d;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to what the hardware takes, and the callback gets
    // buffers in the stream's own format. The device opens paused.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return fail(TAudioError::Device);
    d.device.Reset(id);
    if (error)
        *error = TAudioError::Ok;
    return player;
}

TChannelInfo TPlayerStream::Info() const { return impl_->info; }
uint64_t TPlayerStream::LengthBytes() const { return impl_->length.load(); }
uint64_t TPlayerStream::Position() const { return impl_->position.load(); }
int TPlayerStream::Volume() const { return impl_->volume.load(); }
TAudioError TPlayerStream::LastError() const { return impl_->lastError; }

TPlayState TPlayerStream::State() const {
    const auto s = static_cast<TPlayState>(impl_->state.load());
    // Played to the end: the callback cannot pause its own device, so do it here.
    if (s == TPlayState::Stopped && SDL_GetAudioDeviceStatus(impl_->device.Id()) == SDL_AUDIO_PLAYING)
        impl_->PauseOutput(true);
    return s;
}

bool TPlayerStream::Seek(uint64_t bytePos) {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.stream->Seek(bytePos)) {
        d.lastError = d.stream->LastError();
        return false;
    }
    d.position.store(d.stream->Position());
    d.lastError = TAudioError::Ok;
    return true;
}

bool TPlayerStream::Play(bool restart) {
    Impl& d = *impl_;
    if (restart && !Seek(0))
        return false;
    d.state.store(static_cast<int>(TPlayState::Playing));
    d.PauseOutput(false);
    d.lastError = TAudioError::Ok;
    return true;
}

bool TPlayerStream::Pause() {
    Impl& d = *impl_;
    const auto s = static_cast<TPlayState>(d.state.load());
    if (s == TPlayState::Paused) {
        d.lastError = TAudioError::Already;
        return false;
    }
    if (s == TPlayState::Stopped) {
        d.lastError = TAudioError::NotAvailable; // nothing is playing
        return false;
    }
    d.PauseOutput(true); // returns once no callback runs any more
    d.state.store(static_cast<int>(TPlayState::Paused));
    d.lastError = TAudioError::Ok;
    return true;
}

bool TPlayerStream::Stop() {
    Impl& d = *impl_;
    d.PauseOutput(true);
    d.state.store(static_cast<int>(TPlayState::Stopped));
    d.lastError = TAudioError::Ok;
    return true;
}

bool TPlayerStream::SetVolume(int volume) {
    Impl& d = *impl_;
    if (volume < 0 || volume > kFullVolume) {
        d.lastError = TAudioError::IllegalParam;
        return false;
    }
    d.volume.store(volume);
    d.lastError = TAudioError::Ok;
    return true;
}

} // namespace bw
