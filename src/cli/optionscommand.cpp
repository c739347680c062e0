#include "cli/optionscommand.h"

#include "common/json.h"

#include <ostream>

namespace bw {

namespace {

// Lists longer than this show their first two entries and their last.
constexpr size_t kShownInFull = 6;

std::vector<TCliOption> OptionsOptions(bool& json) {
    return {CliSwitch("--json",
                      "one JSON object a line: Name, Page, Min, Max, Default, Values, Unit, Note",
                      json)};
}

std::string WithUnit(const std::string& text, const std::string& unit) {
    return unit.empty() ? text : text + " " + unit;
}

std::string Json(const TEncoderOptionInfo& info) {
    std::string values = "[";
    for (const std::string& t : info.Texts) {
        if (values.size() > 1)
            values += ",";
        AppendJsonString(values, t);
    }
    TJsonObject o;
    o.Add("Name", info.Name).Add("Page", info.Page).Add("Min", info.Min).Add("Max", info.Max);
    o.Add("Default", info.Default)
        .AddRaw("Values", values + "]")
        .Add("Unit", info.Unit)
        .Add("Note", info.Note);
    return o.Str();
}

} // namespace

std::string EncoderOptionLine(const TEncoderOptionInfo& info) {
    std::string line =
        info.Name + ": " + std::to_string(info.Min) + ".." + std::to_string(info.Max);
    const auto& texts = info.Texts;
    if (texts.empty()) {
        line = WithUnit(line, info.Unit);
    } else {
        std::string list;
        for (size_t i = 0; i < texts.size(); ++i) {
            if (texts.size() > kShownInFull && i >= 2 && i + 1 < texts.size()) {
                if (i == 2)
                    list += ", ...";
                continue;
            }
            list += (i == 0 ? "" : ", ") + texts[i];
        }
        line += " = " + WithUnit(list, info.Unit);
    }
    line += " (page " + info.Page + ", default " + std::to_string(info.Default);
    const int at = info.Default - info.Min;
    if (at >= 0 && static_cast<size_t>(at) < texts.size())
        line += " = " + WithUnit(texts[static_cast<size_t>(at)], info.Unit);
    if (!info.Note.empty())
        line += "; " + info.Note;
    return line + ")";
}

TCliCommand OptionsCliCommand() {
    return {"options",
            {"options [--json]"},
            "every name convert --set takes, with its values and default",
            "Lists every encoder option convert --set takes, one line each: its name, the numbers "
            "it takes and what each selects, its page and its default. A number is the position in "
            "the page's list or on its slider as a preset stores it (0 is a list's first entry, a "
            "check box is 0 or 1), not the value itself: MP3BitRate=8 is 128 kbit/s.",
            {"options", "options --json"},
            [] {
                static bool scratch = false;
                return OptionsOptions(scratch);
            },
            RunOptionsCommand};
}

int RunOptionsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> operands;
    std::string error;
    if (!ParseCliOptions(OptionsOptions(json), args, operands, error) || !operands.empty()) {
        err << "brindlewave-cli options: "
            << (error.empty() ? "takes no operand, not '" + operands.front() + "'" : error) << "\n";
        return 2;
    }
    for (const TEncoderOptionInfo& info : EncoderOptionInfos())
        out << (json ? Json(info) : EncoderOptionLine(info)) << "\n";
    return 0;
}

} // namespace bw
