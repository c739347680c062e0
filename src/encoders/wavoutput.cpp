#include "encoders/wavoutput.h"

#include "audio/audiostream.h"
#include "audio/encoderpipe.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "common/instancetemp.h"
#include "common/outputfile.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "pipeline/acs_converters.h"
#include "pipeline/acs_stream.h"
#include "pipeline/acs_wave.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace bw {

namespace {

constexpr size_t kWavHeaderBytes = 44;
constexpr size_t kTempWavWriteBytes = 1 << 20;
constexpr uint64_t kLargestWavData = UINT32_MAX - (kWavHeaderBytes - 8);
// How often the window is let breathe while the pipeline or the resampler works.
constexpr auto kPollEvery = std::chrono::milliseconds(20);
constexpr auto kGaugeStepEvery = std::chrono::seconds(1);
constexpr int kResamplerGaugeEnd = 90;

void Cancelled(TItemContext& context, int percent) {
    context.SetStatus(std::to_string(percent) + "% Canceled");
}

struct TWavShape {
    int SampleRate = 0;
    int Channels = 0;
    int Bits = 0;
    uint64_t Frames = 0;
};

// The format and length of a plain PCM WAV file as written by the pipeline or the resampler
// (the 44-byte layout); why not, when it is not one or its data is cut short.
std::optional<TWavShape> ReadWavShape(const std::string& path, std::string& why) {
    const auto head = ReadFileRange(path, 0, kWavHeaderBytes);
    const auto size = FileSizeOf(path);
    if (!head || !size) {
        why = "it cannot be read";
        return std::nullopt;
    }
    TByteReader r(*head);
    const auto tag = [&r](const char* text) {
        const auto b = r.Bytes(4);
        return b.size() == 4 && std::equal(b.begin(), b.end(), text,
                                           [](std::byte x, char c) { return x == std::byte(c); });
    };
    const bool riff = tag("RIFF");
    r.Skip(4);
    const bool wave = tag("WAVE") && tag("fmt ") && r.U32LE() == 16 && r.U16LE() == 1;
    TWavShape shape;
    shape.Channels = r.U16LE();
    shape.SampleRate = static_cast<int>(r.U32LE());
    r.Skip(4);
    const uint16_t blockAlign = r.U16LE();
    shape.Bits = r.U16LE();
    const bool data = tag("data");
    const uint32_t dataBytes = r.U32LE();
    if (!riff || !wave || !data || r.Failed() || blockAlign == 0) {
        why = "it is not a PCM WAV file";
        return std::nullopt;
    }
    if (*size < kWavHeaderBytes + uint64_t{dataBytes}) {
        why = "its data is cut short";
        return std::nullopt;
    }
    shape.Frames = dataBytes / blockAlign;
    return shape;
}

// Runs the pipeline of the WAV path: reader, the converters the formats call for, writer.
// True when Temp2Wav was written whole.
bool RunPipeline(TItemContext& context, const TWavConversion& job, int& percent) {
    const auto fail = [&](const std::string& why) {
        return FailItem(context, CantCreateFileMessage(job.ShownOutput) + "\n" + why);
    };
    try {
        TWaveIn reader;
        reader.SetFileName(job.TempWav);
        TSampleConverter widen;
        TMSConverter channels;
        channels.SetMode(TMSConverterMode::msmMonoToBoth);
        TACSInput* last = &reader;
        if (reader.BitsPerSample() == 16 && reader.ChannelCount() == job.Channels) {
            // Nothing to convert: the pipeline would only copy the file.
            std::string why;
            if (!ReplaceWithTemporary(job.TempWav, job.Temp2Wav, why))
                return fail(why);
            percent += job.Share / 2;
            context.SetItemPercent(percent);
            return true;
        }
        if (reader.BitsPerSample() == 8) {
            widen.SetInput(last);
            last = &widen;
        }
        if (reader.ChannelCount() != job.Channels) {
            channels.SetInput(last);
            last = &channels;
        }
        // Declared last, so it is gone before the stages it reads from.
        TWaveOut writer;
        writer.SetFileName(job.Temp2Wav);
        writer.SetFileMode(TFileOutputMode::foRewrite);
        writer.SetWavType(TWavType::wtPCM);
        writer.SetInput(last);
        writer.StartOutput();

        const int base = percent;
        // The writer's idle status ends the wait, also after a failure on its thread,
        // which never reaches a completion handler.
        while (writer.Busy()) {
            percent = base + std::max(0, writer.OutputProgress()) * (job.Share / 2) / 100;
            context.SetItemPercent(percent);
            context.ProcessEvents();
            if (context.CancelCurrent()) {
                Cancelled(context, percent);
                writer.StopOutput();
                while (writer.Busy())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return false;
            }
            std::this_thread::sleep_for(kPollEvery);
        }
        if (const std::string why = writer.LastError(); !why.empty())
            return fail(why);
    } catch (const EACSException& e) {
        return fail(e.what());
    }
    return true;
}

} // namespace

bool WriteTempWav(TItemContext& context, const std::string& path, int share,
                  const TWrittenHook& written, bool measure) {
    context.ClearCancelCurrent();
    TAudioStream& stream = context.ConversionStream();
    const TChannelInfo info = stream.Info();
    const auto fail = [&](const std::string& why) {
        RemoveFileQuietly(path);
        return FailItem(context, CantCreateFileMessage(path) + (why.empty() ? "" : "\n" + why));
    };
    if (info.Channels < 1 || info.Channels > 2)
        return FailItem(context, "Can't convert \"" + context.CurrentJob().SourcePath + "\": it has " +
                                 std::to_string(info.Channels) + " channels.");

    std::string error;
    auto file = TACSFileStream::Open(path, TACSFileStream::TMode::Create, error);
    if (!file)
        return fail(error);
    // Until the end, the sizes read "to the end of the file", so a reader following the
    // file takes everything that comes.
    const auto header = MakeWavHeader(info, std::nullopt);
    if (!file->Write(header))
        return fail(file->LastError());
    uint64_t onDisk = header.size();

    // The stream is read in the usual small steps (the gauge and Cancel follow them), but
    // written in large ones: a system call per 10 KB costs more than the copy itself.
    std::vector<std::byte> buffer(kTempWavWriteBytes);
    size_t buffered = 0;
    const auto flush = [&] {
        const bool ok = file->Write(std::span(buffer.data(), buffered));
        onDisk += buffered;
        buffered = 0;
        if (ok && written)
            written(onDisk);
        return ok;
    };
    uint64_t dataBytes = 0;
    int percent = 0;
    for (;;) {
        if (buffer.size() - buffered < kEncoderReadBlock && !flush())
            return fail(file->LastError());
        const int64_t n = stream.Read(std::span(buffer.data() + buffered, kEncoderReadBlock));
        if (n <= 0)
            break;
        if (measure)
            context.MeasureLoudness(info,
                                    std::span(buffer.data() + buffered, static_cast<size_t>(n)));
        buffered += static_cast<size_t>(n);
        dataBytes += static_cast<uint64_t>(n);
        if (dataBytes > kLargestWavData)
            return fail("The audio is too long for a WAV file.");
        percent = ProgressPercent(stream.Position(), stream.LengthBytes()) * share / 100;
        context.SetItemPercent(percent);
        context.ProcessEvents();
        if (context.CancelCurrent()) {
            Cancelled(context, percent);
            RemoveFileQuietly(path);
            return false;
        }
    }
    if (!stream.DeliveredAll()) {
        RemoveFileQuietly(path);
        return FailItem(context, SourceEndedEarlyMessage(context.CurrentJob().SourcePath, stream));
    }
    if (!flush())
        return fail(file->LastError());
    if (!file->Seek(0) || !file->Write(MakeWavHeader(info, static_cast<uint32_t>(dataBytes))) ||
        !file->Close())
        return fail(file->LastError());
    context.SetItemPercent(share);
    return true;
}

bool ConvertWav(TItemContext& context, const TWavConversion& job) {
    if (context.CancelCurrent())
        return false;
    // Whatever was begun at the output goes unless it is finished here.
    TScopedFile resampled(job.Output);

    int percent = job.Share;
    if (!RunPipeline(context, job, percent))
        return false;
    std::string why;
    const auto input = ReadWavShape(job.Temp2Wav, why);
    if (!input)
        return FailItem(context, CantCreateFileMessage(job.ShownOutput) + "\n" + job.Temp2Wav + ": " + why);

    const std::string program = FindProgram(kResamplerProgram);
    if (program.empty())
        return FailItem(context, CantCreateFileMessage(job.ShownOutput) + "\ncannot find the program " +
                                 kResamplerProgram);
    const TCommandLine line = BuildResampleCommand(program, job.SampleRate, job.Bits, job.Normalize,
                                                   AsPlainArgument(job.Temp2Wav),
                                                   AsPlainArgument(job.Output));
    TEncoderPipe resampler;
    if (!resampler.StartWithoutInput(line.Argv()))
        return FailItem(context, CantCreateFileMessage(job.ShownOutput) + "\n" + resampler.ErrorOutput());

    auto nextStep = std::chrono::steady_clock::now() + kGaugeStepEvery;
    std::optional<int> exitStatus;
    while (!(exitStatus = resampler.WaitForExit(kPollEvery))) {
        if (std::chrono::steady_clock::now() >= nextStep) {
            nextStep += kGaugeStepEvery;
            if (percent < kResamplerGaugeEnd)
                context.SetItemPercent(++percent);
        }
        context.ProcessEvents();
        if (context.CancelCurrent()) {
            Cancelled(context, percent);
            resampler.Kill();
            return false;
        }
    }
    if (*exitStatus != 0)
        return FailItem(context, ProgramFailedMessage("Resampling", kResamplerProgram, job.ShownOutput,
                                                  *exitStatus, resampler.ErrorOutput()));

    // The resampler's own word is not enough: the file must hold the whole audio at the
    // format asked for before anyone calls it done.
    const auto output = ReadWavShape(job.Output, why);
    const uint64_t expected = input->Frames * static_cast<uint64_t>(job.SampleRate) /
                              static_cast<uint64_t>(std::max(1, input->SampleRate));
    const uint64_t slack = 2 + static_cast<uint64_t>(job.SampleRate / std::max(1, input->SampleRate));
    if (output && (output->SampleRate != job.SampleRate || output->Channels != job.Channels ||
                   output->Bits != job.Bits))
        why = "it is not in the format asked for";
    else if (output && (output->Frames + slack < expected || output->Frames > expected + slack))
        why = "it holds " + std::to_string(output->Frames) + " sample frames instead of " +
              std::to_string(expected);
    if (!output || !why.empty())
        return FailItem(context, "Resampling \"" + job.ShownOutput + "\" failed: the file " +
                                 kResamplerProgram + " wrote is incomplete: " + why + ".");
    context.SetItemPercent(job.Share == 50 ? 100 : kResamplerGaugeEnd);
    resampled.Keep();
    return true;
}

bool DecodeAndResample(TItemContext& context, const std::string& folder, const std::string& output,
                       const std::string& shownOutput, int share, int rate, int channels) {
    const TScopedFile tempWav(folder + "temp.wav");
    const TScopedFile temp2Wav(folder + "temp2.wav");
    if (!WriteTempWav(context, tempWav.Path(), share))
        return false;
    TWavConversion job;
    job.TempWav = tempWav.Path();
    job.Temp2Wav = temp2Wav.Path();
    job.Output = output;
    job.ShownOutput = shownOutput;
    job.Share = share;
    job.SampleRate = rate;
    job.Channels = channels;
    job.Bits = 16;
    return ConvertWav(context, job);
}

std::string PrepareWavPath(TItemContext& context) {
    const std::string& target = context.CurrentJob().TargetPath;
    std::error_code ec;
    if (std::filesystem::exists(target, ec) && !IsReplaceableOutput(target)) {
        FailItem(context, CantCreateFileMessage(target));
        return {};
    }
    std::string why;
    const std::string folder = context.TemporaryFolder(&why);
    if (folder.empty())
        FailItem(context, why);
    return folder;
}

bool RunWavTarget(TItemContext& context, const TWavOptions& options) {
    const std::string& target = context.CurrentJob().TargetPath;
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;

    const TScopedFile tempWav(folder + "temp.wav");
    const TScopedFile temp2Wav(folder + "temp2.wav");
    if (!WriteTempWav(context, tempWav.Path(), 50))
        return false;
    TPendingOutput pending(target);
    TWavConversion job;
    job.TempWav = tempWav.Path();
    job.Temp2Wav = temp2Wav.Path();
    job.Output = pending.TemporaryPath();
    job.ShownOutput = target;
    job.Share = 50;
    job.Normalize = options.cbNormalize;
    job.SampleRate = WavSampleRate(options);
    job.Channels = WavChannelCount(options);
    job.Bits = WavBits(options);
    if (!ConvertWav(context, job))
        return false;
    std::string why;
    if (!pending.Commit(why))
        return FailItem(context, CantCreateFileMessage(target) + "\n" + why);
    return true;
}

} // namespace bw
