// The transaction component: a provider transaction plus the counters that
// drive the implicit start by a query or command and the automatic-commit
// rule. A statement uses its transaction in this order:
//     t.BeginUse();                     // starts it when needed, start count + 1
//     ... execute ...
//     t.AfterExecute(conn.AutoCommit && stmt.AutoCommit);   // statements without rows only
//     t.EndUse();                       // start count - 1, but never below 1
// Commit and Rollback tell every registered user (open queries, prepared
// commands) that the transaction ends, so they close first.
#pragma once

#include "db/fb_transaction.h"

#include <functional>
#include <string>
#include <vector>

namespace kv {

class TDbConnection;

enum class TDbTransactionAction { taCommit, taRollback };

// Something that holds a transaction's work open (an open query, a prepared
// command) and must let go when the transaction ends.
class TDbTransactionUser {
public:
    virtual void TransactionEnding() = 0;

protected:
    ~TDbTransactionUser() = default;
};

class TDbTransaction {
public:
    explicit TDbTransaction(std::string name = {});
    // An active transaction is ended by DefaultCloseAction; errors are dropped.
    ~TDbTransaction();
    TDbTransaction(const TDbTransaction&) = delete;
    TDbTransaction& operator=(const TDbTransaction&) = delete;

    std::string Name;
    TDbConnection* DefaultConnection() const noexcept { return FConnection; }
    void SetDefaultConnection(TDbConnection* c);

    TDbIsolationLevel IsolationLevel = TDbIsolationLevel::ilReadCommitted;
    bool ReadOnly = false;
    TDbTransactionAction DefaultCloseAction = TDbTransactionAction::taRollback;
    // Provider options: "WaitMode" (False), "LockTimeout" (0), "Params" (lines).
    bool WaitMode = false;
    int LockTimeout = 0;
    std::vector<std::string> Params;

    bool Active() const noexcept { return FProvider.Active(); }

    // Raise "Can't perform operation on active transaction" /
    // "Can't perform operation on inactive transaction" on misuse; client
    // errors leave as EDbError.
    void StartTransaction();
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();
    void Savepoint(const std::string& name);
    void ReleaseSavepoint(const std::string& name);
    void RollbackToSavepoint(const std::string& name);

    int StartCount() const noexcept { return FStartCount; }
    bool ExplicitlyStarted() const noexcept { return FExplicit; }
    int UncommittedCount() const noexcept { return FUncommitted; }

    void BeginUse();
    void AfterExecute(bool auto_commit);
    void EndUse() noexcept;

    void AddUser(TDbTransactionUser* u);
    void RemoveUser(TDbTransactionUser* u) noexcept;

    TFbTransaction& Provider() noexcept { return FProvider; }
    // Ends an active transaction by DefaultCloseAction, dropping errors (the
    // connection is closing).
    void CloseByAction() noexcept;

private:
    void check_active() const;
    void prepare_connections();
    void ending();
    void reset_counters() noexcept;

    TDbConnection* FConnection = nullptr;
    TFbTransaction FProvider;
    std::vector<TDbTransactionUser*> FUsers;
    int FStartCount = 0;
    bool FExplicit = false;
    int FUncommitted = 0;
};

} // namespace kv
