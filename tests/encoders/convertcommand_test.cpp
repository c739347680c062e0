// brindlewave-cli convert, run as the program it is.

#include "encoders/convertertesthelp.h"
#include "encoders/encoderoptions.h"
#include "shell/presets.h"
#include "shell/settingsio.h"
#include "shell/settingsstore.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <csignal>
#include <cstring>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bwtest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

std::string Json(const std::string& source, const std::string& target, const std::string& status) {
    return "{\"SourcePath\":\"" + source + "\",\"TargetPath\":\"" + target + "\",\"Status\":\"" +
           status + "\"}";
}

// Runs argv with its error output on a pseudo-terminal kColumns wide and its standard
// output into outFile; returns everything the terminal showed, and the exit code.
constexpr size_t kColumns = 60;
std::pair<std::string, int> RunOnTerminal(const std::vector<std::string>& argv,
                                          const std::string& outFile) {
    int master = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = kColumns;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0)
            _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        return {"forkpty failed", -1};
    std::string shown;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0)
            shown.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break; // EIO once the program has closed the terminal
    }
    ::close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    return {shown, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

TEST(ConvertCommand, ConvertsEachFileAndReportsOneLineEach) {
    TTempDir dir;
    const auto wav = MakeSource(dir, SourceKinds()[0]);
    const auto ogg = MakeSource(dir, SourceKinds()[4]);
    const auto text = dir.File("notes.mp3");
    WriteAll(text, std::vector<std::byte>(200, std::byte{'x'}));
    std::filesystem::create_directory(dir.File("out"));
    // --jobs 1, the bounds' inner side, is taken as an option, not as file names.
    const auto r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "mp3", "--out", dir.File("out"), "--set",
                        "MP3SampleRate=2", "--set", "MP3Channels=4", "--jobs", "1", wav, text, ogg});
    EXPECT_EQ(r.ExitCode, 1); // one file was not an audio file
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 3u) << r.Out << r.Err;
    // What is refused is known, and said, before the run begins.
    EXPECT_EQ(lines[0].rfind("{\"SourcePath\":\"" + text + "\",\"TargetPath\":\"\",\"Status\":\"Error\"", 0), 0u);
    EXPECT_EQ(lines[1], Json(wav, dir.File("out/wav16.mp3"), "Done"));
    EXPECT_EQ(lines[2], Json(ogg, dir.File("out/vorbis.mp3"), "Done"));
    // The options set by name reached lame: 32 kHz mono.
    const std::string stream = RunOk({"ffprobe", "-v", "error", "-show_entries",
                                      "stream=sample_rate,channels", "-of", "csv=p=0",
                                      dir.File("out/wav16.mp3")});
    EXPECT_EQ(stream.rfind("32000,1,", 0), 0u) << stream;
    // Not a terminal: plain progress lines.
    EXPECT_NE(r.Err.find("100% wav16.mp3\n"), std::string::npos) << r.Err;
}

TEST(ConvertCommand, ExistingOutputsAreKeptUnlessOverwriteIsGiven) {
    TTempDir dir;
    const auto flac = MakeSource(dir, SourceKinds()[6]);
    const auto out = dir.File("lossless.mpc");
    const std::vector<std::byte> old{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}};
    WriteAll(out, old);

    // Not replaced, and the tool says why: in the JSON line and on its error output.
    auto r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "mpc", "--same-as-source", flac});
    EXPECT_EQ(r.ExitCode, 1);
    const std::string why = "\\\"" + out + "\\\" already exists and was not replaced.";
    EXPECT_EQ(r.Out, Json(flac, out, "-").substr(0, Json(flac, out, "-").size() - 1) +
                         ",\"Reason\":\"" + why + "\"}\n");
    EXPECT_NE(r.Err.find(flac + ": \"" + out + "\" already exists and was not replaced."),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(ReadAll(out), old);

    r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "mpc", "--same-as-source", "--overwrite", flac});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, Json(flac, out, "Done") + "\n");
    EXPECT_NEAR(DecodedSeconds(out), 1.5, 0.08);

    // Onto itself: skipped with the message, and not "Done".
    r = bwtest::Run({bwmedia::CliProgram(), "convert", "--to", "flac", "--same-as-source", "--overwrite", flac});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find(flac + "\n Can't convert to itself, skipped."), std::string::npos);
}

TEST(ConvertCommand, UsageErrors) {
    TTempDir dir;
    const auto wav = MakeSource(dir, SourceKinds()[0]);
    struct TCase {
        std::vector<std::string> Args;
        std::string Says;
    };
    const std::vector<TCase> cases{
        {{"--to", "ape", "--set", "APEMyTrackBar=0", wav}, "APEMyTrackBar takes a whole number from 1 to 4"},
        {{"--to", "wav", "--set", "WAVSamplerate=9", wav}, "WAVSamplerate takes a whole number from 0 to 8"},
        {{"--to", "wma", "--set", "WMAChannels=2", wav}, "WMAChannels takes a whole number from 0 to 1"},
        {{"--to", "aac", wav}, "unknown target type 'aac'"},
        {{"--to", "mp3", "--set", "MP3BitRate=99", wav}, "MP3BitRate takes a whole number from 0 to 13"},
        {{"--to", "mp3", "--set", "Bogus=1", wav}, "unknown option value name 'Bogus'"},
        {{"--to", "mp3"}, "no files given"},
        {{"--to", "mp3", "--jobs", "16", "--jobs", "0", wav}, "--jobs takes a whole number from 1 to 16, not '0'"},
        {{"--to", "mp3", "--jobs", "17", wav}, "--jobs takes a whole number from 1 to 16, not '17'"},
        {{"--to", "mp3", "--jobs", "2x", wav}, "--jobs takes a whole number from 1 to 16, not '2x'"},
        {{"--to", "mp3", "--jobs", "", wav}, "--jobs takes a whole number from 1 to 16, not ''"},
        {{wav}, "--to is required"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{bwmedia::CliProgram(), "convert"};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        const auto r = bwtest::Run(argv);
        EXPECT_EQ(r.ExitCode, 2) << c.Says;
        EXPECT_NE(r.Err.find(c.Says), std::string::npos) << r.Err;
        EXPECT_TRUE(r.Out.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("wav16.mp3")));
}

// File names that look like switches stay file names, for the encoders that take the
// output as a plain argument too.
TEST(ConvertCommand, NamesStartingWithADash) {
    TTempDir dir;
    const auto wav = MakeSource(dir, SourceKinds()[0]);
    std::filesystem::rename(wav, dir.File("-V9 x.wav"));
    for (const char* target : {"mp3", "mpc", "wv", "opus"}) {
        const auto r = bwtest::Run({"env", "-C", dir.Path().string(), bwmedia::CliProgram(), "convert", "--to",
                                    target, "--same-as-source", "--", "-V9 x.wav"});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        const std::string out = std::string("-V9 x.") + target;
        // A relative name is reported in full, as the window lists it.
        EXPECT_EQ(r.Out, Json(dir.File("-V9 x.wav"), dir.File(out), "Done") + "\n");
        EXPECT_NEAR(DecodedSeconds(dir.File(out)), 1.5, 0.08);
    }
}

// On a terminal the progress is a block redrawn in place: a bar for each running file and
// the files through so far, then the summary; the JSON lines still go to standard output
// alone; a line longer than the terminal is wide is cut. With --quiet the terminal shows
// nothing.
TEST(ConvertCommand, ProgressOnATerminal) {
    TTempDir dir;
    const auto a = MakeSource(dir, SourceKinds()[0]);
    const std::string second = "second file with a name longer than the terminal is wide";
    const auto b = dir.File(second + ".wav");
    std::filesystem::copy_file(a, b);
    const auto missing = dir.File("missing.wav");
    std::filesystem::create_directory(dir.File("out"));
    const auto [shown, status] = RunOnTerminal({bwmedia::CliProgram(), "convert", "--to", "flac", "--jobs", "2",
                                                "--out", dir.File("out"), a, b, missing},
                                               dir.File("json"));
    EXPECT_EQ(status, 1) << shown;
    // The terminal turns each line break into CR LF. Both files run at once: one frame
    // shows both bars and the count, then moves the cursor back up over the three lines.
    const std::string clear = "\x1b[2K";
    const auto bar = [&clear](int percent, const std::string& name) {
        const int filled = percent * 30 / 100;
        char p[8];
        std::snprintf(p, sizeof p, "%3d%%", percent);
        const std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                                 std::string(static_cast<size_t>(30 - filled), ' ') + "] " + p + " " + name;
        return clear + line.substr(0, kColumns - 1) + "\r\n";
    };
    EXPECT_NE(shown.find(bar(0, "wav16.flac") + bar(0, second) + clear + "1 of 3 files\r\n\x1b[J\r\x1b[3A"),
              std::string::npos)
        << shown;
    EXPECT_EQ(bar(0, second).size(), clear.size() + kColumns - 1 + 2);
    for (const std::string& name : {std::string("wav16.flac"), second + ".flac"}) {
        EXPECT_NE(shown.find(bar(100, name)), std::string::npos) << shown;
        EXPECT_NE(shown.find("\x1b[JDone: " + name + "\r\n"), std::string::npos) << shown;
    }
    EXPECT_NE(shown.find("brindlewave-cli: " + missing + ": cannot be read\r\n"), std::string::npos);
    EXPECT_NE(shown.find(clear + "3 of 3 files\r\n\x1b[J\r\x1b[1A\x1b[J2 done, 1 failed, 0 skipped in 00:00:"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find("% wav16.flac\r\n0%"), std::string::npos); // no plain progress lines
    EXPECT_EQ(shown.find(" -> "), std::string::npos);
    const auto json = ReadAll(dir.File("json"));
    const std::string lines(reinterpret_cast<const char*>(json.data()), json.size());
    EXPECT_NE(lines.find(Json(a, dir.File("out/wav16.flac"), "Done") + "\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find(Json(b, dir.File("out/" + second + ".flac"), "Done") + "\n"), std::string::npos) << lines;

    const auto [quiet, quietStatus] = RunOnTerminal(
        {bwmedia::CliProgram(), "convert", "--to", "flac", "--quiet", "--out", dir.File("out"), "--overwrite", a, missing},
        dir.File("json"));
    EXPECT_EQ(quietStatus, 1);
    EXPECT_EQ(quiet, "");
    const auto quietJson = ReadAll(dir.File("json"));
    EXPECT_EQ(std::count(quietJson.begin(), quietJson.end(), std::byte{'\n'}), 2);
}

// Ctrl-C at the terminal (the signal reaches the encoder too), a logout or `kill`: the
// tool cancels, ends its encoders, leaves no temporary file and no changed output, and
// exits as killed by that signal would be reported by the shell.
TEST(ConvertCommand, SignalsCancelCleanly) {
    TTempDir dir;
    const std::string src = dir.File("long.wav");
    MakeTone(src, 120, 44100, 2, {"-c:a", "pcm_s16le"});
    struct TCase {
        int Signal;
        bool WholeGroup; // as the terminal sends it: to the tool and its encoders
        const char* Target;
    };
    for (const TCase c : {TCase{SIGINT, true, "mp3"}, TCase{SIGTERM, false, "flac"},
                          TCase{SIGHUP, false, "ogg"}}) {
        SCOPED_TRACE(strsignal(c.Signal));
        const std::string out = dir.File("out");
        std::filesystem::create_directories(out);
        const std::string old = out + "/long." + c.Target;
        WriteAll(old, {std::byte{'o'}, std::byte{'l'}, std::byte{'d'}});

        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setpgid(0, 0);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl(bwmedia::CliProgram(), bwmedia::CliProgram(), "convert", "--to", c.Target, "--out", out.c_str(),
                  "--overwrite", src.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(pid, pid);
        // Once the encoder is writing its temporary file, the run is well under way.
        bool writing = false;
        for (int i = 0; i < 500 && !writing; ++i) {
            for (const auto& e : std::filesystem::directory_iterator(out))
                writing = writing || e.path().filename().string().rfind(".bw-", 0) == 0;
            if (!writing)
                usleep(10000);
        }
        EXPECT_TRUE(writing);
        kill(c.WholeGroup ? -pid : pid, c.Signal);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.Signal);
        EXPECT_EQ(ReadAll(old), (std::vector<std::byte>{std::byte{'o'}, std::byte{'l'}, std::byte{'d'}}));
        EXPECT_EQ(FolderEntries(out), std::vector<std::string>{"long." + std::string(c.Target)});
        // No encoder is left running in the tool's group.
        EXPECT_EQ(kill(-pid, 0), -1);
        std::filesystem::remove_all(out);
    }
}

// The presets of the desktop program's settings, listed and used by the tool: a preset
// converts exactly as its values given one by one, and --set applies on top of it wherever
// it stands on the line.
TEST(ConvertCommand, PresetsFromTheDesktopSettings) {
    TTempDir dir;
    const std::string config = dir.File("config");
    const auto cli = [&config](std::vector<std::string> args) {
        args.insert(args.begin(), {"env", "XDG_CONFIG_HOME=" + config, bwmedia::CliProgram()});
        return bwtest::Run(args);
    };

    // Never started: the built-in presets, and nothing written.
    auto r = cli({"presets"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 5u) << r.Out;
    EXPECT_EQ(lines[3],
              "{\"Index\":3,\"Name\":\"AM Radio Quality\",\"MP3SampleRate\":2,\"MP3Channels\":4,"
              "\"MP3Original\":0,\"MP3Copyright\":0,\"MP3CRC\":0,\"MP3CBR\":1,\"MP3BitRate\":4,"
              "\"MP3HQ\":0,\"MP3VBR\":0,\"MP3MinBitRate\":4,\"MP3MaxBitRate\":6,\"MP3VBRQuality\":3,"
              "\"OGGSamplerate\":4,\"OGGChannels\":1,\"OGGQuality\":1,\"OGGQualitySel\":4,"
              "\"OGGBitrateManager\":0,\"OGGNominal\":4,\"OGGVBR\":0,\"OGGMin\":4,\"OGGMax\":6,"
              "\"WAVSamplerate\":4,\"WAVChannels\":1,\"WAVNormalize\":0,\"WAVbps\":0,"
              "\"WMASamplerate\":3,\"WMAChannels\":0,\"WMABitrate\":0,\"FLACMyTrackBar\":5,"
              "\"FLACLax\":1,\"APEMyTrackBar\":2,\"MPCMyTrackBar\":2,\"WVMode\":0,\"WVHybrid\":0,"
              "\"WVBits\":40,\"WVCorrection\":0,\"OPUSBitrate\":48,\"OPUSMode\":0,\"OPUSComplexity\":10,"
              "\"AACBitrate\":64}");
    EXPECT_FALSE(std::filesystem::exists(config));

    // The settings as the window leaves them: started once, then a preset saved as "Mine".
    bw::TEncoderOptions mine;
    mine.Mp3.Samplerate = 2; // 32000
    mine.Mp3.Channels = 4;   // mono
    mine.Mp3.CBRBitrate = 5; // 80 kbps
    mine.Mp3.CRC = true;
    {
        bw::TSettingsStore store(QString::fromStdString(config + "/Halvorix/Brindlewave.conf"));
        bw::TSettingsHooks hooks;
        hooks.ResetAllPresets = [](bw::TSettingsStore& s) { bw::ResetAllPresets(s); };
        bw::LoadSettings(store, {}, {}, "p", hooks);
        bw::SavePresetAs(store, "Mine", mine);
        bw::SavePresetAs(store, "Mine", {}); // a second of the same name is never used
    }
    r = cli({"presets"});
    lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 7u) << r.Out << r.Err;
    EXPECT_EQ(lines[5].rfind("{\"Index\":5,\"Name\":\"Mine\",\"MP3SampleRate\":2,\"MP3Channels\":4,", 0), 0u)
        << lines[5];

    const auto wav = MakeSource(dir, SourceKinds()[0]);
    std::vector<std::string> sets;
    for (const auto& name : bw::EncoderOptionNames())
        sets.insert(sets.end(), {"--set", name + "=" + std::to_string(*bw::EncoderOptionValue(mine, name))});
    const auto convert = [&](const std::string& out, std::vector<std::string> options) {
        std::filesystem::create_directory(dir.File(out));
        std::vector<std::string> args{"convert", "--to", "mp3", "--out", dir.File(out)};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(wav);
        const auto run = cli(args);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        return dir.File(out + "/wav16.mp3");
    };
    const std::string byPreset = convert("preset", {"--preset", "Mine"});
    const std::string bySets = convert("sets", sets);
    EXPECT_EQ(ReadAll(byPreset), ReadAll(bySets));
    const auto stream = [](const std::string& path) {
        return RunOk({"ffprobe", "-v", "error", "-show_entries", "stream=sample_rate,channels,bit_rate",
                      "-of", "csv=p=0", path});
    };
    EXPECT_EQ(stream(byPreset).rfind("32000,1,80000,", 0), 0u) << stream(byPreset);
    // --set wins over the preset, also when it comes first on the line.
    const std::string over = stream(convert("over", {"--set", "MP3SampleRate=1", "--preset", "Mine"}));
    EXPECT_EQ(over.rfind("44100,1,80000,", 0), 0u) << over;

    // An unknown name is a usage error; a damaged preset is refused with the store's message.
    r = cli({"convert", "--to", "mp3", "--out", dir.File("none"), "--preset", "mine", wav});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("unknown preset 'mine'"), std::string::npos) << r.Err;
    EXPECT_TRUE(r.Out.empty());
    {
        QSettings raw(QString::fromStdString(config + "/Halvorix/Brindlewave.conf"), QSettings::IniFormat);
        raw.remove("QualityItem_5/MP3HQ");
    }
    r = cli({"convert", "--to", "mp3", "--out", dir.File("none"), "--preset", "Mine", wav});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_NE(r.Err.find("Failed to get data for 'MP3HQ'"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("none")));
    r = cli({"presets"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(Lines(r.Out)[5], "{\"Index\":5,\"Name\":\"Mine\",\"MP3SampleRate\":2,\"MP3Channels\":4,"
                               "\"MP3Original\":0,\"MP3Copyright\":0,\"MP3CRC\":1,\"MP3CBR\":1,"
                               "\"MP3BitRate\":5,\"WVMode\":1,\"WVHybrid\":0,\"WVBits\":40,"
                               "\"WVCorrection\":0,\"OPUSBitrate\":128,\"OPUSMode\":0,\"OPUSComplexity\":10,"
                               "\"AACBitrate\":192}");
}
