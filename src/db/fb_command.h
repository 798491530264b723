// The Firebird provider's statement: the text processing that turns the
// user's text into the native text the server gets (comment rewriting,
// parameter markers), and the DSQL calls to prepare, execute and fetch.
// TFbRecordSet is the output side: the column descriptions and a fetched row
// turned into variants.
#pragma once

#include "db/fb_api.h"
#include "rtl/variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class TFbConnection;
class TFbTransaction;

// The text sent to the server for a statement text, and the parameter names
// found in it, in order.
struct ProcessedText {
    std::string native;
    std::vector<std::string> params;
};
// Steps 1-4 of the statement text processing: trim codes 0-32 at both ends;
// when the text holds "--" or "{", rewrite "--" line comments as block
// comments (a "{" outside strings and comments raises "Unexpected character");
// then replace each parameter marker (":" + name) by "?", unless one of
// BEGIN, CREATE, DROP, ALTER, DECLARE, GRANT, REVOKE came earlier.
// With `scan_params` false the markers are left as text (step 4 skipped).
// Lexer errors leave as they are raised.
ProcessedText process_statement_text(std::string_view text, bool scan_params = true);

struct TFbFieldDesc {
    std::string name;     // as the server reports it (the alias)
    int16_t sql_type = 0; // without the nullable bit
    int16_t scale = 0;
    int16_t sub_type = 0;
    int16_t size = 0;
    bool nullable = false;
};

class TFbRecordSet {
public:
    explicit TFbRecordSet(int columns);
    fb::XSQLDA* Area() noexcept { return reinterpret_cast<fb::XSQLDA*>(FArea.data()); }
    // Allocates the data buffers once the description is complete; raises for
    // column types this program does not read (blobs, arrays).
    void Bind();
    std::vector<TFbFieldDesc> Describe() const;
    Variant Value(int column, const TFbConnection& connection) const;

private:
    std::vector<char> FArea;
    std::vector<char> FData;
    std::vector<int16_t> FNulls;
};

class TFbCommand {
public:
    explicit TFbCommand(TFbConnection& connection);
    ~TFbCommand();
    TFbCommand(const TFbCommand&) = delete;
    TFbCommand& operator=(const TFbCommand&) = delete;

    void SetText(std::string_view text, bool scan_params = true); // unprepares
    const std::string& NativeText() const noexcept { return FText.native; }
    const std::vector<std::string>& ParamNames() const noexcept { return FText.params; }

    // Raises "SQL statement cannot be empty" and "Unsupported SQL type" as
    // EDataAccessError; client errors as EFbError. On failure the statement
    // handle is freed.
    void Prepare(TFbTransaction& transaction);
    void Unprepare() noexcept;
    bool Prepared() const noexcept { return FStatement != 0; }
    int StatementType() const noexcept { return FType; }
    // Statements that give back results: a cursor (select) or one row (execute procedure).
    bool ReturnsRows() const noexcept;
    // Statements that open a cursor; the others count as "returning no rows"
    // for the automatic-commit rule.
    bool IsSelect() const noexcept { return FType == fb::stSelect || FType == fb::stSelectForUpdate; }

    // Runs the prepared statement with one value per parameter name.
    void Execute(TFbTransaction& transaction, const std::vector<Variant>& params);
    // The next row into the record set; false at the end (the cursor is then closed).
    bool Fetch();
    bool CursorOpen() const noexcept { return FCursorOpen; }
    void CloseCursor() noexcept;
    // Rows inserted, updated and deleted by the last execution.
    int64_t RowsAffected();

    const std::vector<TFbFieldDesc>& Fields() const noexcept { return FFields; }
    Variant Value(int column) const;

private:
    void describe_output();

    TFbConnection& FConnection;
    ProcessedText FText;
    fb::Handle FStatement = 0;
    fb::StatusVector FStatus{};
    int FType = 0;
    std::unique_ptr<TFbRecordSet> FOutput;
    std::vector<TFbFieldDesc> FFields;
    bool FCursorOpen = false;
};

} // namespace kv
