// libFuzzer target for the script splitter over arbitrary text, no database.
// Beyond "no crash, no hang" it checks that the statements account for the
// input: every byte of the prepared text lies in exactly one statement text,
// one delimiter, or a blank that was skipped between them.
#include "db/script_splitter.h"
#include "rtl/exception.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void check(bool ok) {
    if (!ok) std::abort();
}

// [from, to) may only hold skipped blanks.
void check_gap(const std::string& text, size_t from, size_t to) {
    check(from <= to);
    for (size_t i = from; i < to; ++i)
        check(is_blank(text[i]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = kv::prepare_script_text(std::string(reinterpret_cast<const char*>(data), size));
    kv::ScriptSplitter splitter;
    splitter.Start(text, ";");
    size_t covered = 0;
    try {
        for (kv::ScriptStatement st; splitter.Next(st);) {
            check_gap(text, covered, st.offset);
            check(st.end == st.offset + st.text.size());
            check(text.compare(st.offset, st.text.size(), st.text) == 0);
            check(st.char_offset <= st.char_end);
            if (st.delimiter_length == 0) {
                check(st.end == text.size());
                covered = st.end;
            } else {
                check(st.delimiter_offset == st.end);
                covered = st.delimiter_offset + st.delimiter_length;
                check(covered <= text.size());
            }
        }
        check_gap(text, covered, text.size());
    } catch (const kv::Exception& e) {
        check(e.Message().rfind("Parser: The unknown symbol $", 0) == 0);
    }
    return 0;
}
