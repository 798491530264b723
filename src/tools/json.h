// JSON output of kvtool, through nlohmann/json (Debian's nlohmann-json3-dev,
// header-only, so the static Windows kvtool.exe carries it too): one object
// per line, keys in the order they were added.
#pragma once

#include <nlohmann/json.hpp>

#include <exception>
#include <string>

namespace kv::tool {

using Json = nlohmann::ordered_json;

// The object as one line of text; text that is not UTF-8 is shown with
// replacement characters rather than refused.
std::string json_line(const Json& value);
// Writes the object and a line break to stdout, flushed.
void print_json(const Json& value);

// Prints {"error": message, "class": class} for the exception in flight.
void print_error_json(std::exception_ptr e);

} // namespace kv::tool
