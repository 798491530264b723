// kvtool names [WHAT]: the product's names the updater knows, for scripts
// that lay out a site or drive the window, so that none of them spells a
// file name or the access code again. Without WHAT, all of them as one JSON
// object; with WHAT, that list alone, one name a line.
#include "app/form1.h"
#include "tools/command.h"
#include "tools/json.h"
#include "workflow/packages.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

template <size_t N> Names names_of(const char* const (&list)[N]) {
    return Names(std::begin(list), std::end(list));
}

// Every program of the product the update stops or starts, each once: the
// stopped ones in their order, then the rest of the restarted ones.
Names every_program() {
    Names all = names_of(kv::kProductPrograms);
    for (const char* program : kv::kRestartedPrograms)
        if (std::find(all.begin(), all.end(), program) == all.end()) all.push_back(program);
    return all;
}

struct List {
    const char* name;
    Names (*names)();
    bool one = false; // a single name, a string in the JSON object
};

const List kLists[] = {
    {"access-code", [] { return Names{kv::kAccessCode}; }, true},
    {"programs", every_program},
    {"stopped-programs", [] { return names_of(kv::kProductPrograms); }},
    {"restarted-programs", [] { return names_of(kv::kRestartedPrograms); }},
    {"settings-files", [] { return names_of(kv::kCachedSettingsFiles); }},
    {"client-libraries", [] { return names_of(kv::kClientLibraries); }},
};

kv::tool::Runner cmd_names(CLI::App& command) {
    auto what = std::make_shared<std::string>();
    std::vector<std::string> choices;
    for (const List& list : kLists)
        choices.push_back(list.name);
    command.add_option("WHAT", *what, "One list alone, one name a line")->check(CLI::IsMember(choices));
    return [what] {
        if (what->empty()) {
            kv::tool::Json all = kv::tool::Json::object();
            for (const List& list : kLists) {
                const Names names = list.names();
                if (list.one)
                    all[list.name] = names.front();
                else
                    all[list.name] = names;
            }
            kv::tool::print_json(all);
            return 0;
        }
        for (const List& list : kLists)
            if (*what == list.name)
                for (const std::string& name : list.names())
                    std::printf("%s\n", name.c_str());
        std::fflush(stdout);
        return 0;
    };
}

} // namespace

KVTOOL_COMMAND("names", "Print the product's file names and the access code the updater knows", cmd_names);
