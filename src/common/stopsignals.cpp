#include "common/stopsignals.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace bw {

namespace {

volatile std::sig_atomic_t gReceived = 0;
std::atomic<int> gWakeFd{-1}; // lock-free: read in the handler

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    gReceived = signal;
    const int fd = gWakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // full pipe: already awake
    }
    errno = saved;
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

void TStopSignals::DrainWake() {
    char buffer[64];
    while (pipe_[0] >= 0 && ::read(pipe_[0], buffer, sizeof buffer) > 0) {
    }
}

} // namespace bw
