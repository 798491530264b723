// A dataset value as JSON, for kvtool's database commands: numbers as
// numbers, text as strings, Null (and numbers JSON cannot hold) as null.
#pragma once

#include "rtl/variant.h"
#include "tools/json.h"

#include <cmath>

namespace kv::tool {

inline Json variant_json(const Variant& v) {
    switch (v.type()) {
    case Variant::Type::Null:
        return nullptr;
    case Variant::Type::SmallInt:
    case Variant::Type::Integer:
    case Variant::Type::Int64:
        return v.AsInt64();
    case Variant::Type::Double:
        return std::isfinite(v.AsDouble()) ? Json(v.AsDouble()) : Json(nullptr);
    case Variant::Type::Boolean:
        return v.AsBoolean();
    case Variant::Type::String:
        return v.AsString();
    }
    return nullptr;
}

} // namespace kv::tool
