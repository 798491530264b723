// The connection component. See db_connection.h.
#include "db/db_connection.h"

#include "rtl/text.h"

#include <algorithm>
#include <mutex>

namespace kv {
namespace {

std::mutex g_handler_lock;
ErrorHandler g_handler;

} // namespace

void SetApplicationErrorHandler(ErrorHandler handler) {
    std::lock_guard<std::mutex> g(g_handler_lock);
    g_handler = std::move(handler);
}

void ApplicationHandleException(std::exception_ptr e) {
    ErrorHandler h;
    {
        std::lock_guard<std::mutex> g(g_handler_lock);
        h = g_handler;
    }
    if (!h) std::rethrow_exception(e);
    h(e);
}

TDbConnection::TDbConnection(std::string name)
    : Name(std::move(name)), FBuiltinTransaction(std::make_unique<TDbTransaction>()) {
    FBuiltinTransaction->SetDefaultConnection(this);
    FProvider.OnError = [this](EFbError& e, bool& fail) { provider_error(e, fail); };
}

TDbConnection::~TDbConnection() {
    try {
        Close();
    } catch (...) {
        // a destructor has nowhere to send the detach error
    }
    for (TDbConnectionUser* u : std::vector<TDbConnectionUser*>(FUsers))
        u->ConnectionDestroying();
    for (TDbTransaction* t : std::vector<TDbTransaction*>(FTransactions))
        if (t != FBuiltinTransaction.get()) t->SetDefaultConnection(nullptr);
    FBuiltinTransaction.reset();
}

void TDbConnection::SetProviderName(const std::string& name) {
    if (same_text_ascii_fold(name, FProviderName)) return;
    if (Connected()) throw EDatabaseError("This operation is not allowed on active connection");
    FProviderName = name;
}

void TDbConnection::change(std::string& field, const std::string& v) {
    if (field == v) return;
    if (Connected()) Close();
    field = v;
}

void TDbConnection::SetServer(const std::string& v) {
    change(FProvider.Server, v);
}
void TDbConnection::SetDatabase(const std::string& v) {
    change(FProvider.Database, v);
}
void TDbConnection::SetUsername(const std::string& v) {
    change(FProvider.Username, v);
}
void TDbConnection::SetPassword(const std::string& v) {
    change(FProvider.Password, v);
}
void TDbConnection::SetPort(int v) {
    if (v == FPort) return;
    if (Connected()) Close();
    FPort = v;
}

void TDbConnection::SetOptions(const FbConnectionOptions& o) {
    if (Connected() && o.params != FProvider.Options().params) Close();
    FProvider.SetOptions(o);
}

void TDbConnection::SetDefaultTransaction(TDbTransaction* t) {
    FDefaultTransaction = t;
}

TDbTransaction& TDbConnection::UsedTransaction() noexcept {
    return FDefaultTransaction ? *FDefaultTransaction : *FBuiltinTransaction;
}

void TDbConnection::provider_error(EFbError& e, bool& fail) {
    if (OnError) OnError(EDbError(e), fail);
}

// Not done inside provider_error: the statement that met the error is still
// running there, and closing would free it under its feet.
void TDbConnection::close_if_lost() noexcept {
    if (FProvider.IsValid() || !Connected() || FClosing) return;
    try {
        Close();
    } catch (...) {
        // the connection is lost; the error being raised says why
    }
}

void TDbConnection::Open() {
    if (Connected()) return;
    if (!same_text_ascii_fold(FProviderName, "InterBase"))
        throw EDatabaseError(FProviderName.empty() ? "Provider is not defined"
                                                   : "Provider is not found: " + FProviderName);
    FProvider.Port = std::to_string(FPort);
    Wrap([&] { FProvider.Connect(); });
}

void TDbConnection::Close() {
    if (!Connected() || FClosing) return;
    FClosing = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{FClosing};
    for (TDbConnectionUser* u : std::vector<TDbConnectionUser*>(FUsers))
        u->ConnectionClosing();
    for (TDbTransaction* t : std::vector<TDbTransaction*>(FTransactions))
        t->CloseByAction();
    Wrap([&] { FProvider.Disconnect(); });
}

void TDbConnection::StartTransaction() {
    UsedTransaction().StartTransaction();
}
void TDbConnection::StartTransaction(TDbIsolationLevel level, bool read_only) {
    TDbTransaction& t = UsedTransaction();
    if (!t.Active()) {
        t.IsolationLevel = level;
        t.ReadOnly = read_only;
    }
    t.StartTransaction();
}
void TDbConnection::Commit() {
    UsedTransaction().Commit();
}
void TDbConnection::Rollback() {
    UsedTransaction().Rollback();
}
void TDbConnection::CommitRetaining() {
    UsedTransaction().CommitRetaining();
}
void TDbConnection::RollbackRetaining() {
    UsedTransaction().RollbackRetaining();
}

std::unique_ptr<TDbTransaction> TDbConnection::CreateTransaction() {
    auto t = std::make_unique<TDbTransaction>();
    t->SetDefaultConnection(this);
    return t;
}

void TDbConnection::AddUser(TDbConnectionUser* u) {
    if (std::find(FUsers.begin(), FUsers.end(), u) == FUsers.end()) FUsers.push_back(u);
}
void TDbConnection::RemoveUser(TDbConnectionUser* u) noexcept {
    std::erase(FUsers, u);
}
void TDbConnection::AddTransaction(TDbTransaction* t) {
    if (std::find(FTransactions.begin(), FTransactions.end(), t) == FTransactions.end())
        FTransactions.push_back(t);
}
void TDbConnection::RemoveTransaction(TDbTransaction* t) noexcept {
    std::erase(FTransactions, t);
    if (FDefaultTransaction == t) FDefaultTransaction = nullptr;
}

} // namespace kv
