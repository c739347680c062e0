#include "audio/wmaencoder.h"
#include "encoders/wmaoptions.h"
#include "support/testsupport.h"
#include "tags/wmafile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using bw::TWmaEncoder;
using bw::TWmaTag;
using bwtest::RunOk;
using bwtest::TTempDir;

namespace {

// wmav2's frame length at a sample rate. A decoded file may differ from the input by up to
// one frame.
int WmaFrameLength(int rate) { return rate <= 16000 ? 512 : rate <= 22050 ? 1024 : 2048; }

// A sine per channel, at a different pitch in each, at about -6 dB.
std::vector<std::byte> Tones(int rate, int channels, double seconds) {
    const auto frames = static_cast<size_t>(rate * seconds);
    std::vector<std::byte> pcm(frames * static_cast<size_t>(channels) * 2);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double hz = 300.0 + 200.0 * c;
            const auto s = static_cast<int16_t>(16000 * std::sin(2 * M_PI * hz * i / rate));
            std::memcpy(&pcm[(i * channels + c) * 2], &s, 2);
        }
    return pcm;
}

// Encodes pcm in blocks of 10240 bytes, as the conversion hands them over. Returns Close().
bool Encode(TWmaEncoder& enc, std::span<const std::byte> pcm) {
    bool ok = true;
    for (size_t at = 0; at < pcm.size(); at += 10240)
        ok = enc.Write(pcm.subspan(at, std::min<size_t>(10240, pcm.size() - at))) && ok;
    return enc.Close() && ok;
}

// ffprobe's key=value lines for the given entries.
std::map<std::string, std::string> Probe(const std::string& path, const std::string& entries) {
    const std::string out = RunOk({"ffprobe", "-v", "error", "-select_streams", "a:0",
                                   "-show_entries", entries, "-of", "default=nw=1", path});
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

} // namespace

// Every tag arrives under its own name with its value, once, in the order given, for
// FFmpeg's reader and for mutagen's, which reads the ASF objects as they are.
TEST(WmaEncoder, TagsArriveUnderTheirOwnNames) {
    TTempDir dir;
    const auto out = dir.File("t.wma");
    const std::vector<TWmaTag> tags{
        {"Title", "Süße Grüße"},     {"Author", "Ærø Band"},  {"Description", "a comment"},
        {"WM/AlbumTitle", "Album"}, {"WM/Genre", "Rock"},     {"WM/Year", "1999"},
        {"WM/TRACK", "6"},          {"WM/TrackNumber", "7"},
    };
    TWmaEncoder enc;
    ASSERT_TRUE(enc.Open(out, 44100, 2, 128000, tags)) << enc.LastError();
    ASSERT_TRUE(Encode(enc, Tones(44100, 2, 1))) << enc.LastError();

    const auto r = bwtest::Run({"/usr/bin/python3", "-c",
                        "import sys, mutagen.asf\n"
                        "for k, v in mutagen.asf.ASF(sys.argv[1]).tags:\n"
                        "    print(k + '=' + str(v))\n",
                        out});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string expected;
    for (const auto& t : tags)
        expected += t.Name + "=" + t.Value + "\n";
    // The library adds its own name as the encoding tool: allowed, after ours.
    EXPECT_EQ(r.Out.substr(0, expected.size()), expected) << r.Out;

    const auto probed = Probe(out, "format_tags");
    EXPECT_EQ(probed.at("TAG:title"), "Süße Grüße");
    EXPECT_EQ(probed.at("TAG:artist"), "Ærø Band");
    EXPECT_EQ(probed.at("TAG:comment"), "a comment");
    EXPECT_EQ(probed.at("TAG:album"), "Album");
    EXPECT_EQ(probed.at("TAG:genre"), "Rock");
    EXPECT_EQ(probed.at("TAG:WM/Year"), "1999");
    EXPECT_EQ(probed.at("TAG:track"), "7");

    // Our own reader takes title, author and description from where Windows Media keeps them.
    bw::TWMAfile w;
    ASSERT_TRUE(w.Load(out));
    EXPECT_EQ(w.Title(), "Süße Grüße");
    EXPECT_EQ(w.Artist(), "Ærø Band");
    EXPECT_EQ(w.Comment(), "a comment");
    EXPECT_EQ(w.Album(), "Album");
    EXPECT_EQ(w.Year(), "1999");
    EXPECT_EQ(w.Track(), 7); // "WM/TRACK" counts from 0
}

// Every bitrate offered for every rate and channel count encodes, and the file decodes
// to that rate and channel count, the input's length within one frame, and the bitrate.
TEST(WmaEncoder, EveryOfferedBitrateEncodes) {
    TTempDir dir;
    const auto out = dir.File("b.wma");
    int pairs = 0;
    for (const char* rateText : bw::kWmaSamplerates) {
        const int rate = std::atoi(rateText);
        for (int channels = 1; channels <= 2; ++channels) {
            const auto pcm = Tones(rate, channels, 3);
            const auto frames = static_cast<int64_t>(pcm.size() / (2 * channels));
            for (const int bitrate : bw::WmaEncoderRates(rate, channels)) {
                SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) +
                             " channels, " + std::to_string(bitrate) + " bit/s");
                ++pairs;
                TWmaEncoder enc;
                ASSERT_TRUE(enc.Open(out, rate, channels, bitrate, {})) << enc.LastError();
                ASSERT_TRUE(Encode(enc, pcm)) << enc.LastError();
                EXPECT_EQ(enc.FramesWritten(), static_cast<uint64_t>(frames));
                const auto p = Probe(out, "stream=sample_rate,channels,bit_rate");
                EXPECT_EQ(p.at("sample_rate"), std::to_string(rate));
                EXPECT_EQ(p.at("channels"), std::to_string(channels));
                EXPECT_EQ(p.at("bit_rate"), std::to_string(bitrate));
                const auto decoded = bwtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i",
                                          out, "-f", "s16le", "-"});
                ASSERT_EQ(decoded.ExitCode, 0) << decoded.Err;
                const auto decodedFrames =
                    static_cast<int64_t>(decoded.Out.size() / (2 * channels));
                EXPECT_LE(std::abs(decodedFrames - frames), WmaFrameLength(rate))
                    << decodedFrames << " frames decoded from " << frames;
            }
        }
    }
    EXPECT_GT(pairs, 0);
}

// Refused values and files that cannot be created fail in Open with a reason and leave no
// file; an existing file is replaced only once the encoder has taken the values.
TEST(WmaEncoder, OpenFailsWithAReasonAndLeavesNoFile) {
    TTempDir dir;
    const auto pcm = Tones(44100, 2, 1);
    struct TCase {
        std::string path;
        int rate, channels, bitrate;
        std::string error;
    };
    const std::vector<TCase> cases{
        {dir.File("a.wma"), 44100, 2, 0, "the WMA encoder does not take 0 bits per second"},
        {dir.File("a.wma"), 44100, 2, 16000,
         "the WMA encoder does not take 16000 bits per second at 44100 Hz in stereo (Invalid "
         "argument)"},
        {dir.File("a.wma"), 96000, 2, 128000,
         "the WMA encoder does not take 128000 bits per second at 96000 Hz in stereo (Invalid "
         "argument)"},
        {dir.File("a.wma"), 44100, 6, 128000,
         "the WMA encoder takes mono or stereo, not 6 channels"},
        {dir.File("missing/a.wma"), 44100, 2, 128000,
         "cannot create the file \"" + dir.File("missing/a.wma") +
             "\": No such file or directory"},
        {dir.Path().string(), 44100, 2, 128000,
         "cannot create the file \"" + dir.Path().string() + "\": Is a directory"},
    };
    const std::vector<TWmaTag> title{{"Title", "x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        TWmaEncoder enc;
        EXPECT_FALSE(enc.Open(c.path, c.rate, c.channels, c.bitrate, title));
        EXPECT_EQ(enc.LastError(), c.error);
        EXPECT_FALSE(enc.IsOpen());
        EXPECT_FALSE(enc.Write(pcm));
        EXPECT_EQ(bwtest::FolderEntries(dir.Path().string()), std::vector<std::string>{});
    }
    // A file in the way stays as it is when the values are refused, and is replaced when not.
    const auto old = dir.File("old.wma");
    bwtest::WriteAll(old, std::vector<std::byte>(100, std::byte{7}));
    TWmaEncoder enc;
    EXPECT_FALSE(enc.Open(old, 44100, 2, 0, {}));
    EXPECT_EQ(bwtest::ReadAll(old).size(), 100u);
    ASSERT_TRUE(enc.Open(old, 44100, 2, 128000, {})) << enc.LastError();
    ASSERT_TRUE(Encode(enc, pcm)) << enc.LastError();
    EXPECT_EQ(Probe(old, "stream=codec_name").at("codec_name"), "wmav2");
}

// A disk that fills up (a file size limit, in a child process so that the limit and the
// signal it raises stay there) makes Close report failure: at the very end, where only the
// trailer and the header rewrite are still to go, and part way through.
TEST(WmaEncoder, CloseFailsWhenTheDiskIsFull) {
    TTempDir dir;
    const auto pcm = Tones(44100, 2, 5);
    const std::vector<TWmaTag> tags{{"Title", "t"}, {"WM/AlbumTitle", "a"}};
    const auto full = dir.File("full.wma");
    {
        TWmaEncoder enc;
        ASSERT_TRUE(enc.Open(full, 44100, 2, 128000, tags)) << enc.LastError();
        ASSERT_TRUE(Encode(enc, pcm)) << enc.LastError();
    }
    const auto size = bwtest::ReadAll(full).size();
    for (const size_t limit : {size - 1, size / 2}) {
        SCOPED_TRACE(limit);
        const auto out = dir.File("cut.wma");
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit r{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            setrlimit(RLIMIT_FSIZE, &r);
            TWmaEncoder enc;
            if (!enc.Open(out, 44100, 2, 128000, tags))
                _exit(2);
            bool written = true;
            for (size_t at = 0; at < pcm.size(); at += 10240)
                written = enc.Write(std::span(pcm).subspan(at, std::min<size_t>(10240, pcm.size() - at))) && written;
            const bool closed = enc.Close();
            // 10: Close failed after every write went through; 11: a write failed first.
            _exit(closed ? 0 : enc.LastError().find("cut.wma") == std::string::npos ? 3
                           : written ? 10 : 11);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (limit == size - 1)
            EXPECT_EQ(WEXITSTATUS(status), 10);
        else
            EXPECT_TRUE(WEXITSTATUS(status) == 10 || WEXITSTATUS(status) == 11)
                << WEXITSTATUS(status);
    }
}
