#include "audio/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ebur128.h>

namespace bw {

namespace {

// Blocks waiting for the meter's thread: a few seconds of audio.
constexpr size_t kMaxQueued = 256;

// The library's channel kinds by WAV speaker bit: the low-frequency channel and the heights
// weigh nothing in the integrated loudness.
int ChannelKind(int bit) {
    switch (bit) {
    case 0:
        return EBUR128_LEFT; // front left
    case 1:
        return EBUR128_RIGHT; // front right
    case 2:
        return EBUR128_CENTER; // front centre
    case 4:
    case 9:
        return EBUR128_LEFT_SURROUND; // back or side left
    case 5:
    case 10:
        return EBUR128_RIGHT_SURROUND; // back or side right
    default:
        return EBUR128_UNUSED;
    }
}

} // namespace

struct TLoudnessMeter::TState {
    ebur128_state* St = nullptr;
    ~TState() {
        if (St)
            ebur128_destroy(&St);
    }
};

TLoudnessMeter::TLoudnessMeter(const TChannelInfo& info) : info_(info) {
    if (info.Channels < 1 || info.SampleRate < 1) {
        failed_ = true;
        return;
    }
    state_ = std::make_unique<TState>();
    state_->St = ebur128_init(static_cast<unsigned>(info.Channels),
                              static_cast<unsigned long>(info.SampleRate),
                              EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK);
    if (!state_->St) {
        failed_ = true;
        return;
    }
    // Channels of known speakers weigh as their speakers; without a mask the library's own
    // order (L, R, C, LFE, Ls, Rs) holds, which is also WAV's.
    if (info.ChannelMask != 0 && info.Channels > 2) {
        unsigned channel = 0;
        for (int bit = 0; bit < 32 && channel < static_cast<unsigned>(info.Channels); ++bit)
            if (info.ChannelMask & (1u << bit))
                ebur128_set_channel(state_->St, channel++, ChannelKind(bit));
    }
    worker_ = std::thread([this] { Work(); });
}

TLoudnessMeter::~TLoudnessMeter() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void TLoudnessMeter::Add(std::span<const std::byte> pcm) {
    if (failed_ || pcm.empty())
        return;
    {
        // Should the meter fall behind (a machine busy with other work), the encoder waits
        // for it rather than the blocks piling up in memory.
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closing_ || queue_.size() < kMaxQueued; });
        if (closing_)
            return;
        // A block's buffer is used again: a fresh one for every block costs more than the
        // measuring itself (large ones come from the system as new pages).
        std::vector<std::byte> block;
        if (!spare_.empty()) {
            block = std::move(spare_.back());
            spare_.pop_back();
        }
        block.assign(pcm.begin(), pcm.end());
        queue_.push_back(std::move(block));
    }
    changed_.notify_all();
}

void TLoudnessMeter::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            break; // closing, and everything added is measured
        std::vector<std::byte> block = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        changed_.notify_all();
        Measure(block);
        lock.lock();
        spare_.push_back(std::move(block));
    }
    finished_ = true;
    changed_.notify_all();
}

void TLoudnessMeter::Measure(const std::vector<std::byte>& block) {
    const auto bytesPerSample = static_cast<size_t>(info_.BytesPerSample());
    const auto channels = static_cast<size_t>(info_.Channels);
    const size_t frames = block.size() / (bytesPerSample * channels);
    const size_t samples = frames * channels;
    const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
    int rc = EBUR128_SUCCESS;
    if (info_.TwentyFourBit) {
        wide_.resize(samples);
        for (size_t i = 0; i < samples; ++i) {
            const uint8_t* s = bytes + 3 * i;
            wide_[i] = static_cast<int>(static_cast<uint32_t>(s[0]) << 8 |
                                        static_cast<uint32_t>(s[1]) << 16 |
                                        static_cast<uint32_t>(s[2]) << 24);
        }
        rc = ebur128_add_frames_int(state_->St, wide_.data(), frames);
    } else {
        narrow_.resize(samples);
        if (info_.EightBit)
            for (size_t i = 0; i < samples; ++i)
                narrow_[i] = static_cast<short>((static_cast<int>(bytes[i]) - 128) * 256);
        else
            std::memcpy(narrow_.data(), bytes,
                        samples * sizeof(short)); // little-endian, as the machine
        rc = ebur128_add_frames_short(state_->St, narrow_.data(), frames);
    }
    if (rc != EBUR128_SUCCESS)
        failed_ = true;
}

TLoudness TLoudnessMeter::Finish() {
    {
        std::unique_lock lock(mutex_);
        closing_ = true;
        changed_.notify_all();
        if (worker_.joinable())
            changed_.wait(lock, [this] { return finished_; });
    }
    if (worker_.joinable())
        worker_.join();
    if (failed_ || !state_ || !state_->St)
        return {};
    TLoudness result;
    double loudness = 0;
    if (ebur128_loudness_global(state_->St, &loudness) == EBUR128_SUCCESS &&
        std::isfinite(loudness))
        result.Integrated = loudness;
    for (unsigned c = 0; c < static_cast<unsigned>(info_.Channels); ++c) {
        double peak = 0;
        if (ebur128_sample_peak(state_->St, c, &peak) == EBUR128_SUCCESS)
            result.Peak = std::max(result.Peak, peak);
    }
    return result;
}

TLoudness TLoudnessMeter::Combined(std::span<TLoudnessMeter* const> meters) {
    std::vector<ebur128_state*> states;
    TLoudness result;
    for (TLoudnessMeter* m : meters) {
        const TLoudness own = m->Finish();
        if (!m->state_ || !m->state_->St || m->failed_)
            return {};
        states.push_back(m->state_->St);
        result.Peak = std::max(result.Peak, own.Peak);
    }
    double loudness = 0;
    if (!states.empty() &&
        ebur128_loudness_global_multiple(states.data(), states.size(), &loudness) ==
            EBUR128_SUCCESS &&
        std::isfinite(loudness))
        result.Integrated = loudness;
    return result;
}

std::string ReplayGainText(double loudness) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", kReplayGainReference - loudness);
    return text;
}

std::string ReplayPeakText(double peak) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", peak);
    return text;
}

std::string OpusGainText(double loudness) {
    const double q78 = std::round((kOpusGainReference - loudness) * 256.0);
    return std::to_string(static_cast<int>(std::clamp(q78, -32768.0, 32767.0)));
}

} // namespace bw
