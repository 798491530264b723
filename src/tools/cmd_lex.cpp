// kvtool lex: shows how the SQL lexer cuts a file (one JSON line per lexem),
// or with --count only counts the lexems and times the pass, for the lexer
// benchmark.
#include "db/parser.h"
#include "tools/command.h"
#include "tools/json.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace kv::tool {
namespace {

int count_lexems(const std::string& text) {
    TFbParser p;
    auto started = std::chrono::steady_clock::now();
    std::clock_t cpu_started = std::clock();
    p.SetText(text);
    int64_t count = 0;
    while (p.Next().kind != LexemKind::End)
        ++count;
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    double cpu = static_cast<double>(std::clock() - cpu_started) / CLOCKS_PER_SEC;
    // CPU time too: on a shared machine the wall time also measures the neighbours.
    char seconds[32], cpu_seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", took.count());
    std::snprintf(cpu_seconds, sizeof cpu_seconds, "%.6f", cpu);
    print_json({{"bytes", text.size()},
                {"lexems", count},
                {"seconds", Json::parse(seconds)},
                {"cpu_seconds", Json::parse(cpu_seconds)}});
    return 0;
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
