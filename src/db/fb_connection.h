// The Firebird provider's connection: everything that speaks the client
// library's API for one attachment (attach string, database parameter buffer,
// attach and detach, database information, turning a failed call's status
// vector into EFbError). The component layer (TDbConnection) drives it.
#pragma once

#include "db/db_errors.h"
#include "db/fb_api.h"
#include "db/fb_client.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class TFbTransaction;

// --- Pure builders (table-tested) ---

struct AttachStringParams {
    std::string server;
    std::string port = "3050";           // as text
    std::string protocol = "_TCP";       // _TCP, _NetBEUI, _SPX, _Local
    std::string ip_version = "ivIPBoth"; // ivIPv4, ivIPv6, ivIPBoth
    std::string ssl;                     // the SSL text (empty: SSL unused)
    bool fb3_client = true;              // Firebird 3.0 or later client
    std::string database;
};
std::string fb_attach_string(const AttachStringParams& p);

struct DpbParams {
    std::string user_name, password, charset, role, config_overrides;
    std::vector<std::string> params; // "name=value" lines
    bool use_unicode = false, trusted_auth = false, no_db_triggers = false, wire_compression = false;
    int sql_dialect = 3;
    int client_version = 30000;
    bool client_is_firebird = true;
};
// Raises Exception "Unknown DPB constant (name)" for an unknown "Params" name.
std::string fb_build_dpb(const DpbParams& p);

// The provider options (the "InterBase." lines of SpecificOptions).
struct FbConnectionOptions {
    std::string client_library, charset, role, config_overrides;
    std::vector<std::string> params;
    std::string protocol = "_TCP", ip_version = "ivIPBoth";
    bool use_unicode = false, trusted_auth = false, no_db_triggers = false, wire_compression = false;
    int sql_dialect = 3;
};

class TFbConnection {
public:
    TFbConnection();
    ~TFbConnection();
    TFbConnection(const TFbConnection&) = delete;
    TFbConnection& operator=(const TFbConnection&) = delete;

    // Settings, read at the next Connect. Any change marks the parameter
    // buffer for rebuilding.
    std::string Server, Port = "3050", Database, Username, Password;
    void SetOptions(const FbConnectionOptions& o);
    const FbConnectionOptions& Options() const noexcept { return FOptions; }

    // Loads the client library (or shares the binding already loaded) and
    // attaches; no-op when attached.
    void Connect();
    // Detaches and lets the client library go; no-op when detached. The handle
    // is zero afterwards in every case.
    void Disconnect();
    bool IsConnected() const noexcept { return FConnected; }
    // False after a fatal error (the connection is taken as lost).
    bool IsValid() const noexcept { return FValid; }

    // Raises the EFbError built from `status`. With `use_callback`, OnError
    // is called first; when it clears `fail`, EAbort is raised instead.
    [[noreturn]] void FbError(const fb::ISC_STATUS* status, bool use_callback = true);
    // Raises FbError when a client call returned failure.
    void Check(fb::ISC_STATUS result, const fb::ISC_STATUS* status, bool use_callback = true) {
        if (result > 0) FbError(status, use_callback);
    }
    std::function<void(EFbError& e, bool& fail)> OnError;

    // The client library; held only while attached.
    TFbClient& Client() const { return *FClient; }
    fb::Handle* DbHandle() noexcept { return &FHandle; }
    int SQLDialect() const noexcept { return FDialect; }
    bool UseUnicode() const noexcept { return FOptions.use_unicode; }
    // Text to and from the client library's encoding (UTF-8 or ANSI).
    std::string Encode(std::string_view text) const;
    std::string Decode(std::string_view bytes) const;

    bool IsFBServer();
    int GetMajorServerVersion();
    int GetMinorServerVersion();
    const std::string& ServerVersionText();

    int CharsetId() const noexcept { return FCharsetId; }
    int CharLength() const noexcept { return FCharLength; }
    int LastErrorCode() const noexcept { return FLastError; }
    const std::string& AttachString() const noexcept { return FAttachString; }

private:
    void load_client();
    void attach();
    void read_dialect();
    void read_charset();
    std::vector<std::string> info_strings(uint8_t item);
    std::string DpbBytes();

    FbConnectionOptions FOptions;
    std::shared_ptr<TFbClient> FClient;
    fb::Handle FHandle = 0;
    fb::StatusVector FStatus{};
    std::string FDpb;
    DpbParams FDpbBuiltFrom;
    bool FDpbBuilt = false;
    bool FConnected = false, FValid = true, FDecodeAnsi = false;
    int FDialect = 3;
    int FCharsetId = 0, FCharLength = 1, FDbCharsetId = 0, FDbCharLength = 1;
    bool FVersionRead = false, FIsFBServer = false;
    std::string FServerVersion;
    int FLastError = 0;
    std::string FAttachString;
    std::unique_ptr<TFbTransaction> FInternalTransaction;
};

} // namespace kv
