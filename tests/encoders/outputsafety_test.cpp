// What a conversion leaves on disk when things go wrong: a full disk, a source cut while it
// is read, an encoder killed, a cancel. An existing output survives byte for byte, no
// temporary file is left, and the row never says "Done" for an output that lacks audio.

#include "encoders/convertertesthelp.h"
#include "encoders/outputcheck.h"
#include "shell/conversionrun.h"
#include "support/scripteddialogs.h"
#include "tags/id3v2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bw;
using namespace bwtest;

namespace {

const std::vector<std::byte> kOldBytes{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};

// A small file system of its own, as a disk that fills; unmounted with the object.
class TSmallDisk {
public:
    TSmallDisk(const std::string& path, const std::string& size) : path_(path) {
        std::filesystem::create_directory(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
        if (!mounted_)
            error_ = std::strerror(errno);
    }
    ~TSmallDisk() {
        if (mounted_)
            ::umount(path_.c_str());
    }
    TSmallDisk(const TSmallDisk&) = delete;
    TSmallDisk& operator=(const TSmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }

private:
    std::string path_;
    bool mounted_ = false;
    std::string error_;
};

enum class TFault { FullDisk, SourceCut, EncoderKilled, Cancel, CancelWhereNothingWas };

const char* FaultName(TFault f) {
    switch (f) {
    case TFault::FullDisk: return "full disk";
    case TFault::SourceCut: return "source cut during the run";
    case TFault::EncoderKilled: return "encoder killed";
    case TFault::Cancel: return "cancel";
    case TFault::CancelWhereNothingWas: return "cancel where nothing was";
    }
    return "";
}

} // namespace

// Every fault, with each output, over an output that was already there; a cancel also where
// none was, which must leave no file at all (a cut one would pass for a finished one).
TEST(OutputSafety, EveryFailureKeepsTheOldTargetAndLeavesNoTemporaryFile) {
    TTempDir dir;
    // Noise, so that every encoder writes far more than the small disk holds.
    const std::string master = dir.File("master.wav");
    RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
           "anoisesrc=d=40:c=pink:r=44100:a=0.5:seed=7", "-ac", "2", "-c:a", "pcm_s16le",
           master});
    const std::string disk = dir.File("disk");
    std::optional<TSmallDisk> small;
    small.emplace(disk, "256k");
    if (!small->Mounted())
        GTEST_SKIP() << "cannot mount a small file system here: " << small->Error();

    // WavPack writes its correction file too: nothing of it may be left either.
    TEncoderOptions options;
    options.WavPack.WVHybrid = options.WavPack.WVCorrection = true;
    for (const TTargetType target : {TTargetType::Mp3, TTargetType::Ogg, TTargetType::Flac,
                                     TTargetType::Mpc, TTargetType::Wav, TTargetType::Wma,
                                     TTargetType::Ape, TTargetType::WavPack, TTargetType::Opus}) {
        for (const TFault fault : {TFault::FullDisk, TFault::SourceCut, TFault::EncoderKilled,
                                   TFault::Cancel, TFault::CancelWhereNothingWas}) {
            // WAV, WMA, FLAC and Monkey's Audio are written by this process: a size limit
            // on it would end the test, not an encoder.
            const bool inProcess = target == TTargetType::Wav || target == TTargetType::Wma ||
                                   target == TTargetType::Ape || target == TTargetType::Flac;
            if (fault == TFault::EncoderKilled && inProcess)
                continue;
            SCOPED_TRACE(TargetName(target) + ", " + FaultName(fault));
            const std::string source = dir.File("song.wav");
            std::filesystem::copy_file(master, source,
                                       std::filesystem::copy_options::overwrite_existing);
            const std::string outFolder = fault == TFault::FullDisk ? disk : dir.File("out");
            std::filesystem::create_directories(outFolder);
            const std::string old = outFolder + "/song" + TargetExtension(target);
            const bool cancel = fault == TFault::Cancel || fault == TFault::CancelWhereNothingWas;
            if (fault != TFault::CancelWhereNothingWas)
                WriteAll(old, kOldBytes);

            TAppSettings settings = DefaultAppSettings();
            settings.OutputFolder = outFolder + "/";
            settings.OverwriteWithoutAsking = true;
            TScriptedDialogs dialogs;
            TRecordingObserver observer;
            std::vector<TConversionRow> rows{RowFor(source)};
            TConversionRun run(rows, target, options, settings, dialogs, observer);
            int events = 0;
            observer.OnEvents = [&] {
                ++events;
                if (fault == TFault::SourceCut && events == 30)
                    std::filesystem::resize_file(source, 1 << 20);
                if (cancel && events == 60)
                    run.SetCancelCurrent();
            };
            {
                std::optional<TFileSizeLimit> limit;
                if (fault == TFault::EncoderKilled)
                    limit.emplace(64 * 1024, false); // the encoder is killed at it
                run.Run();
            }

            if (fault == TFault::CancelWhereNothingWas) {
                EXPECT_EQ(FolderEntries(outFolder), std::vector<std::string>{});
            } else {
                EXPECT_EQ(ReadAll(old), kOldBytes);
                EXPECT_EQ(FolderEntries(outFolder),
                          std::vector<std::string>{std::filesystem::path(old).filename().string()});
            }
            const std::string& status = rows[0].Status;
            if (cancel) {
                EXPECT_NE(status.find("% Canceled"), std::string::npos) << status;
            } else {
                EXPECT_EQ(status, "Error");
                EXPECT_FALSE(rows[0].Reason.empty());
            }
            if (fault == TFault::SourceCut) {
                EXPECT_NE(rows[0].Reason.find("to its end"), std::string::npos) << rows[0].Reason;
            }
            std::filesystem::remove(old);
        }
    }
}

// What a killed run left under its temporary names goes when a run first writes into the
// folder; a file of a live process, and anything whose name only looks like one, stays.
TEST(OutputSafety, TemporaryFilesOfAKilledRunAreRemoved) {
    TTempDir dir;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string out = dir.File("out") + "/", dead = ".bw-" + std::to_string(child);
    std::filesystem::create_directory(out);
    const std::vector<std::pair<std::string, bool>> files{ // name, whether it goes
        {dead + "-3.mp3", true},           {dead + "-12", true},
        {dead + "-7.flac", true},          {".bw-" + std::to_string(::getppid()) + "-3.mp3", false},
        {dead + "-3.mp3.part", false},     {".bw-0" + dead.substr(4) + "-3.mp3", false},
        {dead + "-x.mp3", false},          {dead + "-3.", false},
        {dead.substr(1) + "-3.mp3", false}, {dead + "-03.mp3", false},
        {dead + "-8.tmp.wvc", true},       {dead + "-8.tmp.x.wv", false}};
    for (const auto& [name, gone] : files)
        WriteAll(out + name, kOldBytes);
    std::filesystem::create_directory(out + dead + "-4.mp3");
    std::filesystem::create_symlink(out + dead + "-3.mp3.part", out + dead + "-5.mp3");
    const std::string source = dir.File("song.wav");
    MakeTone(source, 1.5, 44100, 2, {"-c:a", "pcm_s16le"});
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = out;
    TScriptedDialogs dialogs;
    TRecordingObserver observer;
    std::vector<TConversionRow> rows{RowFor(source)};
    TConversionRun(rows, TTargetType::Mp3, TEncoderOptions{}, settings, dialogs, observer).Run();
    EXPECT_EQ(rows[0].Status, "Done");
    for (const auto& [name, gone] : files)
        EXPECT_EQ(std::filesystem::exists(out + name), !gone) << name;
    EXPECT_TRUE(std::filesystem::is_directory(out + dead + "-4.mp3"));
    EXPECT_TRUE(std::filesystem::is_symlink(out + dead + "-5.mp3"));
}

// A source whose length is only estimated (MPEG audio) and that is cut while it is read
// is caught by its size; one whose header states no length at all (a WAV written to a
// pipe) converts whole.
TEST(OutputSafety, SourcesOfEveryKindOfLength) {
    TTempDir dir;
    const std::string wav = dir.File("tone.wav");
    MakeTone(wav, 30, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string mp3 = dir.File("cut.mp3");
    RunOk({"lame", "--quiet", "-b", "128", wav, mp3});
    // ffmpeg writing to a pipe cannot go back to fill in the sizes.
    const std::string piped = dir.File("piped.wav");
    const auto r = bwtest::Run({"sh", "-c", "ffmpeg -nostdin -v error -i '" + wav +
                                        "' -f wav -c:a pcm_s16le - > '" + piped + "'"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;

    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = dir.File("out") + "/";
    settings.ParallelJobs = 1; // the source is cut between two blocks of its conversion
    TScriptedDialogs dialogs;
    TRecordingObserver observer;
    std::vector<TConversionRow> rows{RowFor(mp3), RowFor(piped)};
    int events = 0;
    observer.OnEvents = [&] {
        if (++events == 20)
            std::filesystem::resize_file(mp3, 100000);
    };
    TConversionRun run(rows, TTargetType::Flac, TEncoderOptions{}, settings, dialogs, observer);
    run.Run();
    EXPECT_EQ(rows[0].Status, "Error");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/cut.flac")));
    EXPECT_EQ(rows[1].Status, "Done") << rows[1].Reason;
    EXPECT_NEAR(DecodedSeconds(dir.File("out/piped.flac")), 30.0, 0.01);
}

// The check made of every outside encoder's output: a whole file passes, the same file
// cut short (what an encoder that exits well on a full disk leaves) does not, whether the
// cut takes its end or only its last frames.
TEST(OutputSafety, OutputCheckFindsCutFiles) {
    TTempDir dir;
    const std::string wav = dir.File("tone.wav");
    MakeTone(wav, 12, 44100, 2, {"-c:a", "pcm_s16le"});
    const TFedAudio fed{12 * 44100, 44100};
    struct TCase {
        TTargetType Target;
        std::vector<std::string> Encode; // the encoder's command, output last
    };
    const std::vector<TCase> cases{
        {TTargetType::Mp3, {"lame", "--quiet", wav, dir.File("a.mp3")}},
        {TTargetType::Ogg, {"oggenc", "-Q", wav, "-o", dir.File("a.ogg")}},
        {TTargetType::Flac, {"flac", "-s", wav, "-o", dir.File("a.flac")}},
        {TTargetType::Mpc, {"mpcenc", "--silent", wav, dir.File("a.mpc")}},
        {TTargetType::WavPack, {"wavpack", "-q", wav, "-o", dir.File("a.wv")}},
        {TTargetType::Opus, {"opusenc", "--quiet", wav, dir.File("a.opus")}},
    };
    for (const auto& c : cases) {
        const std::string& file = c.Encode.back();
        SCOPED_TRACE(file);
        RunOk(c.Encode);
        EXPECT_EQ(CheckEncoderOutput(c.Target, file, fed), "");
        // Opus counts at 48 kHz what it was given at 44.1: within 1 ms passes, beyond fails.
        for (const auto& [frames, passes] : std::vector<std::pair<uint64_t, bool>>{
                 {fed.Frames - 44, true}, {fed.Frames + 44, true}, {fed.Frames - 46, false}, {fed.Frames + 46, false}}) {
            if (c.Target == TTargetType::Opus) {
                EXPECT_EQ(CheckEncoderOutput(c.Target, file, {frames, 44100}).empty(), passes) << frames;
            }
        }
        // Fed more or less than the file holds, by more than a frame.
        EXPECT_NE(CheckEncoderOutput(c.Target, file, {fed.Frames + 4800, 44100}), "");
        EXPECT_NE(CheckEncoderOutput(c.Target, file, {fed.Frames - 4800, 44100}), "");
        const auto whole = ReadAll(file);
        for (const double kept : {0.5, 0.97}) {
            SCOPED_TRACE(kept);
            WriteAll(file, {whole.begin(), whole.begin() + static_cast<long>(whole.size() * kept)});
            EXPECT_NE(CheckEncoderOutput(c.Target, file, fed), "");
        }
        std::filesystem::remove(file);
        EXPECT_NE(CheckEncoderOutput(c.Target, file, fed), "");
    }
}

// lame's own count of what it encoded, its delay and padding taken off, at every sample
// rate of the three MPEG versions, mono and stereo: exactly what it was given.
TEST(OutputSafety, Mp3HeaderCountsExactlyTheSamplesGiven) {
    TTempDir dir;
    for (const int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        for (const int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch");
            const std::string wav = dir.File("t.wav");
            const std::string mp3 = dir.File("t.mp3");
            const int frames = rate * 3 + 123;
            MakeTone(wav, static_cast<double>(frames) / rate, rate, channels,
                     {"-c:a", "pcm_s16le"});
            RunOk({"lame", "--quiet", "--resample", std::to_string(rate / 1000.0), wav, mp3});
            // Where its first frame is too small to hold the header (low rates, mono), lame
            // writes none, and there is no count to read.
            const auto head = ReadAll(mp3);
            const std::string first(reinterpret_cast<const char*>(head.data()),
                                    std::min<size_t>(head.size(), 200));
            const bool tagged = first.find("Info") != std::string::npos ||
                                first.find("Xing") != std::string::npos;
            int recordedRate = 0;
            EXPECT_EQ(Mp3RecordedSamples(mp3, &recordedRate), tagged ? frames : -1);
            EXPECT_EQ(recordedRate, rate);
            // Without a count, the check still finds the end of the audio.
            EXPECT_EQ(CheckEncoderOutput(TTargetType::Mp3, mp3,
                                         {static_cast<uint64_t>(frames), rate}), "");
        }
    }
}

// Long file names: the temporary names are short ones of their own, so an output or a tag
// rebuild next to a name at the file system's limit works.
TEST(OutputSafety, NamesAtTheFileSystemLimit) {
    TTempDir dir;
    const std::string stem(251, 'n');
    const std::string source = dir.File(stem + ".wav");
    MakeTone(source, 1.5, 44100, 2, {"-c:a", "pcm_s16le"});
    TAppSettings settings = DefaultAppSettings();
    settings.OutputFolder = dir.File("out") + "/";
    TScriptedDialogs dialogs;
    TRecordingObserver observer;
    std::vector<TConversionRow> rows{RowFor(source)};
    rows[0].Item.Title = "A title";
    TConversionRun run(rows, TTargetType::Mp3, TEncoderOptions{}, settings, dialogs, observer);
    run.Run();
    const std::string mp3 = dir.File("out/" + stem + ".mp3");
    ASSERT_EQ(rows[0].Status, "Done") << rows[0].Reason;
    EXPECT_EQ(ProbeTags(mp3)["title"], "A title");

    // A tag that no longer fits its room rebuilds the file beside it.
    TID3v2 tag;
    ASSERT_TRUE(tag.Load(mp3));
    tag.SetComment(std::string(20000, 'c'));
    EXPECT_TRUE(tag.Save(mp3)) << tag.LastError();
    EXPECT_EQ(ProbeTags(mp3)["comment"], std::string(20000, 'c'));
    EXPECT_EQ(FolderEntries(dir.File("out")), std::vector<std::string>{stem + ".mp3"});
}

// A missing output folder is made, nested too; one that cannot be is said once and every
// item that goes there is an error with that reason.
TEST(OutputSafety, MissingOutputFolders) {
    TTempDir dir;
    const auto src = MakeSource(dir, SourceKinds()[0]);
    std::filesystem::copy_file(src, dir.File("second.wav"));
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "blocked by a file" : "missing");
        const std::string parent = dir.File(blocked ? "file" : "new");
        if (blocked)
            WriteAll(parent, kOldBytes);
        TAppSettings settings = DefaultAppSettings();
        settings.OutputFolder = parent + "/a/b/";
        TScriptedDialogs dialogs;
        TRecordingObserver observer;
        std::vector<TConversionRow> rows{RowFor(src), RowFor(dir.File("second.wav"))};
        TConversionRun run(rows, TTargetType::Flac, TEncoderOptions{}, settings, dialogs,
                           observer);
        run.Run();
        if (!blocked) {
            EXPECT_TRUE(dialogs.Shown.empty());
            EXPECT_EQ(rows[0].Status, "Done");
            EXPECT_EQ(rows[1].Status, "Done");
            EXPECT_NEAR(DecodedSeconds(parent + "/a/b/second.flac"), 1.5, 0.01);
            continue;
        }
        ASSERT_EQ(dialogs.Shown.size(), 1u);
        EXPECT_EQ(dialogs.Shown[0].Text.rfind("Can't create folder \"" + parent + "/a/b/\"!", 0),
                  0u)
            << dialogs.Shown[0].Text;
        for (const auto& row : rows) {
            EXPECT_EQ(row.Status, "Error");
            EXPECT_EQ(row.Reason.rfind("Can't create folder", 0), 0u) << row.Reason;
        }
        EXPECT_EQ(ReadAll(parent), kOldBytes);
    }
}
