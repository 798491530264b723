// libFuzzer target for the SQL lexer: no crash, no hang, every lexem makes
// progress, and the lexem texts give the input back (up to the character of
// an unknown-symbol error, which must be a control character outside any
// string or comment). Built by scripts/fuzz-lexer, not by the default build.
#include "db/parser.h"
#include "rtl/exception.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    kv::TFbParser p;
    p.SetText(input);
    std::string back;
    try {
        for (kv::Lexem l = p.Next(); l.kind != kv::LexemKind::End; l = p.Next()) {
            if (l.text.empty() || p.LexemOffset() != back.size()) std::abort();
            back += l.text;
        }
        if (back != input) std::abort();
    } catch (const kv::Exception&) {
        if (input.substr(0, back.size()) != back || p.CurrentOffset() != back.size()) std::abort();
        unsigned char c = static_cast<unsigned char>(input[back.size()]);
        if (c >= 33 || c == ' ' || c == '\t' || c == '\r' || c == '\n') std::abort();
    }
    return 0;
}
