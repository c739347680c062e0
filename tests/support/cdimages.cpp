#include "support/cdimages.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace bwtest {

namespace {

constexpr int32_t kSector = 2352;

std::vector<std::byte> DataTrack(double seconds) {
    const auto sectors = static_cast<int32_t>(seconds * 75);
    std::vector<std::byte> data(static_cast<size_t>(sectors) * kSector);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::byte>((i * 7 + i / kSector) & 0xFF);
    return data;
}

} // namespace

std::vector<std::byte> MakeTrackPcm(double seconds, int seed) {
    TTempDir dir;
    const std::string raw = dir.File("track.raw");
    RunOk(bwmedia::ToneOverNoiseCommand(raw, seconds, 220 + 97 * seed, 1000 + seed, true));
    return ReadAll(raw);
}

std::string Msf(int32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, (sectors / 75) % 60,
                  sectors % 75);
    return text;
}

TTestImage MakeImage(const std::string& dir, const std::string& name,
                     const std::vector<TTrackSpec>& tracks, const std::string& binName,
                     bool toc) {
    TTestImage image;
    const std::string bin = binName.empty() ? name + ".bin" : binName;
    image.Bin = dir + "/" + bin;
    image.Sheet = dir + "/" + name + (toc ? ".toc" : ".cue");
    std::vector<std::byte> all;
    std::string sheet = toc ? "CD_DA\n" : "FILE \"" + bin + "\" BINARY\n";
    int n = 0;
    for (const TTrackSpec& spec : tracks) {
        ++n;
        std::vector<std::byte> bytes = spec.Data ? DataTrack(spec.Seconds) : MakeTrackPcm(spec.Seconds, n);
        bytes.resize((bytes.size() + kSector - 1) / kSector * kSector);
        const auto start = static_cast<int32_t>(all.size() / kSector);
        const auto length = static_cast<int32_t>(bytes.size() / kSector);
        char number[16];
        std::snprintf(number, sizeof number, "%02d", n);
        if (toc) {
            if (spec.Data)
                ADD_FAILURE() << "the test images' .toc sheets hold audio tracks only";
            sheet += "TRACK AUDIO\nFILE \"" + bin + "\" " + Msf(start) + " " + Msf(length) + "\n";
        } else {
            sheet += std::string("  TRACK ") + number + (spec.Data ? " MODE1/2352\n" : " AUDIO\n") +
                     "    INDEX 01 " + Msf(start) + "\n";
        }
        image.StartLsn.push_back(start);
        all.insert(all.end(), bytes.begin(), bytes.end());
        image.Pcm.push_back(std::move(bytes));
    }
    image.LeadOutLsn = static_cast<int32_t>(all.size() / kSector);
    WriteAll(image.Bin, all);
    std::ofstream(image.Sheet, std::ios::binary) << sheet;
    return image;
}

} // namespace bwtest
