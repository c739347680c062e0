// The outputs that go through a decoded WAV file (WAV, WMA, Monkey's Audio) end to end: real
// sources through the run, our resampler, FFmpeg's WMA encoder and our compressor, outputs
// read back with FFmpeg, mutagen and our own readers.

#include "common/instancetemp.h"
#include "encoders/convertertesthelp.h"
#include "encoders/wmaoptions.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"
#include "tags/monkey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

using namespace bw;
using namespace bwtest;

namespace {

const std::vector<std::byte> kOldBytes{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};

struct TOutcome {
    std::vector<TConversionRow> Rows;
    TScriptedDialogs Dialogs;
};

// Converts one file into folder with the given options; onEvents sees every breath the run
// takes and the run itself (to cancel it).
std::unique_ptr<TOutcome> Convert(const std::string& source, const std::string& folder,
                                  TTargetType target, const TEncoderOptions& options,
                                  std::function<void(TConversionRun&, int percent)> onEvents = {}) {
    auto out = std::make_unique<TOutcome>();
    out->Rows.push_back(RowFor(source));
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = folder + "/";
    settings.OverwriteWithoutAsking = true;
    TRecordingObserver observer;
    TConversionRun run(out->Rows, target, options, settings, out->Dialogs, observer);
    if (onEvents)
        observer.OnEvents = [&] { onEvents(run, observer.LastPercent); };
    run.Run();
    return out;
}

// Sample frames FFmpeg decodes from a file, counted on a mono downmix.
size_t DecodedFrames(const std::string& path) {
    return RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-ac", "1", "-f", "s16le", "-"})
               .size() / 2;
}

std::string ProbeStream(const std::string& path, const std::string& entry) {
    std::string v = RunOk({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                           "stream=" + entry, "-of", "default=nw=1:nk=1", path});
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
        v.pop_back();
    return v;
}

struct TWavHeader {
    uint16_t Format, Channels, Bits;
    uint32_t Rate, DataBytes;
};

TWavHeader ReadHeader(const std::string& path) {
    const auto b = ReadAll(path);
    EXPECT_GE(b.size(), 44u);
    const auto u = [&b](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = v << 8 | std::to_integer<uint32_t>(b.at(at + static_cast<size_t>(i)));
        return v;
    };
    return {static_cast<uint16_t>(u(20, 2)), static_cast<uint16_t>(u(22, 2)),
            static_cast<uint16_t>(u(34, 2)), u(24, 4), u(40, 4)};
}

int PeakOf(const std::vector<std::byte>& s16) {
    int peak = 0;
    for (size_t i = 0; i + 1 < s16.size(); i += 2)
        peak = std::max(peak, std::abs(static_cast<int>(static_cast<int16_t>(
                                  std::to_integer<uint16_t>(s16[i]) |
                                  std::to_integer<uint16_t>(s16[i + 1]) << 8))));
    return peak;
}

// A stand-in for the resampler, found before ours on PATH for the life of the object.
class TStandInResampler {
public:
    explicit TStandInResampler(const std::string& script) {
        const std::string file = dir_.File("brindlewave-resample");
        std::ofstream(file) << "#!/bin/sh\n" << script << "\n";
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        env_.emplace("PATH", dir_.Path().string() + ":" + std::getenv("PATH"));
    }
    // A file the script may touch to tell it has started.
    std::string Marker() const { return dir_.File("started"); }

private:
    TTempDir dir_;
    std::optional<TScopedEnv> env_;
};

std::string ReasonOf(const TOutcome& o) { return o.Rows[0].Reason; }

// FFmpeg's decode that checks every frame's CRC and stops at the first fault.
TRunResult StrictDecode(const std::string& path, const std::string& format) {
    return bwtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-err_detect",
                        "crccheck+explode", "-i", path, "-f", format, "-"});
}

} // namespace

// Every rate of the list, mono and stereo, 16 and 8 bits, with and without normalizing.
TEST(WavOutput, EveryRateChannelCountAndWidth) {
    TTempDir dir;
    const std::string source = dir.File("quiet.wav");
    // A quiet tone, so that normalizing has something to do.
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
           "sine=f=440:d=1.5:r=44100,volume=0.1", "-ac", "2", "-c:a", "pcm_s16le", source});
    const size_t sourceFrames = DecodedFrames(source);
    const int sourcePeak = PeakOf(FfmpegDecode(source));
    for (size_t rate = 0; rate < kWavSamplerates.size(); ++rate) {
        for (const int channels : {0, 1}) {
            for (const int bits : {0, 1}) {
                const bool normalize = (rate + static_cast<size_t>(channels + bits)) % 2 == 0;
                TEncoderOptions o;
                o.Wav = {static_cast<int>(rate), channels, bits, normalize};
                SCOPED_TRACE(std::string(kWavSamplerates[rate]) + " Hz, " +
                             kWavChannelNames[static_cast<size_t>(channels)] + ", " +
                             kWavBitsNames[static_cast<size_t>(bits)] +
                             (normalize ? ", normalized" : ""));
                TTempDir out;
                const auto result = Convert(source, out.Path().string(), TTargetType::Wav, o);
                ASSERT_EQ(result->Rows[0].Status, "Done") << ReasonOf(*result);
                const std::string wav = out.File("quiet.wav");
                EXPECT_EQ(FolderEntries(out.Path().string()), std::vector<std::string>{"quiet.wav"});
                const TWavHeader h = ReadHeader(wav);
                EXPECT_EQ(h.Format, 1);
                EXPECT_EQ(h.Rate, static_cast<uint32_t>(WavSampleRate(o.Wav)));
                EXPECT_EQ(h.Channels, channels == 0 ? 2 : 1);
                EXPECT_EQ(h.Bits, bits == 0 ? 16 : 8);
                // FFmpeg's bit rate is the header's byte rate: rate x block align.
                EXPECT_EQ(ProbeStream(wav, "bit_rate"),
                          std::to_string(h.Rate * h.Channels * h.Bits));
                const double expected =
                    static_cast<double>(sourceFrames) * WavSampleRate(o.Wav) / 44100.0;
                EXPECT_NEAR(static_cast<double>(DecodedFrames(wav)), expected, 64.0);
                const int peak = PeakOf(FfmpegDecode(wav));
                if (normalize) {
                    // Full scale; at 8 bits the top step is 127 << 8.
                    EXPECT_GE(peak, bits == 0 ? 32767 : 127 * 256);
                    EXPECT_LE(peak, 32768);
                } else {
                    // Resampling moves the peak a little; 8 bits round it to steps of 256.
                    EXPECT_NEAR(peak, sourcePeak, bits == 0 ? sourcePeak * 0.03 + 2 : 300);
                }
            }
        }
    }
}

// Sources of every format arrive whole; a 16-bit stereo source at the list's own rate and
// width comes out as its decoded PCM, bit for bit; an 8-bit mono one passes through both
// converters to 16-bit stereo.
TEST(WavOutput, EverySourceFormat) {
    TTempDir dir;
    for (const auto& kind : SourceKinds()) {
        SCOPED_TRACE(kind.Name);
        const std::string source = MakeSource(dir, kind);
        const std::string stem = std::filesystem::path(kind.Name).stem().string();
        TTempDir out;
        TEncoderOptions o; // 44100 Hz, stereo, 16 bits
        const auto result = Convert(source, out.Path().string(), TTargetType::Wav, o);
        ASSERT_EQ(result->Rows[0].Status, "Done") << ReasonOf(*result);
        const std::string wav = out.File(stem + ".wav");
        const auto sourcePcm = FfmpegDecode(source);
        const int sourceRate = std::stoi(ProbeStream(source, "sample_rate"));
        if (sourceRate == 44100 && ProbeStream(source, "channels") == "2") {
            EXPECT_EQ(FfmpegDecode(wav), sourcePcm);
        } else if (kind.Name == "wav8mono.wav") {
            const auto u8 = FfmpegDecode(source, "u8");
            const auto s16 = FfmpegDecode(wav);
            ASSERT_EQ(s16.size(), u8.size() * 4);
            for (size_t i = 0; i < u8.size(); ++i) {
                const auto expect = static_cast<int16_t>((std::to_integer<int>(u8[i]) - 128) * 256);
                for (size_t c = 0; c < 2; ++c) {
                    const size_t at = i * 4 + c * 2;
                    const auto got = static_cast<int16_t>(std::to_integer<uint16_t>(s16[at]) |
                                                          std::to_integer<uint16_t>(s16[at + 1]) << 8);
                    ASSERT_EQ(got, expect) << "frame " << i;
                }
            }
        } else {
            EXPECT_NEAR(static_cast<double>(DecodedFrames(wav)),
                        static_cast<double>(DecodedFrames(source)) * 44100.0 / sourceRate, 64.0);
        }
    }
}

// Every source format to WMA, tags included, and the rate and channel count of the page.
TEST(WmaOutput, EverySourceFormatWithItsTags) {
    TTempDir dir;
    const std::vector<std::pair<int, int>> settings{{1, 1}, {3, 0}, {0, 0}};
    size_t turn = 0;
    for (const auto& kind : SourceKinds()) {
        const auto [rateIndex, channelIndex] = settings[turn++ % settings.size()];
        TEncoderOptions o;
        o.Wma = {rateIndex, channelIndex, 1};
        SCOPED_TRACE(kind.Name + " at " + kWmaSamplerates[static_cast<size_t>(rateIndex)]);
        const std::string source = MakeSource(dir, kind);
        const std::string stem = std::filesystem::path(kind.Name).stem().string();
        TTempDir out;
        auto row = RowFor(source);
        TConversionRow tagged = row;
        tagged.Item.Title = "Tïtle \"quoted\"";
        tagged.Item.Artist = "Ärtist";
        tagged.Item.Album = "Album";
        tagged.Item.Comment = "Comment";
        tagged.Item.Genre = "Jazz";
        tagged.Item.Year = "1999";
        tagged.Item.Track = 7;
        std::vector<TConversionRow> rows{tagged};
        TAppSettings app = DefaultAppSettings();
        app.OutputFolder = out.Path().string() + "/";
        TScriptedDialogs dialogs;
        TRecordingObserver observer;
        TConversionRun(rows, TTargetType::Wma, o, app, dialogs, observer).Run();
        ASSERT_EQ(rows[0].Status, "Done") << rows[0].Reason;
        EXPECT_EQ(FolderEntries(out.Path().string()), std::vector<std::string>{stem + ".wma"});

        const std::string wma = out.File(stem + ".wma");
        const int rate = WmaSampleRate(o.Wma);
        EXPECT_EQ(ProbeStream(wma, "codec_name"), "wmav2");
        EXPECT_EQ(ProbeStream(wma, "sample_rate"), std::to_string(rate));
        EXPECT_EQ(ProbeStream(wma, "channels"), std::to_string(WmaChannelCount(o.Wma)));
        const double expected = static_cast<double>(DecodedFrames(source)) * rate /
                                std::stoi(ProbeStream(source, "sample_rate"));
        EXPECT_NEAR(static_cast<double>(DecodedFrames(wma)), expected, 2048.0);

        const std::string tags = RunOk(
            {"/usr/bin/python3", "-c",
             "import sys, mutagen.asf\n"
             "f = mutagen.asf.ASF(sys.argv[1])\n"
             "for k in ['Title','Author','Description','WM/AlbumTitle','WM/Genre','WM/Year',"
             "'WM/TRACK','WM/TrackNumber']:\n"
             "    print(k + '=' + '|'.join(str(v) for v in f.tags.get(k, [])))\n",
             wma});
        EXPECT_EQ(tags, "Title=Tïtle \"quoted\"\nAuthor=Ärtist\nDescription=Comment\n"
                        "WM/AlbumTitle=Album\nWM/Genre=Jazz\nWM/Year=1999\nWM/TRACK=6\n"
                        "WM/TrackNumber=7\n");
        const auto probed = ProbeTags(wma);
        EXPECT_EQ(probed.at("title"), "Tïtle \"quoted\"");
        EXPECT_EQ(probed.at("artist"), "Ärtist");
    }
}

// A bitrate the list of the chosen rate and channels does not hold is a clear error before
// anything is decoded, and nothing is written.
TEST(WmaOutput, NoBitrateIsAClearError) {
    TTempDir dir;
    const std::string source = dir.File("tone.wav");
    MakeTone(source, 1, 44100, 2, {"-c:a", "pcm_s16le"});
    TEncoderOptions o;
    o.Wma = {5, 0, kWmaMaxBitrates - 1}; // 8000 Hz mono offers one bitrate
    ASSERT_LT(WmaBitrateEntries(8000, 1).size(), static_cast<size_t>(kWmaMaxBitrates));
    TTempDir out;
    const auto result = Convert(source, out.Path().string(), TTargetType::Wma, o);
    EXPECT_EQ(result->Rows[0].Status, "Error");
    EXPECT_NE(ReasonOf(*result).find("no WMA bitrate"), std::string::npos) << ReasonOf(*result);
    EXPECT_TRUE(FolderEntries(out.Path().string()).empty());
}

// Cancel in every phase of both outputs, over a file that was there and where none was:
// the status names the percentage, nothing temporary is left, an old file is untouched,
// and where nothing stood nothing is left.
TEST(WavPathOutputs, CancelInEveryPhase) {
    TTempDir dir;
    const std::string source = dir.File("long.flac");
    MakeTone(source, 30, 44100, 2);
    // The resampler is slowed down so that it can be caught at work, and tells when it runs.
    const std::string real = (BuildDir() / "bin" / "brindlewave-resample").string();
    const TStandInResampler slow("touch \"$(dirname \"$0\")/started\"; sleep 1; exec '" + real +
                                 "' \"$@\"");
    const std::string marker = slow.Marker();

    // Mono outputs, so that the pipeline has work to do on the stereo source.
    TEncoderOptions mono;
    mono.Wav.WAVChannels = 1;
    mono.Wma.WMAChannels = 0;
    enum TPhase { Decoding, Pipeline, Resampler, Encoding };
    struct TCase {
        TTargetType Target;
        TPhase Phase;
    };
    const std::vector<TCase> cases{{TTargetType::Wav, Decoding}, {TTargetType::Wav, Pipeline},
                                   {TTargetType::Wav, Resampler}, {TTargetType::Wma, Decoding},
                                   {TTargetType::Wma, Pipeline}, {TTargetType::Wma, Resampler},
                                   {TTargetType::Wma, Encoding}};
    for (const auto& c : cases) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE(TargetName(c.Target) + " phase " + std::to_string(c.Phase) +
                         (existed ? ", over an old file" : ""));
            std::filesystem::remove(marker);
            TTempDir out;
            const std::string target = out.File("long" + TargetExtension(c.Target));
            if (existed)
                WriteAll(target, kOldBytes);
            const int share = c.Target == TTargetType::Wav ? 50 : 33;
            const auto result = Convert(
                source, out.Path().string(), c.Target, mono,
                [&](TConversionRun& run, int percent) {
                    const bool now =
                        (c.Phase == Decoding && percent > 5 && percent < share) ||
                        (c.Phase == Pipeline && percent >= share && !std::filesystem::exists(marker)) ||
                        (c.Phase == Resampler && std::filesystem::exists(marker) && percent < 90) ||
                        (c.Phase == Encoding && percent > 90);
                    if (now)
                        run.SetCancelCurrent();
                });
            const std::string& status = result->Rows[0].Status;
            EXPECT_NE(status.find("% Canceled"), std::string::npos) << status;
            const int at = std::atoi(status.c_str());
            switch (c.Phase) {
            case Decoding: EXPECT_LT(at, share); break;
            case Pipeline: EXPECT_GE(at, share); EXPECT_LE(at, share + share / 2); break;
            case Resampler: EXPECT_GE(at, share); EXPECT_LT(at, 90); break;
            case Encoding: EXPECT_GE(at, 90); break;
            }
            EXPECT_EQ(std::filesystem::exists(marker), c.Phase >= Resampler);
            if (existed) {
                EXPECT_EQ(ReadAll(target), kOldBytes);
            }
            EXPECT_EQ(std::filesystem::exists(target), existed);
            EXPECT_LE(FolderEntries(out.Path().string()).size(), 1u);
            EXPECT_TRUE(FolderEntries(InstanceTemporaryFolder()).empty());
        }
    }
}

// A resampler that fails, and one that says it succeeded without writing the audio, are
// errors that name it, and the old file stays.
TEST(WavOutput, FailingResampler) {
    TTempDir dir;
    const std::string source = dir.File("tone.wav");
    MakeTone(source, 1, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::vector<std::pair<std::string, std::string>> standIns{
        {"echo 'first line' >&2; echo 'cannot do it' >&2; exit 3", "exit status 3"},
        {"kill -9 $$", "ended by a signal"},
        {"exit 0", "incomplete"},
        {"head -c 100 \"$5\" > \"$6\"", "incomplete"}};
    for (const auto& [script, expected] : standIns) {
        SCOPED_TRACE(script);
        TStandInResampler standIn(script);
        for (const TTargetType target : {TTargetType::Wav, TTargetType::Wma}) {
            TTempDir out;
            const std::string old = out.File("tone" + TargetExtension(target));
            WriteAll(old, kOldBytes);
            TEncoderOptions o;
            o.Wav.WAVSamplerate = 0;
            const auto result = Convert(source, out.Path().string(), target, o);
            EXPECT_EQ(result->Rows[0].Status, "Error");
            EXPECT_NE(ReasonOf(*result).find(expected), std::string::npos) << ReasonOf(*result);
            EXPECT_NE(ReasonOf(*result).find("brindlewave-resample"), std::string::npos);
            if (expected == "exit status 3") {
                EXPECT_NE(ReasonOf(*result).find("\ncannot do it"), std::string::npos);
            }
            EXPECT_EQ(ReadAll(old), kOldBytes);
            EXPECT_EQ(FolderEntries(out.Path().string()).size(), 1u);
            EXPECT_TRUE(FolderEntries(InstanceTemporaryFolder()).empty());
        }
    }
}

// A 5.1 source keeps its six channels in FLAC and Ogg Vorbis and comes out as the standard
// stereo downmix everywhere else.
TEST(WavPathOutputs, SurroundSourcesInEveryOutput) {
    TTempDir dir;
    const std::string source = dir.File("surround.flac");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
           "sine=f=220:d=2:r=48000", "-f", "lavfi", "-i", "sine=f=330:d=2:r=48000", "-f",
           "lavfi", "-i", "sine=f=440:d=2:r=48000", "-f", "lavfi", "-i", "sine=f=550:d=2:r=48000",
           "-f", "lavfi", "-i", "sine=f=660:d=2:r=48000", "-f", "lavfi", "-i",
           "sine=f=770:d=2:r=48000", "-filter_complex",
           "[0][1][2][3][4][5]join=inputs=6:channel_layout=5.1[a]", "-map", "[a]", source});
    for (const TTargetType target : {TTargetType::Flac, TTargetType::Ogg, TTargetType::Mp3,
                                     TTargetType::Wav, TTargetType::Wma, TTargetType::Ape,
                                     TTargetType::Mpc, TTargetType::WavPack, TTargetType::Opus}) {
        SCOPED_TRACE(TargetName(target));
        TTempDir out;
        TEncoderOptions o;
        o.Wav.WAVSamplerate = 0; // 48000, as the source
        const auto result = Convert(source, out.Path().string(), target, o);
        ASSERT_EQ(result->Rows[0].Status, "Done") << ReasonOf(*result);
        const std::string output = out.File("surround" + TargetExtension(target));
        const bool keepsAll = target == TTargetType::Flac || target == TTargetType::Ogg ||
                              target == TTargetType::WavPack || target == TTargetType::Opus;
        EXPECT_EQ(ProbeStream(output, "channels"), keepsAll ? "6" : "2");
        EXPECT_NEAR(DecodedSeconds(output), 2.0, 0.06);
    }
}

// The pipeline failing on its own thread (here: temp2.wav meets a full disk) ends the wait
// and is an error with the reason; the resampler never starts and nothing is left.
TEST(WavOutput, PipelineFailureIsAnError) {
    TTempDir dir;
    const std::string source = dir.File("small.wav");
    // 8-bit mono grows fourfold on its way to 16-bit stereo: the decoded source fits under
    // the limit, the pipeline's output does not.
    MakeTone(source, 20, 44100, 1, {"-c:a", "pcm_u8"});
    const TStandInResampler never("touch \"$(dirname \"$0\")/started\"; exit 1");
    TTempDir out;
    WriteAll(out.File("small.wav"), kOldBytes);
    std::unique_ptr<TOutcome> result;
    {
        const TFileSizeLimit limit(2 * 1024 * 1024, true);
        result = Convert(source, out.Path().string(), TTargetType::Wav, TEncoderOptions{});
    }
    EXPECT_EQ(result->Rows[0].Status, "Error");
    EXPECT_NE(ReasonOf(*result).find("temp2.wav"), std::string::npos) << ReasonOf(*result);
    EXPECT_FALSE(std::filesystem::exists(never.Marker()));
    EXPECT_EQ(ReadAll(out.File("small.wav")), kOldBytes);
    EXPECT_EQ(FolderEntries(out.Path().string()), std::vector<std::string>{"small.wav"});
    EXPECT_TRUE(FolderEntries(InstanceTemporaryFolder()).empty());
}

// Every source format at every level: the output decodes, with FFmpeg checking every frame's
// CRC, to the source's own PCM, and carries the seven APE tag items (empty ones too).
TEST(ApeOutput, EverySourceFormatAtEveryLevelIsLossless) {
    TTempDir dir;
    for (const auto& kind : SourceKinds()) {
        const std::string source = MakeSource(dir, kind);
        const std::string stem = std::filesystem::path(kind.Name).stem().string();
        const std::string format = kind.Name == "wav8mono.wav" ? "u8" : "s16le";
        const auto sourcePcm = FfmpegDecode(source, format);
        for (int position = kApeMinPosition; position <= kApeMaxPosition; ++position) {
            SCOPED_TRACE(kind.Name + " at " + kApePositionNames[static_cast<size_t>(position - 1)]);
            TTempDir out;
            std::vector<TConversionRow> rows{RowFor(source)};
            rows[0].Item.Title = "Tïtle";
            rows[0].Item.Artist = "";
            rows[0].Item.Track = 9;
            TEncoderOptions o;
            o.Ape.APEMyTrackBar = position;
            TAppSettings app = DefaultAppSettings();
            app.OutputFolder = out.Path().string() + "/";
            TScriptedDialogs dialogs;
            TRecordingObserver observer;
            TConversionRun(rows, TTargetType::Ape, o, app, dialogs, observer).Run();
            ASSERT_EQ(rows[0].Status, "Done") << rows[0].Reason;
            EXPECT_EQ(observer.LastPercent, 100);
            const std::string ape = out.File(stem + ".ape");
            EXPECT_EQ(FolderEntries(out.Path().string()), std::vector<std::string>{stem + ".ape"});
            const TRunResult decoded = StrictDecode(ape, format);
            EXPECT_EQ(decoded.ExitCode, 0);
            EXPECT_EQ(decoded.Err, "");
            EXPECT_TRUE(decoded.Out.size() == sourcePcm.size() &&
                        std::memcmp(decoded.Out.data(), sourcePcm.data(), sourcePcm.size()) == 0);
            TMonkey monkey;
            ASSERT_TRUE(monkey.Load(ape));
            EXPECT_EQ(monkey.APETag().Items().size(), 7u);
            EXPECT_EQ(monkey.APETag().GetItem("Title"), "Tïtle");
            EXPECT_EQ(monkey.APETag().GetItem("Track"), "9");
            EXPECT_EQ(ProbeTags(ape).at("title"), "Tïtle");
        }
    }
}

// A cancel while decoding (the compressor follows the decoded file) and while compressing:
// the status names the percentage and nothing is left, neither temporary nor under the
// output's name; over an old file, the old file stays as it was.
TEST(ApeOutput, CancelWhileDecodingOrCompressing) {
    TTempDir dir;
    const std::string source = dir.File("long.flac");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
           "anoisesrc=d=60:c=pink:r=44100:a=0.4:seed=3", "-ac", "2", source});
    for (const int cancelFrom : {20, 70}) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE("cancel from " + std::to_string(cancelFrom) + "%" +
                         (existed ? ", over an old file" : ""));
            TTempDir out;
            const std::string target = out.File("long.ape");
            if (existed)
                WriteAll(target, kOldBytes);
            TEncoderOptions o;
            o.Ape.APEMyTrackBar = 4;
            int cancelledAt = -1;
            const auto result = Convert(source, out.Path().string(), TTargetType::Ape, o,
                                        [&](TConversionRun& run, int percent) {
                                            if (cancelledAt < 0 && percent >= cancelFrom) {
                                                cancelledAt = percent;
                                                run.SetCancelCurrent();
                                            }
                                        });
            ASSERT_GE(cancelledAt, cancelFrom);
            EXPECT_LT(cancelledAt, cancelFrom + 20);
            EXPECT_EQ(result->Rows[0].Status, std::to_string(cancelledAt) + "% Canceled");
            EXPECT_EQ(FolderEntries(out.Path().string()),
                      existed ? std::vector<std::string>{"long.ape"} : std::vector<std::string>{});
            EXPECT_TRUE(FolderEntries(InstanceTemporaryFolder()).empty());
            if (existed) {
                EXPECT_EQ(ReadAll(target), kOldBytes);
            }
        }
    }
}

// A 24-bit source stays 24-bit in Monkey's Audio, bit for bit.
TEST(ApeOutput, TwentyFourBitSourcesKeepEveryBit) {
    TTempDir dir;
    const std::string source = dir.File("deep.flac");
    // Noise fills the low bits that a 16-bit path would drop.
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
           "anoisesrc=d=3:c=white:r=96000:a=0.3:seed=5", "-ac", "2", "-c:a", "flac",
           "-sample_fmt", "s32", "-bits_per_raw_sample", "24", source});
    ASSERT_EQ(ProbeStream(source, "bits_per_raw_sample"), "24");
    TTempDir out;
    const auto result = Convert(source, out.Path().string(), TTargetType::Ape, TEncoderOptions{});
    ASSERT_EQ(result->Rows[0].Status, "Done") << ReasonOf(*result);
    const TRunResult decoded = StrictDecode(out.File("deep.ape"), "s24le");
    EXPECT_EQ(decoded.Err, "");
    const auto expected = FfmpegDecode(source, "s24le");
    EXPECT_TRUE(decoded.Out.size() == expected.size() &&
                std::memcmp(decoded.Out.data(), expected.data(), expected.size()) == 0);
}
