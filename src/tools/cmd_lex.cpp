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

int run_lex(bool count, const std::string& file) {
    std::string text = read_whole_file(file);
    if (count) return count_lexems(text);

    TFbParser p;
    p.SetText(text);
    std::string out;
    for (;;) {
        Lexem l = p.Next();
        out = json_line({{"kind", lexem_kind_name(l.kind)},
                         {"text", l.text},
                         {"offset", p.LexemOffset()},
                         {"line", p.LexemLine()},
                         {"column", p.LexemColumn()}});
        out += '\n';
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (l.kind == LexemKind::End) break;
    }
    std::fflush(stdout);
    return 0;
}

Runner lex(CLI::App& command) {
    auto count = std::make_shared<bool>(false);
    auto file = std::make_shared<std::string>();
    command.add_flag("--count", *count, "Only count the lexems and time the pass");
    command.add_option("FILE", *file, "The SQL file")->required();
    return [count, file] { return run_lex(*count, *file); };
}

} // namespace

KVTOOL_COMMAND("lex", "Show how the SQL lexer cuts a file", lex);

} // namespace kv::tool
