// The statement components: TDbQuery, a dataset that opens a statement
// returning rows and keeps the fetched rows in memory (fetching FetchRows at
// a time), and TDbSQL, a command that runs a statement returning no rows.
// Both use their Transaction, else the connection's default transaction,
// starting it implicitly and committing by the automatic-commit rule (see
// db_transaction.h).
//
// A closed connection is opened implicitly. The connection and transaction
// set on a component must outlive it, or be unset first.
//
// Errors: "Connection is not defined" (EDatabaseError), the lexer's error,
// and EDbError for everything the provider or the server refuses.
#pragma once

#include "db/db_connection.h"
#include "db/db_transaction.h"
#include "db/fb_command.h"
#include "rtl/variant.h"

#include <memory>
#include <string>
#include <vector>

namespace kv {

class TDbQuery;

// Parameters recognised in a statement text, by position, with values.
class TDbParams {
public:
    size_t Count() const noexcept { return FNames.size(); }
    const std::string& Name(size_t i) const { return FNames.at(i); }
    // Sets every parameter of that name (ignoring A-Z case); false when none.
    bool SetValue(const std::string& name, Variant value);
    const std::vector<Variant>& Values() const noexcept { return FValues; }
    // Keeps the values of names that stay.
    void Reset(const std::vector<std::string>& names);

private:
    std::vector<std::string> FNames;
    std::vector<Variant> FValues;
};

class TDbField {
public:
    const std::string& FieldName() const noexcept { return FDesc.name; }
    const TFbFieldDesc& Desc() const noexcept { return FDesc; }
    // The value in the current row; Null when there is none.
    Variant AsVariant() const;

private:
    friend class TDbQuery;
    TDbField(const TDbQuery& q, int index, TFbFieldDesc d) : FQuery(q), FIndex(index), FDesc(std::move(d)) {}
    const TDbQuery& FQuery;
    int FIndex;
    TFbFieldDesc FDesc;
};

class TDbQuery : private TDbConnectionUser, private TDbTransactionUser {
public:
    explicit TDbQuery(std::string name = {});
    ~TDbQuery();
    TDbQuery(const TDbQuery&) = delete;
    TDbQuery& operator=(const TDbQuery&) = delete;

    std::string Name;
    TDbConnection* Connection() const noexcept { return FConnection; }
    void SetConnection(TDbConnection* c);
    TDbTransaction* Transaction() const noexcept { return FTransaction; }
    void SetTransaction(TDbTransaction* t);
    int FetchRows = 25;
    bool AutoCommit = true;
    // Keeps only the block being read: rows behind it are dropped when the
    // next block is fetched (for reading a large result front to back).
    bool UniDirectional = false;

    // The statement text (lines joined by CR LF). Closes an open query and
    // rescans the parameters.
    const std::string& SQL() const noexcept { return FSQL; }
    void SetSQL(std::string text);
    TDbParams& Params() noexcept { return FParams; }

    void Open();
    void Close() noexcept;
    bool Active() const noexcept { return FActive; }

    int FieldCount() const noexcept { return static_cast<int>(FFields.size()); }
    TDbField& Fields(int i) { return *FFields.at(static_cast<size_t>(i)); }
    // Raises EDatabaseError "<Name>: Field '<name>' not found".
    TDbField& FieldByName(const std::string& name);
    TDbField* FindField(const std::string& name);

    // Row navigation. Moving past the last fetched row fetches the next block.
    bool Eof() const noexcept { return FRecNo >= FRowCount; }
    void Next();
    int RecNo() const noexcept { return FRecNo; }
    // Rows fetched so far; all rows once the cursor is exhausted.
    int FetchedRows() const noexcept { return FRowCount; }
    bool AllFetched() const noexcept { return !FCommand || !FCommand->CursorOpen(); }

private:
    friend class TDbField;
    void ConnectionClosing() override { Close(); }
    void ConnectionDestroying() override { FConnection = nullptr; }
    void TransactionEnding() override { Close(); }
    TDbTransaction& used_transaction();
    void fetch_block();
    Variant value(int column) const;

    TDbConnection* FConnection = nullptr;
    TDbTransaction* FTransaction = nullptr;
    TDbTransaction* FUsing = nullptr;
    std::string FSQL;
    TDbParams FParams;
    std::unique_ptr<TFbCommand> FCommand;
    std::vector<std::unique_ptr<TDbField>> FFields;
    std::vector<Variant> FRows; // FieldCount values per row, from row FRowBase on
    int FRowBase = 0;
    int FRowCount = 0;
    int FRecNo = 0;
    bool FActive = false;
};

class TDbSQL {
public:
    explicit TDbSQL(std::string name = {});
    ~TDbSQL();
    TDbSQL(const TDbSQL&) = delete;
    TDbSQL& operator=(const TDbSQL&) = delete;

    std::string Name;
    TDbConnection* Connection() const noexcept { return FConnection; }
    void SetConnection(TDbConnection* c);
    TDbTransaction* Transaction() const noexcept { return FTransaction; }
    void SetTransaction(TDbTransaction* t);
    bool AutoCommit = true;
    // Whether ":name" markers are parameters (read when the text is set).
    bool ParamCheck = true;

    const std::string& SQL() const noexcept { return FSQL; }
    // Rescans the parameters; the lexer's error leaves here.
    void SetSQL(std::string text);
    TDbParams& Params() noexcept { return FParams; }

    // Runs the statement once: implicit start, prepare, execute, the
    // automatic-commit rule, end of use.
    void Execute();
    int64_t RowsAffected() const noexcept { return FRowsAffected; }
    // The server's type of the statement last executed (see fb_api.h), and
    // whether it was a definition statement.
    int StatementType() const noexcept { return FStatementType; }
    bool IsDDL() const noexcept { return FStatementType == fb::stDDL; }
    // The text as sent to the server.
    const std::string& NativeText() const noexcept { return FText.native; }

private:
    TDbConnection* FConnection = nullptr;
    TDbTransaction* FTransaction = nullptr;
    std::string FSQL;
    ProcessedText FText;
    TDbParams FParams;
    int64_t FRowsAffected = 0;
    int FStatementType = 0;
};

} // namespace kv
