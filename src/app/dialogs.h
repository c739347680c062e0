#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace bw {

enum class TMessageKind { Information, Warning, Error, Confirmation };
enum class TAnswer { Ok, Cancel, Yes, No, YesToAll };

// Every message box of the program goes through this interface, so the logic that asks
// can live outside the widgets and a test can give the user's answers.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Shows a message with one OK button.
    virtual void Show(TMessageKind kind, const std::string& caption, const std::string& text) = 0;
    // Asks a question with the given buttons (the first is the default); returns the one
    // chosen. Closing the box counts as the last button.
    virtual TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                        const std::vector<TAnswer>& buttons) = 0;
};

} // namespace bw
