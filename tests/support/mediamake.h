#pragma once

// Media made by the real tools, shared by the tests and the benchmarks: the FFmpeg command
// lines that make each kind of signal, and running a program with its output collected.
// Free of the test framework, so that the benchmarks link it as well.

#include <string>
#include <vector>

namespace bwmedia {

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

} // namespace bwmedia
