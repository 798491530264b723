// The Firebird provider's transaction: the transaction parameter buffer and
// the start, commit, retaining commit, rollback and savepoint calls. The
// component layer (TDbTransaction) adds the counters and the rules for
// implicit starts and automatic commits.
#pragma once

#include "db/fb_api.h"

#include <string>
#include <vector>

namespace kv {

class TFbConnection;

enum class TDbIsolationLevel {
    ilReadCommitted,
    ilReadUnCommitted,
    ilRepeatableRead,
    ilIsolated,
    ilSnapshot,
    ilCustom
};

struct TpbParams {
    TDbIsolationLevel isolation = TDbIsolationLevel::ilReadCommitted;
    bool read_only = false;
    bool wait_mode = false;
    int lock_timeout = 0;
    std::vector<std::string> params; // "name[=value]" lines
    bool server_is_firebird = true;
    int server_major = 3;
    bool use_read_consistency = true;
};
// Raises "Unsupported transaction isolation level" for ilReadUnCommitted and
// "Unknown TPB constant (name)" for an unknown "Params" name.
std::string fb_build_tpb(const TpbParams& p);

class TFbTransaction {
public:
    TFbTransaction() = default;
    TFbTransaction(const TFbTransaction&) = delete;
    TFbTransaction& operator=(const TFbTransaction&) = delete;

    void AddConnection(TFbConnection* c);
    void RemoveConnection(TFbConnection* c);
    const std::vector<TFbConnection*>& Connections() const noexcept { return FConnections; }

    // The buffer's inputs other than the server facts, which are read at start.
    TDbIsolationLevel IsolationLevel = TDbIsolationLevel::ilReadCommitted;
    bool ReadOnly = false, WaitMode = false;
    int LockTimeout = 0;
    std::vector<std::string> Params;

    bool Active() const noexcept { return FHandle != 0; }
    fb::Handle* Handle() noexcept { return &FHandle; }
    TFbConnection& Connection() const; // the first connection

    void StartTransaction();
    // A failed commit rolls back while its error is on the way out; the
    // transaction is inactive afterwards either way.
    void Commit();
    void CommitRetaining();
    // The handle is zero afterwards whether or not the call succeeded.
    void Rollback();
    void RollbackRetaining();
    // "SAVEPOINT ", "RELEASE SAVEPOINT " or "ROLLBACK TO SAVEPOINT " + name.
    void ExecuteImmediate(const std::string& sql);

private:
    fb::Handle FHandle = 0;
    fb::StatusVector FStatus{};
    std::vector<TFbConnection*> FConnections;
};

} // namespace kv
