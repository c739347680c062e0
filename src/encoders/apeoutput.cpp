#include "encoders/apeoutput.h"

#include "encoders/cdcodes.h"
#include "encoders/coverart.h"
#include "encoders/releasetags.h"

#include "common/filebytes.h"
#include "common/outputfile.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "encoders/wavoutput.h"
#include "pipeline/acs_mac.h"
#include "pipeline/acs_stream.h"
#include "pipeline/acs_wave.h"
#include "tags/apetag.h"
#include "tags/monkey.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

namespace bw {

namespace {

constexpr int kShare = 50;
constexpr auto kPollEvery = std::chrono::milliseconds(20);

// The compressor reading the decoded file while it is still being written: decoding and
// compressing share the machine's cores instead of taking turns.
class TFollowingCompressor {
public:
    TFollowingCompressor(std::string tempWav, const std::string& output, int level, int threads)
        : tempWav_(std::move(tempWav)) {
        writer_.SetFileName(output);
        writer_.SetFileMode(TFileOutputMode::foRewrite);
        writer_.SetCompressionLevel(level);
        writer_.SetThreads(threads);
    }
    ~TFollowingCompressor() {
        // A reader still waiting for bytes that will not come must not hold the writer's
        // thread when it is shut down.
        growing_->Abandon();
        writer_.StopOutput();
    }
    TFollowingCompressor(const TFollowingCompressor&) = delete;
    TFollowingCompressor& operator=(const TFollowingCompressor&) = delete;

    // The decoded file holds bytes now; the compressor starts at the first news.
    void Grew(uint64_t bytes) {
        // Published first: starting reads the header, on this thread.
        growing_->Grew(bytes);
        if (!started_)
            Start();
    }
    // Everything is written: the compressor reads to the end.
    void Complete() { growing_->Complete(); }
    // Stops the compressor where it is; the shorter file it ends goes with the pending output.
    void Stop() {
        writer_.StopOutput();
        growing_->Complete();
    }
    void WaitUntilIdle() {
        while (started_ && writer_.Busy())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool Busy() const { return started_ && writer_.Busy(); }
    // Why the compressor did not finish: its own error, or why it could not start.
    std::string Error() const { return startError_.empty() ? writer_.LastError() : startError_; }
    // Bytes of the decoded audio the compressor has compressed.
    int64_t Taken() const { return started_ ? writer_.Compressed() : 0; }

private:
    void Start() {
        started_ = true;
        try {
            std::string error;
            auto stream = TGrowingFileStream::Open(tempWav_, growing_, error);
            if (!stream)
                throw EACSException("Cannot open file " + tempWav_ + ": " + error);
            reader_.SetFileName(tempWav_);
            reader_.SetStream(std::move(stream));
            reader_.SetSeekable(false);
            writer_.SetInput(&reader_);
            writer_.StartOutput();
        } catch (const EACSException& e) {
            startError_ = e.what();
        }
    }

    std::string tempWav_;
    std::shared_ptr<TGrowingFile> growing_ = std::make_shared<TGrowingFile>();
    TWaveIn reader_;
    TMACOut writer_; // declared after its input, so it is gone first
    bool started_ = false;
    std::string startError_;
};

// Tags the file written; a failure is told but the audio stays done.
void TagApeFile(TItemContext& context, const std::string& path, const std::string& shownPath) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return;
    TAPETag tag;
    for (const auto& [key, value] : ApeTagItemsFor(context.CurrentJob()))
        tag.AddItem(key, value);
    if (!tag.Save(path))
        context.Dialogs().Show(TMessageKind::Error, "Brindlewave",
                               "Can not save tag to the file: " + shownPath);
}

// Sample frames in the decoded file (its plain 44-byte header off); -1 when unknown.
int64_t DecodedFrames(const std::string& tempWav) {
    const auto bytes = FileSizeOf(tempWav);
    TWaveIn header;
    header.SetFileName(tempWav);
    try {
        const int blockAlign = header.BitsPerSample() / 8 * header.ChannelCount();
        if (bytes && *bytes >= 44 && blockAlign > 0)
            return static_cast<int64_t>((*bytes - 44) / static_cast<uint64_t>(blockAlign));
    } catch (const EACSException&) {
    }
    return -1;
}

} // namespace

std::vector<std::pair<std::string, std::string>> ApeTagItemsFor(const TmyMusicFile& item) {
    std::vector<std::pair<std::string, std::string>> items{{"Title", item.Title},
                                                           {"Artist", item.Artist},
                                                           {"Album", item.Album},
                                                           {"Track", std::to_string(item.Track)},
                                                           {"Year", item.Year},
                                                           {"Genre", item.Genre},
                                                           {"Comment", item.Comment}};
    for (const auto& [key, value] : CdCodeTags(item, "ISRC", "Barcode"))
        items.emplace_back(key, value);
    for (const auto& [key, value] : ReleaseTags(item, kApeReleaseNames))
        items.emplace_back(key, value);
    return items;
}

bool RunApeTarget(TItemContext& context, const TApeOptions& options) {
    const std::string& target = context.CurrentJob().TargetPath;
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;
    const TScopedFile tempWav(folder + "temp.wav");
    TPendingOutput pending(target);
    const auto fail = [&](const std::string& why) {
        return FailItem(context, CantCreateFileMessage(target) + (why.empty() ? "" : "\n" + why));
    };

    TFollowingCompressor compressor(tempWav.Path(), pending.TemporaryPath(),
                                    ApeCompressionLevel(options), context.CoreShare());
    if (!WriteTempWav(
            context, tempWav.Path(), kShare,
            [&compressor](uint64_t bytes) { compressor.Grew(bytes); }, true))
        return false; // the error or the cancel is shown; what was begun goes with the compressor
    compressor.Complete();

    // The gauge goes on from 50 as the compressor takes the rest of the decoded audio. The
    // writer's idle status ends the wait, also after a failure on its thread.
    const uint64_t total = FileSizeOf(tempWav.Path()).value_or(44) - 44;
    int percent = kShare;
    bool cancelled = false;
    while (compressor.Busy()) {
        if (total > 0)
            percent = kShare + static_cast<int>(static_cast<uint64_t>(compressor.Taken()) * kShare / total);
        context.SetItemPercent(std::min(percent, 100));
        context.ProcessEvents();
        if (context.CancelCurrent()) {
            context.SetStatus(std::to_string(percent) + "% Canceled");
            compressor.Stop();
            cancelled = true;
            break;
        }
        std::this_thread::sleep_for(kPollEvery);
    }
    compressor.WaitUntilIdle();
    if (cancelled)
        return false;
    if (const std::string why = compressor.Error(); !why.empty())
        return fail(why);
    // Done only when the file holds every sample of the source.
    const int64_t frames = DecodedFrames(tempWav.Path());
    TMonkey written;
    if (!written.Load(pending.TemporaryPath()) || (frames >= 0 && written.Samples() != frames))
        return fail("The compressed file holds " + std::to_string(written.Samples()) +
                    " samples instead of " + std::to_string(frames) + ".");
    TagApeFile(context, pending.TemporaryPath(), target);
    CarryCover(context, pending.TemporaryPath(), TTargetType::Ape);
    context.SetItemPercent(100);
    if (std::string why; !pending.Commit(why))
        return fail(why);
    return true;
}

} // namespace bw
