#pragma once

// Running and timing the programs a bench compares: wall-clock and processor time of every
// process started, with the best and the median ratio over rounds.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bwbench {

// A private working folder in the system's temporary folder for one bench run
// ("<name>.XXXXXX"), removed with everything in it when the bench ends normally. Path() is
// empty when it could not be made.
class TBenchFolder {
public:
    explicit TBenchFolder(const std::string& name);
    ~TBenchFolder();
    TBenchFolder(const TBenchFolder&) = delete;
    TBenchFolder& operator=(const TBenchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct TCost {
    double Wall = -1; // negative: a program failed
    double Cpu = 0;   // user and system time of every process started
};

// Seconds for one run of a command, or of a producer piped into a consumer.
TCost Time(const std::vector<std::string>& producer, const std::vector<std::string>& consumer);
// Seconds for running every command, at most width of them at a time, each started as soon
// as one before it ends (what a shell loop over the files in `width` workers does).
TCost TimeSideBySide(const std::vector<std::vector<std::string>>& commands, int width);

// Times a and b in turns for rounds rounds, each round starting with the other one, so that
// a slow spell of the machine touches both alike; the times go into aTimes and bTimes.
// False, at once, when a run failed (its time is negative).
bool TimeInTurns(int rounds, const std::function<TCost()>& a, const std::function<TCost()>& b,
                 std::vector<TCost>& aTimes, std::vector<TCost>& bTimes);

// The best of the repetitions, wall-clock and processor time each.
TCost Best(const std::vector<TCost>& costs);
// The median over the rounds of a/b for the wall-clock time, each a and b from the same
// round: the encoders' own speed drifts by a tenth and more over minutes on a shared
// machine, and a ratio of two times taken next to each other cancels most of that drift.
double MedianRatio(const std::vector<TCost>& a, const std::vector<TCost>& b);

} // namespace bwbench
