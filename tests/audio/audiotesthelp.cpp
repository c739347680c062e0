#include "audio/audiotesthelp.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace bwtest {

void MakeSignal(const std::string& path, double seconds, int rate, int channels,
                const std::vector<std::string>& extraOptions) {
    std::string exprs;
    for (int c = 0; c < channels; ++c) {
        if (c > 0)
            exprs += "|";
        const int f1 = 330 + 110 * c;
        exprs += "0.45*sin(2*PI*" + std::to_string(f1) + "*t)+0.3*sin(2*PI*1234.567*t+" +
                 std::to_string(c) + ")";
    }
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "aevalsrc=" + exprs + ":s=" + std::to_string(rate) +
                                      ":d=" + std::to_string(seconds)};
    argv.insert(argv.end(), extraOptions.begin(), extraOptions.end());
    argv.push_back(path);
    RunOk(argv);
}

std::vector<std::byte> ReadToEnd(bw::TAudioStream& stream, size_t blockSize) {
    std::vector<std::byte> all;
    std::vector<std::byte> block(blockSize);
    for (;;) {
        const int64_t n = stream.Read(block);
        if (n < 0) {
            ADD_FAILURE() << "read error " << static_cast<int>(stream.LastError());
            break;
        }
        if (n == 0)
            break;
        all.insert(all.end(), block.begin(), block.begin() + n);
    }
    return all;
}

} // namespace bwtest
