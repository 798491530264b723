// The binding to the Firebird client library: one TFbClient per library file
// that is loaded, shared by every connection attached through that file and
// freed when the last of them detaches (TFbClientList), so that the update can
// replace the client library files once the database step is over. The
// library is loaded by file name at run time, never linked.
#pragma once

#include "db/fb_api.h"
#include "platform/c_locale.h"
#include "platform/library.h"
#include "rtl/exception.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kv {

// The preferred and the fallback client library for a database path: a
// ".fdb" or ".fb" extension (any case) prefers the Firebird client, anything
// else the InterBase-compatible one. Names are the platform's file names.
struct ClientLibraryChoice {
    std::string preferred, fallback;
};
ClientLibraryChoice choose_client_library(std::string_view database);

// Client library versions as TFbClient::Version() numbers them: major * 10000
// + minor * 1000.
inline constexpr int kClientFirebird25 = 25000; // UTF-8 names and role, thread-safe calls
inline constexpr int kClientFirebird3 = 30000;  // the configuration item, xnet://, UTF-8 user
inline constexpr int kClientFirebird4 = 40000;  // time zones and binding items
inline constexpr int kClientInterBase5 = 50000;
inline constexpr int kClientInterBase6 = 60000; // InterBase 6 to 8 serialise their calls
inline constexpr int kClientInterBase9 = 90000;

// The version number of a client version text: "... Firebird 3.0" gives
// 30000 and is_firebird; otherwise (major + minor / 10) * 10000, rounded.
struct ClientVersion {
    int number = 0;
    bool is_firebird = false;
};
ClientVersion parse_client_version(std::string_view text, int major, int minor);

class TFbClient {
public:
    // Loads the library (the empty name: the choice's preferred file, then its
    // fallback). Raises "Cannot load client library[: name]".
    TFbClient(std::string name, const ClientLibraryChoice& choice);
    // Shuts the client down (fb_shutdown, when exported) and unloads it. A
    // client that refuses to shut down is left loaded: its threads may still
    // run inside it.
    ~TFbClient();
    TFbClient(const TFbClient&) = delete;
    TFbClient& operator=(const TFbClient&) = delete;

    const std::string& FileName() const noexcept { return FFileName; }
    const std::string& VersionText() const noexcept { return FVersionText; }
    int Version() const noexcept { return FVersion; } // 30000 for 3.0
    bool IsFirebird() const noexcept { return FIsFirebird; }
    bool ThreadSafe() const noexcept { return FThreadSafe; }

    // Calls an entry point, serialised when the library is not thread-safe.
    // A missing entry point raises "GDS function is not linked".
    template <class F, class... A> auto Call(F fn, A... args) const {
        if (!fn) throw Exception("GDS function is not linked");
        std::unique_lock<std::recursive_mutex> lock(FMutex, std::defer_lock);
        if (!FThreadSafe) lock.lock();
        os::CLocaleScope c_locale; // see platform/c_locale.h
        return fn(args...);
    }

    fb::isc_attach_database_t isc_attach_database = nullptr;
    fb::isc_detach_database_t isc_detach_database = nullptr;
    fb::isc_database_info_t isc_database_info = nullptr;
    fb::isc_start_multiple_t isc_start_multiple = nullptr;
    fb::isc_transaction_op_t isc_commit_transaction = nullptr;
    fb::isc_transaction_op_t isc_commit_retaining = nullptr;
    fb::isc_transaction_op_t isc_rollback_transaction = nullptr;
    fb::isc_transaction_op_t isc_rollback_retaining = nullptr;
    fb::isc_dsql_alloc_statement2_t isc_dsql_alloc_statement2 = nullptr;
    fb::isc_dsql_prepare_t isc_dsql_prepare = nullptr;
    fb::isc_dsql_sql_info_t isc_dsql_sql_info = nullptr;
    fb::isc_dsql_describe_t isc_dsql_describe = nullptr;
    fb::isc_dsql_describe_t isc_dsql_describe_bind = nullptr;
    fb::isc_dsql_execute_t isc_dsql_execute = nullptr;
    fb::isc_dsql_execute2_t isc_dsql_execute2 = nullptr;
    fb::isc_dsql_execute_immediate_t isc_dsql_execute_immediate = nullptr;
    fb::isc_dsql_fetch_t isc_dsql_fetch = nullptr;
    fb::isc_dsql_free_statement_t isc_dsql_free_statement = nullptr;
    fb::isc_dsql_set_cursor_name_t isc_dsql_set_cursor_name = nullptr;
    fb::isc_sqlcode_t isc_sqlcode = nullptr;
    fb::isc_sql_interprete_t isc_sql_interprete = nullptr;
    fb::isc_interprete_t isc_interprete = nullptr;
    fb::fb_sqlstate_t fb_sqlstate = nullptr;
    fb::isc_vax_integer_t isc_vax_integer = nullptr;
    fb::isc_service_attach_t isc_service_attach = nullptr;
    fb::isc_service_detach_t isc_service_detach = nullptr;
    fb::isc_service_start_t isc_service_start = nullptr;
    fb::isc_service_query_t isc_service_query = nullptr;

private:
    void resolve();
    void read_version();

    std::string FFileName;
    os::Library FLibrary;
    std::string FVersionText;
    int FVersion = 0;
    bool FIsFirebird = false;
    bool FThreadSafe = true;
    mutable std::recursive_mutex FMutex;
};

// The process-wide list of bindings, keyed by file name (case-insensitive).
// It does not own them: a binding lives while a caller holds it, and the
// next Get after that loads the library again.
class TFbClientList {
public:
    // The binding for `name` (trimmed); an empty name takes the first binding
    // still held, whatever its file. A new binding is loaded and added; one
    // that fails to load is not kept, so a later attach tries again.
    static std::shared_ptr<TFbClient> Get(std::string_view name, const ClientLibraryChoice& choice);
};

} // namespace kv
