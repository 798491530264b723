// The client library's services API, for the one service the updater asks
// for: a backup of the site database, made by the engine that holds it (the
// server's service manager for a server attach, the embedded engine's for a
// local one), so the file is written on the machine of the database.
//
// Usage:
//     TFbService svc(connection.Provider(), server, user, password);
//     svc.StartBackup(database, file);
//     for (std::string line; svc.NextLine(line);) ...show line...
//
// Errors: EFbError with the client library's text when the attach, the start
// or a query fails; a backup the engine cannot write fails in NextLine.
#pragma once

#include "db/fb_api.h"
#include "db/fb_connection.h"

#include <string>

namespace kv {

class TFbService {
public:
    // Attaches to the service manager through the client library of
    // `connection`, which must be attached; its configuration overrides go
    // along, so a local attach reaches the same engine as the connection.
    TFbService(TFbConnection& connection, const std::string& server, const std::string& user,
               const std::string& password);
    ~TFbService();
    TFbService(const TFbService&) = delete;
    TFbService& operator=(const TFbService&) = delete;

    // Starts a verbose backup of `database` (the path as the engine knows it)
    // into `file` (a path on the engine's machine).
    void StartBackup(const std::string& database, const std::string& file);
    // Waits at most about a second for the service's next answer. True with
    // a line of its output (empty when none came in that time); false once the
    // service has finished.
    bool NextLine(std::string& line);

private:
    TFbConnection& FConnection;
    fb::Handle FHandle = 0;
    fb::StatusVector FStatus{};
};

} // namespace kv
