// brindlewave-cli: the converter's work without its windows. It drives the same core
// library as the desktop program.

#include "cli/cdcommand.h"
#include "cli/convertcommand.h"
#include "cli/presetscommand.h"
#include "cli/probecommand.h"
#include "cli/tagscommand.h"
#include "common/buildinfo.h"
#include "common/stopsignals.h"
#include "shell/settingsstore.h"

#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

struct TSubcommand {
    std::string_view Name;
    std::string_view Usage;
    std::string_view Summary;
    std::function<int(const std::vector<std::string>&)> Run;
};

const std::vector<TSubcommand>& Subcommands() {
    static const std::vector<TSubcommand> list{
        {"probe", "probe [--recursive] FILE|FOLDER...",
         "read each file as the job list would; one JSON object a line, in order; --recursive:\n"
         "      a folder stands for the audio files below it",
         [](const std::vector<std::string>& files) { return bw::RunProbeCommand(files, std::cout); }},
        {"tags", "tags FILE...",
         "show the ID3v1, ID3v2 and APE tags of each file; one JSON object a line, in order",
         [](const std::vector<std::string>& files) {
             return bw::RunTagsCommand(files, std::cout, std::cerr);
         }},
        {"convert",
         "convert --to mp3|ogg|wav|wma|flac|ape|mpc|wv|opus|m4a [--out DIR | --same-as-source]\n"
         "          [--preset NAME] [--set NAME=VALUE]... [--tag NAME=VALUE]... [--overwrite]\n"
         "          [--jobs N] [--recursive] [--keep-structure] [--skip-existing] [--safe-names] [--no-covers]\n"
         "          [--replaygain off|track|album]\n"
         "          FILE|FOLDER... | --cd DRIVE [--tracks LIST] [--no-lookup]",
         "convert each file to the target type; --preset starts from the first quality preset\n"
         "      of that name (see presets), each --set then applies on top in the order given;\n"
         "      NAME is an encoder option as presets store it (MP3BitRate, OGGQualitySel,\n"
         "      FLACMyTrackBar, ...); an existing output is kept unless --overwrite; --cd rips\n"
         "      the audio tracks of a disc instead (DRIVE as for cd tracks; LIST such as 1,3-5;\n"
         "      --no-lookup names them without the disc database);\n"
         "      each --tag sets one tag of every output as the tag editor does (Title, Artist,\n"
         "      Album, Year, Genre, Track, Comment; Track only for a single file); --jobs N\n"
         "      converts up to N files at once (1..16, one per processor core by default);\n"
         "      --recursive takes the audio files below each FOLDER; --keep-structure puts each\n"
         "      output under the folder's name and the path below it; --skip-existing passes over\n"
         "      a file whose output is newer than it (as Done); --safe-names makes every output\n"
         "      name one FAT and Windows accept; the front cover of a source goes into its output\n"
         "      unless --no-covers; --replaygain track measures each output's loudness and tags\n"
         "      its ReplayGain, album also each album's (off by default);\n"
         "      one JSON object a line with the outcome of each file or track,\n"
         "      printed as it ends; what a FOLDER holds that cannot be read is an Error line",
         [](const std::vector<std::string>& args) {
             return bw::RunConvertCommand(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
         }},
        {"presets", "presets",
         "list the quality presets of the desktop program's settings (the built-in ones\n"
         "      before its first start); one JSON object a line: Index, Name and every value",
         [](const std::vector<std::string>& args) {
             const bw::TSettingsStore store;
             return bw::RunPresetsCommand(args, store, std::cout, std::cerr);
         }},
        {"cd", "cd drives [IMAGE...] | cd tracks [--drive D] | cd lookup [--drive D] [--server HOST[:PORT]]",
         "list the CD drives (images given are added), or the audio tracks of the disc in\n"
         "      drive D (an index, a device path or a .cue/.toc image; 0 by default) as probe\n"
         "      prints them, named from the disc's CD-TEXT or the album sheet; one JSON object a line; or look the disc up in the disc database\n"
         "      (status lines on standard error, the record as one JSON object)",
         [](const std::vector<std::string>& args) {
             return bw::RunCdCommand(args, std::cout, std::cerr);
         }},
    };
    return list;
}

void PrintHelp(std::ostream& out) {
    out << "Usage: brindlewave-cli [--help] [--version] COMMAND [ARGS...]\n\n"
           "Brindlewave converts audio files between MP3, Ogg Vorbis, WAV, WMA, FLAC,\n"
           "Monkey's Audio and Musepack, keeping their tags.\n\n"
           "Options:\n"
           "  -h, --help       show this help and exit\n"
           "  -V, --version    show the version and exit\n";
    if (!Subcommands().empty()) {
        out << "\nCommands:\n";
        for (const auto& c : Subcommands())
            out << "  " << c.Usage << "\n      " << c.Summary << "\n";
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // A stop signal ends the tool within moments, whatever its workers are doing.
    const bw::TStopDeadline deadline;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintHelp(std::cerr);
        return 2;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help") {
        PrintHelp(std::cout);
        return 0;
    }
    if (first == "-V" || first == "--version") {
        std::cout << "brindlewave-cli " << bw::kVersion << "\n";
        return 0;
    }
    for (const auto& c : Subcommands()) {
        if (c.Name == first)
            return c.Run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::cerr << "brindlewave-cli: unknown command or option '" << first
              << "' (see brindlewave-cli --help)\n";
    return 2;
}
