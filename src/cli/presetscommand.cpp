#include "cli/presetscommand.h"

#include "common/json.h"
#include "shell/presets.h"
#include "shell/settingsstore.h"

#include <ostream>

namespace bw {

int RunPresetsCommand(const std::vector<std::string>& args, const TSettingsStore& store,
                      std::ostream& out, std::ostream& err) {
    if (!args.empty()) {
        err << "brindlewave-cli presets: takes no arguments, not '" << args.front()
            << "'\nusage: brindlewave-cli presets\n";
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
