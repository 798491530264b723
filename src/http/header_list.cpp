// Header line lookup and update (see header_list.h).
#include "http/header_list.h"

#include "rtl/text.h"

namespace kv {

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return std::string(s.substr(b, e - b));
}

long TNetHeaderList::Find(std::string_view name, size_t from) const {
    for (size_t i = from; i < Lines.size(); ++i) {
        size_t colon = Lines[i].find(':');
        if (colon != std::string::npos &&
            same_text_ascii_fold(std::string_view(Lines[i]).substr(0, colon), name))
            return static_cast<long>(i);
    }
    return -1;
}

std::string TNetHeaderList::ValueAt(size_t index) const {
    const std::string& line = Lines[index];
    std::string value = line.substr(line.find(':') + 1);
    size_t b = value.find_first_not_of(" \t");
    value = b == std::string::npos ? "" : value.substr(b);
    for (size_t i = index + 1; i < Lines.size(); ++i) {
        const std::string& next = Lines[i];
        if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
        value = trim(value) + " " + trim(next);
    }
    return trim(value);
}

std::string TNetHeaderList::Values(std::string_view name) const {
    long i = Find(name);
    return i < 0 ? std::string() : ValueAt(static_cast<size_t>(i));
}

std::vector<std::string> TNetHeaderList::AllValues(std::string_view name) const {
    std::vector<std::string> out;
    for (long i = Find(name); i >= 0; i = Find(name, static_cast<size_t>(i) + 1))
        out.push_back(ValueAt(static_cast<size_t>(i)));
    return out;
}

void TNetHeaderList::SetValue(std::string_view name, std::string_view value) {
    long i = Find(name);
    if (value.empty()) {
        if (i >= 0) Lines.erase(Lines.begin() + i);
        return;
    }
    std::string line = std::string(name) + ": " + std::string(value);
    if (i >= 0)
        Lines[static_cast<size_t>(i)] = std::move(line);
    else
        Lines.push_back(std::move(line));
}

} // namespace kv
