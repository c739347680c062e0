// The outside encoder runner when things go wrong: a missing encoder, an encoder that
// fails or dies part way, an output that may not be replaced. Driven through the run that
// calls it, with the real encoders.

#include "encoders/convertertesthelp.h"
#include "encoders/externalencoder.h"
#include "encoders/flacoptions.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace bw;
using namespace bwtest;

namespace {

const std::vector<std::byte> kOldBytes{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};

struct TOneRun {
    TAppSettings Settings = DefaultAppSettings();
    TScriptedDialogs Dialogs;
    TRecordingObserver Observer;
    std::vector<TConversionRow> Rows;

    void Run(TTargetType target) {
        TConversionRun run(Rows, target, TEncoderOptions{}, Settings, Dialogs, Observer);
        run.Run();
    }
};

} // namespace

TEST(ExternalEncoder, MissingEncoderIsAnErrorAndKeepsTheOldOutput) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[0]);
    std::filesystem::create_directory(dir.File("out"));
    std::filesystem::create_directory(dir.File("emptybin"));
    WriteAll(dir.File("out/wav16.mp3"), kOldBytes);
    std::filesystem::copy_file(src, dir.File("second.wav"));
    TOneRun r;
    r.Settings.OutputFolder = dir.File("out") + "/";
    r.Settings.OverwriteWithoutAsking = true;
    r.Settings.ParallelJobs = 1; // PATH changes between the two items
    r.Rows = {RowFor(src), RowFor(dir.File("second.wav"))};
    // lame is missing for the first item only: before each item the run lets the user
    // interface breathe, and the encoder is installed again then.
    std::optional<TScopedEnv> noEncoders;
    int calls = 0;
    r.Observer.OnEvents = [&] {
        if (++calls == 1)
            noEncoders.emplace("PATH", dir.File("emptybin"));
        else
            noEncoders.reset();
    };
    r.Run(TTargetType::Mp3);

    ASSERT_EQ(r.Dialogs.Shown.size(), 1u);
    const auto& shown = r.Dialogs.Shown[0];
    EXPECT_EQ(shown.Kind, TMessageKind::Error);
    EXPECT_EQ(shown.Text.rfind("Couldn't start encoding...\nError code: 50\n", 0), 0u) << shown.Text;
    EXPECT_NE(shown.Text.find("lame"), std::string::npos);
    EXPECT_EQ(r.Rows[0].Status, "Error");
    EXPECT_TRUE(r.Rows[0].Checked);
    EXPECT_EQ(ReadAll(dir.File("out/wav16.mp3")), kOldBytes);
    // The next item is processed as usual.
    EXPECT_EQ(r.Rows[1].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(dir.File("out/second.mp3")), 1.5, 0.08);
}

TEST(ExternalEncoder, ReadOnlyOutputIsNotTouched) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[0]);
    const auto out = dir.File("wav16.flac");
    WriteAll(out, kOldBytes);
    std::filesystem::permissions(out, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::group_read);
    EXPECT_FALSE(IsReplaceableOutput(out));
    TOneRun r;
    r.Settings.OutputFolder = dir.Path().string() + "/";
    r.Settings.OverwriteWithoutAsking = true;
    r.Rows = {RowFor(src)};
    r.Run(TTargetType::Flac);
    ASSERT_EQ(r.Dialogs.Shown.size(), 1u);
    EXPECT_EQ(r.Dialogs.Shown[0].Text,
              "Can't create new file \"" + out +
                  "\"!\nPlease check if this file is using by other application or have "
                  "read-only attribute.");
    EXPECT_EQ(r.Rows[0].Status, "Error");
    EXPECT_EQ(ReadAll(out), kOldBytes);

    // A writable one may be replaced; a missing one has nothing to replace.
    std::filesystem::permissions(out, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_TRUE(IsReplaceableOutput(out));
    std::filesystem::remove(out);
    EXPECT_FALSE(IsReplaceableOutput(out));
}

// mpcenc takes four rates only: a source at another is resampled to the nearest one above
// it (48 kHz past that), its channels and length kept; one at a taken rate keeps it.
TEST(ExternalEncoder, MusepackSourcesAtOtherRatesAreResampled) {
    TTempDir dir;
    const std::vector<std::vector<int>> cases{{22050, 1, 32000}, {96000, 2, 48000}, {44100, 2, 44100}};
    TOneRun r;
    r.Settings.OutputFolder = dir.Path().string() + "/";
    for (const auto& c : cases) {
        MakeTone(dir.File(std::to_string(c[0]) + ".wav"), 1.5, c[0], c[1], {"-c:a", "pcm_s16le"});
        r.Rows.push_back(RowFor(dir.File(std::to_string(c[0]) + ".wav")));
    }
    r.Run(TTargetType::Mpc); // a row that failed leaves no file for FFprobe
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string& out = r.Rows[i].Item.TargetPath;
        EXPECT_EQ(RunOk({"ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels", "-of", "csv=p=0", out}),
                  std::to_string(cases[i][2]) + "," + std::to_string(cases[i][1]) + "\n");
        EXPECT_NEAR(DecodedSeconds(out), 1.5, 0.08) << out;
    }
}

// An encoder that ends badly part way is an error with its own words, never "Done".
TEST(ExternalEncoder, EncoderFailingPartWayIsAnError) {
    TTempDir dir;
    const auto src = dir.File("long.wav");
    MakeTone(src, 3, 44100, 2, {"-c:a", "pcm_s16le"});
    struct TCase {
        TTargetType Target;
        bool IgnoreSignal;
        std::string Expected;  // what the message says about the end
        std::string LastWords; // the encoder's last line
    };
    const std::vector<TCase> cases{
        {TTargetType::Mp3, true, "lame ended with exit status 1.", "Error writing mp3 output"},
        // FLAC is written in this process: the system's words on the write that failed.
        {TTargetType::Flac, true, "the file could not be written (File too large)", ""},
        {TTargetType::Mp3, false, "lame was ended by a signal.", ""},
        {TTargetType::WavPack, true, "wavpack ended with exit status 1.", "can't close WavPack file!"},
        {TTargetType::Opus, true, "opusenc ended with exit status 1.", "Encoding aborted: write failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected);
        TTempDir outDir;
        TOneRun r;
        r.Settings.OutputFolder = outDir.Path().string() + "/";
        r.Rows = {RowFor(src)};
        {
            const TFileSizeLimit limit(16 * 1024, c.IgnoreSignal);
            r.Run(c.Target);
        }
        EXPECT_EQ(r.Rows[0].Status, "Error");
        EXPECT_TRUE(r.Rows[0].Checked);
        ASSERT_EQ(r.Dialogs.Shown.size(), 1u);
        const std::string& text = r.Dialogs.Shown[0].Text;
        EXPECT_EQ(text.rfind("Encoding \"" + r.Rows[0].Item.TargetPath + "\" failed: ", 0), 0u)
            << text;
        EXPECT_NE(text.find(c.Expected), std::string::npos) << text;
        EXPECT_NE(text.find(c.LastWords), std::string::npos) << text;
    }
}

// An encoder that stops taking its input keeps the run alive: the user can still cancel,
// the encoder is ended, and the next item is converted.
TEST(ExternalEncoder, EncoderThatStopsReadingCanBeCancelled) {
    TTempDir dir;
    const auto src = dir.File("long.wav");
    MakeTone(src, 10, 44100, 2, {"-c:a", "pcm_s16le"}); // more than the encoder's pipe holds
    const auto second = MakeSource(dir, SourceKinds()[0]);
    std::filesystem::create_directory(dir.File("bin"));
    std::filesystem::create_directory(dir.File("out"));
    // The first time it is started it takes nothing and never ends; then it is oggenc.
    std::ofstream(dir.File("bin/oggenc"))
        << "#!/bin/sh\nif [ -e \"" << dir.File("stalled")
        << "\" ]; then exec /usr/bin/oggenc \"$@\"; fi\n"
        << "touch \"" << dir.File("stalled") << "\"; exec sleep 600\n";
    std::filesystem::permissions(dir.File("bin/oggenc"), std::filesystem::perms::owner_all);
    const TScopedEnv path("PATH", dir.File("bin") + ":" + std::getenv("PATH"));

    TOneRun r;
    r.Settings.OutputFolder = dir.File("out") + "/";
    r.Settings.ParallelJobs = 1; // the second item is started only after the first stalled one
    r.Rows = {RowFor(src), RowFor(second)};
    TConversionRun run(r.Rows, TTargetType::Ogg, TEncoderOptions{}, r.Settings, r.Dialogs,
                       r.Observer);
    int samePercent = 0;
    int lastPercent = -1;
    bool asked = false;
    r.Observer.OnEvents = [&] {
        samePercent = r.Observer.LastPercent == lastPercent ? samePercent + 1 : 0;
        lastPercent = r.Observer.LastPercent;
        // Half a second without progress part way through: the user gives up on it.
        if (!asked && lastPercent > 0 && samePercent >= 5) {
            asked = true;
            r.Dialogs.Answers.push_back(TAnswer::Yes);
            run.AskCancel();
        }
    };
    run.Run();

    ASSERT_TRUE(asked);
    EXPECT_NE(r.Rows[0].Status.find("% Canceled"), std::string::npos) << r.Rows[0].Status;
    EXPECT_NE(r.Rows[0].Status, "100% Canceled");
    EXPECT_EQ(r.Rows[1].Status, "Done");
    EXPECT_NEAR(DecodedSeconds(dir.File("out/wav16.ogg")), 1.5, 0.08);
}

// The FLAC target is encoded in this process: for every level and "Lax", and for 8-, 16-
// and 24-bit and surround sources, the file is the one the flac program writes from the
// same options (its argument builder's), byte for byte: the audio, the comments, the seek
// table and the padding. flac is fed as it was when it was the encoder: plain PCM of a
// known length, and the surround WAV with its speaker positions. A rate only a non-subset
// stream can hold needs "Lax", with flac as with us.
TEST(FlacTarget, WritesWhatTheFlacProgramWritesForEachOption) {
    struct TCase {
        int Level;
        bool Lax;
        int Rate, Channels;
        std::string Codec;
        bool Writes;
    };
    const std::vector<TCase> cases{
        {0, true, 44100, 2, "pcm_s16le", true},  {5, false, 48000, 1, "pcm_s24le", true},
        {8, true, 22050, 2, "pcm_u8", true},     {3, false, 96000, 2, "pcm_s16le", true},
        {5, true, 700000, 1, "pcm_s16le", true}, {5, false, 700000, 1, "pcm_s16le", false},
        {6, false, 48000, 6, "pcm_s16le", true},
    };
    TTempDir dir;
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.Level) + (c.Lax ? "lax" : "") + c.Codec + std::to_string(c.Rate);
        SCOPED_TRACE(name);
        const std::string src = dir.File(name + ".wav");
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
               "anoisesrc=d=1.3:c=pink:a=0.3:seed=4,aresample=" + std::to_string(c.Rate), "-ac",
               std::to_string(c.Channels), "-c:a", c.Codec, src});
        TTempDir out;
        TOneRun r;
        r.Settings.OutputFolder = out.Path().string() + "/";
        r.Rows = {RowFor(src)};
        TmyMusicFile& item = r.Rows[0].Item;
        item.Title = "Jóga";
        item.Artist = "Björk";
        item.Track = 7;
        item.Genre = "Pop";
        TEncoderOptions o;
        o.Flac.FLACMyTrackBar = c.Level;
        o.Flac.FLACLax = c.Lax;
        TConversionRun run(r.Rows, TTargetType::Flac, o, r.Settings, r.Dialogs, r.Observer);
        run.Run();
        const std::string raw = c.Codec.substr(4); // "s16le", "s24le", "u8"
        std::vector<std::string> argv{"flac", "-s"};
        std::string input = src;
        if (c.Channels <= 2) {
            input = dir.File(name + ".raw");
            RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", src, "-f", raw, input});
            argv.insert(argv.end(), {"--force-raw-format", "--endian=little", raw == "u8" ? "--sign=unsigned" : "--sign=signed",
                                     "--channels=" + std::to_string(c.Channels), "--bps=" + raw.substr(1, raw.size() - 3),
                                     "--sample-rate=" + std::to_string(c.Rate)});
        }
        const TCommandLine options = BuildFlacOptions(o.Flac, item);
        argv.insert(argv.end(), options.Argv().begin(), options.Argv().end());
        const std::string reference = dir.File(name + ".flac");
        argv.insert(argv.end(), {"-o", reference, input});
        const TRunResult flac = bwtest::Run(argv);
        EXPECT_EQ(flac.ExitCode == 0, c.Writes) << flac.Err;
        const std::string written = out.File(name + ".flac");
        if (!c.Writes) {
            EXPECT_EQ(r.Rows[0].Status, "Error");
            EXPECT_TRUE(FolderEntries(out.Path().string()).empty());
            continue;
        }
        ASSERT_EQ(r.Rows[0].Status, "Done") << (r.Dialogs.Shown.empty() ? "" : r.Dialogs.Shown[0].Text);
        EXPECT_TRUE(ReadAll(written) == ReadAll(reference));
        const std::string format = c.Codec == "pcm_s24le" ? "s32le" : "s16le";
        EXPECT_TRUE(FfmpegDecode(written, format) == FfmpegDecode(src, format));
    }
}

