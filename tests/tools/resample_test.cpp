// The resampler program, run for real on WAV files made by FFmpeg or byte by byte, its
// outputs decoded by FFmpeg.

#include "support/testsupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace bwtest;

namespace {

TRunResult Resample(std::vector<std::string> args) {
    args.insert(args.begin(), bwmedia::ResamplerProgram());
    return Run(args);
}

// The error contract: one line on standard error.
void ExpectOneErrorLine(const TRunResult& r) {
    EXPECT_FALSE(r.Err.empty());
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_EQ(r.Err.back(), '\n');
}

void PutLE(std::vector<std::byte>& v, uint32_t x, int bytes) {
    for (int i = 0; i < bytes; ++i)
        v.push_back(static_cast<std::byte>(x >> (8 * i)));
}
void PutTag(std::vector<std::byte>& v, const char* tag) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<std::byte>(tag[i]));
}

struct TChunk {
    const char* Id;
    std::vector<std::byte> Body;
    int64_t Size = -1; // the size field when it should lie; -1: the body's size
};

TChunk Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<std::byte> b;
    PutLE(b, tag, 2);
    PutLE(b, channels, 2);
    PutLE(b, rate, 4);
    PutLE(b, rate * channels * bits / 8, 4);
    PutLE(b, channels * bits / 8, 2);
    PutLE(b, bits, 2);
    return {"fmt ", b};
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format tag in the GUID.
TChunk FmtExtensible(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subTag) {
    TChunk c = Fmt(0xFFFE, channels, rate, bits);
    PutLE(c.Body, 22, 2);
    PutLE(c.Body, bits, 2);
    PutLE(c.Body, channels == 2 ? 3 : 4, 4);
    PutLE(c.Body, subTag, 2);
    for (int x :
         {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        c.Body.push_back(static_cast<std::byte>(x));
    return c;
}

std::vector<std::byte> Samples16(const std::vector<int16_t>& s) {
    std::vector<std::byte> b;
    for (int16_t x : s)
        PutLE(b, static_cast<uint16_t>(x), 2);
    return b;
}

std::vector<std::byte> Wav(const std::vector<TChunk>& chunks) {
    std::vector<std::byte> w;
    PutTag(w, "RIFF");
    PutLE(w, 0, 4);
    PutTag(w, "WAVE");
    for (const TChunk& c : chunks) {
        PutTag(w, c.Id);
        PutLE(w, c.Size < 0 ? static_cast<uint32_t>(c.Body.size()) : static_cast<uint32_t>(c.Size),
              4);
        w.insert(w.end(), c.Body.begin(), c.Body.end());
        if (c.Body.size() % 2 == 1 && c.Size < 0)
            w.push_back(std::byte{0});
    }
    const uint32_t riff = static_cast<uint32_t>(w.size() - 8);
    for (int i = 0; i < 4; ++i)
        w[4 + i] = static_cast<std::byte>(riff >> (8 * i));
    return w;
}

uint32_t U32At(const std::vector<std::byte>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t U16At(const std::vector<std::byte>& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint16_t>(b[at]) | static_cast<uint16_t>(b[at + 1])
                                                                    << 8);
}
std::string TagAt(const std::vector<std::byte>& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

// Checks the plain 44-byte header and returns the data bytes after it.
std::vector<std::byte> DataOfPlainWav(const std::string& path, uint32_t rate, uint16_t channels,
                                      uint16_t bits) {
    const auto b = ReadAll(path);
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44)
        return {};
    EXPECT_EQ(TagAt(b, 0), "RIFF");
    EXPECT_EQ(U32At(b, 4), b.size() - 8);
    EXPECT_EQ(TagAt(b, 8), "WAVE");
    EXPECT_EQ(TagAt(b, 12), "fmt ");
    EXPECT_EQ(U32At(b, 16), 16u);
    EXPECT_EQ(U16At(b, 20), 1u);
    EXPECT_EQ(U16At(b, 22), channels);
    EXPECT_EQ(U32At(b, 24), rate);
    EXPECT_EQ(U32At(b, 28), rate * channels * bits / 8);
    EXPECT_EQ(U16At(b, 32), channels * bits / 8);
    EXPECT_EQ(U16At(b, 34), bits);
    EXPECT_EQ(TagAt(b, 36), "data");
    EXPECT_EQ(U32At(b, 40), b.size() - 44);
    return std::vector<std::byte>(b.begin() + 44, b.end());
}

std::vector<int16_t> DecodeS16(const std::string& path) {
    const auto raw = FfmpegDecode(path, "s16le");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

// The data bytes of a WAV file FFmpeg wrote, wherever its chunks put them.
std::vector<std::byte> DataOfAnyWav(const std::vector<std::byte>& b) {
    for (size_t pos = 12; pos + 8 <= b.size();) {
        const uint32_t size = U32At(b, pos + 4);
        if (TagAt(b, pos) == "data")
            return std::vector<std::byte>(b.begin() + pos + 8,
                                          b.begin() + std::min<size_t>(b.size(), pos + 8 + size));
        pos += 8 + size + (size & 1);
    }
    return {};
}

} // namespace

// Every rate the WAV page offers, from a 44.1 kHz tone, mono and stereo, 8 and 16 bits in
// and out: the header describes the output, the length is the input's duration at the new
// rate, and the tone keeps its pitch and level.
TEST(Resample, EveryOfferedRateFrom44100) {
    TTempDir dir;
    const int inFrames = 44100 + 4321; // a length no rate divides evenly
    for (const int channels : {1, 2}) {
        for (const int inBits : {8, 16}) {
            const std::string in =
                dir.File("in" + std::to_string(channels) + std::to_string(inBits) + ".wav");
            // FFmpeg's sine is at an eighth of full scale.
            RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                   "sine=frequency=440:sample_rate=44100", "-af",
                   "atrim=end_sample=" + std::to_string(inFrames) +
                       (channels == 2 ? ",pan=stereo|c0=c0|c1=c0" : ""),
                   "-c:a", inBits == 8 ? "pcm_u8" : "pcm_s16le", in});
            for (const uint32_t rate :
                 {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000, 6000}) {
                for (const uint16_t bits : {8, 16}) {
                    SCOPED_TRACE(std::to_string(channels) + " ch, " + std::to_string(inBits) +
                                 " to " + std::to_string(bits) + " bits, " + std::to_string(rate) +
                                 " Hz");
                    const std::string out = dir.File("out.wav");
                    const auto r = Resample(
                        {"--rate", std::to_string(rate), "--bits", std::to_string(bits), in, out});
                    ASSERT_EQ(r.ExitCode, 0) << r.Err;
                    EXPECT_TRUE(r.Err.empty());
                    const auto data =
                        DataOfPlainWav(out, rate, static_cast<uint16_t>(channels), bits);
                    const auto pcm = DecodeS16(out);
                    const double expected = static_cast<double>(inFrames) * rate / 44100;
                    EXPECT_NEAR(static_cast<double>(pcm.size()) / channels, expected, 1.0);
                    EXPECT_EQ(data.size(), pcm.size() * bits / 8);
                    // Pitch: swings of the first channel from a quarter of the tone's height
                    // above zero to as far below (8-bit dither makes many zero crossings).
                    const size_t from = rate / 10, to = pcm.size() / channels - rate / 10;
                    int crossings = 0, side = 0;
                    double power = 0;
                    for (size_t i = from + 1; i < to; ++i) {
                        const int x = pcm[i * channels];
                        const int now = x > 1024 ? 1 : x < -1024 ? -1 : side;
                        crossings += now != side && side != 0;
                        side = now;
                        power += static_cast<double>(x) * x;
                    }
                    const double seconds = static_cast<double>(to - from) / rate;
                    EXPECT_NEAR(crossings / seconds, 880.0, 880.0 * 0.01);
                    // Level: the eighth of full scale the tone had, within 0.2 dB.
                    const double rms = std::sqrt(power / static_cast<double>(to - from - 1));
                    EXPECT_NEAR(20 * std::log10(rms / (32768.0 / 8 / std::sqrt(2.0))), 0.0, 0.2);
                }
            }
        }
    }
}

// Neither rate nor width change: the data comes out byte for byte, whatever chunks (a LIST
// tag, an odd-sized chunk and its pad byte, a chunk after the data) surround it in the input.
TEST(Resample, SameRateAndWidthCopiesTheSamples) {
    TTempDir dir;
    for (const char* codec : {"pcm_u8", "pcm_s16le"}) {
        SCOPED_TRACE(codec);
        const std::string in = dir.File("noise.wav"), out = dir.File("out.wav");
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
               "anoisesrc=r=22050:d=1.3", "-ac", "2", "-c:a", codec, in});
        auto bytes = ReadAll(in);
        const auto data = DataOfAnyWav(bytes);
        ASSERT_FALSE(data.empty());
        // Wrap the same samples in odd neighbours as well.
        const uint16_t bits = std::string(codec) == "pcm_u8" ? 8 : 16;
        WriteAll(dir.File("odd.wav"), Wav({{"junk", {std::byte{1}, std::byte{2}, std::byte{3}}},
                                           Fmt(1, 2, 22050, bits),
                                           {"data", data},
                                           {"id3 ", std::vector<std::byte>(7, std::byte{0x49})}}));
        for (const std::string& source : {in, dir.File("odd.wav")}) {
            const auto r =
                Resample({"--rate", "22050", "--bits", std::to_string(bits), source, out});
            ASSERT_EQ(r.ExitCode, 0) << r.Err;
            EXPECT_TRUE(DataOfPlainWav(out, 22050, 2, bits) == data);
        }
    }
}

// --normalize lands the output's highest peak on full scale: a quiet tone is raised evenly,
// and a loud square wave, whose resampled overshoot clips without it, is lowered until
// nothing clips. Silence stays silence.
TEST(Resample, NormalizeLandsThePeakOnFullScale) {
    TTempDir dir;
    const std::string quiet = dir.File("quiet.wav"), loud = dir.File("loud.wav");
    const std::string silent = dir.File("silent.wav");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "sine=frequency=997:sample_rate=44100:duration=2", "-af", "volume=0.2", "-ac", "2",
           "-c:a", "pcm_s16le", quiet});
    std::vector<int16_t> square(44100 * 2);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 2) % 100 < 50 ? 32767 : -32768;
    WriteAll(loud, Wav({Fmt(1, 2, 44100, 16), {"data", Samples16(square)}}));
    WriteAll(silent, Wav({Fmt(1, 1, 44100, 16), {"data", Samples16(std::vector<int16_t>(30000))}}));
    const std::string plain = dir.File("plain.wav"), norm = dir.File("norm.wav");
    // Two samples next to each other in one channel both at full scale: a clipped run.
    const auto clippedRuns = [](const std::vector<int16_t>& s) {
        int runs = 0;
        for (size_t i = 2; i < s.size(); ++i)
            runs += std::abs(s[i]) >= 32767 && std::abs(s[i - 2]) >= 32767;
        return runs;
    };
    const auto peak = [](const std::vector<int16_t>& s) {
        int p = 0;
        for (const int16_t x : s)
            p = std::max(p, std::abs(static_cast<int>(x)));
        return p;
    };
    for (const std::string& source : {quiet, loud}) {
        SCOPED_TRACE(source);
        ASSERT_EQ(Resample({"--rate", "48000", "--bits", "16", source, plain}).ExitCode, 0);
        const auto r = Resample({"--rate", "48000", "--bits", "16", "--normalize", source, norm});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const auto p = DecodeS16(plain), n = DecodeS16(norm);
        ASSERT_EQ(p.size(), n.size());
        EXPECT_EQ(peak(n), 32767);
        EXPECT_EQ(clippedRuns(n), 0);
        if (source == quiet) {
            // One gain for the whole file: the level rises by full scale over the old peak.
            double pp = 0, nn = 0;
            for (size_t i = 0; i < p.size(); ++i) {
                pp += static_cast<double>(p[i]) * p[i];
                nn += static_cast<double>(n[i]) * n[i];
            }
            EXPECT_NEAR(std::sqrt(nn / pp) / (32767.0 / peak(p)), 1.0, 0.002);
        } else {
            EXPECT_GT(clippedRuns(p), 100); // the overshoot the normalizing must avoid
        }
    }
    // 8 bits: the quiet tone's peak reaches the top of the 8-bit range.
    ASSERT_EQ(Resample({"--rate", "22050", "--bits", "8", "--normalize", quiet, norm}).ExitCode, 0);
    const auto n8 = DataOfPlainWav(norm, 22050, 2, 8);
    int peak8 = 0;
    for (const std::byte b : n8)
        peak8 = std::max(peak8, std::abs(static_cast<int>(b) - 128));
    EXPECT_GE(peak8, 127);
    for (const std::string bits : {"8", "16"}) {
        ASSERT_EQ(
            Resample({"--rate", "48000", "--bits", bits, "--normalize", silent, norm}).ExitCode, 0);
        const auto s = DataOfPlainWav(norm, 48000, 1, static_cast<uint16_t>(std::stoi(bits)));
        EXPECT_EQ(s.size(), bits == "8" ? 32653u : 2 * 32653u);
        if (bits == "16")
            EXPECT_TRUE(
                std::all_of(s.begin(), s.end(), [](std::byte b) { return b == std::byte{0}; }));
        else // only the dither's own ±1
            EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](std::byte b) {
                return std::abs(static_cast<int>(b) - 128) <= 1;
            }));
    }
}

// 8-bit output is dithered: a ramp over the lowest two 8-bit steps comes out as a mix of
// neighbouring values whose average follows the ramp, where rounding would give flat steps.
TEST(Resample, EightBitOutputIsDithered) {
    TTempDir dir;
    const int frames = 44100 * 4;
    std::vector<int16_t> ramp(frames);
    for (int i = 0; i < frames; ++i)
        ramp[i] = static_cast<int16_t>(512LL * i / frames); // 0 to 2 steps of 256
    const std::string in = dir.File("ramp.wav"), out = dir.File("out.wav");
    WriteAll(in, Wav({Fmt(1, 1, 44100, 16), {"data", Samples16(ramp)}}));
    for (const uint32_t rate : {44100u, 22050u}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(Resample({"--rate", std::to_string(rate), "--bits", "8", in, out}).ExitCode, 0);
        const auto data = DataOfPlainWav(out, rate, 1, 8);
        ASSERT_EQ(data.size(), frames * static_cast<uint64_t>(rate) / 44100);
        // Eight stretches, leaving out the filter's edges.
        const size_t part = data.size() / 8;
        for (size_t k = 0; k < 8; ++k) {
            const size_t from = k * part + part / 10, to = (k + 1) * part - part / 10;
            double sum = 0;
            std::vector<int> seen;
            for (size_t i = from; i < to; ++i) {
                sum += static_cast<int>(data[i]) - 128;
                seen.push_back(static_cast<int>(data[i]));
            }
            std::sort(seen.begin(), seen.end());
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
            const double level = 2.0 * (k + 0.5) / 8; // the ramp's average here, in 8-bit steps
            EXPECT_NEAR(sum / static_cast<double>(to - from), level, 0.05) << "stretch " << k;
            EXPECT_GE(seen.size(), 2u) << "stretch " << k;
        }
    }
}

// Bad command lines: status 2, one line saying what is wrong, no file made. Both sides of
// each boundary are in the table; the good ones must work.
TEST(Resample, CommandLine) {
    TTempDir dir;
    const std::string in = dir.File("in.wav");
    WriteAll(in, Wav({Fmt(1, 1, 8000, 16), {"data", Samples16(std::vector<int16_t>(800, 1000))}}));
    WriteAll(dir.File("-x.wav"), ReadAll(in));
    // A file name that starts with a dash is one only after "--" or with a folder before it.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    struct TBack {
        std::filesystem::path Path;
        ~TBack() { std::filesystem::current_path(Path); }
    } back{cwd};
    const std::string out = dir.File("out.wav");
    struct TCase {
        std::vector<std::string> Args;
        int Status;
    };
    const std::vector<TCase> cases = {
        {{"--rate", "1000", "--bits", "16", in, out}, 0},
        {{"--rate", "999", "--bits", "16", in, out}, 2},
        {{"--rate", "384000", "--bits", "8", in, out}, 0},
        {{"--rate", "384001", "--bits", "8", in, out}, 2},
        {{"--rate", "48k", "--bits", "16", in, out}, 2},
        {{"--rate", "-48000", "--bits", "16", in, out}, 2},
        {{"--rate", "", "--bits", "16", in, out}, 2},
        {{"--bits", "16", "--rate", "22050", "--normalize", in, out}, 0},
        {{"--rate", "22050", "--bits", "24", in, out}, 2},
        {{"--rate", "22050", "--bits", "0", in, out}, 2},
        {{"--bits", "16", in, out}, 2},
        {{"--rate", "22050", in, out}, 2},
        {{"--rate", "22050", "--bits", "16", in, out, "--rate"}, 2},
        {{"--rate", "22050", "--bits", "16", "--normalise", in, out}, 2},
        {{"--rate=22050", "--bits", "16", in, out}, 2},
        {{"--rate", "22050", "--bits", "16", "-", out}, 2},
        {{"--rate", "22050", "--bits", "16", in}, 2},
        {{"--rate", "22050", "--bits", "16", in, out, dir.File("third.wav")}, 2},
        {{"--rate", "22050", "--bits", "16", in, in}, 2},
        {{"--rate", "22050", "--bits", "16", "-x.wav", out}, 2},
        {{"--rate", "22050", "--bits", "16", "--", "-x.wav", out}, 0},
        {{"--rate", "22050", "--bits", "16", "./-x.wav", out}, 0},
        {{"--rate", "22050", "--bits", "16", "--", "--normalize", out}, 1}, // a file of that name
    };
    for (const TCase& c : cases) {
        std::string line;
        for (const auto& a : c.Args)
            line += a + " ";
        SCOPED_TRACE(line);
        std::filesystem::remove(out);
        const auto r = Resample(c.Args);
        EXPECT_EQ(r.ExitCode, c.Status) << r.Err;
        if (c.Status == 0) {
            EXPECT_TRUE(r.Err.empty()) << r.Err;
            EXPECT_TRUE(std::filesystem::exists(out));
        } else {
            ExpectOneErrorLine(r);
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
    EXPECT_EQ(FolderEntries(dir.Path().string()), (std::vector<std::string>{"-x.wav", "in.wav"}));
}

// Inputs that are no readable WAV: status 1, one line naming the file, no output left. A
// valid file cut at every length inside its header counts among them; what a damaged but
// usable file still holds is read.
TEST(Resample, DamagedInputs) {
    TTempDir dir;
    const std::vector<int16_t> samples{100, -200, 300, -400, 500, -600};
    const auto data = Samples16(samples);
    const auto good = Wav({Fmt(1, 2, 44100, 16), {"data", data}});
    std::vector<std::pair<std::string, std::vector<std::byte>>> bad;
    for (size_t n = 0; n < 44; ++n)
        bad.push_back({"cut at " + std::to_string(n), {good.begin(), good.begin() + n}});
    // A line break in the chunk's name must not break the one error line.
    bad.push_back({"a chunk larger than the file",
                   Wav({{"L\nST", {}, 0xFFFFFFF0}, Fmt(1, 2, 44100, 16), {"data", data}})});
    // Ten thousand chunk headers are read at most, the data's among them.
    const auto chunksBefore = [&](int empty) {
        std::vector<TChunk> chunks(empty, TChunk{"junk", {}});
        chunks.push_back(Fmt(1, 2, 44100, 16));
        chunks.push_back({"data", data});
        return Wav(chunks);
    };
    bad.push_back({"10001 chunks", chunksBefore(9999)});
    bad.push_back(
        {"a huge fmt chunk", Wav({{"fmt ", std::vector<std::byte>(2000)}, {"data", data}})});
    bad.push_back({"fmt past the end", Wav({{"fmt ", Fmt(1, 2, 44100, 16).Body, 0xFFFFFFFE}})});
    bad.push_back({"fmt too short", Wav({{"fmt ", std::vector<std::byte>(14)}, {"data", data}})});
    bad.push_back({"no fmt", Wav({{"data", data}})});
    bad.push_back({"no data", Wav({Fmt(1, 2, 44100, 16)})});
    bad.push_back({"not WAVE", [&] {
                       auto w = good;
                       w[8] = std::byte{'A'};
                       return w;
                   }()});
    bad.push_back({"float samples", Wav({Fmt(3, 2, 44100, 32), {"data", data}})});
    bad.push_back({"24 bits", Wav({Fmt(1, 2, 44100, 24), {"data", data}})});
    bad.push_back({"six channels", Wav({Fmt(1, 6, 44100, 16), {"data", data}})});
    bad.push_back({"no channels", Wav({Fmt(1, 0, 44100, 16), {"data", data}})});
    bad.push_back({"rate 0", Wav({Fmt(1, 2, 0, 16), {"data", data}})});
    bad.push_back({"block align", [&] {
                       auto f = Fmt(1, 2, 44100, 16);
                       f.Body[12] = std::byte{3};
                       return Wav({f, {"data", data}});
                   }()});
    bad.push_back({"extensible float", Wav({FmtExtensible(2, 44100, 16, 3), {"data", data}})});
    bad.push_back({"extensible cut", [&] {
                       auto f = FmtExtensible(2, 44100, 16, 1);
                       f.Body.resize(30);
                       return Wav({f, {"data", data}});
                   }()});
    const std::string in = dir.File("in.wav"), out = dir.File("out.wav");
    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        WriteAll(in, bytes);
        const auto r = Resample({"--rate", "48000", "--bits", "16", in, out});
        EXPECT_EQ(r.ExitCode, 1);
        ExpectOneErrorLine(r);
        EXPECT_NE(r.Err.find(in), std::string::npos) << r.Err;
        EXPECT_EQ(FolderEntries(dir.Path().string()), std::vector<std::string>{"in.wav"});
    }
    std::filesystem::remove(in);
    const auto missing = Resample({"--rate", "48000", "--bits", "16", in, out});
    EXPECT_EQ(missing.ExitCode, 1);
    ExpectOneErrorLine(missing);
    EXPECT_TRUE(FolderEntries(dir.Path().string()).empty());

    // Still readable: a data size past the end (a streamed file) reads to the end, a trailing
    // half frame is dropped, extensible PCM is PCM.
    struct TUsable {
        const char* What;
        std::vector<std::byte> Bytes;
        std::vector<std::byte> Data;
    };
    auto halfFrame = data;
    halfFrame.push_back(std::byte{7});
    const std::vector<TUsable> usable = {
        {"data size past the end", Wav({Fmt(1, 2, 44100, 16), {"data", data, 0xFFFFFFFF}}), data},
        {"half a frame at the end", Wav({Fmt(1, 2, 44100, 16), {"data", halfFrame, 0xFFFFFFFF}}),
         data},
        {"extensible PCM", Wav({FmtExtensible(2, 44100, 16, 1), {"data", data}}), data},
        {"good", good, data},
        {"10000 chunks", chunksBefore(9998), data},
    };
    for (const TUsable& u : usable) {
        SCOPED_TRACE(u.What);
        WriteAll(in, u.Bytes);
        const auto r = Resample({"--rate", "44100", "--bits", "16", in, out});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_TRUE(DataOfPlainWav(out, 44100, 2, 16) == u.Data);
    }
}

namespace {

// A small file system of its own, as a disk that fills or one mounted read-only.
class TMount {
public:
    TMount(const std::string& path, const std::string& size, unsigned long flags) : path_(path) {
        std::filesystem::create_directory(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", flags, ("size=" + size).c_str()) == 0;
    }
    ~TMount() {
        if (mounted_)
            ::umount(path_.c_str());
    }
    TMount(const TMount&) = delete;
    TMount& operator=(const TMount&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

// Limits the size of the files the programs this process starts may write.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit old_{};
};

} // namespace

// Outputs that cannot be written: status 1, one line naming the output, nothing left of it.
TEST(Resample, UnwritableOutputs) {
    TTempDir dir;
    const std::string in = dir.File("in.wav");
    MakeTone(in, 4, 44100, 2, {"-c:a", "pcm_s16le"}); // about 750 kB at 48 kHz
    const auto expectFailure = [&](const std::string& out, const std::string& folder,
                                   const std::vector<std::string>& left) {
        const auto r = Resample({"--rate", "48000", "--bits", "16", "--normalize", in, out});
        EXPECT_EQ(r.ExitCode, 1);
        ExpectOneErrorLine(r);
        EXPECT_NE(r.Err.find(out), std::string::npos) << r.Err;
        EXPECT_EQ(FolderEntries(folder), left);
    };
    {
        SCOPED_TRACE("file size limit");
        // The limit's signal keeps its default action, which kills a writer that does not
        // ask for the failed write instead.
        TFileSizeLimit limit(100000);
        expectFailure(dir.File("out.wav"), dir.Path().string(), {"in.wav"});
    }
    {
        SCOPED_TRACE("a folder in the way");
        std::filesystem::create_directory(dir.File("out.wav"));
        expectFailure(dir.File("out.wav"), dir.File("out.wav"), {});
        std::filesystem::remove(dir.File("out.wav"));
    }
    {
        // Over 4 GiB of output cannot have a correct header: refused before writing. The
        // input is a sparse file of 2 GiB of 8-bit mono at 8 kHz, 12 GiB at 48 kHz and 16 bits.
        SCOPED_TRACE("over 4 GiB");
        const std::string big = dir.File("big.wav");
        WriteAll(big, Wav({Fmt(1, 1, 8000, 8), {"data", {}, 0x80000000}}));
        std::filesystem::resize_file(big, 44 + 0x80000000ull);
        TFileSizeLimit limit(1 << 20); // "before writing": a megabyte would show the error late
        const auto r = Resample({"--rate", "48000", "--bits", "16", big, dir.File("out.wav")});
        EXPECT_EQ(r.ExitCode, 1);
        ExpectOneErrorLine(r);
        EXPECT_NE(r.Err.find("4 GiB"), std::string::npos) << r.Err;
        EXPECT_EQ(FolderEntries(dir.Path().string()),
                  (std::vector<std::string>{"big.wav", "in.wav"}));
        std::filesystem::remove(big);
    }
    // Last, as a system that cannot mount skips them.
    {
        SCOPED_TRACE("full disk");
        const std::string small = dir.File("small");
        TMount disk(small, "256k", 0);
        if (!disk.Mounted())
            GTEST_SKIP() << "cannot mount a small file system here";
        expectFailure(small + "/out.wav", small, {});
    }
    {
        SCOPED_TRACE("read-only folder");
        const std::string ro = dir.File("ro");
        TMount disk(ro, "1m", MS_RDONLY);
        if (!disk.Mounted())
            GTEST_SKIP() << "cannot mount a file system here";
        expectFailure(ro + "/out.wav", ro, {});
    }
}
