#include "common/stopsignals.h"

#include "common/instancetemp.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace bw {

namespace {

volatile std::sig_atomic_t gReceived = 0;
std::atomic<int> gWakeFd{-1};     // lock-free: read in the handler
std::atomic<int> gDeadlineFd{-1}; // the same, for the deadline's watcher

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    gReceived = signal;
    const char byte = static_cast<char>(signal);
    for (const int fd : {gWakeFd.load(std::memory_order_relaxed),
                         gDeadlineFd.load(std::memory_order_relaxed)})
        if (fd >= 0)
            [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // full pipe: already awake
    errno = saved;
}

// One byte from the watcher's pipe: a signal's number, or 0 when the deadline ends. -1
// when nothing came within timeoutMs (-1: wait without end).
int NextByte(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    while ((ready = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready <= 0)
        return -1;
    char byte = 0;
    ssize_t n = 0;
    while ((n = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 ? static_cast<unsigned char>(byte) : 0; // a closed pipe ends the watch too
}

} // namespace

TStopSignals::TStopSignals() {
    gReceived = 0;
    if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) == 0)
        gWakeFd = pipe_[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &action, &old_[i]);
}

TStopSignals::~TStopSignals() {
    for (size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &old_[i], nullptr);
    gWakeFd = -1;
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

int TStopSignals::Received() { return gReceived; }

TStopDeadline::TStopDeadline(std::chrono::milliseconds grace) {
    if (::pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    watcher_ = std::thread([this, grace] { Watch(grace); });
    gDeadlineFd = pipe_[1];
}

TStopDeadline::~TStopDeadline() {
    gDeadlineFd = -1;
    if (watcher_.joinable()) {
        const char end = 0;
        [[maybe_unused]] const ssize_t n = ::write(pipe_[1], &end, 1);
        watcher_.join();
    }
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
}

void TStopDeadline::Watch(std::chrono::milliseconds grace) {
    // The signals go to the program's other threads, which act on them.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    const int signal = NextByte(pipe_[0], -1);
    if (signal <= 0)
        return;
    const auto end = std::chrono::steady_clock::now() + grace;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const int next = NextByte(pipe_[0], static_cast<int>(left.count()));
        if (next == 0)
            return; // the program ended in time
    }
    RemoveInstanceTemporaryFolder();
    ::_exit(128 + signal);
}

void TStopSignals::DrainWake() {
    char buffer[64];
    while (pipe_[0] >= 0 && ::read(pipe_[0], buffer, sizeof buffer) > 0) {
    }
}

} // namespace bw
