#include "encoders/wavpackoptions.h"

namespace bw {

std::string WavPackBitsText(int bitsTimesTen) {
    return std::to_string(bitsTimesTen / 10) + "." + std::to_string(bitsTimesTen % 10);
}

TCommandLine BuildWavPackOptions(const TWavPackOptions& o) {
    // "Normal" is wavpack's default and has no switch of its own.
    static constexpr std::array<const char*, 4> kModeSwitch{" -f", "", " -h", " -hh"};
    // -i: a source whose length is only estimated comes with a header that states none,
    // which wavpack would otherwise refuse as cut short; it counts what it reads instead.
    TCommandLine line;
    line.Add("-q -y -i");
    if (o.WVMode >= 0 && o.WVMode <= kWavPackMaxMode)
        line.Add(kModeSwitch[static_cast<size_t>(o.WVMode)]);
    if (o.WVHybrid) {
        line.Add(" -b" + WavPackBitsText(o.WVBits));
        if (o.WVCorrection)
            line.Add(" -c");
    }
    return line;
}

} // namespace bw
