#pragma once

// Media made by the real tools, shared by the tests and the benchmarks: the FFmpeg command
// lines that make each kind of signal, and running a program with its output collected.
// Free of the test framework, so that the benchmarks link it as well.

#include <filesystem>
#include <string>
#include <vector>

namespace bwmedia {

// The build tree the running program belongs to: the nearest folder above it that holds
// CMakeCache.txt. Found at run time, so that no absolute path is compiled in and a clone in
// another folder shares the compiler cache.
const std::filesystem::path& BuildTree();
// The source tree that build tree was configured from, as its CMakeCache.txt records it.
const std::filesystem::path& SourceTree();
// A program the build made, by its path inside the build tree ("bin/brindlewave-cli"). The
// text lives as long as the process, so it can go where a C string is wanted.
const char* BuildProgram(const std::string& relative);
inline const char* CliProgram() { return BuildProgram("bin/brindlewave-cli"); }
inline const char* ResamplerProgram() { return BuildProgram("bin/brindlewave-resample"); }

struct TRunResult {
    int ExitCode = -1; // -1 when the program could not be started or died by a signal
    std::string Out;   // standard output
    std::string Err;   // standard error
};

// Runs a program from an argument vector (no shell), with optional standard input.
TRunResult Run(const std::vector<std::string>& argv, const std::string& input = {});

// A 440 Hz tone, seconds long, at rate and channels, in the format the file name's
// extension asks for, with extra output options (e.g. {"-c:a","pcm_u8"}).
std::vector<std::string> ToneCommand(const std::string& path, double seconds, int rate = 44100,
                                     int channels = 2, const std::vector<std::string>& extraOptions = {});

// A tone of frequency over pink noise of the given seed, as 44.1 kHz 16-bit stereo: raw
// interleaved samples when raw, else in the format of the file name's extension. Tones of
// different frequencies and seeds tell tracks apart.
std::vector<std::string> ToneOverNoiseCommand(const std::string& path, double seconds, int frequency,
                                              int seed, bool raw);

// Music-like 44.1 kHz stereo: two tones and noise on the left, a tone and noise on the
// right, so that encoders and filters work as hard as on real music. frequency is the left
// channel's main tone (vary it to make files differ); extraOptions choose the output's
// codec.
std::vector<std::string> MusicLikeCommand(const std::string& path, double seconds, int frequency,
                                          const std::vector<std::string>& extraOptions);

// A DSF file (FFmpeg writes none) of a source's audio as 44.1 kHz stereo, taken up to
// DSD64 by a second-order delta-sigma modulator, cut to whole 4096-byte blocks. id3From:
// a file that starts with an ID3v2 tag, whose tag becomes the DSF file's metadata.
bool MakeDsf(const std::string& source, const std::string& out, const std::string& id3From = {});

} // namespace bwmedia
