// TNetHeaderList: header lines as received or as to be sent, one string per
// line. A lookup takes the first line whose name (the text before the first
// ":", not trimmed) equals the wanted name ignoring letter case, and joins the
// continuation lines (those beginning with a space or a TAB) that follow it.
#pragma once

#include "rtl/text.h"

#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TNetHeaderList {
public:
    std::vector<std::string> Lines;

    // The value of the first line of that name, continuations joined; "" when absent.
    std::string Values(std::string_view name) const;
    // Every value of that name, in line order (for "Set-Cookie").
    std::vector<std::string> AllValues(std::string_view name) const;
    // Replaces the first line of the name in place, or appends; an empty value removes it.
    void SetValue(std::string_view name, std::string_view value);
    void Add(std::string line) { Lines.push_back(std::move(line)); }
    void Clear() { Lines.clear(); }

private:
    std::string ValueAt(size_t index) const;
    long Find(std::string_view name, size_t from = 0) const;
};

// The value of parameter `name` (letter case ignored) of a Content-Type
// value ("text/html; charset=utf-8"), without surrounding blanks and one
// pair of double quotes; empty when absent.
std::string content_type_param(std::string_view content_type, std::string_view name);

} // namespace kv
