#pragma once

#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// One option of a command, one row of the table that both its parser and its help read, so
// an option cannot be accepted without being explained.
struct TCliOption {
    std::string Name;      // "--to"
    std::string ValueName; // "TYPE"; empty for a switch
    std::string Default;   // what holds without it ("0", "the stored server"); empty: nothing
    std::string Help;
    // Takes the option's value (empty for a switch): false with the reason in error.
    std::function<bool(const std::string& value, std::string& error)> Take;
};

// A switch, without a value: it sets flag.
TCliOption CliSwitch(std::string name, std::string help, bool& flag);

// A command of brindlewave-cli ("convert", or "cd lookup" for a sub-command) with its help.
struct TCliCommand {
    std::string Name;
    std::vector<std::string> Synopses; // each after "brindlewave-cli "
    std::string Brief;                 // one line for the list of commands
    std::string Description;           // what the help says under the synopsis
    std::vector<std::string> Examples; // each after "brindlewave-cli "
    // The command's option table. Its Take functions fill a scratch state when the help asks
    // for it; the parser builds the same table around its own.
    std::function<std::vector<TCliOption>()> Options;
    std::function<int(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)>
        Run;
};

// The name of names nearest to typed by edit distance (letter case aside), when it is close
// enough to be what was meant; empty otherwise.
std::string NearestName(std::string_view typed, std::span<const std::string> names);
// " (did you mean NAME?)" for the name nearest to typed, or empty.
std::string DidYouMean(std::string_view typed, std::span<const std::string> names);

// Reads args against table: "--name VALUE", "--name=VALUE" or a switch, anywhere; the rest,
// and everything after "--", into operands. False with the reason in error for an unknown
// option (with the nearest name), a missing value, or a value the option refuses.
bool ParseCliOptions(std::span<const TCliOption> table, const std::vector<std::string>& args,
                     std::vector<std::string>& operands, std::string& error);

// The help of a command: its synopses, description, every option with its default, and the
// examples. Each option starts a line with two spaces and its name.
void PrintCommandHelp(const TCliCommand& command, std::ostream& out);

} // namespace bw
