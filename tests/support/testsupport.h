#pragma once

// Helpers shared by the tests: a private temporary folder, running the real tools (ffmpeg,
// lame, flac, ...) that make test media and check outputs, and reading files whole.

#include "support/mediamake.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bwtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a program from an argument vector (no shell), with optional standard input.
using bwmedia::Run;
using bwmedia::TRunResult;
// Like Run, but the test fails (ADD_FAILURE) with the tool's error output when it exits
// non-zero. Returns the standard output.
std::string RunOk(const std::vector<std::string>& argv);

// Writes a tone with ffmpeg: seconds long, at rate and channels, in the format the file
// name's extension asks for, with extra ffmpeg output options (e.g. {"-c:a","pcm_u8"}).
void MakeTone(const std::string& path, double seconds, int rate = 44100, int channels = 2,
              const std::vector<std::string>& extraOptions = {});
// The raw interleaved PCM ffmpeg decodes from a file, in the given sample format
// ("s16le" or "u8").
std::vector<std::byte> FfmpegDecode(const std::string& path, const std::string& format = "s16le");

std::vector<std::byte> ReadAll(const std::string& path);
// The names in a folder, sorted (to check that nothing was left beside a file).
std::vector<std::string> FolderEntries(const std::string& dir);
void WriteAll(const std::string& path, const std::vector<std::byte>& data);

// Waits (polling) until done says so; false after 20 s, which only guards against a hang.
bool WaitFor(const std::function<bool()>& done);

// Where the build put its programs.
std::filesystem::path BuildDir();

// Sets the headless defaults (offscreen Qt, dummy SDL audio) unless already set; every test
// program's main calls it first.
void PrepareTestEnvironment();

} // namespace bwtest
