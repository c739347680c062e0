#include "cli/clioptions.h"

#include "common/asciicase.h"

#include <algorithm>
#include <ostream>

namespace bw {

namespace {

// Edits from a to b: insertions, deletions, substitutions and swaps of two neighbours, one
// each (a swap is the commonest slip of the fingers).
size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// Words wrapped to lines of at most 78 characters, each line starting with indent.
void PrintWrapped(std::ostream& out, std::string_view text, std::string_view indent) {
    const size_t width = 78 - indent.size();
    size_t column = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find(' ', pos), text.size());
        const std::string_view word = text.substr(pos, end - pos);
        if (column > 0 && column + 1 + word.size() > width) {
            out << "\n";
            column = 0;
        }
        if (column == 0)
            out << indent;
        else
            out << ' ';
        out << word;
        column += (column == 0 ? 0 : 1) + word.size();
        pos = end + 1;
    }
    if (column > 0)
        out << "\n";
}

} // namespace

TCliOption CliSwitch(std::string name, std::string help, bool& flag) {
    return {std::move(name), "", "", std::move(help), [&flag](const std::string&, std::string&) {
                flag = true;
                return true;
            }};
}

std::string NearestName(std::string_view typed, std::span<const std::string> names) {
    const std::string lower = AsciiLower(typed);
    const std::string* best = nullptr;
    size_t bestDistance = 0;
    for (const std::string& name : names) {
        const size_t d = EditDistance(lower, AsciiLower(name));
        if (!best || d < bestDistance) {
            best = &name;
            bestDistance = d;
        }
    }
    // Close: a slip of a key or two, or a third of a long name; never most of the word.
    const size_t allowed = std::max<size_t>(2, typed.size() / 3);
    if (!best || bestDistance > allowed || bestDistance * 2 >= std::max(typed.size(), best->size()))
        return {};
    return *best;
}

std::string DidYouMean(std::string_view typed, std::span<const std::string> names) {
    const std::string nearest = NearestName(typed, names);
    return nearest.empty() ? std::string() : " (did you mean " + nearest + "?)";
}

bool ParseCliOptions(std::span<const TCliOption> table, const std::vector<std::string>& args,
                     std::vector<std::string>& operands, std::string& error) {
    bool operandsOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (operandsOnly || a.size() < 2 || a.front() != '-') {
            operands.push_back(a);
            continue;
        }
        if (a == "--") {
            operandsOnly = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const auto option = std::find_if(table.begin(), table.end(),
                                         [&name](const TCliOption& o) { return o.Name == name; });
        if (option == table.end()) {
            std::vector<std::string> names;
            for (const TCliOption& o : table)
                names.push_back(o.Name);
            error = "unknown option '" + name + "'" + DidYouMean(name, names);
            return false;
        }
        std::string value;
        if (option->ValueName.empty()) {
            if (eq != std::string::npos) {
                error = name + " takes no value";
                return false;
            }
        } else if (eq != std::string::npos) {
            value = a.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value (" + option->ValueName + ")";
            return false;
        }
        if (!option->Take(value, error))
            return false;
    }
    return true;
}

void PrintCommandHelp(const TCliCommand& command, std::ostream& out) {
    for (size_t i = 0; i < command.Synopses.size(); ++i)
        out << (i == 0 ? "Usage: " : "       ") << "brindlewave-cli " << command.Synopses[i]
            << "\n";
    out << "\n";
    PrintWrapped(out, command.Description, "");
    const std::vector<TCliOption> options =
        command.Options ? command.Options() : std::vector<TCliOption>{};
    if (!options.empty()) {
        out << "\nOptions:\n";
        for (const TCliOption& o : options) {
            out << "  " << o.Name << (o.ValueName.empty() ? "" : " " + o.ValueName) << "\n";
            PrintWrapped(out, o.Help + (o.Default.empty() ? "" : " (default: " + o.Default + ")"),
                         "      ");
        }
    }
    out << "\nExamples:\n";
    for (const std::string& e : command.Examples)
        out << "  brindlewave-cli " << e << "\n";
}

} // namespace bw
