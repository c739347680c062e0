#include "common/json.h"

#include "common/utf8.h"

#include <cmath>
#include <cstdio>

namespace bw {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    char32_t cp;
    size_t len;
    return DecodeUtf8At(s, i, cp, len) ? len : 0;
}

} // namespace

void AppendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        const size_t len = Utf8SequenceLength(s, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (len > 1) {
            out.append(s.substr(i, len));
            i += len;
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
                out += buf;
            } else {
                out += c;
            }
        }
        ++i;
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
