// The provider connection: attach string, parameter buffer, attach and
// detach, database information and the error status. See fb_connection.h.
#include "db/fb_connection.h"

#include "db/fb_command.h"
#include "db/fb_transaction.h"
#include "platform/unicode.h"
#include "rtl/in_any_case.h"
#include "rtl/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

namespace kv {
namespace {

// `c` occurs somewhere before the last character.
bool has_before_last(std::string_view s, char c) {
    size_t at = s.find(c);
    return at != std::string_view::npos && at + 1 < s.size();
}

bool is_default_port(std::string_view port) {
    return port.empty() || port == "0" || port == "3050" || same_text_ascii_fold(port, "gds_db");
}

enum class DpbKind { Ignored, NoValue, Integer, Text };
struct DpbName {
    const char* name;
    DpbKind kind;
    uint8_t code;
    int utf8_from; // lowest Firebird client version taking a UTF-8 value
};

// The Firebird parameter names with their isc_dpb_ codes.
constexpr DpbName kDpbNames[] = {
    {"cdd_pathname", DpbKind::Ignored, 1, 0},
    {"allocation", DpbKind::Ignored, 2, 0},
    {"journal", DpbKind::Ignored, 3, 0},
    {"page_size", DpbKind::Integer, 4, 0},
    {"num_buffers", DpbKind::Integer, 5, 0},
    {"buffer_length", DpbKind::Ignored, 6, 0},
    {"debug", DpbKind::Integer, 7, 0},
    {"garbage_collect", DpbKind::NoValue, 8, 0},
    {"verify", DpbKind::Integer, 9, 0},
    {"sweep", DpbKind::Integer, 10, 0},
    {"enable_journal", DpbKind::Text, 11, 0},
    {"disable_journal", DpbKind::NoValue, 12, 0},
    {"dbkey_scope", DpbKind::Integer, 13, 0},
    {"number_of_users", DpbKind::Ignored, 14, 0},
    {"trace", DpbKind::NoValue, 15, 0},
    {"no_garbage_collect", DpbKind::NoValue, 16, 0},
    {"damaged", DpbKind::Integer, 17, 0},
    {"license", DpbKind::Text, 18, 0},
    {"sys_user_name", DpbKind::Text, 19, 0},
    {"encrypt_key", DpbKind::Text, 20, 0},
    {"activate_shadow", DpbKind::NoValue, 21, 0},
    {"sweep_interval", DpbKind::Integer, 22, 0},
    {"delete_shadow", DpbKind::NoValue, 23, 0},
    {"force_write", DpbKind::Integer, 24, 0},
    {"begin_log", DpbKind::Text, 25, 0},
    {"quit_log", DpbKind::NoValue, 26, 0},
    {"no_reserve", DpbKind::Integer, 27, 0},
    {"user_name", DpbKind::Text, 28, 30000},
    {"password", DpbKind::Text, 29, 30000},
    {"password_enc", DpbKind::Text, 30, 30000},
    {"sys_user_name_enc", DpbKind::Text, 31, 0},
    {"interp", DpbKind::Integer, 32, 0},
    {"online_dump", DpbKind::Integer, 33, 0},
    {"old_file_size", DpbKind::Integer, 34, 0},
    {"old_num_files", DpbKind::Integer, 35, 0},
    {"old_file", DpbKind::Text, 36, 0},
    {"old_start_page", DpbKind::Integer, 37, 0},
    {"old_start_seqno", DpbKind::Integer, 38, 0},
    {"old_start_file", DpbKind::Integer, 39, 0},
    {"drop_walfile", DpbKind::Integer, 40, 0},
    {"old_dump_id", DpbKind::Integer, 41, 0},
    {"wal_backup_dir", DpbKind::Text, 42, 0},
    {"wal_chkptlen", DpbKind::Integer, 43, 0},
    {"wal_numbufs", DpbKind::Integer, 44, 0},
    {"wal_bufsize", DpbKind::Integer, 45, 0},
    {"wal_grp_cmt_wait", DpbKind::Integer, 46, 0},
    {"lc_messages", DpbKind::Text, 47, 0},
    {"lc_ctype", DpbKind::Text, 48, 0},
    {"cache_manager", DpbKind::Ignored, 49, 0},
    {"shutdown", DpbKind::Integer, 50, 0},
    {"online", DpbKind::NoValue, 51, 0},
    {"shutdown_delay", DpbKind::Integer, 52, 0},
    {"reserved", DpbKind::Text, 53, 0},
    {"overwrite", DpbKind::Integer, 54, 0},
    {"sec_attach", DpbKind::Integer, 55, 0},
    {"disable_wal", DpbKind::NoValue, 56, 0},
    {"connect_timeout", DpbKind::Integer, 57, 0},
    {"dummy_packet_interval", DpbKind::Integer, 58, 0},
    {"gbak_attach", DpbKind::Text, 59, 0},
    {"sql_role_name", DpbKind::Text, 60, 25000},
    {"set_page_buffers", DpbKind::Integer, 61, 0},
    {"working_directory", DpbKind::Text, 62, 25000},
    {"sql_dialect", DpbKind::Integer, 63, 0},
    {"set_db_readonly", DpbKind::Integer, 64, 0},
    {"set_db_sql_dialect", DpbKind::Integer, 65, 0},
    {"gfix_attach", DpbKind::NoValue, 66, 0},
    {"gstat_attach", DpbKind::NoValue, 67, 0},
    {"set_db_charset", DpbKind::Text, 68, 0},
    {"gsec_attach", DpbKind::NoValue, 69, 0},
    {"address_path", DpbKind::Text, 70, 0},
    {"process_id", DpbKind::Integer, 71, 0},
    {"no_db_triggers", DpbKind::Integer, 72, 0},
    {"trusted_auth", DpbKind::Integer, 73, 0},
    {"process_name", DpbKind::Text, 74, 25000},
    {"trusted_role", DpbKind::NoValue, 75, 0},
    {"org_filename", DpbKind::Text, 76, 25000},
    {"utf8_filename", DpbKind::NoValue, 77, 25000},
    {"config", DpbKind::Text, 87, 30000},
    {"session_time_zone", DpbKind::Text, 91, 40000},
    {"set_db_replica", DpbKind::Integer, 92, 0},
    {"set_bind", DpbKind::Text, 93, 40000},
    {"decfloat_round", DpbKind::Text, 94, 40000},
    {"decfloat_traps", DpbKind::Text, 95, 40000},
    {"clear_map", DpbKind::NoValue, 96, 0},
    {"upgrade_db", DpbKind::NoValue, 97, 0},
};

class ParamBuffer {
public:
    void item(uint8_t code, std::string_view value) {
        FWritten.insert(code);
        FBytes += static_cast<char>(code);
        FBytes += static_cast<char>(std::min<size_t>(value.size(), 255));
        FBytes.append(value.substr(0, 255));
    }
    void integer(uint8_t code, uint32_t v) {
        std::string bytes;
        int n = v < 256 ? 1 : v < 65536 ? 2 : 4;
        for (int i = 0; i < n; ++i)
            bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        item(code, bytes);
    }
    bool written(uint8_t code) const { return FWritten.count(code) != 0; }
    void raw(char c) { FBytes += c; }
    std::string take() { return std::move(FBytes); }

private:
    std::string FBytes;
    std::set<uint8_t> FWritten;
};

} // namespace

bool EFbError::IsFatal() const noexcept {
    switch (ErrorNumber) {
    case 335544528:
    case 335544648:
    case 335544721:
    case 335544726:
    case 335544727:
    case 335544741:
    case 335544856:
        return true;
    default:
        return false;
    }
}

std::exception_ptr EDbError::capture(const EDataAccessError& e) {
    if (auto fb = dynamic_cast<const EFbError*>(&e)) return std::make_exception_ptr(*fb);
    return std::make_exception_ptr(e);
}

std::string fb_attach_string(const AttachStringParams& p) {
    const std::string& server = p.server;
    if (p.database.find("://") != std::string::npos) return p.database;
    if (p.protocol == "_Local" && !server.empty()) return p.fb3_client ? "xnet://" + p.database : p.database;
    if (p.ip_version == "ivIPv4" || p.ip_version == "ivIPv6") {
        std::string s = p.ip_version == "ivIPv4" ? "inet4://" : "inet6://";
        if (has_before_last(server, '/')) {
            size_t slash = server.find('/');
            return s + server.substr(0, slash) + ":" + server.substr(slash + 1) + "/" + p.database;
        }
        s += server;
        if (!p.port.empty()) s += ":" + p.port;
        if (!server.empty() || !p.port.empty()) s += "/";
        return s + p.database;
    }
    if (server.empty()) return p.database;
    bool named_port = has_before_last(server, '/') || has_before_last(server, '@');
    if (p.protocol == "_TCP") {
        if (named_port) return server + p.ssl + ":" + p.database;
        if (is_default_port(p.port)) return server + ":" + p.database;
        return server + (server.ends_with('/') ? "" : "/") + p.port + p.ssl + ":" + p.database;
    }
    if (p.protocol == "_NetBEUI") {
        if (named_port || is_default_port(p.port)) return "\\\\" + server + "\\" + p.database;
        return "\\\\" + server + (server.ends_with('@') ? "" : "@") + p.port + "\\" + p.database;
    }
    if (p.protocol == "_SPX") return server + "@" + p.database;
    return p.database;
}

std::string fb_build_dpb(const DpbParams& p) {
    const bool fb3 = p.client_is_firebird && p.client_version >= 30000;
    auto user_text = [&](const std::string& s) { return fb3 ? s : utf8_to_ansi(s); };
    ParamBuffer b;
    b.raw(static_cast<char>(fb::isc_dpb_version1));
    if (!p.user_name.empty()) b.item(fb::isc_dpb_user_name, user_text(p.user_name));
    if (!p.password.empty()) b.item(fb::isc_dpb_password, user_text(p.password));
    std::string ctype = p.charset;
    if (p.use_unicode && ascii_upper(p.charset) != "UTF8") ctype = "UNICODE_FSS";
    if (!ctype.empty()) b.item(fb::isc_dpb_lc_ctype, utf8_to_ansi(ctype));
    if (!p.role.empty())
        b.item(fb::isc_dpb_sql_role_name,
               p.client_is_firebird && p.client_version >= 25000 ? p.role : utf8_to_ansi(p.role));
    if (p.trusted_auth) b.item(fb::isc_dpb_trusted_auth, std::string(1, '\0'));
    if (p.no_db_triggers) b.item(fb::isc_dpb_no_db_triggers, std::string(1, '\1'));
    if (fb3 && (p.wire_compression || !p.config_overrides.empty())) {
        std::string config = "WireCompression=True";
        if (!p.config_overrides.empty()) {
            config = p.config_overrides;
            if (p.wire_compression && config.find("WireCompression") == std::string::npos)
                config += "|WireCompression=true";
            std::string out;
            for (char c : config)
                out += c == '|' ? std::string("\r\n") : std::string(1, c);
            config = out;
        }
        b.item(fb::isc_dpb_config, utf8_to_ansi(config));
    }
    b.integer(fb::isc_dpb_sql_dialect, static_cast<uint32_t>(p.sql_dialect));

    for (const std::string& line : p.params) {
        size_t eq = line.find('=');
        std::string name = ascii_lower(trim(line.substr(0, eq)));
        std::string value = eq == std::string::npos ? std::string() : trim(line.substr(eq + 1));
        if (eq == std::string::npos && name != "utf8_filename") continue;
        const DpbName* d = nullptr;
        for (const DpbName& n : kDpbNames)
            if (name == n.name) d = &n;
        if (!d) throw Exception("Unknown DPB constant (" + name + ")");
        if (d->kind == DpbKind::Ignored || b.written(d->code)) continue;
        switch (d->kind) {
        case DpbKind::NoValue:
            b.item(d->code, {});
            break;
        case DpbKind::Integer: {
            char* end = nullptr;
            unsigned long v = std::strtoul(value.c_str(), &end, 10);
            b.integer(d->code, value.empty() || *end ? 10u : static_cast<uint32_t>(v));
            break;
        }
        case DpbKind::Text:
            b.item(d->code, p.client_is_firebird && d->utf8_from && p.client_version >= d->utf8_from
                                ? value
                                : utf8_to_ansi(value));
            break;
        case DpbKind::Ignored:
            break;
        }
    }
    return b.take();
}

TFbConnection::TFbConnection() : FInternalTransaction(std::make_unique<TFbTransaction>()) {
    FInternalTransaction->AddConnection(this);
}

TFbConnection::~TFbConnection() {
    try {
        Disconnect();
    } catch (...) {
        // a destructor has nowhere to send the detach error
    }
}

void TFbConnection::SetOptions(const FbConnectionOptions& o) {
    FOptions = o;
}

std::string TFbConnection::Encode(std::string_view text) const {
    return FOptions.use_unicode ? std::string(text) : utf8_to_ansi(text);
}
std::string TFbConnection::Decode(std::string_view bytes) const {
    return FOptions.use_unicode && !FDecodeAnsi ? std::string(bytes) : ansi_to_utf8(bytes);
}

void TFbConnection::load_client() {
    FClient = TFbClientList::Get(FOptions.client_library, choose_client_library(Database));
}

std::string TFbConnection::DpbBytes() {
    DpbParams p;
    p.user_name = Username;
    p.password = Password;
    p.charset = FOptions.charset;
    p.role = FOptions.role;
    p.config_overrides = FOptions.config_overrides;
    p.params = FOptions.params;
    p.use_unicode = FOptions.use_unicode;
    p.trusted_auth = FOptions.trusted_auth;
    p.no_db_triggers = FOptions.no_db_triggers;
    p.wire_compression = FOptions.wire_compression;
    p.sql_dialect = FOptions.sql_dialect;
    p.client_version = FClient->Version();
    p.client_is_firebird = FClient->IsFirebird();
    if (p.client_is_firebird && p.client_version >= 25000 &&
        std::none_of(p.params.begin(), p.params.end(),
                     [](const std::string& l) { return ascii_lower(trim(l)) == "utf8_filename"; }))
        p.params.push_back("utf8_filename");
    auto same = [](const DpbParams& a, const DpbParams& b) {
        return a.user_name == b.user_name && a.password == b.password && a.charset == b.charset &&
               a.role == b.role && a.config_overrides == b.config_overrides && a.params == b.params &&
               a.use_unicode == b.use_unicode && a.trusted_auth == b.trusted_auth &&
               a.no_db_triggers == b.no_db_triggers && a.wire_compression == b.wire_compression &&
               a.sql_dialect == b.sql_dialect && a.client_version == b.client_version &&
               a.client_is_firebird == b.client_is_firebird;
    };
    if (!FDpbBuilt || !same(p, FDpbBuiltFrom)) {
        try {
            FDpb = fb_build_dpb(p);
        } catch (...) {
            FDpb.clear();
            FDpbBuilt = false;
            throw;
        }
        FDpbBuiltFrom = p;
        FDpbBuilt = true;
    }
    return FDpb;
}

void TFbConnection::Connect() {
    if (FConnected) return;
    load_client();
    try {
        attach();
    } catch (...) {
        FClient.reset(); // a connection holds the client only while attached
        throw;
    }
    FConnected = true;
    try {
        read_dialect();
        read_charset();
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // the first error is the one the caller needs
        }
        throw;
    }
}

void TFbConnection::attach() {
    AttachStringParams a;
    a.server = Server;
    a.port = Port;
    a.protocol = FOptions.protocol;
    a.ip_version = FOptions.ip_version;
    a.fb3_client = FClient->IsFirebird() && FClient->Version() >= 30000;
    a.database = Database;
    FAttachString = fb_attach_string(a);
    std::string bytes =
        FClient->IsFirebird() && FClient->Version() >= 25000 ? FAttachString : utf8_to_ansi(FAttachString);
    std::string dpb = DpbBytes();
    FDialect = FOptions.sql_dialect;
    FValid = true;
    FVersionRead = false;
    FHandle = 0;
    fb::ISC_STATUS r =
        FClient->Call(FClient->isc_attach_database, FStatus, static_cast<int16_t>(bytes.size()),
                      bytes.c_str(), &FHandle, static_cast<int16_t>(dpb.size()), dpb.data());
    if (r <= 0) return;
    FHandle = 0;
    FDecodeAnsi = true; // attach errors are decoded as ANSI whatever UseUnicode says
    try {
        FbError(FStatus);
    } catch (...) {
        FDecodeAnsi = false;
        throw;
    }
}

void TFbConnection::read_dialect() {
    const char item = static_cast<char>(fb::isc_info_db_sql_dialect);
    char buf[32] = {};
    Check(FClient->Call(FClient->isc_database_info, FStatus, &FHandle, int16_t(1), &item, int16_t(sizeof buf),
                        buf),
          FStatus);
    if (static_cast<uint8_t>(buf[0]) != fb::isc_info_db_sql_dialect) return;
    int len = FClient->Call(FClient->isc_vax_integer, buf + 1, int16_t(2));
    int dialect = FClient->Call(FClient->isc_vax_integer, buf + 3, static_cast<int16_t>(len));
    if (dialect > 0 && dialect < FDialect) FDialect = dialect;
}

void TFbConnection::read_charset() {
    std::string sql =
        "SELECT CST.RDB$CHARACTER_SET_ID CONN_CH, CST.RDB$BYTES_PER_CHARACTER CONN_CH_LEN,\r\n"
        "DB.RDB$CHARACTER_SET_NAME DB_CH, DB_CST.RDB$BYTES_PER_CHARACTER DB_CH_LEN, "
        "DB_CST.RDB$CHARACTER_SET_ID "
        "DB_CH_ID\r\n"
        "FROM RDB$CHARACTER_SETS CST, RDB$DATABASE DB, RDB$CHARACTER_SETS DB_CST\r\n"
        "WHERE ((DB_CST.RDB$CHARACTER_SET_NAME = DB.RDB$CHARACTER_SET_NAME) OR "
        "((DB_CST.RDB$CHARACTER_SET_NAME = "
        "'NONE') AND (DB.RDB$CHARACTER_SET_NAME IS NULL) AND NOT(DB.RDB$RELATION_ID IS NULL)))\r\n";
    if (!FOptions.charset.empty())
        sql += "AND (CST.RDB$CHARACTER_SET_NAME = UPPER('" + FOptions.charset + "'))";
    else
        sql += "AND ((CST.RDB$CHARACTER_SET_NAME = DB.RDB$CHARACTER_SET_NAME) OR "
               "((CST.RDB$CHARACTER_SET_NAME = 'NONE') AND (DB.RDB$CHARACTER_SET_NAME IS NULL) AND "
               "NOT(DB.RDB$RELATION_ID IS NULL)))";
    TFbTransaction& t = *FInternalTransaction;
    if (!t.Active()) t.StartTransaction();
    {
        TFbCommand cmd(*this);
        cmd.SetText(sql);
        cmd.Prepare(t);
        cmd.Execute(t, {});
        while (cmd.Fetch()) {
            FCharsetId = static_cast<int>(cmd.Value(0).AsInt64());
            FCharLength = static_cast<int>(cmd.Value(1).AsInt64());
            bool db_null = cmd.Value(2).IsNull();
            FDbCharLength = db_null ? 1 : static_cast<int>(cmd.Value(3).AsInt64());
            FDbCharsetId = db_null ? 0 : static_cast<int>(cmd.Value(4).AsInt64());
        }
    }
    t.Commit();
}

void TFbConnection::Disconnect() {
    if (!FConnected) return;
    in_any_case(
        [&] {
            if (!FInternalTransaction->Active()) return;
            if (FValid)
                FInternalTransaction->Commit();
            else
                FInternalTransaction->Rollback();
        },
        [&] {
            FConnected = false;
            fb::ISC_STATUS r = FClient->Call(FClient->isc_detach_database, FStatus, &FHandle);
            FHandle = 0;
            // After a fatal error the attachment is gone: the call only frees
            // the client's handle, and its error says nothing new. The client
            // is let go in any case: when this was its last connection, it is
            // unloaded, and its files can be replaced.
            in_any_case(
                [&] {
                    if (FValid) Check(r, FStatus);
                },
                [&] { FClient.reset(); });
        });
}

void TFbConnection::FbError(const fb::ISC_STATUS* status, bool use_callback) {
    const TFbClient& c = *FClient;
    int sqlcode = c.Call(c.isc_sqlcode, status);
    std::vector<char> buf(4096 + 1, '\0');
    c.Call(c.isc_sql_interprete, static_cast<int16_t>(sqlcode), buf.data(), int16_t(4096));
    std::string sql_message = Decode(buf.data());
    std::string message;
    const fb::ISC_STATUS* p = status;
    for (bool first = true;; first = false) {
        std::fill(buf.begin(), buf.end(), '\0');
        if (c.Call(c.isc_interprete, buf.data(), &p) <= 0) break;
        if (!first) message += '\r';
        message += Decode(buf.data());
    }
    EFbError error(message, sqlcode);
    error.ErrorNumber = status[1];
    error.SQLErrorMsg = sql_message;
    if (c.fb_sqlstate) {
        char state[8] = {};
        c.Call(c.fb_sqlstate, state, status);
        error.SQLState = state;
    }
    FLastError = sqlcode;
    if (error.IsFatal()) FValid = false;
    if (use_callback && OnError) {
        bool fail = true;
        OnError(error, fail);
        if (!fail) throw EAbort("Operation aborted");
    }
    throw error;
}

std::vector<std::string> TFbConnection::info_strings(uint8_t item) {
    const char request = static_cast<char>(item);
    char buf[512] = {};
    Check(FClient->Call(FClient->isc_database_info, FStatus, &FHandle, int16_t(1), &request,
                        int16_t(sizeof buf), buf),
          FStatus);
    std::vector<std::string> out;
    if (static_cast<uint8_t>(buf[0]) != item) return out;
    int len = FClient->Call(FClient->isc_vax_integer, buf + 1, int16_t(2));
    if (len <= 0 || len > static_cast<int>(sizeof buf) - 3) return out;
    const char* p = buf + 3;
    const char* end = p + len;
    int count = static_cast<uint8_t>(*p++);
    for (int i = 0; i < count && p < end; ++i) {
        size_t n = static_cast<uint8_t>(*p++);
        n = std::min<size_t>(n, static_cast<size_t>(end - p));
        out.emplace_back(p, n);
        p += n;
    }
    return out;
}

const std::string& TFbConnection::ServerVersionText() {
    if (!FVersionRead) {
        auto fb = info_strings(fb::isc_info_firebird_version);
        FIsFBServer = !fb.empty() && !fb[0].empty();
        if (FIsFBServer)
            FServerVersion = fb[0];
        else {
            auto v = info_strings(fb::isc_info_version);
            FServerVersion = v.empty() ? std::string() : v[0];
        }
        FVersionRead = true;
    }
    return FServerVersion;
}

bool TFbConnection::IsFBServer() {
    ServerVersionText();
    return FIsFBServer;
}

// "LI-V3.0.11.33637 Firebird 3.0": the number before the first "." (one or
// two digits) and the digit after it.
int TFbConnection::GetMajorServerVersion() {
    const std::string& v = ServerVersionText();
    size_t dot = v.find('.');
    if (dot == std::string::npos || dot == 0) return 0;
    size_t from = dot;
    while (from > 0 && from > dot - 2 && std::isdigit(static_cast<unsigned char>(v[from - 1])))
        --from;
    return std::atoi(v.substr(from, dot - from).c_str());
}

int TFbConnection::GetMinorServerVersion() {
    const std::string& v = ServerVersionText();
    size_t dot = v.find('.');
    if (dot == std::string::npos || dot + 1 >= v.size() ||
        !std::isdigit(static_cast<unsigned char>(v[dot + 1])))
        return 0;
    return v[dot + 1] - '0';
}

} // namespace kv
