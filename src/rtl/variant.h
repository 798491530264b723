// The variant a dataset field gives back (AsVariant): Null, the integer
// kinds, floating point, text or a truth value. Comparing with an integer is
// numeric for the number kinds; Null and text never equal a number.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace kv {

class Variant {
public:
    enum class Type { Null, SmallInt, Integer, Int64, Double, String, Boolean };

    Variant() = default; // Null
    static Variant SmallInt(int16_t v) { return Variant(Value(std::in_place_index<1>, v)); }
    static Variant Integer(int32_t v) { return Variant(Value(std::in_place_index<2>, v)); }
    static Variant Int64(int64_t v) { return Variant(Value(std::in_place_index<3>, v)); }
    static Variant Double(double v) { return Variant(Value(std::in_place_index<4>, v)); }
    static Variant String(std::string v) { return Variant(Value(std::in_place_index<5>, std::move(v))); }
    static Variant Boolean(bool v) { return Variant(Value(std::in_place_index<6>, v)); }

    Type type() const noexcept { return static_cast<Type>(FValue.index()); }
    bool IsNull() const noexcept { return FValue.index() == 0; }
    bool IsNumber() const noexcept { return FValue.index() >= 1 && FValue.index() <= 4; }
    bool IsInteger() const noexcept { return FValue.index() >= 1 && FValue.index() <= 3; }

    // For the integer kinds (and Boolean as 0/1); 0 otherwise.
    int64_t AsInt64() const noexcept;
    // For the number kinds; 0 otherwise.
    double AsDouble() const noexcept;
    // For String; empty otherwise.
    const std::string& AsString() const noexcept;
    bool AsBoolean() const noexcept { return FValue.index() == 6 && std::get<6>(FValue); }

    friend bool operator==(const Variant& a, int64_t b) noexcept {
        if (a.IsInteger()) return a.AsInt64() == b;
        if (a.type() == Type::Double) return a.AsDouble() == static_cast<double>(b);
        return false;
    }
    bool operator==(const Variant& o) const = default;

private:
    using Value = std::variant<std::monostate, int16_t, int32_t, int64_t, double, std::string, bool>;
    explicit Variant(Value v) : FValue(std::move(v)) {}
    Value FValue;
};

inline int64_t Variant::AsInt64() const noexcept {
    switch (FValue.index()) {
    case 1:
        return std::get<1>(FValue);
    case 2:
        return std::get<2>(FValue);
    case 3:
        return std::get<3>(FValue);
    case 6:
        return std::get<6>(FValue) ? 1 : 0;
    default:
        return 0;
    }
}

inline double Variant::AsDouble() const noexcept {
    return FValue.index() == 4 ? std::get<4>(FValue) : IsInteger() ? static_cast<double>(AsInt64()) : 0.0;
}

inline const std::string& Variant::AsString() const noexcept {
    static const std::string empty;
    return FValue.index() == 5 ? std::get<5>(FValue) : empty;
}

// The value as a technician reads it: null, the number, or the text in
// double quotes.
inline std::string display_text(const Variant& v) {
    if (v.IsNull()) return "null";
    if (v.IsInteger()) return std::to_string(v.AsInt64());
    if (v.type() == Variant::Type::Double) return std::to_string(v.AsDouble());
    if (v.type() == Variant::Type::Boolean) return v.AsBoolean() ? "true" : "false";
    return "\"" + v.AsString() + "\"";
}

} // namespace kv
