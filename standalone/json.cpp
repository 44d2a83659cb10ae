#include "standalone/json.h"

#include <cmath>
#include <cstdio>

namespace vexo_host {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

void JsonWriter::Key(const char* key) {
    if (!first_) out_ += ",";
    first_ = false;
    if (key) out_ += JsonString(key) + ":";
}

JsonWriter& JsonWriter::BeginObject(const char* key) {
    Key(key);
    out_ += "{";
    first_ = true;
    return *this;
}
JsonWriter& JsonWriter::EndObject() {
    out_ += "}";
    first_ = false;
    return *this;
}
JsonWriter& JsonWriter::BeginArray(const char* key) {
    Key(key);
    out_ += "[";
    first_ = true;
    return *this;
}
JsonWriter& JsonWriter::EndArray() {
    out_ += "]";
    first_ = false;
    return *this;
}
JsonWriter& JsonWriter::Raw(const char* key, const std::string& json) {
    Key(key);
    out_ += json;
    return *this;
}
JsonWriter& JsonWriter::String(const char* key, const std::string& value) {
    return Raw(key, JsonString(value));
}
JsonWriter& JsonWriter::Int(const char* key, int64_t value) {
    return Raw(key, std::to_string(value));
}
JsonWriter& JsonWriter::Number(const char* key, double value) {
    if (!std::isfinite(value)) return Null(key);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", value);
    return Raw(key, buf);
}
JsonWriter& JsonWriter::Bool(const char* key, bool value) {
    return Raw(key, value ? "true" : "false");
}
JsonWriter& JsonWriter::Null(const char* key) { return Raw(key, "null"); }

}  // namespace vexo_host
