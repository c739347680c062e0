#include "pipelinetest.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <cmath>
#include <cstring>
#include <thread>

namespace bwtest {

namespace {
void Put16(std::vector<std::byte>& v, uint32_t x) {
    v.push_back(std::byte(x & 0xFF));
    v.push_back(std::byte((x >> 8) & 0xFF));
}
void Put32(std::vector<std::byte>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
void PutText(std::vector<std::byte>& v, const char* s) {
    for (size_t i = 0; i < 4; ++i)
        v.push_back(std::byte(s[i]));
}
// A bound on any wait of the tests: far beyond any run here, only there to turn a hang into
// a failure.
constexpr auto kHangBound = std::chrono::seconds(120);
} // namespace

std::vector<std::byte> WavBytes(int bits, int channels, int rate, const std::vector<std::byte>& pcm) {
    std::vector<std::byte> v;
    const uint32_t align = static_cast<uint32_t>(bits / 8 * channels);
    PutText(v, "RIFF");
    Put32(v, static_cast<uint32_t>(36 + pcm.size()));
    PutText(v, "WAVE");
    PutText(v, "fmt ");
    Put32(v, 16);
    Put16(v, 1);
    Put16(v, static_cast<uint32_t>(channels));
    Put32(v, static_cast<uint32_t>(rate));
    Put32(v, static_cast<uint32_t>(rate) * align);
    Put16(v, align);
    Put16(v, static_cast<uint32_t>(bits));
    PutText(v, "data");
    Put32(v, static_cast<uint32_t>(pcm.size()));
    v.insert(v.end(), pcm.begin(), pcm.end());
    return v;
}

void WriteWav(const std::string& path, int bits, int channels, int rate,
              const std::vector<std::byte>& pcm) {
    WriteAll(path, WavBytes(bits, channels, rate, pcm));
}

std::vector<std::byte> S16Bytes(const std::vector<int16_t>& samples) {
    std::vector<std::byte> v(samples.size() * 2);
    std::memcpy(v.data(), samples.data(), v.size());
    return v;
}

std::vector<int16_t> S16Samples(const std::vector<std::byte>& bytes) {
    std::vector<int16_t> v(bytes.size() / 2);
    std::memcpy(v.data(), bytes.data(), v.size() * 2);
    return v;
}

std::vector<std::byte> MakeSignal(TSignal signal, int bits, int channels, size_t frames,
                                  uint32_t seed) {
    std::vector<std::byte> out;
    out.reserve(frames * static_cast<size_t>(channels * bits / 8));
    uint32_t state = seed * 2654435761u + 12345u;
    auto noise = [&] {
        state = state * 1664525u + 1013904223u;
        if (bits == 24)
            return static_cast<int32_t>(state >> 8) - (1 << 23);
        return static_cast<int32_t>(state >> 16) - 32768; // -32768..32767
    };
    const double scale = bits == 24 ? 30000.0 * 256 : 30000.0;
    for (size_t i = 0; i < frames; ++i) {
        int32_t first = 0;
        for (int c = 0; c < channels; ++c) {
            int32_t v = 0;
            switch (signal) {
            case TSignal::Silence: break;
            case TSignal::Noise: v = noise(); break;
            case TSignal::Sine:
                v = static_cast<int32_t>(
                    std::lround(scale * std::sin(static_cast<double>(i) * (0.031 + 0.007 * c))));
                break;
            case TSignal::SameChannels: v = c == 0 ? noise() / 3 : first; break;
            }
            if (c == 0)
                first = v;
            if (bits == 8) {
                out.push_back(std::byte(static_cast<uint8_t>((v >> 8) + 128)));
            } else if (bits == 24) {
                const auto u = static_cast<uint32_t>(v);
                for (int b = 0; b < 3; ++b)
                    out.push_back(std::byte(static_cast<uint8_t>(u >> (8 * b))));
            } else {
                const auto s = static_cast<uint16_t>(static_cast<int16_t>(v));
                out.push_back(std::byte(s & 0xFF));
                out.push_back(std::byte(s >> 8));
            }
        }
    }
    return out;
}

void WaitIdle(bw::TACSOutput& output) {
    const auto until = std::chrono::steady_clock::now() + kHangBound;
    while (output.Busy()) {
        if (std::chrono::steady_clock::now() > until) {
            ADD_FAILURE() << "the output never became idle";
            output.StopOutput();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void RunOutput(bw::TACSOutput& output) {
    output.StartOutput();
    WaitIdle(output);
}

TFileSizeLimit::TFileSizeLimit(uint64_t bytes) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    savedCur_ = saved.rlim_cur;
    savedMax_ = saved.rlim_max;
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
}

TFileSizeLimit::~TFileSizeLimit() {
    const rlimit saved{savedCur_, savedMax_};
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler_);
}

TDecoded DecodeStrict(const std::string& path, const std::string& format) {
    auto r = Run({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-err_detect", "crccheck+explode",
                  "-i", path, "-f", format, "-"});
    TDecoded d;
    d.ExitCode = r.ExitCode;
    d.Err = r.Err;
    const auto* p = reinterpret_cast<const std::byte*>(r.Out.data());
    d.Pcm.assign(p, p + r.Out.size());
    return d;
}

} // namespace bwtest
