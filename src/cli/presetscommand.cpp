#include "cli/presetscommand.h"

#include "common/json.h"
#include "shell/presets.h"
#include "shell/settingsstore.h"

#include <ostream>

namespace bw {

TCliCommand PresetsCliCommand() {
    return {"presets",
            {"presets"},
            "the quality presets, one JSON object a line",
            "Lists the quality presets of the desktop program's settings (the built-in ones "
            "before its first start), one JSON object a line: Index, Name and every value by the "
            "name convert --set takes.",
            {"presets", "presets | grep 'CD Quality'"},
            [] { return std::vector<TCliOption>{}; },
            [](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
                const TSettingsStore store;
                return RunPresetsCommand(args, store, out, err);
            }};
}

int RunPresetsCommand(const std::vector<std::string>& args, const TSettingsStore& store,
                      std::ostream& out, std::ostream& err) {
    std::vector<std::string> operands;
    std::string error;
    if (!ParseCliOptions({}, args, operands, error) || !operands.empty()) {
        err << "brindlewave-cli presets: "
            << (error.empty() ? "takes no arguments, not '" + operands.front() + "'" : error) << "\n";
        return 2;
    }
    // Writing the built-ins here would make the store look started, and the window would
    // then skip its first start and miss every other default.
    if (!store.MainKeyExists()) {
        const auto& presets = BuiltInPresets();
        for (size_t i = 0; i < presets.size(); ++i) {
            TJsonObject o;
            o.Add("Index", static_cast<int>(i)).Add("Name", presets[i].Name);
            for (const std::string& name : EncoderOptionNames())
                o.Add(name, EncoderOptionValue(presets[i].Options, name).value_or(0));
            out << o.Str() << "\n";
        }
        return 0;
    }
    int status = 0;
    const int count = StoredPresetCount(store);
    for (int i = 0; i < count; ++i) {
        const TPresetValues preset = ReadPreset(store, i);
        TJsonObject o;
        o.Add("Index", i).Add("Name", preset.Name);
        for (const auto& [name, value] : preset.Values)
            o.Add(name, value);
        out << o.Str() << "\n";
        if (!preset.Error.empty()) {
            err << "brindlewave-cli: preset " << i << " (\"" << preset.Name << "\"): " << preset.Error << "\n";
            status = 1;
        }
    }
    return status;
}

} // namespace bw
