#include "encoders/wavoptions.h"

#include <algorithm>
#include <cstdlib>

namespace bw {

int WavSampleRate(const TWavOptions& o) {
    const size_t i = static_cast<size_t>(std::clamp<int>(o.WAVSamplerate, 0, kWavSamplerates.size() - 1));
    return std::atoi(kWavSamplerates[i]);
}

int WavChannelCount(const TWavOptions& o) { return o.WAVChannels == 0 ? 2 : 1; }

int WavBits(const TWavOptions& o) { return o.WAVbps == 0 ? 16 : 8; }

TCommandLine BuildResampleCommand(const std::string& program, int rate, int bits, bool normalize,
                                  const std::string& input, const std::string& output) {
    TCommandLine line;
    line.AddWord(program);
    line.Add(" --rate " + std::to_string(rate) + " --bits " + std::to_string(bits));
    if (normalize)
        line.Add(" --normalize");
    line.AddQuoted(" ", input);
    line.AddQuoted(" ", output);
    return line;
}

} // namespace bw
