#include "audio/encoderpipe.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bw {

namespace {

constexpr size_t kMaxErrorLines = 10;
constexpr size_t kMaxErrorBytes = 4096;
constexpr int kReapPollMs = 100;
// The encoder's input pipe is made this large where the system allows it, and refilled
// once half of it has been taken (checked this often). A large pipe read in big steps
// lets the encoder read as if from a file.
constexpr int kPipeBytes = 1 << 20;
constexpr int kSmallestRefilledPipe = 256 * 1024;
constexpr int kRefillPollMs = 2;
constexpr auto kWaitHookEvery = std::chrono::milliseconds(100);

void PutLe(std::vector<std::byte>& h, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        h.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}

void PutTag(std::vector<std::byte>& h, std::string_view tag) {
    for (const char c : tag)
        h.push_back(static_cast<std::byte>(c));
}

bool IsExecutableFile(const std::filesystem::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Writing into a pipe whose reader has died raises SIGPIPE, whose default action ends the
// whole program. Blocking it in this thread around the write turns it into EPIPE; a signal
// that the write left pending is taken back before unblocking, so nothing changes for the
// rest of the program (no process-wide SIG_IGN).
class TSigPipeBlock {
public:
    TSigPipeBlock() {
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &oldMask_);
    }
    ~TSigPipeBlock() {
        if (!wasPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeSet_, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
    }
    TSigPipeBlock(const TSigPipeBlock&) = delete;
    TSigPipeBlock& operator=(const TSigPipeBlock&) = delete;

private:
    sigset_t pipeSet_{};
    sigset_t oldMask_{};
    bool wasPending_ = false;
};

// posix_spawn attributes that give the child default SIGPIPE handling and an empty signal
// mask whatever this program has set for itself.
class TSpawnSetup {
public:
    TSpawnSetup(int stdinFd, int outputFd) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        posix_spawn_file_actions_adddup2(&actions_, stdinFd, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions_, outputFd, STDERR_FILENO);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        sigset_t empty;
        sigemptyset(&empty);
        posix_spawnattr_setsigmask(&attr_, &empty);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~TSpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attr() const { return &attr_; }

private:
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attr_{};
};

} // namespace

std::vector<std::byte> MakeWavHeader(const TChannelInfo& info,
                                     std::optional<uint32_t> dataBytes) {
    const auto channels = static_cast<uint32_t>(info.Channels);
    const auto rate = static_cast<uint32_t>(info.SampleRate);
    const auto blockAlign = static_cast<uint32_t>(info.BlockAlign());
    const auto bits = static_cast<uint32_t>(info.BytesPerSample() * 8);
    // More than two channels need the extensible format: the plain one says nothing of
    // where each channel goes, and encoders refuse it or guess.
    const bool extensible = info.Channels > 2;
    const uint32_t fmtSize = extensible ? 40 : 16;
    // RIFF's size counts everything after its own field: "WAVE", the fmt chunk, the data
    // chunk's head and the data.
    const uint32_t riffRest = 4 + 8 + fmtSize + 8;
    // A size the RIFF field cannot hold is as good as unknown.
    const bool known = dataBytes && *dataBytes <= UINT32_MAX - riffRest;
    std::vector<std::byte> h;
    h.reserve(12 + 8 + fmtSize + 8);
    PutTag(h, "RIFF");
    PutLe(h, known ? *dataBytes + riffRest : UINT32_MAX, 4);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    PutLe(h, fmtSize, 4);
    PutLe(h, extensible ? 0xFFFE : 1, 2); // WAVE_FORMAT_EXTENSIBLE or PCM
    PutLe(h, channels, 2);
    PutLe(h, rate, 4);
    PutLe(h, rate * blockAlign, 4); // bytes per second
    PutLe(h, blockAlign, 2);
    PutLe(h, bits, 2);
    if (extensible) {
        PutLe(h, 22, 2);   // size of the extension
        PutLe(h, bits, 2); // valid bits per sample
        PutLe(h, info.ChannelMask, 4);
        // The PCM sub-format GUID, KSDATAFORMAT_SUBTYPE_PCM, as stored.
        static constexpr uint8_t kPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        for (const uint8_t b : kPcm)
            h.push_back(static_cast<std::byte>(b));
    }
    PutTag(h, "data");
    PutLe(h, known ? *dataBytes : UINT32_MAX, 4);
    return h;
}

std::string FindProgram(const std::string& name) {
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return IsExecutableFile(name) ? name : std::string();
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto beside = self.parent_path() / name;
        if (IsExecutableFile(beside))
            return beside.string();
    }
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        // An empty entry means the current folder.
        const auto candidate = std::filesystem::path(dir.empty() ? "." : std::string(dir)) / name;
        if (IsExecutableFile(candidate))
            return candidate.string();
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return {};
}

TEncoderPipe::~TEncoderPipe() {
    if (Running())
        Stop();
}

bool TEncoderPipe::Start(const std::vector<std::string>& argv, const TChannelInfo& info,
                         std::optional<uint64_t> dataBytes) {
    if (info.Channels <= 0 || info.SampleRate <= 0) {
        lastError_ = Running() ? TAudioError::Already : TAudioError::IllegalParam;
        return false;
    }
    if (!Spawn(argv, true))
        return false;
    std::optional<uint32_t> headerSize;
    if (dataBytes && *dataBytes <= UINT32_MAX)
        headerSize = static_cast<uint32_t>(*dataBytes);
    const auto header = MakeWavHeader(info, headerSize);
    if (!Write(header)) {
        Stop();
        lastError_ = TAudioError::Process;
        return false;
    }
    lastError_ = TAudioError::Ok;
    return true;
}

bool TEncoderPipe::StartWithoutInput(const std::vector<std::string>& argv) {
    if (!Spawn(argv, false))
        return false;
    lastError_ = TAudioError::Ok;
    return true;
}

bool TEncoderPipe::Spawn(const std::vector<std::string>& argv, bool withInput) {
    if (Running()) {
        lastError_ = TAudioError::Already;
        return false;
    }
    errorOutput_.clear();
    if (argv.empty()) {
        lastError_ = TAudioError::IllegalParam;
        return false;
    }
    const std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        lastError_ = TAudioError::Process;
        errorOutput_ = "cannot find the program " + argv[0];
        return false;
    }
    TFileHandle childIn;
    TFileHandle ourIn;
    if (withInput) {
        int inPipe[2];
        if (pipe2(inPipe, O_CLOEXEC) != 0) {
            lastError_ = TAudioError::Process;
            return false;
        }
        childIn = TFileHandle(inPipe[0]);
        ourIn = TFileHandle(inPipe[1]);
        fcntl(ourIn.Get(), F_SETPIPE_SZ, kPipeBytes); // a smaller pipe still works, only slower
        pipeBytes_ = fcntl(ourIn.Get(), F_GETPIPE_SZ);
    } else {
        childIn = TFileHandle(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!childIn.IsOpen()) {
            lastError_ = TAudioError::Process;
            return false;
        }
    }
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        lastError_ = TAudioError::Process;
        return false;
    }
    TFileHandle ourOut(outPipe[0]);
    TFileHandle childOut(outPipe[1]);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const TSpawnSetup setup(childIn.Get(), childOut.Get());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attr(),
                               args.data(), environ);
    if (rc != 0) {
        lastError_ = TAudioError::Process;
        errorOutput_ = "cannot start " + program + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    childIn.Close();
    childOut.Close();
    if (ourIn.IsOpen())
        SetNonBlocking(ourIn.Get());
    SetNonBlocking(ourOut.Get());
    input_ = std::move(ourIn);
    errors_ = std::move(ourOut);
    return true;
}

bool TEncoderPipe::Write(std::span<const std::byte> block) {
    if (!Running() || !input_.IsOpen()) {
        lastError_ = TAudioError::Handle;
        return false;
    }
    const TSigPipeBlock guard;
    size_t done = 0;
    while (done < block.size()) {
        if (!WaitForRoom()) {
            lastError_ = TAudioError::Process;
            return false;
        }
        const ssize_t n = ::write(input_.Get(), block.data() + done, block.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // EPIPE: the encoder has exited or closed its input.
        input_.Close();
        lastError_ = TAudioError::Process;
        return false;
    }
    return true;
}

// Waking on every page the encoder takes from a full pipe would bounce the two processes
// thousands of times a second, a context switch each time for a few kilobytes. With a
// large pipe we sleep instead while more than half of it is still queued; the encoder then
// always finds its input waiting.
bool TEncoderPipe::WaitForRoom() {
    using TClock = std::chrono::steady_clock;
    auto nextHook = TClock::now() + kWaitHookEvery;
    const int hookMs = static_cast<int>(kWaitHookEvery.count());
    for (;;) {
        int queued = 0;
        const bool refill = pipeBytes_ < kSmallestRefilledPipe ||
                            ioctl(input_.Get(), FIONREAD, &queued) != 0 || queued <= pipeBytes_ / 2;
        // Without POLLOUT asked for, the input still reports POLLERR once the encoder is gone.
        pollfd fds[2] = {{input_.Get(), static_cast<short>(refill ? POLLOUT : 0), 0},
                         {errors_.Get(), POLLIN, 0}};
        const int timeout = !refill ? kRefillPollMs : waitHook_ ? hookMs : -1;
        if (poll(fds, errors_.IsOpen() ? 2 : 1, timeout) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        // Keep the encoder's output flowing, or it may block on it and stop reading.
        if (errors_.IsOpen() && fds[1].revents != 0 && !DrainErrors())
            errors_.Close();
        if ((fds[0].revents & (POLLOUT | POLLERR)) != 0)
            return true; // a write now either fits or reports why it cannot
        if (waitHook_ && TClock::now() >= nextHook) {
            if (!waitHook_())
                return false;
            nextHook = TClock::now() + kWaitHookEvery;
        }
    }
}

bool TEncoderPipe::DrainErrors() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(errors_.Get(), buf, sizeof buf);
        if (n > 0) {
            KeepErrorText(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN; // 0: end of output; other errors end it too
    }
}

void TEncoderPipe::KeepErrorText(const char* data, size_t size) {
    // Progress lines end in a carriage return; count them as lines.
    for (size_t i = 0; i < size; ++i)
        errorOutput_.push_back(data[i] == '\r' ? '\n' : data[i]);
    if (errorOutput_.size() > 2 * kMaxErrorBytes)
        errorOutput_.erase(0, errorOutput_.size() - kMaxErrorBytes);
    // Keep the last lines that are not empty.
    size_t lines = 0;
    size_t pos = errorOutput_.size();
    while (pos > 0) {
        const size_t nl = errorOutput_.rfind('\n', pos - 1);
        const size_t begin = nl == std::string::npos ? 0 : nl + 1;
        if (pos > begin && ++lines > kMaxErrorLines) {
            errorOutput_.erase(0, pos + 1); // this line, its line break and all before
            break;
        }
        if (nl == std::string::npos)
            break;
        pos = nl;
    }
}

int TEncoderPipe::Stop() {
    if (!Running()) {
        lastError_ = TAudioError::Handle;
        return -1;
    }
    input_.Close(); // end of input: the encoder finishes its file and exits
    int status = 0;
    for (;;) {
        if (errors_.IsOpen()) {
            pollfd fd{errors_.Get(), POLLIN, 0};
            if (poll(&fd, 1, kReapPollMs) > 0 && !DrainErrors())
                errors_.Close();
        }
        // While its output is open, only look; once it is closed, wait. A grandchild that
        // kept the output open cannot hold us once the encoder itself has exited.
        const pid_t r = waitpid(pid_, &status, errors_.IsOpen() ? WNOHANG : 0);
        if (r == pid_)
            break;
        if (r < 0 && errno != EINTR) {
            status = -1;
            break;
        }
    }
    return Reaped(status);
}

int TEncoderPipe::Reaped(int status) {
    if (errors_.IsOpen()) {
        DrainErrors();
        errors_.Close();
    }
    input_.Close();
    pid_ = -1;
    const int exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    lastError_ = exitCode == 0 ? TAudioError::Ok : TAudioError::Process;
    return exitCode;
}

std::optional<int> TEncoderPipe::WaitForExit(std::chrono::milliseconds timeout) {
    if (!Running())
        return -1;
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            return Reaped(status);
        if (r < 0 && errno != EINTR)
            return Reaped(-1);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0)
            return std::nullopt;
        // Its output wakes us at once; once that is closed, look again every few
        // milliseconds so an ended program is noticed quickly.
        const int ms = static_cast<int>(std::min<int64_t>(left.count(), errors_.IsOpen() ? kReapPollMs : 5));
        if (errors_.IsOpen()) {
            pollfd fd{errors_.Get(), POLLIN, 0};
            if (poll(&fd, 1, ms) > 0 && !DrainErrors())
                errors_.Close();
        } else {
            poll(nullptr, 0, ms);
        }
    }
}

void TEncoderPipe::Kill() {
    if (!Running())
        return;
    ::kill(pid_, SIGKILL);
    Stop();
}

} // namespace bw
