#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bw {

// Appends s to out as a JSON string literal (quoted, escaped). Bytes that are not valid
// UTF-8 are written as U+FFFD so the output always parses; control characters and the
// other line separators (U+0085, U+2028, U+2029) are escaped, so the literal stays on the
// line it was written on.
void AppendJsonString(std::string& out, std::string_view s);

// Builds one JSON object on one line, key by key, in the order the keys are added.
class TJsonObject {
public:
    TJsonObject& Add(std::string_view key, std::string_view value);
    TJsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    TJsonObject& Add(std::string_view key, const std::string& value) { return Add(key, std::string_view(value)); }
    TJsonObject& Add(std::string_view key, int64_t value);
    TJsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    TJsonObject& Add(std::string_view key, unsigned value) { return Add(key, static_cast<int64_t>(value)); }
    TJsonObject& Add(std::string_view key, double value);
    TJsonObject& Add(std::string_view key, bool value);
    // Adds a value that is already JSON text (a nested object or an array).
    TJsonObject& AddRaw(std::string_view key, std::string_view json);
    std::string Str() const { return body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_ = "{";
    bool first_ = true;
};

} // namespace bw
