// The Firebird provider's connection: everything that speaks the client
// library's API for one attachment (attach and detach with the buffers of
// fb_dpb.h, database information, turning a failed call's status vector into
// EFbError). The component layer (TDbConnection) drives it.
#pragma once

#include "db/db_errors.h"
#include "db/fb_api.h"
#include "db/fb_client.h"
#include "db/fb_dpb.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class TFbTransaction;

// The provider options (the "InterBase." lines of SpecificOptions).
struct FbConnectionOptions {
    std::string client_library, charset, role, config_overrides;
    std::vector<std::string> params;
    std::string protocol = "_TCP", ip_version = "ivIPBoth";
    bool use_unicode = false, trusted_auth = false, no_db_triggers = false, wire_compression = false;
    int sql_dialect = 3;
};

// The EFbError a failed call's status vector describes, its texts turned
// into UTF-8 by `decode`.
EFbError fb_status_error(const TFbClient& c, const fb::ISC_STATUS* status,
                         const std::function<std::string(std::string_view)>& decode);

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
    bool FVersionRead = false, FIsFBServer = false;
    std::string FServerVersion;
    std::string FAttachString;
    std::unique_ptr<TFbTransaction> FInternalTransaction;
};

} // namespace kv
