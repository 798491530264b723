// Minimal JSON writing for kvtool's one-object-per-line output.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kv::tool {

// A JSON string literal (quotes included) for UTF-8 text.
std::string json_string(std::string_view s);

// Builds {"k": v, ...} in insertion order.
class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, int64_t value);
    JsonObject& add(std::string_view key, int value) { return add(key, static_cast<int64_t>(value)); }
    JsonObject& add(std::string_view key, bool value);
    JsonObject& add_null(std::string_view key);
    JsonObject& add_raw(std::string_view key, std::string_view json);
    std::string str() const { return "{" + FBody + "}"; }
    // Writes the object and a line break to stdout, flushed.
    void print() const;

private:
    void key(std::string_view k);
    std::string FBody;
};

// Prints {"error": message, "class": class} for the exception in flight.
void print_error_json(std::exception_ptr e);

} // namespace kv::tool
