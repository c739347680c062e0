#pragma once

// Loudness of the audio a conversion encodes (EBU R128 integrated loudness and sample peak,
// on libebur128), and the ReplayGain 2.0 and Opus R128 tag values made of it.

#include "audio/audiostream.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bw {

// What ReplayGain 2.0 brings every track to, and what Opus output gain is relative to.
inline constexpr double kReplayGainReference = -18.0; // LUFS
inline constexpr double kOpusGainReference = -23.0;   // LUFS

// The loudness of one piece of audio: integrated loudness in LUFS, none when not one block
// passed the gate (silence); the largest absolute sample as a ratio of full scale.
struct TLoudness {
    std::optional<double> Integrated;
    double Peak = 0;
};

// Measures the PCM of one item as it is handed on. Add takes a copy of each block and
// returns at once: the filtering runs on the meter's own thread, beside the decoder and the
// encoder, so that it adds no wall time to a conversion.
class TLoudnessMeter {
public:
    explicit TLoudnessMeter(const TChannelInfo& info);
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    const TChannelInfo& Info() const { return info_; }
    // Whole sample frames of PCM in the meter's format.
    void Add(std::span<const std::byte> pcm);
    // Waits for what was added and gives the result; the meter takes nothing more after it.
    TLoudness Finish();

    // The loudness of several finished meters' audio as one (an album): every gated block
    // of them all, gated again together; the peak the largest of theirs.
    static TLoudness Combined(std::span<TLoudnessMeter* const> meters);

private:
    void Work();
    void Measure(const std::vector<std::byte>& block);

    // The library's state, owned; its type is a typedef of an unnamed struct, which cannot
    // be declared here.
    struct TState;
    TChannelInfo info_;
    std::unique_ptr<TState> state_;
    std::atomic<bool> failed_{false}; // the library refused the format: the result says nothing
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::byte>> queue_;
    std::vector<std::vector<std::byte>> spare_; // measured blocks' buffers, for the next ones
    bool closing_ = false;
    bool finished_ = false;
    TLoudness result_;
    std::vector<int> wide_; // the worker's: a block as the library takes it
    std::vector<short> narrow_;
    std::thread worker_;
};

// Track or album gain as ReplayGain tags write it: sign, two decimals, " dB" ("-6.48 dB").
std::string ReplayGainText(double loudness);
// A peak as a linear ratio with six decimals ("0.988235").
std::string ReplayPeakText(double peak);
// An Opus R128_*_GAIN value: the gain to -23 LUFS in Q7.8 fixed point, as an integer text.
std::string OpusGainText(double loudness);

} // namespace bw
