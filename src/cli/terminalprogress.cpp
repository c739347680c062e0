#include "cli/terminalprogress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace bw {

namespace {

constexpr int kBarWidth = 30;
// Clearing from the cursor to the end of the screen, and the cursor's whole line.
constexpr const char* kClearToEnd = "\x1b[J";
constexpr const char* kClearLine = "\x1b[2K";

// text cut to at most columns characters, never inside a UTF-8 sequence.
std::string Fit(const std::string& text, size_t columns) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            continue; // a continuation byte belongs to the character before it
        if (++characters > columns)
            return text.substr(0, i);
    }
    return text;
}

} // namespace

TTerminalProgress::TTerminalProgress(std::ostream& out, size_t total, size_t columns)
    : out_(out), total_(total), columns_(std::max<size_t>(columns, 2) - 1) {}

void TTerminalProgress::Started(size_t row, const std::string& name) {
    running_.push_back({row, name, 0});
    Redraw();
}

void TTerminalProgress::Percent(size_t row, int percent) {
    const auto r = std::find_if(running_.begin(), running_.end(),
                                [row](const TRunning& t) { return t.Row == row; });
    if (r == running_.end() || r->Percent == percent)
        return;
    r->Percent = std::clamp(percent, 0, 100);
    Redraw();
}

void TTerminalProgress::Ended(size_t row, const std::string& status) {
    std::erase_if(running_, [row](const TRunning& t) { return t.Row == row; });
    ++(status == "Done" ? done_ : status == "-" ? skipped_ : failed_);
    Redraw();
}

void TTerminalProgress::Say(const std::string& line) {
    Erase();
    out_ << line << "\n";
    Redraw();
}

void TTerminalProgress::Finish(const std::string& elapsed) {
    Erase();
    out_ << done_ << " done, " << failed_ << " failed, " << skipped_ << " skipped in " << elapsed
         << "\n"
         << std::flush;
}

void TTerminalProgress::Erase() {
    if (drawn_ > 0)
        out_ << "\r\x1b[" << drawn_ << "A" << kClearToEnd;
    drawn_ = 0;
}

void TTerminalProgress::Redraw() {
    // Each line is overwritten where it stands, so the block does not flicker; what a
    // longer block left below is cleared.
    if (drawn_ > 0)
        out_ << "\r\x1b[" << drawn_ << "A";
    for (const TRunning& r : running_) {
        const int filled = r.Percent * kBarWidth / 100;
        char percent[8];
        std::snprintf(percent, sizeof percent, "%3d%%", r.Percent);
        const std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                                 std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " +
                                 percent + " " + r.Name;
        out_ << kClearLine << Fit(line, columns_) << "\n";
    }
    out_ << kClearLine
         << Fit(std::to_string(done_ + failed_ + skipped_) + " of " + std::to_string(total_) +
                    " files",
                columns_)
         << "\n"
         << kClearToEnd << std::flush;
    drawn_ = running_.size() + 1;
}

} // namespace bw
