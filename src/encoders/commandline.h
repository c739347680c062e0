#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// An outside encoder's command line kept two ways at once: as the text the user and the
// tests read (values inside double quotes, nothing escaped) and as the argument vector the
// process is really started with, where each inserted value is one whole argument. A quote,
// a space or "$(...)" in a tag therefore changes the text but never the command.
class TCommandLine {
public:
    // One word as it stands, never split (a program path may hold spaces).
    TCommandLine& AddWord(std::string_view word);
    // Literal switches: appended to the text as they stand and split at spaces into arguments.
    TCommandLine& Add(std::string_view literal);
    // An inserted value: the text gets prefix + "\"" + value + "\"", the argument vector one
    // argument prefix + value. A prefix ends the word before it (e.g. "Title=").
    TCommandLine& AddQuoted(std::string_view prefix, std::string_view value);

    struct TNamedValue {
        std::string_view Name; // with its "=": "Title="
        std::string_view Value;
    };
    // Each value after the option: option + Name + "\"" + Value + "\"" in the text, the
    // option's words and one argument Name + Value in the vector.
    TCommandLine& AddNamedValues(std::string_view option, std::initializer_list<TNamedValue> values);

    const std::string& Text() const { return text_; }
    const std::vector<std::string>& Argv() const { return argv_; }
    // Appends another line's words and text.
    TCommandLine& Append(const TCommandLine& other);

private:
    std::string text_;
    std::vector<std::string> argv_;
    bool wordOpen_ = false; // the last argument may still grow (no space after it yet)
};

// A path as a plain argument of a program that reads a leading dash as a switch: the same
// file named from the current folder ("./-x.mp3") when it starts with one.
std::string AsPlainArgument(const std::string& path);

} // namespace bw
