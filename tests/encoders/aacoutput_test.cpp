// The AAC output end to end: real sources through the run into FFmpeg's AAC encoder, the
// .m4a files read back by FFmpeg and by mutagen's MP4 class. The run is given the AAC
// back-end in the WMA target's place, so the outputs carry that target's extension; every
// reader here goes by the bytes.

#include "audio/aacencoder.h"
#include "encoders/aacoutput.h"
#include "encoders/convertertesthelp.h"
#include "encoders/outputcheck.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace bw;
using namespace bwtest;

namespace {

const std::vector<std::byte> kOldBytes{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};

struct TAacRun {
    std::vector<TConversionRow> Rows;
    TScriptedDialogs Dialogs;
    std::string Output;
};

// Converts one row into folder at kbps; onEvents sees every breath the run takes.
std::unique_ptr<TAacRun> ConvertToAac(const TConversionRow& row, const std::string& folder,
                                      int kbps,
                                      const std::function<void(TConversionRun&)>& onEvents = {}) {
    auto out = std::make_unique<TAacRun>();
    out->Rows.push_back(row);
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = folder + "/";
    settings.OverwriteWithoutAsking = true;
    TRecordingObserver observer;
    TEncoderOptions options;
    options.Aac.AACBitrate = kbps;
    TConversionRun run(out->Rows, TTargetType::Aac, options, settings, out->Dialogs, observer);
    if (onEvents)
        observer.OnEvents = [&] { onEvents(run); };
    run.Run();
    out->Output =
        folder + "/" + std::filesystem::path(row.Item.SourcePath).stem().string() + ".m4a";
    return out;
}

std::string ProbeStream(const std::string& path, const std::string& entry) {
    std::string v = RunOk({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=" + entry, "-of", "default=nw=1:nk=1", path});
    while (!v.empty() && v.back() == '\n')
        v.pop_back();
    return v;
}

size_t DecodedFrames(const std::string& path) {
    return RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-"})
               .size() /
           2;
}

// The items as mutagen's MP4 class reads them, one line each.
std::string MutagenItems(const std::string& path) {
    return RunOk({"/usr/bin/python3", "-c",
                  "import sys, mutagen.mp4\n"
                  "t = mutagen.mp4.MP4(sys.argv[1]).tags\n"
                  "for k in ['nam', 'ART', 'alb', 'day', 'gen', 'cmt']:\n"
                  "    print(k + '=' + '|'.join(t.get('\\xa9' + k, [])))\n"
                  "print('trkn=' + str(t.get('trkn')))\n"
                  "print('covr=' + ','.join('%d:%d' % (c.imageformat, len(c)) for c in "
                  "t.get('covr', [])))\n",
                  path});
}

} // namespace

// Every source format, and sources at rates the encoder does not take, to AAC-LC at the
// source's rate (or the next offered one): the length within the encoder's last frame, the
// tags and the cover beside the source read back by mutagen, the index before the audio.
TEST(AacOutput, EverySourceKindWithTagsAndCover) {
    TTempDir dir;
    std::vector<std::string> sources;
    for (const auto& kind : SourceKinds())
        sources.push_back(MakeSource(dir, kind));
    for (const int rate : {37800, 192000}) {
        sources.push_back(dir.File("odd" + std::to_string(rate) + ".wav"));
        MakeTone(sources.back(), 1.5, rate, 1);
    }
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=16x16",
           "-frames:v", "1", dir.File("cover.jpg")});
    const size_t coverBytes = ReadAll(dir.File("cover.jpg")).size();
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        TTempDir out;
        TConversionRow row = RowFor(source);
        row.Item.Title = "Tïtle \"quoted\"";
        row.Item.Artist = "Ärtist";
        row.Item.Album = "Album";
        row.Item.Comment = "Comment";
        row.Item.Genre = "Jazz";
        row.Item.Year = "1999";
        row.Item.Track = 7;
        const auto run = ConvertToAac(row, out.Path().string(), 128);
        ASSERT_EQ(run->Rows[0].Status, "Done") << run->Rows[0].Reason;
        EXPECT_EQ(FolderEntries(out.Path().string()).size(), 1u);

        const int sourceRate = std::stoi(ProbeStream(source, "sample_rate"));
        const int rate = AacSampleRate(sourceRate);
        EXPECT_EQ(ProbeStream(run->Output, "codec_name,profile,sample_rate"),
                  "aac\nLC\n" + std::to_string(rate));
        const double expected = static_cast<double>(DecodedFrames(source)) * rate / sourceRate;
        const auto frames = static_cast<double>(DecodedFrames(run->Output));
        EXPECT_GE(frames, expected - (rate == sourceRate ? 0 : 64));
        EXPECT_LE(frames,
                  expected + static_cast<double>(kAacLongerFrames) + (rate == sourceRate ? 0 : 64));
        // The output check's bounds, on both sides: the file may decode to what it was fed or
        // up to one frame of the encoder longer, never shorter.
        const auto decoded = static_cast<uint64_t>(frames);
        for (const auto& [fed, holds] : {std::pair{decoded, true},
                                         {decoded - kAacLongerFrames, true},
                                         {decoded - kAacLongerFrames - 1, false},
                                         {decoded + 1, false}})
            EXPECT_EQ(CheckDecodedLength(run->Output, {fed, rate}, kAacLongerFrames).empty(), holds)
                << fed;

        EXPECT_EQ(MutagenItems(run->Output),
                  "nam=Tïtle \"quoted\"\nART=Ärtist\nalb=Album\nday=1999\n"
                  "gen=Jazz\ncmt=Comment\ntrkn=[(7, 0)]\ncovr=13:" +
                      std::to_string(coverBytes) + "\n");
        const std::string head = RunOk({"head", "-c", "4096", run->Output});
        EXPECT_LT(head.find("moov"), head.find("mdat")) << "the index must come before the audio";
    }
}

// The page's bit rate reaches the encoder: a few rates of the range and both of its ends,
// and past the ends a clear error before anything is written.
TEST(AacOutput, BitRateReachesTheEncoder) {
    TTempDir dir;
    const std::string source = dir.File("music.wav");
    RunOk(bwmedia::MusicLikeCommand(source, 4, 440, {"-c:a", "pcm_s16le"}));
    const TConversionRow row = RowFor(source);
    for (const int kbps : {kAacMinKbps - 1, kAacMinKbps, 96, 192, kAacMaxKbps, kAacMaxKbps + 1}) {
        SCOPED_TRACE(kbps);
        TTempDir out;
        const auto run = ConvertToAac(row, out.Path().string(), kbps);
        if (kbps < kAacMinKbps || kbps > kAacMaxKbps) {
            EXPECT_EQ(run->Rows[0].Status, "Error");
            EXPECT_NE(
                run->Dialogs.Shown.at(0).Text.find("bit rate " + std::to_string(kbps) + " kbit/s"),
                std::string::npos);
            EXPECT_TRUE(FolderEntries(out.Path().string()).empty());
            continue;
        }
        ASSERT_EQ(run->Rows[0].Status, "Done") << run->Rows[0].Reason;
        // The encoder spends at most the rate asked for (less where the audio needs less):
        // the same as FFmpeg's command line spends asked for the same.
        const std::string reference = out.File("reference.m4a");
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", source, "-c:a", "aac", "-b:a",
               std::to_string(kbps) + "k", reference});
        const double expected = std::stod(ProbeStream(reference, "bit_rate"));
        EXPECT_NEAR(std::stod(ProbeStream(run->Output, "bit_rate")), expected, expected / 50);
    }
}

// A failure at any point (a full disk, a source cut while it is read, a cancel) leaves the
// file that stood at the target as it was, and nothing beside it.
TEST(AacOutput, FailureLeavesAnExistingTargetUntouched) {
    TTempDir dir;
    const std::string master = dir.File("master.wav");
    RunOk(bwmedia::MusicLikeCommand(master, 20, 440, {"-c:a", "pcm_s16le"}));
    for (const std::string fault : {"full disk", "source cut", "cancel"}) {
        SCOPED_TRACE(fault);
        const std::string source = dir.File("song.wav");
        std::filesystem::copy_file(master, source,
                                   std::filesystem::copy_options::overwrite_existing);
        TTempDir out;
        const std::string old = out.File("song.m4a");
        WriteAll(old, kOldBytes);
        int events = 0;
        std::unique_ptr<TAacRun> run;
        {
            std::optional<TFileSizeLimit> limit;
            if (fault == "full disk")
                limit.emplace(64 * 1024, true);
            run = ConvertToAac(RowFor(source), out.Path().string(), 192, [&](TConversionRun& r) {
                if (++events == 30 && fault == "source cut")
                    std::filesystem::resize_file(source, 1 << 20);
                if (events == 30 && fault == "cancel")
                    r.SetCancelCurrent();
            });
        }
        EXPECT_EQ(ReadAll(old), kOldBytes);
        EXPECT_EQ(FolderEntries(out.Path().string()), std::vector<std::string>{"song.m4a"});
        const std::string& status = run->Rows[0].Status;
        EXPECT_TRUE(fault == "cancel" ? status.ends_with("% Canceled") : status == "Error")
            << status;
    }
}
