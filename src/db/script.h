// The script component TDbScript: runs a text of many SQL statements on a
// connection, one statement at a time. Its processor (fb_script_processor.h)
// cuts the text, carries out transaction, connection and option statements
// itself, and gives definition statements a transaction of their own that is
// committed after each. Every other statement goes through an internal TDbSQL.
// A statement the server refuses goes to OnError, else to the application's
// central error handler (the error box), and the run goes on.
//
// Not offered, as the updater does not use them: macros, a DataSet to run
// through, statement gathering (UseOptimization) and a cached statement list.
// CREATE DATABASE, DROP DATABASE and batches are recognised and refused with
// "<statement> is not supported by the script runner".
//
// Errors that leave Execute: "Connection is not defined" (EDatabaseError), the
// connection's own errors, the lexer's error, the errors of the statements the
// processor runs itself (transaction misuse texts, "Invalid lexem ..."), a
// failed commit of a definition statement, EAbort, and a refused statement
// whose routing says so (eaFail, or eaException with no central handler).
#pragma once

#include "db/db_connection.h"
#include "db/db_query.h"
#include "db/script_splitter.h"
#include "rtl/stream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kv {

class TDbScript;
class TDbFbScriptProcessor;

enum class TErrorAction { eaAbort, eaFail, eaException, eaContinue };

using TBeforeStatementExecuteEvent = std::function<void(TDbScript& Sender, std::string& SQL, bool& Omit)>;
using TAfterStatementExecuteEvent = std::function<void(TDbScript& Sender, const std::string& SQL)>;
using TOnErrorEvent =
    std::function<void(TDbScript& Sender, const Exception& E, const std::string& SQL, TErrorAction& Action)>;
using TScriptNotifyEvent = std::function<void(TDbScript& Sender)>;

class TDbScript {
public:
    explicit TDbScript(std::string name = {});
    ~TDbScript();
    TDbScript(const TDbScript&) = delete;
    TDbScript& operator=(const TDbScript&) = delete;

    std::string Name;

    // The script text, kept as lines: reading it gives them joined by CR LF.
    // Setting it stops a run in progress (BreakExec).
    const std::string& SQL() const noexcept { return FSQL; }
    void SetSQL(std::string text);

    // The delimiter every run starts with.
    std::string Delimiter = ";";
    TDbConnection* Connection() const noexcept { return FConnection; }
    void SetConnection(TDbConnection* c);
    // For statements that are not definitions; when unset, the connection's
    // default transaction.
    TDbTransaction* Transaction() const noexcept { return FTransaction; }
    void SetTransaction(TDbTransaction* t);
    // Passed to the internal command: whether each statement is committed by
    // the automatic-commit rule.
    bool AutoCommit = false;
    // Provider options by name; "InterBase.AutoDDL" ("True" when absent)
    // decides whether definition statements get a transaction of their own.
    std::map<std::string, std::string> SpecificOptions;
    // When false the connection is opened before the first statement.
    bool NoPreconnect = false;

    TBeforeStatementExecuteEvent BeforeExecute;
    TScriptNotifyEvent OnExecute;
    TAfterStatementExecuteEvent AfterExecute;
    TOnErrorEvent OnError;

    // Runs the whole text. Returns at its end, after eaAbort or BreakExec.
    void Execute();
    // Reads and runs the next statement; false when none is left.
    bool ExecuteNext();
    // May be called from another thread: the run stops before its next
    // statement.
    void BreakExec();
    // The same run over the text of a file or stream; SQL stays as it is.
    void ExecuteFile(const std::string& file_name);
    void ExecuteStream(TStream& stream);

    // Sum of the affected-row counts of the statements of the current run.
    int64_t RowsAffected() const noexcept { return FRowsAffected; }
    // 0-based position, in characters (UTF-16 code units), of the first
    // character of the failing statement; 0 again once the next is read.
    int64_t ErrorOffset() const noexcept { return FErrorOffset; }
    // The statement being run: character positions, 1-based lines and 0-based
    // columns (UTF-16 code units), and its 0-based number in the run.
    int64_t StartPos() const noexcept { return FStartPos; }
    int64_t EndPos() const noexcept { return FEndPos; }
    int64_t StartLine() const noexcept { return FStartLine; }
    int64_t EndLine() const noexcept { return FEndLine; }
    int64_t StartOffset() const noexcept { return FStartOffset; }
    int64_t EndOffset() const noexcept { return FEndOffset; }
    int CurrentStatementIndex() const noexcept { return FStatementIndex; }

    // The internal command every sent statement goes through.
    TDbSQL& Command() noexcept { return FCommand; }
    // The transaction the processor's own statements act on: Transaction,
    // else the connection's default one.
    TDbTransaction& ScriptTransaction();

private:
    void run(const std::string& text);
    void begin(const std::string& text);
    void run_statement(const ScriptStatement& st);
    void send(const ScriptStatement& st, const std::string& sql, bool ddl);
    // Decides what happens to an error of a sent statement: returns to go on
    // (after setting FStop for eaAbort), or rethrows it.
    void route_error(std::exception_ptr error, const ScriptStatement& st, const std::string& sql);
    void reset_positions() noexcept;
    TDbFbScriptProcessor& processor();

    std::string FSQL;
    TDbConnection* FConnection = nullptr;
    TDbTransaction* FTransaction = nullptr;
    TDbSQL FCommand;
    std::unique_ptr<TDbFbScriptProcessor> FProcessor;
    std::recursive_mutex FLock; // held while a statement is read and run, and by BreakExec
    std::atomic<bool> FStop{false};

    int64_t FRowsAffected = 0;
    int64_t FErrorOffset = 0;
    int64_t FStartPos = 0, FEndPos = 0, FStartLine = 0, FEndLine = 0, FStartOffset = 0, FEndOffset = 0;
    int FStatementIndex = 0;
};

} // namespace kv
