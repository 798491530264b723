// The provider connection's attach and detach, the parameter buffer rebuilt
// only when what it is built from changed, the character set query of the
// attach, and a failed call's status vector turned into EFbError. See
// fb_connection.h.
#include "db/fb_connection.h"

#include "db/fb_command.h"
#include "db/fb_transaction.h"
#include "platform/unicode.h"
#include "rtl/in_any_case.h"
#include "rtl/text.h"

#include <algorithm>

namespace kv {

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
    if (p.client_is_firebird && p.client_version >= kClientFirebird25 &&
        std::none_of(p.params.begin(), p.params.end(),
                     [](const std::string& l) { return ascii_lower(trim(l)) == "utf8_filename"; }))
        p.params.push_back("utf8_filename");
    if (!FDpbBuilt || p != FDpbBuiltFrom) {
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
    a.fb3_client = FClient->IsFirebird() && FClient->Version() >= kClientFirebird3;
    a.database = Database;
    FAttachString = fb_attach_string(a);
    std::string bytes = FClient->IsFirebird() && FClient->Version() >= kClientFirebird25
                            ? FAttachString
                            : utf8_to_ansi(FAttachString);
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
        // The attach reads every row; nothing in the updater uses the
        // character set ids and widths they hold.
        while (cmd.Fetch()) {
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

EFbError fb_status_error(const TFbClient& c, const fb::ISC_STATUS* status,
                         const std::function<std::string(std::string_view)>& decode) {
    int sqlcode = c.Call(c.isc_sqlcode, status);
    std::vector<char> buf(4096 + 1, '\0');
    c.Call(c.isc_sql_interprete, static_cast<int16_t>(sqlcode), buf.data(), int16_t(4096));
    std::string sql_message = decode(buf.data());
    std::string message;
    const fb::ISC_STATUS* p = status;
    for (bool first = true;; first = false) {
        std::fill(buf.begin(), buf.end(), '\0');
        if (c.Call(c.isc_interprete, buf.data(), &p) <= 0) break;
        if (!first) message += '\r';
        message += decode(buf.data());
    }
    EFbError error(message, sqlcode);
    error.ErrorNumber = status[1];
    error.SQLErrorMsg = sql_message;
    if (c.fb_sqlstate) {
        char state[8] = {};
        c.Call(c.fb_sqlstate, state, status);
        error.SQLState = state;
    }
    return error;
}

void TFbConnection::FbError(const fb::ISC_STATUS* status, bool use_callback) {
    EFbError error = fb_status_error(*FClient, status, [this](std::string_view b) { return Decode(b); });
    if (error.IsFatal()) FValid = false;
    if (use_callback && OnError) {
        bool fail = true;
        OnError(error, fail);
        if (!fail) throw EAbort("Operation aborted");
    }
    throw error;
}

} // namespace kv
