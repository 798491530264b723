#include "tools/json.h"

#include "rtl/exception.h"

#include <cstdio>

namespace kv::tool {

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
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
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void JsonObject::key(std::string_view k) {
    if (!FBody.empty()) FBody += ", ";
    FBody += json_string(k) + ": ";
}

JsonObject& JsonObject::add(std::string_view k, std::string_view value) {
    key(k);
    FBody += json_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, int64_t value) {
    key(k);
    FBody += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view k, bool value) {
    key(k);
    FBody += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add_null(std::string_view k) {
    key(k);
    FBody += "null";
    return *this;
}

JsonObject& JsonObject::add_raw(std::string_view k, std::string_view json) {
    key(k);
    FBody += json;
    return *this;
}

void JsonObject::print() const {
    std::string line = str() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void print_error_json(std::exception_ptr e) {
    ErrorInfo info = describe_exception(e);
    JsonObject().add("error", info.message).add("class", info.class_name).print();
}

} // namespace kv::tool
