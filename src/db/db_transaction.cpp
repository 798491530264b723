// The transaction component. See db_transaction.h.
#include "db/db_transaction.h"

#include "db/db_connection.h"

#include <algorithm>

namespace kv {

TDbTransaction::TDbTransaction(std::string name) : Name(std::move(name)) {}

TDbTransaction::~TDbTransaction() {
    CloseByAction();
    SetDefaultConnection(nullptr);
}

void TDbTransaction::SetDefaultConnection(TDbConnection* c) {
    if (c == FConnection) return;
    if (FConnection) {
        FProvider.RemoveConnection(&FConnection->Provider());
        FConnection->RemoveTransaction(this);
    }
    FConnection = c;
    if (c) {
        FProvider.AddConnection(&c->Provider());
        c->AddTransaction(this);
    }
}

void TDbTransaction::check_active() const {
    if (!Active()) throw Exception("Can't perform operation on inactive transaction");
}

void TDbTransaction::prepare_connections() {
    if (!FConnection) throw Exception("There are no connections in the transaction");
    if (!FConnection->Connected()) throw Exception("One of the connections in the transaction is not active");
}

void TDbTransaction::StartTransaction() {
    if (Active()) throw Exception("Can't perform operation on active transaction");
    prepare_connections();
    FProvider.IsolationLevel = IsolationLevel;
    FProvider.ReadOnly = ReadOnly;
    FProvider.WaitMode = WaitMode;
    FProvider.LockTimeout = LockTimeout;
    FProvider.Params = Params;
    FConnection->Wrap([&] { FProvider.StartTransaction(); });
    FStartCount = 1;
    FExplicit = true;
    FUncommitted = 0;
}

void TDbTransaction::ending() {
    for (TDbTransactionUser* u : std::vector<TDbTransactionUser*>(FUsers))
        u->TransactionEnding();
}

void TDbTransaction::reset_counters() noexcept {
    if (Active()) return;
    FStartCount = 0;
    FExplicit = false;
    FUncommitted = 0;
}

void TDbTransaction::Commit() {
    check_active();
    ending();
    try {
        FConnection->Wrap([&] { FProvider.Commit(); });
    } catch (...) {
        reset_counters();
        throw;
    }
    reset_counters();
}

void TDbTransaction::Rollback() {
    check_active();
    ending();
    try {
        FConnection->Wrap([&] { FProvider.Rollback(); });
    } catch (...) {
        reset_counters();
        throw;
    }
    reset_counters();
}

void TDbTransaction::CommitRetaining() {
    check_active();
    FConnection->Wrap([&] { FProvider.CommitRetaining(); });
    FUncommitted = 0;
}

void TDbTransaction::RollbackRetaining() {
    check_active();
    FConnection->Wrap([&] { FProvider.RollbackRetaining(); });
    FUncommitted = 0;
}

void TDbTransaction::Savepoint(const std::string& name) {
    check_active();
    FConnection->Wrap([&] { FProvider.ExecuteImmediate("SAVEPOINT " + name); });
}

void TDbTransaction::ReleaseSavepoint(const std::string& name) {
    check_active();
    FConnection->Wrap([&] { FProvider.ExecuteImmediate("RELEASE SAVEPOINT " + name); });
}

void TDbTransaction::RollbackToSavepoint(const std::string& name) {
    check_active();
    FConnection->Wrap([&] { FProvider.ExecuteImmediate("ROLLBACK TO SAVEPOINT " + name); });
}

void TDbTransaction::BeginUse() {
    if (FStartCount == 0 && !Active()) {
        StartTransaction();
        FExplicit = false;
        return; // StartTransaction set the count to 1
    }
    ++FStartCount;
}

void TDbTransaction::AfterExecute(bool auto_commit) {
    if (!auto_commit) {
        ++FUncommitted;
        return;
    }
    if (FStartCount == 1)
        Commit();
    else if (FStartCount > 1)
        CommitRetaining();
}

void TDbTransaction::EndUse() noexcept {
    if (FStartCount > 1) --FStartCount;
}

void TDbTransaction::AddUser(TDbTransactionUser* u) {
    if (std::find(FUsers.begin(), FUsers.end(), u) == FUsers.end()) FUsers.push_back(u);
}
void TDbTransaction::RemoveUser(TDbTransactionUser* u) noexcept {
    std::erase(FUsers, u);
}

void TDbTransaction::CloseByAction() noexcept {
    if (!Active()) return;
    try {
        if (DefaultCloseAction == TDbTransactionAction::taCommit)
            Commit();
        else
            Rollback();
    } catch (...) {
        // the connection is closing; an error here has no one to go to
    }
}

} // namespace kv
