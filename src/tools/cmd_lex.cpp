// kvtool lex: shows how the SQL lexer cuts a file (one JSON line per lexem),
// or with --count only counts the lexems and times the pass, for the lexer
// benchmark.
#include "db/parser.h"
#include "tools/command.h"
#include "tools/json.h"
#include "tools/timed_pass.h"

#include <cstdio>
#include <string>

namespace kv::tool {
namespace {

int count_lexems(const std::string& text) {
    return print_timed_pass(static_cast<int64_t>(text.size()), "lexems", [&] {
        TFbParser p;
        p.SetText(text);
        int64_t count = 0;
        while (p.Next().kind != LexemKind::End)
            ++count;
        return count;
    });
}

int lex(const Args& args) {
    bool count = !args.empty() && args[0] == "--count";
    if (args.size() != (count ? 2u : 1u)) return usage_error();
    std::string text = read_whole_file(args.back());
    if (count) return count_lexems(text);

    TFbParser p;
    p.SetText(text);
    std::string out;
    for (;;) {
        Lexem l = p.Next();
        out = JsonObject()
                  .add("kind", lexem_kind_name(l.kind))
                  .add("text", l.text)
                  .add("offset", static_cast<int64_t>(p.LexemOffset()))
                  .add("line", static_cast<int64_t>(p.LexemLine()))
                  .add("column", static_cast<int64_t>(p.LexemColumn()))
                  .str();
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (l.kind == LexemKind::End) break;
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

KVTOOL_COMMAND("lex", "[--count] FILE", lex);

} // namespace kv::tool
