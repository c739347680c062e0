// ape_compress IN.wav OUT.ape LEVEL: compresses one WAV file through the pipeline's
// Monkey's Audio writer and prints the time taken.

#include "pipeline/acs_mac.h"
#include "pipeline/acs_wave.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: ape_compress IN.wav OUT.ape LEVEL\n");
        return 2;
    }
    bw::TWaveIn in;
    in.SetFileName(argv[1]);
    bw::TMACOut out;
    out.SetInput(&in);
    out.SetFileName(argv[2]);
    out.SetCompressionLevel(std::atoi(argv[3]));
    std::atomic<bool> done{false};
    out.OnDone = [&](bw::TACSOutput&) { done.store(true); };

    const auto start = std::chrono::steady_clock::now();
    try {
        out.StartOutput();
    } catch (const bw::EACSException& e) {
        std::fprintf(stderr, "ape_compress: %s\n", e.what());
        return 1;
    }
    // Done, or idle after a failure: either way the wait ends.
    while (!done.load() && out.OutputStatus() != bw::TACSOutput::kIdle)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (out.Busy())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (const std::string error = out.LastError(); !error.empty()) {
        std::fprintf(stderr, "ape_compress: %s\n", error.c_str());
        return 1;
    }
    std::printf("level %d: %.3f s\n", out.CompressionLevel(), seconds);
    return 0;
}
