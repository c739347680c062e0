#include "common/json.h"

#include "common/utf8.h"

#include <cmath>
#include <cstdio>

namespace bw {

namespace {

// Characters that JSON allows raw but that many readers of JSON lines take as a line break
// (U+0085, U+2028, U+2029, as Python's splitlines does) or that a terminal acts on (DEL
// and the C1 controls): they are written as escapes.
bool EscapedThoughLegal(char32_t cp) {
    return (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

} // namespace

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        size_t len;
        if (!DecodeUtf8At(s, i, cp, len)) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (cp < 0x20 || EscapedThoughLegal(cp)) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(s.substr(i, len));
            }
        }
        i += len;
    }
    out += '"';
}

void TJsonObject::Key(std::string_view key) {
    if (!first_)
        body_ += ',';
    first_ = false;
    AppendJsonString(body_, key);
    body_ += ':';
}

TJsonObject& TJsonObject::Add(std::string_view key, std::string_view value) {
    Key(key);
    AppendJsonString(body_, value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", value);
    body_ += buf;
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

TJsonObject& TJsonObject::AddRaw(std::string_view key, std::string_view json) {
    Key(key);
    body_ += json;
    return *this;
}

} // namespace bw
