// brindlewave-resample: converts a PCM WAV file to another sample rate and word length,
// optionally normalized to full scale. The WAV output of the converter runs it as its last
// stage.
//
//   brindlewave-resample --rate R --bits B [--normalize] in.wav out.wav
//
// Exit status: 0 done; 1 the input, the output or the conversion failed (the partial output
// is removed); 2 bad arguments. Every error is one line on standard error.

#include "tools/rateconverter.h"
#include "tools/wavfile.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace bw;

constexpr const char* kProgram = "brindlewave-resample";
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 384000;
// Frames read per block: large enough that the filter and the file calls run at full speed,
// small enough to stay in the cache.
constexpr size_t kBlockFrames = 1 << 16;

struct TArguments {
    uint32_t Rate = 0;
    unsigned Bits = 0;
    bool Normalize = false;
    std::string Input;
    std::string Output;
};

std::optional<uint32_t> ParseNumber(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// Reads the command line; on a mistake, error says what is wrong.
std::optional<TArguments> ParseArguments(int argc, char* argv[], std::string& error) {
    TArguments args;
    std::optional<uint32_t> rate, bits;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (optionsEnded || a.empty() || a.front() != '-') {
            files.emplace_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--normalize") {
            args.Normalize = true;
        } else if (a == "--rate" || a == "--bits") {
            if (i + 1 >= argc) {
                error = "missing value after " + std::string(a);
                return std::nullopt;
            }
            const std::string_view v = argv[++i];
            const auto n = ParseNumber(v);
            if (a == "--rate") {
                if (!n || *n < kMinRate || *n > kMaxRate) {
                    error = "--rate must be a sample rate from 1000 to 384000, not \"" +
                            std::string(v) + "\"";
                    return std::nullopt;
                }
                rate = n;
            } else {
                if (!n || (*n != 8 && *n != 16)) {
                    error = "--bits must be 8 or 16, not \"" + std::string(v) + "\"";
                    return std::nullopt;
                }
                bits = n;
            }
        } else {
            error = "unknown option \"" + std::string(a) + "\"";
            return std::nullopt;
        }
    }
    if (!rate) {
        error = "missing --rate";
        return std::nullopt;
    }
    if (!bits) {
        error = "missing --bits";
        return std::nullopt;
    }
    if (files.size() != 2) {
        error = "expected an input and an output file, got " + std::to_string(files.size()) +
                (files.size() == 1 ? " file" : " files");
        return std::nullopt;
    }
    args.Rate = *rate;
    args.Bits = *bits;
    args.Input = files[0];
    args.Output = files[1];
    return args;
}

int FileError(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, path.c_str(), reason.c_str());
    return 1;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Widens a block of input frames to 16-bit samples.
void ToSamples(std::span<const std::byte> bytes, unsigned bits, std::vector<int16_t>& samples) {
    if (bits == 8) {
        samples.resize(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            samples[i] = static_cast<int16_t>((static_cast<int>(bytes[i]) - 128) * 256);
        return;
    }
    samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i]) |
                                          static_cast<uint16_t>(bytes[2 * i + 1]) << 8);
}

// One resampling run from an opened input to a created output.
class TResampleRun {
public:
    TResampleRun(const TArguments& args, TWavReader& reader, TWavWriter& writer)
        : args_(args), reader_(reader), writer_(writer) {}

    // 0 on success, otherwise the exit status after printing the error.
    int Run() {
        const TWavFormat& in = reader_.Format();
        if (args_.Rate == in.Rate && args_.Bits == in.Bits && !args_.Normalize)
            return Copy();
        if (!converter_.Init(in.Rate, args_.Rate, in.Channels))
            return FileError(args_.Input, converter_.LastError());
        const float fullScale = args_.Bits == 16 ? 32768.0f : 128.0f;
        float scale = fullScale;
        if (args_.Normalize) {
            // First pass: the peak the output would have, so the second lands it at the
            // largest positive value without clipping anything. Silence keeps its scale.
            float peak = 0.0f;
            if (const int rc = Pass([&](std::span<const float> block) {
                    peak = std::max(peak, PeakOf(block));
                    return true;
                }))
                return rc;
            if (peak > 0.0f)
                scale = (fullScale - 1.0f) / peak;
            reader_.Rewind();
            if (!converter_.Restart())
                return FileError(args_.Input, converter_.LastError());
        }
        TQuantizer quantizer(args_.Bits, scale);
        std::vector<std::byte> bytes;
        return Pass([&](std::span<const float> block) {
            bytes.resize(quantizer.BytesFor(block.size()));
            quantizer.Convert(block, bytes);
            if (writer_.Write(bytes))
                return true;
            writeFailed_ = true;
            return false;
        });
    }

private:
    // The samples unchanged, when neither the rate nor the word length change.
    int Copy() {
        std::vector<std::byte> raw(kBlockFrames * reader_.Format().FrameBytes());
        for (;;) {
            size_t frames = 0;
            if (!reader_.Read(raw, frames))
                return FileError(args_.Input, reader_.LastError());
            if (frames == 0)
                return 0;
            if (!writer_.Write(std::span(raw).first(frames * reader_.Format().FrameBytes())))
                return FileError(args_.Output, writer_.LastError());
        }
    }

    int Pass(const TFloatSink& sink) {
        const TWavFormat& in = reader_.Format();
        std::vector<std::byte> raw(kBlockFrames * in.FrameBytes());
        std::vector<int16_t> samples;
        writeFailed_ = false;
        for (;;) {
            size_t frames = 0;
            if (!reader_.Read(raw, frames))
                return FileError(args_.Input, reader_.LastError());
            if (frames == 0)
                break;
            ToSamples(std::span(raw).first(frames * in.FrameBytes()), in.Bits, samples);
            if (!converter_.Feed(samples, sink))
                return Failed();
        }
        return converter_.Flush(sink) ? 0 : Failed();
    }

    int Failed() {
        return writeFailed_ ? FileError(args_.Output, writer_.LastError())
                            : FileError(args_.Input, converter_.LastError());
    }

    const TArguments& args_;
    TWavReader& reader_;
    TWavWriter& writer_;
    TRateConverter converter_;
    bool writeFailed_ = false;
};

} // namespace

int main(int argc, char* argv[]) {
    // A file size limit then shows as a failed write we can clean up after, not a kill.
    std::signal(SIGXFSZ, SIG_IGN);

    std::string error;
    const auto args = ParseArguments(argc, argv, error);
    if (!args) {
        std::fprintf(stderr, "%s: %s (usage: %s --rate R --bits B [--normalize] in.wav out.wav)\n",
                     kProgram, error.c_str(), kProgram);
        return 2;
    }
    if (SameFile(args->Input, args->Output)) {
        std::fprintf(stderr, "%s: %s: the input and the output are the same file\n", kProgram,
                     args->Output.c_str());
        return 2;
    }

    TWavReader reader;
    if (!reader.Open(args->Input))
        return FileError(args->Input, reader.LastError());
    const TWavFormat out{args->Rate, reader.Format().Channels, static_cast<uint16_t>(args->Bits)};
    // Refused before anything is written: a longer output cannot have a correct header.
    if (ConvertedFrames(reader.Frames(), reader.Format().Rate, out.Rate) >
        TWavWriter::kMaxDataBytes / out.FrameBytes())
        return FileError(args->Output, "the output would be larger than a WAV file can be (4 GiB)");

    TWavWriter writer;
    if (!writer.Create(args->Output, out))
        return FileError(args->Output, writer.LastError());
    TResampleRun run(*args, reader, writer);
    if (const int rc = run.Run())
        return rc; // the writer removes the partial output
    if (!writer.Finish())
        return FileError(args->Output, writer.LastError());
    return 0;
}
