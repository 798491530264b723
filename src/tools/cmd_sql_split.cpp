// kvtool sql-split: shows how the script runner would cut a file with the
// delimiter ";", one JSON line per statement it reads, without a database
// (with --count only the number of statements and the time of the pass).
// Support uses it to see why a script sent what it sent; tests use it as a
// black box. kvtool upgrade-script writes the built-in upgrade script as it
// is, so that it can be read, cut or run against a copy of a site database.
#include "db/script_splitter.h"
#include "tools/command.h"
#include "tools/json.h"
#include "tools/timed_pass.h"
#include "workflow/upgrade_script.h"

#include <cstdio>

#include <string>

namespace kv::tool {
namespace {

// Only counts the statements (empty ones included) and times the pass.
int count_statements(const std::string& text) {
    return print_timed_pass(static_cast<int64_t>(text.size()), "statements", [&] {
        ScriptSplitter splitter;
        splitter.Start(text, ";");
        int64_t count = 0;
        for (ScriptStatement st; splitter.Next(st);)
            ++count;
        return count;
    });
}

int run_split(bool count, const std::string& file) {
    const std::string text = prepare_script_text(read_whole_file(file));
    if (count) return count_statements(text);
    ScriptSplitter splitter;
    splitter.Start(text, ";");
    int index = 0;
    for (ScriptStatement st; splitter.Next(st);) {
        if (st.empty()) continue;
        print_json({{"index", index++},
                    {"kind", statement_kind_name(st.kind)},
                    {"offset", st.char_offset},
                    {"sent", is_sent_kind(st.kind)},
                    {"text", st.text}});
    }
    return 0;
}

int write_upgrade_script() {
    const std::string& text = upgrade_script();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
}

Runner sql_split(CLI::App& command) {
    auto count = std::make_shared<bool>(false);
    auto file = std::make_shared<std::string>();
    command.add_flag("--count", *count, "Only count the statements and time the pass");
    command.add_option("FILE", *file, "The script file")->required();
    return [count, file] { return run_split(*count, *file); };
}

Runner print_upgrade_script(CLI::App&) {
    return [] { return write_upgrade_script(); };
}

} // namespace

KVTOOL_COMMAND("sql-split", "Show how the script runner would cut a file, without a database", sql_split);
KVTOOL_COMMAND("upgrade-script", "Write the built-in upgrade script", print_upgrade_script);

} // namespace kv::tool
