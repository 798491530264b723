// The client library's services API, for the services the updater and kvtool
// ask for: a backup of the site database before the upgrade, and the way back
// (a restore, and the shutdown and return to service of a database a server
// holds). Each is done by the engine that holds the database (the server's
// service manager for a server attach, the embedded engine's for a local
// one), so the files are read and written on the machine of the database.
//
// Usage:
//     TFbService svc(connection.Provider(), server, user, password);
//     svc.StartBackup(database, file);
//     for (std::string line; svc.NextLine(line);) ...show line...
//
// Errors: EFbError with the client library's text when the attach, the start
// or a query fails; a service the engine cannot carry out fails in NextLine.
#pragma once

#include "db/fb_api.h"
#include "db/fb_connection.h"

#include <memory>
#include <string>

namespace kv {

class TFbService {
public:
    // Attaches to the service manager through the client library `connection`
    // is set up for (its library, encoding and configuration overrides, so a
    // local attach reaches the same engine as the connection). The
    // connection need not be attached: the service holds the library itself,
    // so a database can be shut down with no attachment of ours left.
    TFbService(TFbConnection& connection, const std::string& server, const std::string& user,
               const std::string& password);
    ~TFbService();
    TFbService(const TFbService&) = delete;
    TFbService& operator=(const TFbService&) = delete;

    // Starts a verbose backup of `database` (the path as the engine knows it)
    // into `file` (a path on the engine's machine).
    void StartBackup(const std::string& database, const std::string& file);
    // Starts a verbose restore of the backup `file` into `database`: a new
    // file (the service fails when it exists), or with `replace` over the
    // database there.
    void StartRestore(const std::string& file, const std::string& database, bool replace);
    // Waits at most about a second for the service's next answer. True with
    // a line of its output (empty when none came in that time); false once the
    // service has finished.
    bool NextLine(std::string& line);

    // Shuts `database` down fully, refusing new attachments while it waits up
    // to `seconds` for those there to end. It never cuts one: when any is
    // left at the end, the shutdown fails and the database stays as it was.
    void ShutDown(const std::string& database, int seconds);
    // Brings a shut-down `database` back to normal service.
    void BringOnline(const std::string& database);

private:
    void Start(const std::string& spb);
    // Runs the service started last to its end; raises its error.
    void Finish();
    void Check(fb::ISC_STATUS result);

    TFbConnection& FConnection;
    std::shared_ptr<TFbClient> FClient;
    fb::Handle FHandle = 0;
    fb::StatusVector FStatus{};
};

} // namespace kv
