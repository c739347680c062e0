#pragma once

#include <array>
#include <csignal>

namespace bw {

// While it lives, the signals that ask a program to end (SIGINT from Ctrl-C, SIGTERM from
// `kill` or a logout, SIGHUP from a closed terminal) no longer end the process on the spot:
// each is noted, so the program can cancel its work, end its encoders, remove its
// temporary files and save what it must before it ends. A program without an event loop
// polls Received(); one with a loop watches WakeFd(), which becomes readable on a signal.
// One at a time; the previous handlers come back with the object.
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // The last signal received, 0 while none has been.
    static int Received();
    // Readable once a signal has come; read it empty with DrainWake().
    int WakeFd() const { return pipe_[0]; }
    void DrainWake();

private:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, kSignals.size()> old_{};
    std::array<int, 2> pipe_{-1, -1};
};

} // namespace bw
