#include "support/mediamake.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

extern char** environ;

namespace bwmedia {

namespace {

const std::vector<std::string> kLavfi{"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i"};

std::vector<std::string> Joined(std::vector<std::string> argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

} // namespace

const std::filesystem::path& BuildTree() {
    static const std::filesystem::path tree = [] {
        std::error_code ec;
        auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
        for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
            if (std::filesystem::exists(dir / "CMakeCache.txt", ec))
                return dir;
        return std::filesystem::path();
    }();
    return tree;
}

const std::filesystem::path& SourceTree() {
    static const std::filesystem::path tree = [] {
        std::ifstream cache(BuildTree() / "CMakeCache.txt");
        const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
        for (std::string line; std::getline(cache, line);)
            if (line.starts_with(key))
                return std::filesystem::path(line.substr(key.size()));
        return std::filesystem::path();
    }();
    return tree;
}

const char* BuildProgram(const std::string& relative) {
    static std::mutex lock;
    static std::map<std::string, std::string> paths; // nodes never move, so c_str() stays
    const std::lock_guard guard(lock);
    auto [it, added] = paths.try_emplace(relative);
    if (added)
        it->second = (BuildTree() / relative).string();
    return it->second.c_str();
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

std::vector<std::string> ToneCommand(const std::string& path, double seconds, int rate, int channels,
                                     const std::vector<std::string>& extraOptions) {
    auto argv = Joined(kLavfi, {"sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                    ":duration=" + std::to_string(seconds),
                                "-ac", std::to_string(channels)});
    return Joined(Joined(std::move(argv), extraOptions), {path});
}

std::vector<std::string> ToneOverNoiseCommand(const std::string& path, double seconds, int frequency,
                                              int seed, bool raw) {
    const std::string tone = "sine=f=" + std::to_string(frequency) + ":d=" + std::to_string(seconds);
    const std::string noise = "anoisesrc=d=" + std::to_string(seconds) + ":c=pink:a=0.25:s=" + std::to_string(seed);
    auto argv = Joined(kLavfi, {tone, "-f", "lavfi", "-i", noise, "-filter_complex",
                                "[0][1]amix=inputs=2:normalize=0,aformat=sample_fmts=s16:sample_rates=44100:"
                                "channel_layouts=stereo"});
    if (raw)
        argv = Joined(std::move(argv), {"-f", "s16le"});
    return Joined(std::move(argv), {path});
}

std::vector<std::string> MusicLikeCommand(const std::string& path, double seconds, int frequency,
                                          const std::vector<std::string>& extraOptions) {
    auto argv = Joined(kLavfi, {"aevalsrc=0.3*sin(" + std::to_string(frequency) +
                                "*2*PI*t)+0.2*sin(1234*2*PI*t)+0.1*(random(0)-0.5)|"
                                "0.3*sin(660*2*PI*t)+0.1*(random(1)-0.5):s=44100:d=" +
                                std::to_string(seconds)});
    return Joined(Joined(std::move(argv), extraOptions), {path});
}

bool MakeDsf(const std::string& source, const std::string& out, const std::string& id3From) {
    const TRunResult pcm = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", source, "-f", "s16le", "-ac", "2",
                                "-ar", "44100", "-"});
    std::ifstream tagFile(id3From, std::ios::binary);
    std::string id3((std::istreambuf_iterator<char>(tagFile)), std::istreambuf_iterator<char>());
    if (pcm.ExitCode != 0 || (!id3From.empty() && id3.compare(0, 3, "ID3") != 0))
        return false;
    if (id3.size() >= 10) // the tag alone: its header and its syncsafe size
        id3.resize(10 + ((id3[6] & 0x7f) << 21 | (id3[7] & 0x7f) << 14 | (id3[8] & 0x7f) << 7 | (id3[9] & 0x7f)));
    constexpr size_t kBlock = 4096; // bytes of one channel in a block
    const size_t blocks = pcm.Out.size() / 4 * 64 / 8 / kBlock;
    std::string data(blocks * kBlock * 2, '\0');
    for (size_t ch = 0; ch < 2; ++ch) {
        double v1 = 0, v2 = 0, y = 0;
        for (size_t bit = 0; bit < blocks * kBlock * 8; ++bit) {
            const char* at = pcm.Out.data() + bit / 64 * 4 + ch * 2;
            const auto sample = static_cast<int16_t>(static_cast<uint8_t>(at[0]) | static_cast<uint8_t>(at[1]) << 8);
            v1 += sample / 65536.0 - y; // at half scale, where the modulator stays stable
            v2 += v1 - y;
            y = v2 >= 0 ? 1 : -1;
            if (y > 0) // least significant bit first
                data[bit / 8 / kBlock * 2 * kBlock + ch * kBlock + bit / 8 % kBlock] |= static_cast<char>(1 << (bit % 8));
        }
    }
    std::string file;
    const auto le = [&file](uint64_t v, int bytes) { for (; bytes > 0; --bytes, v >>= 8) file += static_cast<char>(v); };
    const uint64_t tagAt = 28 + 52 + 12 + data.size();
    file += "DSD ", le(28, 8), le(tagAt + id3.size(), 8), le(id3.empty() ? 0 : tagAt, 8);
    // Version 1, raw DSD, stereo, 2 channels, DSD64, 1 bit, samples a channel, block size.
    file += "fmt ", le(52, 8), le(1, 4), le(0, 4), le(2, 4), le(2, 4), le(2822400, 4), le(1, 4), le(data.size() * 4, 8),
        le(kBlock, 4), le(0, 4);
    file += "data", le(12 + data.size(), 8);
    std::ofstream(out, std::ios::binary) << file << data << id3;
    return true;
}

} // namespace bwmedia
