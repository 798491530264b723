// The run of a script: one statement at a time under the script's lock, each
// either carried out by the processor or sent through the internal command;
// definition statements switch the command to the processor's transaction
// for themselves and commit it afterwards; refused statements are routed.
#include "db/script.h"

#include "db/fb_script_processor.h"
#include "rtl/in_any_case.h"
#include "rtl/text.h"

#include <utility>

namespace kv {
namespace {

// A failed commit is rolled back while its error leaves.
void commit_definition(TDbTransaction& t) {
    try {
        t.Commit();
    } catch (...) {
        if (t.Active()) {
            try {
                t.Rollback();
            } catch (...) {
                // the commit's error is the one to report
            }
        }
        throw;
    }
}

} // namespace

TDbScript::TDbScript(std::string name) : Name(std::move(name)) {
    FCommand.AutoCommit = AutoCommit;
}

TDbScript::~TDbScript() = default;

void TDbScript::SetSQL(std::string text) {
    BreakExec();
    FSQL = crlf_line_breaks(text);
}

void TDbScript::SetConnection(TDbConnection* c) {
    FConnection = c;
    FCommand.SetConnection(c);
}

void TDbScript::SetTransaction(TDbTransaction* t) {
    FTransaction = t;
    FCommand.SetTransaction(t);
}

TDbTransaction& TDbScript::ScriptTransaction() {
    if (FTransaction) return *FTransaction;
    if (!FConnection) throw EDatabaseError("Connection is not defined");
    return FConnection->UsedTransaction();
}

TDbFbScriptProcessor& TDbScript::processor() {
    if (!FProcessor) FProcessor = std::make_unique<TDbFbScriptProcessor>(*this);
    return *FProcessor;
}

void TDbScript::Execute() {
    run(prepare_script_text(FSQL));
}

void TDbScript::ExecuteFile(const std::string& file_name) {
    TFileStream file(file_name, fmOpenRead | fmShareDenyNone);
    ExecuteStream(file);
}

void TDbScript::ExecuteStream(TStream& stream) {
    std::string text(static_cast<size_t>(stream.Size() - stream.Position()), '\0');
    stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    run(prepare_script_text(text));
}

void TDbScript::begin(const std::string& text) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FStop = false;
    FRowsAffected = 0;
    FErrorOffset = 0;
    FStatementIndex = 0;
    reset_positions();
    processor().Start(text, Delimiter);
}

void TDbScript::run(const std::string& text) {
    if (!FConnection) throw EDatabaseError("Connection is not defined");
    processor();
    if (!NoPreconnect && !FConnection->Connected()) FConnection->Open();
    begin(text);
    in_any_case(
        [&] {
            while (!FStop && ExecuteNext()) {
            }
        },
        [&] {
            std::lock_guard<std::recursive_mutex> guard(FLock);
            processor().Stop();
        });
}

bool TDbScript::ExecuteNext() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    ScriptStatement st;
    if (!processor().ReadStatement(st)) return false;
    FErrorOffset = 0;
    FStartPos = static_cast<int64_t>(st.char_offset);
    FEndPos = static_cast<int64_t>(st.char_end);
    FStartLine = static_cast<int64_t>(st.start_line);
    FEndLine = static_cast<int64_t>(st.end_line);
    FStartOffset = static_cast<int64_t>(st.start_column);
    FEndOffset = static_cast<int64_t>(st.end_column);
    run_statement(st);
    ++FStatementIndex;
    return true;
}

void TDbScript::BreakExec() {
    FStop = true;
    std::lock_guard<std::recursive_mutex> guard(FLock);
    if (FProcessor) FProcessor->Stop();
    reset_positions();
}

void TDbScript::reset_positions() noexcept {
    FStartPos = FEndPos = FStartLine = FEndLine = FStartOffset = FEndOffset = 0;
}

void TDbScript::run_statement(const ScriptStatement& st) {
    std::string sql = st.text;
    bool omit = st.kind == StatementKind::DelimiterChange;
    if (BeforeExecute) BeforeExecute(*this, sql, omit);
    if (omit) return;
    TDbFbScriptProcessor& p = processor();
    if (p.ExecuteOwn(st.kind, sql)) return;
    send(st, sql, p.UsesDdlTransaction(st.kind));
}

void TDbScript::send(const ScriptStatement& st, const std::string& sql, bool ddl) {
    TDbTransaction* const own = FCommand.Transaction();
    TDbTransaction* const definition = ddl ? &processor().DdlTransaction() : nullptr;
    if (definition) FCommand.SetTransaction(definition);

    std::exception_ptr leaving;
    try {
        FCommand.SetConnection(FConnection);
        FCommand.AutoCommit = AutoCommit;
        FCommand.SetSQL(sql);
        if (OnExecute) OnExecute(*this);
        FCommand.Execute();
        FRowsAffected += FCommand.RowsAffected();
    } catch (...) {
        try {
            route_error(std::current_exception(), st, sql);
        } catch (...) {
            leaving = std::current_exception();
        }
    }

    if (definition) {
        // A statement refused before it started the transaction left nothing
        // to commit: committing then would only raise "inactive transaction"
        // in place of the statement's own error.
        in_any_case(
            [&] {
                if (!AutoCommit && definition->Active()) commit_definition(*definition);
            },
            [&] { FCommand.SetTransaction(own); });
    }
    if (leaving) std::rethrow_exception(leaving);
    if (AfterExecute) AfterExecute(*this, sql);
}

void TDbScript::route_error(std::exception_ptr error, const ScriptStatement& st, const std::string& sql) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        throw;
    } catch (const Exception& e) {
        FErrorOffset = static_cast<int64_t>(st.char_offset);
        TErrorAction action = TErrorAction::eaException;
        if (OnError) OnError(*this, e, trim(sql), action);
        switch (action) {
        case TErrorAction::eaAbort:
            FStop = true;
            return;
        case TErrorAction::eaFail:
            throw;
        case TErrorAction::eaException:
            ApplicationHandleException(error);
            return;
        case TErrorAction::eaContinue:
            return;
        }
    }
}

} // namespace kv
