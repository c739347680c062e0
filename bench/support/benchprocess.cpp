#include "support/benchprocess.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bwbench {

namespace {

using TClock = std::chrono::steady_clock;

double CpuOfChildren() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Starts argv with the given standard input and output (-1: /dev/null); -1 when it could
// not be started.
pid_t Spawn(const std::vector<std::string>& argv, int in, int out) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&fa, in, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&fa, out, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool Succeeded(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

bool Wait(pid_t pid) {
    if (pid < 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return Succeeded(status);
}

} // namespace

TBenchFolder::TBenchFolder(const std::string& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / (name + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
}

TBenchFolder::~TBenchFolder() {
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ec);
}

TCost Time(const std::vector<std::string>& producer, const std::vector<std::string>& consumer) {
    const auto start = TClock::now();
    const double cpuBefore = CpuOfChildren();
    bool ok = true;
    if (producer.empty()) {
        ok = Wait(Spawn(consumer, -1, -1));
    } else {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0)
            return {};
        const pid_t a = Spawn(producer, -1, p[1]);
        close(p[1]);
        const pid_t b = Spawn(consumer, p[0], -1);
        close(p[0]);
        ok = Wait(a) && Wait(b);
    }
    const std::chrono::duration<double> d = TClock::now() - start;
    if (!ok)
        return {};
    return {d.count(), CpuOfChildren() - cpuBefore};
}

TCost TimeSideBySide(const std::vector<std::vector<std::string>>& commands, int width) {
    const auto start = TClock::now();
    const double cpuBefore = CpuOfChildren();
    bool ok = true;
    size_t next = 0;
    int running = 0;
    while (next < commands.size() || running > 0) {
        if (next < commands.size() && running < width) {
            if (Spawn(commands[next++], -1, -1) >= 0)
                ++running;
            else
                ok = false;
            continue;
        }
        int status = 0;
        if (waitpid(-1, &status, 0) < 0)
            break;
        --running;
        ok = Succeeded(status) && ok;
    }
    const std::chrono::duration<double> d = TClock::now() - start;
    if (!ok)
        return {};
    return {d.count(), CpuOfChildren() - cpuBefore};
}

bool TimeInTurns(int rounds, const std::function<TCost()>& a, const std::function<TCost()>& b,
                 std::vector<TCost>& aTimes, std::vector<TCost>& bTimes) {
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool first = (r + k) % 2 == 0;
            const TCost t = first ? a() : b();
            (first ? aTimes : bTimes).push_back(t);
            if (t.Wall < 0)
                return false;
        }
    }
    return true;
}

TCost Best(const std::vector<TCost>& costs) {
    TCost best = costs.front();
    for (const TCost& c : costs) {
        best.Wall = std::min(best.Wall, c.Wall);
        best.Cpu = std::min(best.Cpu, c.Cpu);
    }
    return best;
}

double MedianRatio(const std::vector<TCost>& a, const std::vector<TCost>& b) {
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        r.push_back(a[i].Wall / b[i].Wall);
    std::sort(r.begin(), r.end());
    const size_t n = r.size();
    return n % 2 == 1 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
}

} // namespace bwbench
