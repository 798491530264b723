// A dataset value as JSON, for kvtool's database commands: numbers as
// numbers, text as strings, Null as null.
#pragma once

#include "rtl/variant.h"
#include "tools/json.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kv::tool {

inline std::string variant_json(const Variant& v) {
    switch (v.type()) {
    case Variant::Type::Null:
        return "null";
    case Variant::Type::SmallInt:
    case Variant::Type::Integer:
    case Variant::Type::Int64:
        return std::to_string(v.AsInt64());
    case Variant::Type::Double: {
        if (!std::isfinite(v.AsDouble())) return "null";
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v.AsDouble());
        return buf;
    }
    case Variant::Type::Boolean:
        return v.AsBoolean() ? "true" : "false";
    case Variant::Type::String:
        return json_string(v.AsString());
    }
    return "null";
}

} // namespace kv::tool
