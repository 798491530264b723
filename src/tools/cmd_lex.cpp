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
    JsonObject()
        .add("bytes", static_cast<int64_t>(text.size()))
        .add("lexems", count)
        .add_raw("seconds", seconds)
        .add_raw("cpu_seconds", cpu_seconds)
        .print();
    return 0;
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
