// Header line lookup and update (see header_list.h).
#include "http/header_list.h"

#include "rtl/text.h"

namespace kv {

long TNetHeaderList::Find(std::string_view name, size_t from) const {
    for (size_t i = from; i < Lines.size(); ++i) {
        size_t colon = Lines[i].find(':');
        if (colon != std::string::npos &&
            same_text_ascii_fold(std::string_view(Lines[i]).substr(0, colon), name))
            return static_cast<long>(i);
    }
    return -1;
}

// The value and its continuations, each trimmed, the non-empty ones joined by
// one blank. Appended in place: trimming the whole value again for every
// continuation made a long folded header cost the square of its length.
std::string TNetHeaderList::ValueAt(size_t index) const {
    const std::string& line = Lines[index];
    std::string value = trim(std::string_view(line).substr(line.find(':') + 1));
    for (size_t i = index + 1; i < Lines.size(); ++i) {
        const std::string& next = Lines[i];
        if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
        const std::string piece = trim(next);
        if (piece.empty()) continue;
        if (!value.empty()) value += ' ';
        value += piece;
    }
    return value;
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

std::string content_type_param(std::string_view content_type, std::string_view name) {
    size_t semi = content_type.find(';');
    while (semi != std::string_view::npos) {
        size_t next = content_type.find(';', semi + 1);
        std::string part =
            trim(content_type.substr(semi + 1, next == std::string_view::npos ? next : next - semi - 1));
        size_t eq = part.find('=');
        if (eq != std::string::npos && same_text_ascii_fold(trim(part.substr(0, eq)), name)) {
            std::string v = trim(part.substr(eq + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            return v;
        }
        semi = next;
    }
    return {};
}

} // namespace kv
