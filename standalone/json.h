// A small JSON writer for the host's machine-readable output.
#pragma once
#include <cstdint>
#include <string>

namespace vexo_host {

std::string JsonString(const std::string& text);

// Appends members and elements with the commas in the right places.
class JsonWriter {
  public:
    JsonWriter& BeginObject(const char* key = nullptr);
    JsonWriter& EndObject();
    JsonWriter& BeginArray(const char* key = nullptr);
    JsonWriter& EndArray();
    JsonWriter& Raw(const char* key, const std::string& json);  // a value already in JSON
    JsonWriter& String(const char* key, const std::string& value);
    JsonWriter& Int(const char* key, int64_t value);
    JsonWriter& Number(const char* key, double value);  // NaN and infinities become null
    JsonWriter& Bool(const char* key, bool value);
    JsonWriter& Null(const char* key);
    const std::string& str() const { return out_; }

  private:
    void Key(const char* key);
    std::string out_;
    bool first_ = true;
};

}  // namespace vexo_host
