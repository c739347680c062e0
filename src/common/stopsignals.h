#pragma once

#include <array>
#include <chrono>
#include <csignal>
#include <thread>

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

// How long a program has, from a stop signal, to end by itself.
constexpr std::chrono::milliseconds kStopGrace{1500};

// A program's promise to end soon after a stop signal, whatever its threads are doing: a
// thread stuck in a library call (a read that never returns, a loop that checks for no
// signal) must not keep it alive. While it lives, a stop signal that a TStopSignals caught
// and that has not ended the program within grace ends it from a watching thread: the
// instance's temporary folder is removed and the process exits at once with 128 + the
// signal, as the shell reports a program killed by it. One per program, made first in main.
class TStopDeadline {
public:
    explicit TStopDeadline(std::chrono::milliseconds grace = kStopGrace);
    ~TStopDeadline();
    TStopDeadline(const TStopDeadline&) = delete;
    TStopDeadline& operator=(const TStopDeadline&) = delete;

private:
    void Watch(std::chrono::milliseconds grace);

    std::array<int, 2> pipe_{-1, -1};
    std::thread watcher_;
};

} // namespace bw
