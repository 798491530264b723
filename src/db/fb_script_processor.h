// The Firebird provider's part of the script runner: it reads the script with
// the splitter, carries out the statements the runner handles itself
// (COMMIT, ROLLBACK and their RETAIN forms, savepoints, SET TRANSACTION,
// SET AUTODDL, SET NAMES, SET SQL DIALECT, CONNECT, RECONNECT), and owns the
// transaction in which each definition statement runs and is committed.
//
// Errors of the statements it runs itself leave the run at once (they are not
// routed to OnError): the transaction misuse texts, the connection's errors,
// and "Invalid lexem "%s" at position %d in statement:" + CR LF + the text for
// words it cannot read.
#pragma once

#include "db/db_transaction.h"
#include "db/script_splitter.h"

#include <memory>
#include <string>

namespace kv {

class TDbScript;

class TCustomFbScriptProcessor {
public:
    explicit TCustomFbScriptProcessor(TDbScript& owner) : FOwner(owner) {}
    virtual ~TCustomFbScriptProcessor() = default;
    TCustomFbScriptProcessor(const TCustomFbScriptProcessor&) = delete;
    TCustomFbScriptProcessor& operator=(const TCustomFbScriptProcessor&) = delete;

    // Begins reading `text` (prepared) with `delimiter` in force, and takes
    // AutoDDL from the script's options.
    void Start(std::string_view text, std::string_view delimiter);
    // The next statement that is not empty; false at the end of the text.
    bool ReadStatement(ScriptStatement& st);
    // Drops what is left of the text being read.
    void Stop() noexcept { FReading = false; }

    // Carries out `sql` when its kind is one the processor runs itself, and
    // says whether it is done with it (true: not to be sent).
    bool ExecuteOwn(StatementKind kind, const std::string& sql);
    // Whether a statement of this kind runs in the definition transaction.
    bool UsesDdlTransaction(StatementKind kind) const noexcept;

    bool AutoDDL() const noexcept { return FAutoDDL; }

protected:
    // The transaction definition statements run in, bound to the script's
    // connection (created on first use).
    virtual TDbTransaction& DdlTransaction() = 0;

    TDbScript& FOwner;

private:
    void set_option(const std::string& sql);
    void connect(const std::string& sql);
    std::string savepoint_name(const std::string& sql);

    ScriptSplitter FSplitter;
    bool FReading = false;
    bool FAutoDDL = true;
};

class TDbFbScriptProcessor : public TCustomFbScriptProcessor {
public:
    using TCustomFbScriptProcessor::TCustomFbScriptProcessor;
    TDbTransaction& DdlTransaction() override;

private:
    std::unique_ptr<TDbTransaction> FDdlTransaction;
};

// Reads the words of a statement again, blanks and comments skipped, and
// raises the lexem error for what it cannot take. Used by the processor's
// handlers; exposed for its tests.
class StatementWords {
public:
    explicit StatementWords(const std::string& sql);
    // The next lexem that is neither blank nor comment (End at the end).
    Lexem Next();
    // Raises Exception "Invalid lexem "<text>" at position <n> in statement:"
    // CR LF <statement> for the lexem last read (n counted from 1).
    [[noreturn]] void Invalid() const;
    // A string literal (outer quotes removed, doubled quotes made single) or
    // an identifier (double quotes removed), starting with `l`; else Invalid.
    std::string Value(const Lexem& l);

private:
    const std::string& FSQL;
    TFbParser FParser;
};

} // namespace kv
