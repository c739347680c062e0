#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace bw {

// The progress of a run on a terminal: a block at the bottom with one line per running file
// (a bar, its percentage and its name) and a total line "k of N files", redrawn in place
// with the terminal's cursor moves. Lines said while it runs go above the block, which
// follows them down; Finish replaces it with the summary. A line of the block is cut to the
// terminal's width: one the terminal wrapped would no longer be where the cursor moves go.
class TTerminalProgress {
public:
    TTerminalProgress(std::ostream& out, size_t total, size_t columns);

    void Started(size_t row, const std::string& name);
    void Percent(size_t row, int percent);
    // The row is through: Done, passed over ("-") or anything else (failed). A row that never
    // started (refused before the run) only counts.
    void Ended(size_t row, const std::string& status);
    // A line printed above the block.
    void Say(const std::string& line);
    // Clears the block and prints "N done, N failed, N skipped in " and the time taken.
    void Finish(const std::string& elapsed);

private:
    struct TRunning {
        size_t Row;
        std::string Name;
        int Percent;
    };
    void Redraw();
    void Erase();

    std::ostream& out_;
    size_t total_;
    size_t columns_;
    std::vector<TRunning> running_;
    size_t done_ = 0;
    size_t failed_ = 0;
    size_t skipped_ = 0;
    size_t drawn_ = 0; // lines of the block on the screen
};

} // namespace bw
