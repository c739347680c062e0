#include "encoders/externalencoder.h"

#include "encoders/coverart.h"

#include "audio/audiostream.h"
#include "audio/encoderpipe.h"
#include "common/filebytes.h"
#include "common/filehandle.h"
#include "common/outputfile.h"
#include "encoders/apeoutput.h"
#include "encoders/itemcontext.h"
#include "encoders/outputcheck.h"
#include "encoders/wavoutput.h"
#include "tags/apetag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bw {

namespace {

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// Encoders colour their messages for a terminal; a message box shows the codes as junk.
std::string WithoutTerminalCodes(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~'))
                ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string LastLine(const std::string& raw) {
    const std::string text = WithoutTerminalCodes(raw);
    size_t end = text.size();
    while (end > 0) {
        const size_t nl = text.rfind('\n', end - 1);
        const size_t begin = nl == std::string::npos ? 0 : nl + 1;
        if (end > begin)
            return text.substr(begin, end - begin);
        if (nl == std::string::npos)
            break;
        end = nl;
    }
    return {};
}

// The audio library's error box: the text, then the code on a line of its own; the
// binding's own explanation, when it has one, on a third line.
std::string StartErrorMessage(TAudioError code, const std::string& detail) {
    std::string text = "Couldn't start encoding...\nError code: " +
                       std::to_string(static_cast<int>(code));
    const std::string why = LastLine(detail);
    if (!why.empty())
        text += "\n" + why;
    return text;
}

template <class TTag>
bool SaveTag(TTag& tag, const std::string& path, const TmyMusicFile& item, std::string& why) {
    tag.SetTitle(item.Title);
    tag.SetArtist(item.Artist);
    tag.SetAlbum(item.Album);
    tag.SetYear(item.Year);
    tag.SetComment(item.Comment);
    tag.SetTrack(item.Track);
    if (tag.Save(path))
        return true;
    why = tag.LastError();
    return false;
}

// Tags for MP3 outputs: lame is given none, so both are written into the finished file.
// ID3v1 holds the genre as its number, ID3v2 as its text.
bool WriteMp3Tags(const std::string& path, const TmyMusicFile& item, std::string& why) {
    TID3v1 v1;
    v1.SetGenreIndex(item.GenreIndex);
    TID3v2 v2;
    v2.SetGenre(item.Genre);
    v2.SetIsrc(item.Isrc);
    v2.SetBarcode(item.Barcode);
    v2.SetRelease(ReleaseTextsOf(item));
    return SaveTag(v1, path, item, why) && SaveTag(v2, path, item, why);
}

// Tags for WavPack outputs: the APE items of a Monkey's Audio output, appended to the
// finished file (wavpack itself would read a value starting with "@" as a file name). The
// file was just written under a name of its own and holds no tag yet; it is not forced to
// the disk here, no more than the audio wavpack wrote before it.
bool WriteWavPackTags(const std::string& path, const TmyMusicFile& item, std::string& why) {
    TAPETag tag;
    for (const auto& [key, value] : ApeTagItemsFor(item))
        tag.AddItem(key, value);
    const std::string bytes = tag.BuildTag();
    const auto size = FileSizeOf(path);
    TFileHandle file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    bool written = size && file.IsOpen() && WriteAllAt(file.Get(), std::as_bytes(std::span(bytes)), *size);
    int error = errno;
    if (file.IsOpen() && ::close(file.Release()) != 0) {
        error = errno;
        written = false;
    }
    if (!written)
        why = "cannot write the tag into " + path + ": " + std::strerror(error);
    return written;
}

// The correction file wavpack writes beside an output: its name with ".wvc" for ".wv".
std::string CorrectionPathOf(const std::string& wv) { return wv.ends_with(".wv") ? wv + "c" : wv + ".wvc"; }

// opusenc takes JPEG, PNG and GIF pictures and ends the whole encoding on any other kind.
bool OpusTakesPicture(const std::vector<std::byte>& data) {
    const auto starts = [&data](std::string_view magic) {
        return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
    };
    return starts("\xFF\xD8\xFF") || starts("\x89PNG") || starts("GIF8");
}

// The cover opusenc is to put into the output, written into a private file beside it for
// the time of the encoding; file stays empty when there is none to carry.
void PrepareOpusPicture(TItemContext& context, const std::string& output, std::optional<TScopedFile>& file) {
    const auto cover = CoverToCarry(context);
    if (!cover || cover->Data.empty())
        return;
    const std::string& source = context.CurrentJob().SourcePath;
    if (!OpusTakesPicture(cover->Data)) {
        context.AddNote("The cover art of \"" + source +
                        "\" was not carried: an Opus file takes JPEG, PNG and GIF pictures only.");
        return;
    }
    file.emplace(TemporaryPathFor(output + ".cover"));
    const int fd = ::open(file->Path().c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && WriteAllAt(fd, cover->Data, 0);
    const int error = errno;
    if ((fd >= 0 && ::close(fd) != 0) || !written) {
        context.AddNote("The cover art of \"" + source + "\" was not carried: cannot write a file beside \"" +
                        output + "\": " + std::strerror(error));
        file.reset();
    }
}

} // namespace

std::string EncoderProgram(TTargetType target) {
    switch (target) {
    case TTargetType::Mp3: return "lame";
    case TTargetType::Ogg: return "oggenc";
    case TTargetType::Flac: return "flac";
    case TTargetType::Mpc: return "mpcenc";
    case TTargetType::WavPack: return "wavpack";
    case TTargetType::Opus: return "opusenc";
    default: return {};
    }
}

TCommandLine BuildEncoderCommand(TTargetType target, const std::string& program,
                                 const TEncoderOptions& options, const TmyMusicFile& item,
                                 const std::string& picture) {
    TCommandLine line;
    line.AddWord(program);
    const std::string& output = item.TargetPath;
    switch (target) {
    case TTargetType::Mp3:
        line.Add(" - ").Append(BuildMp3Options(options.Mp3)).Add(" ");
        line.AddQuoted("", output);
        break;
    case TTargetType::Ogg:
        line.Add(" ").Append(BuildOggOptions(options.Ogg, item));
        break;
    case TTargetType::Flac:
        line.Add(" ").Append(BuildFlacOptions(options.Flac, item)).Add(" -o ");
        line.AddQuoted("", output).Add(" -");
        break;
    case TTargetType::Mpc:
        line.Add(" --overwrite ").Append(BuildMpcOptions(options.Mpc, item)).Add(" - ");
        line.AddQuoted("", output);
        break;
    case TTargetType::WavPack:
        line.Add(" ").Append(BuildWavPackOptions(options.WavPack)).Add(" - -o ");
        line.AddQuoted("", output);
        break;
    case TTargetType::Opus:
        line.Add(" ").Append(BuildOpusOptions(options.Opus, item, picture)).Add(" - ");
        line.AddQuoted("", output);
        break;
    default:
        break;
    }
    return line;
}

bool IsReplaceableOutput(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    // No write bit at all is the read-only attribute; the bits count even where the
    // permission check would let us through (running as root).
    return (st.st_mode & kAnyWrite) != 0 && ::access(path.c_str(), W_OK) == 0;
}

std::string SourceEndedEarlyMessage(const std::string& source, const TAudioStream& stream) {
    // A CD track knows best what happened to it (the disc taken out, sectors lost).
    if (std::string problem = stream.ProblemText(); !problem.empty())
        return problem;
    std::string text = "Can't read \"" + source + "\" to its end";
    if (stream.LastError() != TAudioError::Ok && stream.LastError() != TAudioError::Ended)
        return text + ".\nError code: " + std::to_string(static_cast<int>(stream.LastError()));
    const TChannelInfo info = stream.Info();
    const auto seconds = [&info](uint64_t bytes) {
        return std::to_string(bytes / static_cast<uint64_t>(info.SampleRate * info.BlockAlign()));
    };
    text += ": it ended after " + seconds(stream.Position()) + " s";
    if (stream.StatedLengthBytes() > 0)
        text += " of the " + seconds(stream.StatedLengthBytes()) + " s it says it holds";
    return text + " (was the file cut or changed while it was converted?).";
}

std::string ProgramFailedMessage(const std::string& doing, const std::string& program,
                                 const std::string& output, int exitStatus,
                                 const std::string& errorOutput) {
    std::string text = doing + " \"" + output + "\" failed: " + program;
    if (exitStatus > 0)
        text += " ended with exit status " + std::to_string(exitStatus) + ".";
    else if (exitStatus < 0)
        text += " was ended by a signal.";
    else
        text += " stopped reading the audio before its end.";
    const std::string last = LastLine(errorOutput);
    if (!last.empty())
        text += "\n" + last;
    return text;
}

std::string CantCreateFileMessage(const std::string& path) {
    return "Can't create new file \"" + path +
           "\"!\nPlease check if this file is using by other application or have read-only "
           "attribute.";
}

namespace {

// How the item's gauge shows the encoding: from From to 100.
struct TEncodeGauge {
    int From = 0;
    int At(int streamPercent) const { return From + streamPercent * (100 - From) / 100; }
};

// Pipes stream through the outside encoder into the item's TargetPath and, for MP3, tags
// the result; what RunExternalEncoder promises.
bool EncodeStream(TItemContext& context, TTargetType target, const TEncoderOptions& options,
                  const std::string& program, TAudioStream& stream, TEncodeGauge gauge) {
    const TmyMusicFile& item = context.CurrentJob();
    const std::string& output = item.TargetPath;
    const std::string name = EncoderProgram(target);
    const auto fail = [&context](const std::string& message) { return FailItem(context, message); };

    // The encoder writes under a short private name beside the target; the target itself
    // is only replaced once the new file is complete and checked, so a failure or a full
    // disk never costs the user the file that was there.
    TPendingOutput pending(output);
    context.ClearCancelCurrent();
    TmyMusicFile writing = item;
    writing.TargetPath = pending.TemporaryPath();
    // A hybrid WavPack output's correction file: written by wavpack beside its output, and
    // moved beside the target with it.
    // Writing a pair, wavpack names both ".tmp" first and renames them at its end; killed
    // (a cancel), it leaves them behind.
    const bool wavPack = target == TTargetType::WavPack;
    const bool correction = wavPack && WritesCorrectionFile(options.WavPack);
    const std::string wavPackBase = std::filesystem::path(writing.TargetPath).replace_extension().string();
    const TScopedFile writtenCorrection(wavPack ? CorrectionPathOf(writing.TargetPath) : std::string());
    const TScopedFile unfinished(wavPack ? wavPackBase + ".tmp.wv" : std::string());
    const TScopedFile unfinishedCorrection(wavPack ? wavPackBase + ".tmp.wvc" : std::string());
    std::optional<TScopedFile> picture;
    if (target == TTargetType::Opus)
        PrepareOpusPicture(context, output, picture);
    std::vector<std::string> argv =
        BuildEncoderCommand(target, program, options, writing, picture ? picture->Path() : std::string()).Argv();
    if (target != TTargetType::Ogg && target != TTargetType::Flac)
        argv.back() = AsPlainArgument(argv.back());

    // A length the stream only estimates would cut the encoder short or pad it; the
    // open-ended header makes it read to the end of its input instead.
    std::optional<uint64_t> dataBytes;
    if (stream.LengthIsExact())
        dataBytes = stream.LengthBytes();
    TEncoderPipe pipe;
    if (!pipe.Start(argv, stream.Info(), dataBytes))
        return fail(StartErrorMessage(pipe.LastError(), pipe.ErrorOutput()));

    // An encoder that stops taking input would otherwise hold the window still with no way
    // to cancel it.
    pipe.SetWaitHook([&context] {
        context.ProcessEvents();
        return !context.CancelCurrent();
    });

    std::vector<std::byte> block(kEncoderReadBlock);
    bool cancelled = false;
    bool readFailed = false;
    bool writeFailed = false;
    int percent = gauge.From;
    uint64_t fedBytes = 0;
    for (;;) {
        const int64_t n = stream.Read(block);
        if (n < 0) {
            readFailed = true;
            break;
        }
        if (n == 0)
            break;
        if (!pipe.Write(std::span(block.data(), static_cast<size_t>(n)))) {
            // The encoder may have gone because the user is ending the program (a signal
            // reaches the encoders too): that is a cancel, not an encoder failure.
            if (!context.CancelCurrent())
                context.ProcessEvents();
            cancelled = context.CancelCurrent();
            // Cancelled while the encoder took nothing: it will not take the end of its
            // input either, so it is ended.
            if (cancelled)
                pipe.Kill();
            writeFailed = !cancelled;
            break;
        }
        context.MeasureLoudness(stream.Info(), std::span(block.data(), static_cast<size_t>(n)));
        fedBytes += static_cast<uint64_t>(n);
        percent = gauge.At(ProgressPercent(stream.Position(), stream.LengthBytes()));
        context.SetItemPercent(percent);
        context.ProcessEvents();
        if (context.CancelCurrent()) {
            // What it wrote is dropped, so there is nothing for it to finish.
            pipe.Kill();
            cancelled = true;
            break;
        }
    }
    const int exitStatus = pipe.Running() ? pipe.Stop() : 0;
    const std::string& written = pending.TemporaryPath();

    std::string why;
    if (cancelled) {
        context.SetStatus(std::to_string(percent) + "% Canceled");
        return false;
    }
    if (readFailed || !stream.DeliveredAll())
        return fail(SourceEndedEarlyMessage(item.SourcePath, stream));
    if (writeFailed || exitStatus != 0)
        return fail(ProgramFailedMessage("Encoding", name, output, exitStatus, pipe.ErrorOutput()));
    const TChannelInfo info = stream.Info();
    const TFedAudio fed{fedBytes / static_cast<uint64_t>(info.BlockAlign()), info.SampleRate};
    if (const std::string bad = CheckEncoderOutput(target, written, fed); !bad.empty())
        return fail("Encoding \"" + output + "\" failed: the file " + name + " wrote is incomplete: " +
                    bad + ".");
    if (target == TTargetType::Mp3 && !WriteMp3Tags(written, item, why))
        return fail("Can't write the tags into \"" + output + "\"!\n" + why);
    if (target == TTargetType::WavPack && !WriteWavPackTags(written, item, why))
        return fail("Can't write the tags into \"" + output + "\"!\n" + why);
    CarryCover(context, written, target);
    if (!correction)
        return pending.Commit(why) || fail(CantCreateFileMessage(output) + "\n" + why);
    const std::string correctionTarget = CorrectionPathOf(output);
    if (FileSizeOf(writtenCorrection.Path()).value_or(0) == 0)
        return fail("Encoding \"" + output + "\" failed: " + name + " wrote no correction file.");
    TPendingOutput pendingCorrection(correctionTarget);
    std::error_code ec;
    std::filesystem::rename(writtenCorrection.Path(), pendingCorrection.TemporaryPath(), ec);
    if (ec)
        return fail(CantCreateFileMessage(correctionTarget) + "\n" + ec.message());
    if (!pending.Commit(why))
        return fail(CantCreateFileMessage(output) + "\n" + why);
    if (!pendingCorrection.Commit(why))
        return fail(CantCreateFileMessage(correctionTarget) + "\n" + why);
    return true;
}

// A Musepack output of a source at a rate mpcenc refuses: the source decoded, resampled by
// our resampler to MpcSampleRate, and that file encoded. The gauge: decoding to a third,
// resampling to 90, encoding to 100.
bool EncodeResampledMpc(TItemContext& context, const TEncoderOptions& options, const std::string& program) {
    constexpr int kShare = 33;
    constexpr int kEncodingGaugeStart = 90;
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;
    const TChannelInfo info = context.ConversionStream().Info();
    const std::string& shown = context.CurrentJob().TargetPath;
    const TScopedFile resampled(folder + "tempmpc.wav");
    if (!DecodeAndResample(context, folder, resampled.Path(), shown, kShare, MpcSampleRate(info.SampleRate),
                           info.Channels))
        return false;

    TAudioError error = TAudioError::Ok;
    const auto stream = TAudioStream::OpenFile(resampled.Path(), &error);
    if (!stream)
        return FailItem(context, CantCreateFileMessage(shown) +
                                     "\nThe resampled audio can't be read (error code " +
                                     std::to_string(static_cast<int>(error)) + ").");
    return EncodeStream(context, TTargetType::Mpc, options, program, *stream, {kEncodingGaugeStart});
}

} // namespace

bool RunExternalEncoder(TItemContext& context, TTargetType target, const TEncoderOptions& options) {
    const std::string& output = context.CurrentJob().TargetPath;
    const std::string name = EncoderProgram(target);
    const std::string program = FindProgram(name);
    if (program.empty())
        return FailItem(context, StartErrorMessage(TAudioError::Process, "cannot find the program " + name));
    std::error_code ec;
    if (std::filesystem::exists(output, ec) && !IsReplaceableOutput(output))
        return FailItem(context, CantCreateFileMessage(output));

    TAudioStream& stream = context.ConversionStream();
    const int rate = stream.Info().SampleRate;
    if (target == TTargetType::Mpc && MpcSampleRate(rate) != rate)
        return EncodeResampledMpc(context, options, program);
    return EncodeStream(context, target, options, program, stream, {});
}

} // namespace bw
