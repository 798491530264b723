// Loading the client library, resolving its entry points and reading its
// version. Debian's library answers the major/minor version calls with
// InterBase-style numbers (6 and 3) while its version text says
// "Firebird 3.0", so the text decides.
#include "db/fb_client.h"

#include "rtl/text.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#ifndef KV_FB_CLIENT_LIBRARY
#error "the build sets KV_FB_CLIENT_LIBRARY and KV_GDS_CLIENT_LIBRARY to the platform's file names"
#endif

namespace kv {
ClientLibraryChoice choose_client_library(std::string_view database) {
    std::string ext;
    size_t dot = database.rfind('.');
    size_t sep = database.find_last_of("/\\");
    if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep))
        ext = ascii_lower(database.substr(dot));
    if (ext == ".fdb" || ext == ".fb") return {KV_FB_CLIENT_LIBRARY, KV_GDS_CLIENT_LIBRARY};
    return {KV_GDS_CLIENT_LIBRARY, KV_FB_CLIENT_LIBRARY};
}

ClientVersion parse_client_version(std::string_view text, int major, int minor) {
    std::string lower = ascii_lower(text);
    size_t at = lower.find("firebird");
    if (at != std::string::npos) {
        size_t from = lower.find(' ', at);
        from = from == std::string::npos ? lower.size() : from + 1;
        size_t to = lower.find(' ', from);
        std::string word = lower.substr(from, to == std::string::npos ? std::string::npos : to - from);
        return {static_cast<int>(std::lround(std::strtod(word.c_str(), nullptr) * 10000)), true};
    }
    return {static_cast<int>(std::lround((major + minor / 10.0) * 10000)), false};
}

TFbClient::TFbClient(std::string name, const ClientLibraryChoice& choice) : FFileName(std::move(name)) {
    if (FFileName.empty()) {
        if (FLibrary.load(choice.preferred))
            FFileName = choice.preferred;
        else if (FLibrary.load(choice.fallback))
            FFileName = choice.fallback;
    } else {
        FLibrary.load(FFileName);
    }
    if (!FLibrary.loaded())
        throw Exception(FFileName.empty() ? "Cannot load client library"
                                          : "Cannot load client library: " + FFileName);
    resolve();
    read_version();
    // Clients older than 2.5 and InterBase 6 to 8 serialise their calls.
    FThreadSafe =
        !(FVersion < kClientFirebird25 || (FVersion >= kClientInterBase6 && FVersion < kClientInterBase9));
}

TFbClient::~TFbClient() {
    // A client that has run the embedded engine still has its threads and
    // keeps itself mapped; freeing it as it is would leave the library loaded
    // (and its files locked on Windows). Every connection through it has
    // detached by now, so shutting it down cuts nothing.
    auto shutdown = FLibrary.function<fb::fb_shutdown_t>("fb_shutdown");
    os::CLocaleScope c_locale;
    if (shutdown && shutdown(10000, 0) != 0) {
        FLibrary.release();
        return;
    }
    FLibrary.free();
}

void TFbClient::resolve() {
    auto get = [this](auto& fn, const char* name) {
        fn = FLibrary.function<std::remove_reference_t<decltype(fn)>>(name);
    };
    get(isc_attach_database, "isc_attach_database");
    get(isc_detach_database, "isc_detach_database");
    get(isc_database_info, "isc_database_info");
    get(isc_start_multiple, "isc_start_multiple");
    get(isc_commit_transaction, "isc_commit_transaction");
    get(isc_commit_retaining, "isc_commit_retaining");
    get(isc_rollback_transaction, "isc_rollback_transaction");
    get(isc_rollback_retaining, "isc_rollback_retaining");
    get(isc_dsql_alloc_statement2, "isc_dsql_alloc_statement2");
    get(isc_dsql_prepare, "isc_dsql_prepare");
    get(isc_dsql_sql_info, "isc_dsql_sql_info");
    get(isc_dsql_describe, "isc_dsql_describe");
    get(isc_dsql_describe_bind, "isc_dsql_describe_bind");
    get(isc_dsql_execute, "isc_dsql_execute");
    get(isc_dsql_execute2, "isc_dsql_execute2");
    get(isc_dsql_execute_immediate, "isc_dsql_execute_immediate");
    get(isc_dsql_fetch, "isc_dsql_fetch");
    get(isc_dsql_free_statement, "isc_dsql_free_statement");
    get(isc_dsql_set_cursor_name, "isc_dsql_set_cursor_name");
    get(isc_sqlcode, "isc_sqlcode");
    get(isc_sql_interprete, "isc_sql_interprete");
    get(isc_interprete, "isc_interprete");
    get(fb_sqlstate, "fb_sqlstate");
    get(isc_vax_integer, "isc_vax_integer");
    get(isc_service_attach, "isc_service_attach");
    get(isc_service_detach, "isc_service_detach");
    get(isc_service_start, "isc_service_start");
    get(isc_service_query, "isc_service_query");
}

void TFbClient::read_version() {
    auto get_version = FLibrary.function<fb::isc_get_client_version_t>("isc_get_client_version");
    if (!get_version) {
        FVersion = isc_rollback_retaining ? kClientInterBase6 : kClientInterBase5;
        return;
    }
    char buf[64] = {};
    get_version(buf);
    buf[sizeof buf - 1] = '\0';
    FVersionText = buf;
    auto major = FLibrary.function<fb::isc_get_client_number_t>("isc_get_client_major_version");
    auto minor = FLibrary.function<fb::isc_get_client_number_t>("isc_get_client_minor_version");
    ClientVersion v = parse_client_version(FVersionText, major ? major() : 0, minor ? minor() : 0);
    FVersion = v.number;
    FIsFirebird = v.is_firebird;
}

namespace {
// Guards the list and the loading and unloading of bindings, so that a
// library is never loaded again for one thread while another shuts it down.
// Recursive: the last holder may let a binding go while Get looks at it.
// Never destroyed, as a binding may be let go while the process ends.
std::recursive_mutex& client_list_lock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}
} // namespace

std::shared_ptr<TFbClient> TFbClientList::Get(std::string_view name, const ClientLibraryChoice& choice) {
    static std::vector<std::weak_ptr<TFbClient>> list;
    std::string key = trim(name);
    std::lock_guard<std::recursive_mutex> guard(client_list_lock());
    std::erase_if(list, [](const std::weak_ptr<TFbClient>& w) { return w.expired(); });
    for (auto& w : list)
        if (auto c = w.lock(); c && (key.empty() || same_text_ascii_fold(c->FileName(), key))) return c;
    std::shared_ptr<TFbClient> client(new TFbClient(key, choice), [](TFbClient* c) {
        std::lock_guard<std::recursive_mutex> unloading(client_list_lock());
        delete c;
    });
    list.push_back(client);
    return client;
}

} // namespace kv
