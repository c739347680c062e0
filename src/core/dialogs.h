#pragma once

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace bw {

enum class TMessageKind { Information, Warning, Error, Confirmation };
enum class TAnswer { Ok, Cancel, Yes, No, YesToAll };

// What closing a question without a button answers: No where it is offered, so a question
// dismissed by accident never says yes; otherwise the last button.
inline TAnswer ClosingAnswer(const std::vector<TAnswer>& buttons) {
    if (std::find(buttons.begin(), buttons.end(), TAnswer::No) != buttons.end())
        return TAnswer::No;
    return buttons.empty() ? TAnswer::Ok : buttons.back();
}

// Every message box of the program goes through this interface, so the logic that asks
// can live outside the widgets and a test can give the user's answers.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Shows a message with one OK button.
    virtual void Show(TMessageKind kind, const std::string& caption, const std::string& text) = 0;
    // Asks a question with the given buttons, in the order shown (the first is the
    // default); returns the one chosen. Closing the box answers No when No is offered
    // (whatever its place), otherwise the last button.
    virtual TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                        const std::vector<TAnswer>& buttons) = 0;
    // The open-file dialog: several files may be chosen; filters as "Name (*.a *.b)", the
    // first preselected. Returns the chosen paths in order, none when cancelled.
    virtual std::vector<std::string> OpenFiles(const std::string& title,
                                               const std::vector<std::string>& filters) {
        (void)title;
        (void)filters;
        return {};
    }
    // A list to choose one line from, the first selected, with OK and Cancel: the index of
    // the line chosen, no value when cancelled.
    virtual std::optional<size_t> ChooseLine(const std::string& caption, const std::vector<std::string>& lines) {
        (void)caption;
        return lines.empty() ? std::nullopt : std::optional<size_t>(0);
    }
    // The folder picker, starting at start. No value when cancelled.
    virtual std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                                       const std::string& start) {
        (void)prompt;
        (void)start;
        return std::nullopt;
    }
};

} // namespace bw
