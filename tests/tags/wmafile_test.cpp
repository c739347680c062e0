#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/tagsource.h"
#include "tags/wmafile.h"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

using namespace bw;
using bwtest::LE16;
using bwtest::LE32;
using bwtest::Span;

namespace {

std::string Guid(std::initializer_list<int> b) {
    std::string s;
    for (int v : b)
        s += static_cast<char>(v);
    return s;
}
const std::string kHeader = Guid({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
const std::string kFileProps = Guid({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const std::string kStreamProps = Guid({0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65});
const std::string kExtContent = Guid({0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50});

std::string LE64(uint64_t v) { return LE32(static_cast<uint32_t>(v)) + LE32(static_cast<uint32_t>(v >> 32)); }

std::string Object(const std::string& guid, const std::string& body) {
    return guid + LE64(24 + body.size()) + body;
}

std::string Utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii)
        s += std::string{c, '\0'};
    return s + std::string(2, '\0');
}

// A header with file and stream properties (no play time) and the given extra objects.
std::string Asf(uint32_t maxBitRate, const std::vector<std::string>& extra, uint64_t playTime = 0,
                uint32_t avgBytesPerSecond = 16000) {
    std::string fileBody(80, '\0');
    fileBody.replace(40, 8, LE64(playTime));
    fileBody.replace(76, 4, LE32(maxBitRate));
    std::string streamBody(56, '\0');
    streamBody += LE16(2) + LE32(44100) + LE32(avgBytesPerSecond);
    std::vector<std::string> objects{Object(kFileProps, fileBody), Object(kStreamProps, streamBody)};
    objects.insert(objects.end(), extra.begin(), extra.end());
    std::string all;
    for (const auto& o : objects)
        all += o;
    return kHeader + LE64(30 + all.size()) + LE32(static_cast<uint32_t>(objects.size())) +
           std::string(2, '\0') + all;
}

TWMAfile LoadBytes(const std::string& bytes) {
    TWMAfile w;
    TMemorySource src(Span(bytes));
    EXPECT_TRUE(w.Load(src));
    return w;
}

} // namespace

TEST(WMAfile, DurationFromSizeAndMaximumBitRateWithoutAPlayTime) {
    std::string bytes = Asf(128000, {});
    bytes.resize(1600000, '\0');
    const auto w = LoadBytes(bytes);
    ASSERT_TRUE(w.Valid());
    EXPECT_DOUBLE_EQ(w.Duration(), 100.0);
    EXPECT_EQ(w.BitRate(), 128);
    EXPECT_EQ(w.ChannelModeText(), "Stereo");
    EXPECT_EQ(w.Track(), 1); // no track: the first
}

TEST(WMAfile, ExtendedDescriptorsByNameAndANumericTrackIgnored) {
    auto descriptor = [](const std::string& name, uint16_t type, const std::string& value) {
        return LE16(static_cast<uint16_t>(Utf16(name).size())) + Utf16(name) + LE16(type) +
               LE16(static_cast<uint16_t>(value.size())) + value;
    };
    const std::string body = LE16(4) + descriptor("WM/AlbumTitle", 0, Utf16("  Blue  ")) +
                             descriptor("wm/genre", 0, Utf16("Jazz")) +
                             descriptor("WM/Track", 3, LE32(4)) +
                             descriptor("WM/Year", 0, Utf16("1999"));
    const auto w = LoadBytes(Asf(128000, {Object(kExtContent, body)}));
    ASSERT_TRUE(w.Valid());
    EXPECT_EQ(w.Album(), "Blue");
    EXPECT_EQ(w.Genre(), "Jazz");
    EXPECT_EQ(w.Year(), "1999");
    EXPECT_EQ(w.Track(), 1); // stored as a number, not a string

    const std::string text = LE16(1) + descriptor("WM/Track", 0, Utf16("4"));
    EXPECT_EQ(LoadBytes(Asf(128000, {Object(kExtContent, text)})).Track(), 5); // counts from 0
}

TEST(WMAfile, ImplausibleValuesAndBrokenObjectsAreNotValid) {
    // Both sides of each rate's bounds; 320 kbit/s (40000 bytes a second) is a rate WMA
    // files are written at.
    for (const auto& [maxBitRate, avgBytes, valid] : std::vector<std::tuple<uint32_t, uint32_t, bool>>{
             {0, 16000, false}, {1, 16000, true}, {320000, 16000, true}, {320001, 16000, false},
             {128000, 0, false}, {128000, 1, true}, {128000, 40000, true}, {128000, 40001, false}})
        EXPECT_EQ(LoadBytes(Asf(maxBitRate, {}, 0, avgBytes)).Valid(), valid) << maxBitRate << " " << avgBytes;
    // An object that claims a size smaller than its own header ends the walk.
    std::string broken = Asf(128000, {kExtContent + LE64(0)});
    EXPECT_TRUE(LoadBytes(broken).Valid());
    EXPECT_FALSE(LoadBytes("not an asf file at all").Valid());
}

TEST(WMAfile, RealFileMatchesFfprobe) {
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("t.wav"), 5.0);
    // The top rate, at which the WMA target writes by default, is read like any other.
    bwtest::RunOk({"ffmpeg", "-v", "error", "-i", dir.File("t.wav"), "-c:a", "wmav2", "-b:a", "320k", dir.File("top.wma")});
    TWMAfile top;
    EXPECT_TRUE(top.Load(dir.File("top.wma")) && top.Valid());
    bwtest::RunOk({"ffmpeg", "-v", "error", "-i", dir.File("t.wav"), "-c:a", "wmav2", "-b:a",
                   "96k", "-metadata", "title=Sea Song", "-metadata", "artist=Ann",
                   "-metadata", "album=Shore", "-metadata", "genre=Folk", "-metadata",
                   "date=2001", dir.File("t.wma")});
    TWMAfile w;
    ASSERT_TRUE(w.Load(dir.File("t.wma")));
    ASSERT_TRUE(w.Valid());
    const double ref = bwtest::FfprobeDuration(dir.File("t.wma"));
    EXPECT_NEAR(w.Duration(), ref, ref * 0.01);
    EXPECT_EQ(w.Title(), "Sea Song");
    EXPECT_EQ(w.Artist(), "Ann");
    EXPECT_EQ(w.Album(), "Shore");
    EXPECT_EQ(w.Genre(), "Folk");
    EXPECT_EQ(w.SampleRate(), 44100);
    EXPECT_EQ(w.Channels(), 2);
}
