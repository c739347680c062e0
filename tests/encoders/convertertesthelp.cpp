#include "encoders/convertertesthelp.h"

#include "shell/probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace bwtest {

const std::vector<TSourceKind>& SourceKinds() {
    // A maker by FFmpeg's own encoder, the container and codec chosen by the options.
    const auto ffmpeg = [](std::vector<std::string> options) {
        return [options](const std::string& wav, const std::string& out) {
            std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav};
            argv.insert(argv.end(), options.begin(), options.end());
            argv.push_back(out);
            RunOk(argv);
        };
    };
    static const std::vector<TSourceKind> kinds{
        {"wav16.wav", [](const std::string& wav, const std::string& out) {
             RunOk({"cp", wav, out});
         }},
        {"wav8mono.wav", [](const std::string& wav, const std::string& out) {
             RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-ac", "1", "-c:a",
                    "pcm_u8", out});
         }},
        {"lame.mp3", [](const std::string& wav, const std::string& out) {
             RunOk({"lame", "--quiet", "-b", "128", wav, out});
         }},
        {"layer2.mp2", [](const std::string& wav, const std::string& out) {
             RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-ar", "48000", "-c:a",
                    "mp2", out});
         }},
        {"vorbis.ogg", [](const std::string& wav, const std::string& out) {
             RunOk({"oggenc", "-Q", "-o", out, wav});
         }},
        {"wmav2.wma", [](const std::string& wav, const std::string& out) {
             RunOk({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-c:a", "wmav2", out});
         }},
        {"lossless.flac", [](const std::string& wav, const std::string& out) {
             RunOk({"flac", "-s", "-o", out, wav});
         }},
        {"pack.wv", [](const std::string& wav, const std::string& out) {
             RunOk({"wavpack", "-q", wav, "-o", out});
         }},
        {"plus.mpc", [](const std::string& wav, const std::string& out) {
             RunOk({"mpcenc", "--silent", wav, out});
         }},
        {"aac.m4a", ffmpeg({"-c:a", "aac"})},
        {"alac.m4a", ffmpeg({"-c:a", "alac"})},
        {"opus.opus", ffmpeg({"-c:a", "libopus"})},
        {"aiff.aiff", ffmpeg({})},
        {"true.tta", ffmpeg({})},
        {"dsd.dsf", [](const std::string& wav, const std::string& out) { EXPECT_TRUE(bwmedia::MakeDsf(wav, out)); }},
    };
    return kinds;
}

std::string MakeSource(const TTempDir& dir, const TSourceKind& kind) {
    const std::string wav = dir.File("tone-" + kind.Name + ".tmp.wav");
    MakeTone(wav, 1.5, 44100, 2, {"-c:a", "pcm_s16le"});
    const std::string out = dir.File(kind.Name);
    kind.Make(wav, out);
    std::filesystem::remove(wav);
    return out;
}

bw::TConversionRow RowFor(const std::string& path) {
    bw::TFileProbe probe;
    auto result = probe.Probe(path);
    EXPECT_TRUE(result.Accepted) << path << ": " << result.Reason;
    return {result.Item, true, "-"};
}

std::map<std::string, std::string> ProbeTags(const std::string& path) {
    const std::string out = RunOk({"ffprobe", "-v", "error", "-show_entries",
                                   "format_tags:stream_tags", "-of", "default=nw=1", path});
    std::map<std::string, std::string> tags;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("TAG:", 0) != 0)
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(4, eq - 4);
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tags.emplace(key, line.substr(eq + 1));
    }
    return tags;
}

double DecodedSeconds(const std::string& path) {
    // Decoded at one fixed rate and layout, so sources and outputs of any rate compare.
    const std::string pcm = RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-ar",
                                   "44100", "-ac", "1", "-f", "s16le", "-"});
    return static_cast<double>(pcm.size()) / 2.0 / 44100.0;
}

TScopedEnv::TScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_)
        old_ = old;
    setenv(name, value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

} // namespace bwtest
