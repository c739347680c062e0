#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bwtest {

TTempDir::TTempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("bwtest-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind on purpose; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

TRunResult Run(const std::vector<std::string>& argv, const std::string& input) {
    TRunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        result.Err = "cannot start " + argv[0];
        return result;
    }
    // Feed input and drain both outputs together, so no pipe fills up and blocks the tool.
    size_t written = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    signal(SIGPIPE, SIG_IGN);
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        pollfd fds[3];
        int n = 0;
        if (outOpen)
            fds[n++] = {outPipe[0], POLLIN, 0};
        if (errOpen)
            fds[n++] = {errPipe[0], POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        if (poll(fds, n, -1) < 0)
            break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == inFd) {
                const ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w <= 0 || written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            const ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r <= 0) {
                if (fds[i].fd == outPipe[0])
                    outOpen = false;
                else
                    errOpen = false;
                continue;
            }
            (fds[i].fd == outPipe[0] ? result.Out : result.Err).append(buf, static_cast<size_t>(r));
        }
    }
    if (inFd >= 0)
        close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string RunOk(const std::vector<std::string>& argv) {
    auto r = Run(argv);
    if (r.ExitCode != 0) {
        std::string cmd;
        for (const auto& a : argv)
            cmd += a + " ";
        ADD_FAILURE() << cmd << "exited " << r.ExitCode << ": " << r.Err;
    }
    return r.Out;
}

void MakeTone(const std::string& path, double seconds, int rate, int channels,
              const std::vector<std::string>& extraOptions) {
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                      ":duration=" + std::to_string(seconds),
                                  "-ac", std::to_string(channels)};
    argv.insert(argv.end(), extraOptions.begin(), extraOptions.end());
    argv.push_back(path);
    RunOk(argv);
}

std::vector<std::byte> FfmpegDecode(const std::string& path, const std::string& format) {
    const std::string out =
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", format, "-"});
    const auto* p = reinterpret_cast<const std::byte*>(out.data());
    return std::vector<std::byte>(p, p + out.size());
}

std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::byte> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> c((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto* p = reinterpret_cast<const std::byte*>(c.data());
    return std::vector<std::byte>(p, p + c.size());
}

void WriteAll(const std::string& path, const std::vector<std::byte>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool WaitFor(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::filesystem::path BuildDir() { return std::filesystem::path(BW_BUILD_DIR); }

void PrepareTestEnvironment() {
    // Tests run headless and silent unless the caller asked otherwise.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    // The programs the conversions start (our resampler) are found where the build puts
    // them, as an installed program finds them beside itself.
    const char* path = std::getenv("PATH");
    const std::string withPrograms = std::string(BW_BUILD_DIR) + "/bin" + (path ? ":" + std::string(path) : "");
    setenv("PATH", withPrograms.c_str(), 1);
}

} // namespace bwtest
