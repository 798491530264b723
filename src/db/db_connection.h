// The connection component: the properties the program sets (provider,
// server, database, user, password), the default transaction, Open and Close,
// and the wrapping of every provider error into EDbError. It drives the
// Firebird provider (TFbConnection) and, below it, the client library.
//
// Errors: Open raises EDbError with the client library's lines joined by a
// carriage return; "Cannot load client library[: name]" and the other
// provider misuse texts leave as they are raised.
#pragma once

#include "db/db_errors.h"
#include "db/db_transaction.h"
#include "db/fb_connection.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// The user and built-in password of the site database.
inline constexpr const char* kSiteDatabaseUser = "sysdba";
inline constexpr const char* kSiteDatabasePassword = "masterkey";

// Something that works over the connection (an open query) and must close
// before the connection does.
class TDbConnectionUser {
public:
    virtual void ConnectionClosing() = 0;
    virtual void ConnectionDestroying() = 0;

protected:
    ~TDbConnectionUser() = default;
};

// The application's central error handler (the error box), for components
// that report an error and go on (the script runner). The default rethrows.
using ErrorHandler = std::function<void(std::exception_ptr)>;
void SetApplicationErrorHandler(ErrorHandler handler);
void ApplicationHandleException(std::exception_ptr e);

class TDbConnection {
public:
    explicit TDbConnection(std::string name = {});
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    std::string Name;

    const std::string& ProviderName() const noexcept { return FProviderName; }
    // Refused while connected: EDatabaseError "This operation is not allowed on active connection".
    void SetProviderName(const std::string& name);
    // Setting a different value while connected closes the connection first.
    const std::string& Server() const noexcept { return FProvider.Server; }
    void SetServer(const std::string& v);
    const std::string& Database() const noexcept { return FProvider.Database; }
    void SetDatabase(const std::string& v);
    int Port() const noexcept { return FPort; }
    void SetPort(int v);
    const std::string& Username() const noexcept { return FProvider.Username; }
    void SetUsername(const std::string& v);
    void SetPassword(const std::string& v);

    bool LoginPrompt = true; // no login dialog exists in this program; kept for the settings it mirrors
    bool AutoCommit = true;
    // Provider options ("InterBase." names); a change takes effect at the next Open.
    void SetOptions(const FbConnectionOptions& o);
    const FbConnectionOptions& Options() const noexcept { return FProvider.Options(); }

    TDbTransaction* DefaultTransaction() const noexcept { return FDefaultTransaction; }
    void SetDefaultTransaction(TDbTransaction* t);
    // The default transaction, or the built-in one when none is set.
    TDbTransaction& UsedTransaction() noexcept;

    // Handed each provider error (as EDbError) before it is raised; clearing
    // `fail` turns it into the silent EAbort.
    std::function<void(const EDbError& e, bool& fail)> OnError;

    void Open();
    void Close();
    bool Connected() const noexcept { return FProvider.IsConnected(); }

    void StartTransaction();
    void StartTransaction(TDbIsolationLevel level, bool read_only);
    void Commit();
    void Rollback();
    void CommitRetaining();
    void RollbackRetaining();
    bool InTransaction() noexcept { return UsedTransaction().Active(); }
    std::unique_ptr<TDbTransaction> CreateTransaction();

    TFbConnection& Provider() noexcept { return FProvider; }

    // Registration by the components that work over this connection.
    void AddUser(TDbConnectionUser* u);
    void RemoveUser(TDbConnectionUser* u) noexcept;
    void AddTransaction(TDbTransaction* t);
    void RemoveTransaction(TDbTransaction* t) noexcept;

    // Runs `f`, passing provider errors on as EDbError. After a fatal error
    // (the connection is lost) the connection is closed first, once the
    // provider call has returned, ignoring errors of that close.
    template <class F> decltype(auto) Wrap(F&& f) {
        try {
            return f();
        } catch (const EDataAccessError& e) {
            EDbError error(e);
            close_if_lost();
            throw error;
        }
    }

private:
    void provider_error(EFbError& e, bool& fail);
    void close_if_lost() noexcept;
    void change(std::string& field, const std::string& v);

    std::string FProviderName;
    int FPort = 0;
    TFbConnection FProvider;
    TDbTransaction* FDefaultTransaction = nullptr;
    std::unique_ptr<TDbTransaction> FBuiltinTransaction;
    std::vector<TDbConnectionUser*> FUsers;
    std::vector<TDbTransaction*> FTransactions;
    bool FClosing = false;
};

} // namespace kv
