// kvtool sql-split: shows how the script runner would cut a file with the
// delimiter ";", one JSON line per statement it reads, without a database.
// Support uses it to see why a script sent what it sent; tests use it as a
// black box. kvtool upgrade-script writes the built-in upgrade script as it
// is, so that it can be read, cut or run against a copy of a site database.
#include "db/script_splitter.h"
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/upgrade_script.h"

#include <cstdio>

#include <string>

namespace kv::tool {
namespace {

int run_split(const std::string& file) {
    ScriptSplitter splitter;
    splitter.Start(prepare_script_text(read_whole_file(file)), ";");
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
    auto file = std::make_shared<std::string>();
    command.add_option("FILE", *file, "The script file")->required();
    return [file] { return run_split(*file); };
}

Runner print_upgrade_script(CLI::App&) {
    return [] { return write_upgrade_script(); };
}

} // namespace

KVTOOL_COMMAND("sql-split", "Show how the script runner would cut a file, without a database", sql_split);
KVTOOL_COMMAND("upgrade-script", "Write the built-in upgrade script", print_upgrade_script);

} // namespace kv::tool
