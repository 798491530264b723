// The pure builders of the attach: the attach string and the database
// parameter buffer, with the table of the parameter names the "Params" lines
// may use. See fb_dpb.h.
#include "db/fb_dpb.h"

#include "db/fb_api.h"
#include "db/fb_client.h"
#include "platform/unicode.h"
#include "rtl/exception.h"
#include "rtl/text.h"

#include <algorithm>
#include <cstdlib>
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
    {"user_name", DpbKind::Text, 28, kClientFirebird3},
    {"password", DpbKind::Text, 29, kClientFirebird3},
    {"password_enc", DpbKind::Text, 30, kClientFirebird3},
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
    {"sql_role_name", DpbKind::Text, 60, kClientFirebird25},
    {"set_page_buffers", DpbKind::Integer, 61, 0},
    {"working_directory", DpbKind::Text, 62, kClientFirebird25},
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
    {"process_name", DpbKind::Text, 74, kClientFirebird25},
    {"trusted_role", DpbKind::NoValue, 75, 0},
    {"org_filename", DpbKind::Text, 76, kClientFirebird25},
    {"utf8_filename", DpbKind::NoValue, 77, kClientFirebird25},
    {"config", DpbKind::Text, 87, kClientFirebird3},
    {"session_time_zone", DpbKind::Text, 91, kClientFirebird4},
    {"set_db_replica", DpbKind::Integer, 92, 0},
    {"set_bind", DpbKind::Text, 93, kClientFirebird4},
    {"decfloat_round", DpbKind::Text, 94, kClientFirebird4},
    {"decfloat_traps", DpbKind::Text, 95, kClientFirebird4},
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
    const bool fb3 = p.client_is_firebird && p.client_version >= kClientFirebird3;
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
               p.client_is_firebird && p.client_version >= kClientFirebird25 ? p.role : utf8_to_ansi(p.role));
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

} // namespace kv
