#include "encoders/apeoutput.h"

#include "common/filebytes.h"
#include "common/outputfile.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "encoders/wavoutput.h"
#include "pipeline/acs_mac.h"
#include "pipeline/acs_wave.h"
#include "tags/apetag.h"
#include "tags/monkey.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace bw {

namespace {

constexpr int kShare = 50;
constexpr auto kPollEvery = std::chrono::milliseconds(20);

// Tags the file written; a failure is told but the audio stays done.
void TagApeFile(TItemContext& context, const std::string& path, const std::string& shownPath) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return;
    TAPETag tag;
    tag.Load(path);
    tag.Clear();
    for (const auto& [key, value] : ApeTagItemsFor(context.CurrentJob()))
        tag.AddItem(key, value);
    if (!tag.Save(path))
        context.Dialogs().Show(TMessageKind::Error, "Brindlewave",
                               "Can not save tag to the file: " + shownPath);
}

} // namespace

std::vector<std::pair<std::string, std::string>> ApeTagItemsFor(const TmyMusicFile& item) {
    return {{"Title", item.Title},
            {"Artist", item.Artist},
            {"Album", item.Album},
            {"Track", std::to_string(item.Track)},
            {"Year", item.Year},
            {"Genre", item.Genre},
            {"Comment", item.Comment}};
}

bool EncodeApe(TItemContext& context, const std::string& tempWav, const std::string& path,
               const std::string& shownPath, int level) {
    const auto fail = [&](const std::string& why) {
        return FailItem(context, CantCreateFileMessage(shownPath) + (why.empty() ? "" : "\n" + why));
    };
    int64_t frames = 0;
    bool cancelled = false;
    try {
        TWaveIn reader;
        reader.SetFileName(tempWav);
        // The decoded source has the plain 44-byte header WriteTempWav gives it.
        const auto bytes = FileSizeOf(tempWav);
        const int blockAlign = reader.BitsPerSample() / 8 * reader.ChannelCount();
        frames = bytes && *bytes >= 44 && blockAlign > 0
                     ? static_cast<int64_t>((*bytes - 44) / static_cast<uint64_t>(blockAlign))
                     : -1;
        // Declared after its input, so it is gone first.
        TMACOut writer;
        writer.SetInput(&reader);
        writer.SetFileName(path);
        writer.SetFileMode(TFileOutputMode::foRewrite);
        writer.SetCompressionLevel(level);
        writer.StartOutput();

        int percent = kShare;
        if (!context.CancelCurrent()) {
            // The writer's idle status ends the wait, also after a failure on its thread.
            do {
                percent = kShare + std::max(0, writer.OutputProgress()) * kShare / 100;
                context.SetItemPercent(percent);
                context.ProcessEvents();
                if (context.CancelCurrent()) {
                    context.SetStatus(std::to_string(percent) + "% Canceled");
                    writer.StopOutput();
                    cancelled = true;
                    break;
                }
                std::this_thread::sleep_for(kPollEvery);
            } while (writer.Busy());
        } else {
            writer.StopOutput();
            cancelled = true;
        }
        // A stopped writer still finishes a valid, shorter file.
        while (writer.Busy())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (const std::string why = writer.LastError(); !why.empty() && !cancelled)
            return fail(why);
    } catch (const EACSException& e) {
        return fail(e.what());
    }
    if (!cancelled) {
        // Done only when the file holds every sample of the source.
        TMonkey written;
        if (!written.Load(path) || (frames >= 0 && written.Samples() != frames))
            return fail("The compressed file holds " + std::to_string(written.Samples()) +
                        " samples instead of " + std::to_string(frames) + ".");
    }
    TagApeFile(context, path, shownPath);
    if (!cancelled)
        context.SetItemPercent(100);
    return !cancelled;
}

bool RunApeTarget(TItemContext& context, const TApeOptions& options) {
    const std::string& target = context.CurrentJob().TargetPath;
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;
    const TScopedFile tempWav(folder + "temp.wav");
    if (!WriteTempWav(context, tempWav.Path(), kShare))
        return false;
    TPendingOutput pending(target);
    if (!EncodeApe(context, tempWav.Path(), pending.TemporaryPath(), target,
                   ApeCompressionLevel(options))) {
        if (context.CancelCurrent())
            pending.KeepPartial();
        return false;
    }
    if (std::string why; !pending.Commit(why))
        return FailItem(context, CantCreateFileMessage(target) + "\n" + why);
    return true;
}

} // namespace bw
