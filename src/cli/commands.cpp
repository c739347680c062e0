#include "cli/commands.h"

#include "cli/cdcommand.h"
#include "cli/convertcommand.h"
#include "cli/optionscommand.h"
#include "cli/presetscommand.h"
#include "cli/probecommand.h"
#include "cli/tagscommand.h"
#include "common/buildinfo.h"

#include <algorithm>
#include <ostream>

namespace bw {

namespace {

int Help(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

void PrintProgramHelp(std::ostream& out) {
    out << "Usage: brindlewave-cli [--help] [--version] COMMAND [ARGS...]\n"
           "       brindlewave-cli help COMMAND | COMMAND --help\n\n"
           "Brindlewave converts audio files between MP3, Ogg Vorbis, WAV, WMA, FLAC, Monkey's\n"
           "Audio, Musepack, WavPack, Opus and AAC, keeping their tags, and rips audio CDs.\n\n"
           "Options:\n"
           "  -h, --help       show this help and exit\n"
           "  -V, --version    show the version and exit\n\n"
           "Commands:\n";
    for (const TCliCommand& c : CliCommands()) {
        if (c.Name == "cd")
            continue; // its sub-commands follow, each with its own line
        for (const std::string& synopsis : c.Synopses)
            out << "  " << synopsis << "\n";
        out << "      " << c.Brief << "\n";
    }
}

const TCliCommand* FindCommand(const std::string& name) {
    const auto& list = CliCommands();
    const auto c = std::find_if(list.begin(), list.end(),
                                [&name](const TCliCommand& c) { return c.Name == name; });
    return c == list.end() ? nullptr : &*c;
}

std::vector<std::string> CommandNames() {
    std::vector<std::string> names;
    for (const TCliCommand& c : CliCommands())
        names.push_back(c.Name);
    return names;
}

// The command args name: a sub-command when its first two words name one.
const TCliCommand* CommandOf(const std::vector<std::string>& args, size_t& words) {
    words = 2;
    if (args.size() >= 2)
        if (const TCliCommand* c = FindCommand(args[0] + " " + args[1]))
            return c;
    words = 1;
    return args.empty() ? nullptr : FindCommand(args[0]);
}

int Help(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintProgramHelp(out);
        return 0;
    }
    size_t words = 0;
    const TCliCommand* c = CommandOf(args, words);
    if (!c || words < args.size()) {
        std::string name;
        for (const std::string& a : args)
            name += (name.empty() ? "" : " ") + a;
        err << "brindlewave-cli help: no command '" << name << "'"
            << DidYouMean(name, CommandNames()) << " (see brindlewave-cli help)\n";
        return 2;
    }
    PrintCommandHelp(*c, out);
    return 0;
}

} // namespace

const std::vector<TCliCommand>& CliCommands() {
    static const std::vector<TCliCommand> list = [] {
        std::vector<TCliCommand> l{ProbeCliCommand(), TagsCliCommand(), ConvertCliCommand(),
                                   PresetsCliCommand(), OptionsCliCommand()};
        for (TCliCommand& c : CdCliCommands())
            l.push_back(std::move(c));
        l.push_back({"help",
                     {"help [COMMAND]"},
                     "this list, or the help of a command",
                     "Shows the list of commands, or a command's synopsis, options with their "
                     "defaults, and examples. COMMAND --help shows the same.",
                     {"help convert", "help cd lookup"},
                     [] { return std::vector<TCliOption>{}; },
                     Help});
        return l;
    }();
    return list;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintProgramHelp(err);
        return 2;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help") {
        PrintProgramHelp(out);
        return 0;
    }
    if (first == "-V" || first == "--version") {
        out << "brindlewave-cli " << kVersion << "\n";
        return 0;
    }
    size_t words = 0;
    const TCliCommand* c = CommandOf(args, words);
    if (!c) {
        std::vector<std::string> names;
        for (const TCliCommand& command : CliCommands())
            if (command.Name.find(' ') == std::string::npos)
                names.push_back(command.Name);
        err << "brindlewave-cli: unknown command or option '" << first << "'"
            << DidYouMean(first, names) << " (see brindlewave-cli --help)\n";
        return 2;
    }
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(words),
                                        args.end());
    const auto end = std::find(rest.begin(), rest.end(), "--");
    if (c->Name != "help" && (std::find(rest.begin(), end, "--help") != end ||
                              std::find(rest.begin(), end, "-h") != end)) {
        PrintCommandHelp(*c, out);
        return 0;
    }
    return c->Run(rest, out, err);
}

} // namespace bw
