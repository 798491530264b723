// Cuts a Firebird script into statements the way the script runner reads it:
// one statement per call, lexed once front to back with TFbParser, so that only
// the statement being run is held. It decides each statement's kind, keeps PSQL
// bodies whole while the delimiter is ";", follows SET TERM, and knows the "/"
// line and the DELIMITER rule. It needs no database: the script runner, kvtool
// sql-split and the fuzz target all read scripts through it.
//
// Usage:
//     ScriptSplitter s;
//     s.Start(text, ";");
//     ScriptStatement st;
//     while (s.Next(st)) if (!st.empty()) ...
//
// Errors: Next() passes on the lexer's "Parser: The unknown symbol ..." error;
// the statements returned before it are unaffected.
#pragma once

#include "db/parser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

enum class StatementKind : uint8_t {
    Plain,
    Definition,
    DefinitionWithBody,
    BlockWithBody,
    Commit,
    CommitRetaining,
    Rollback,
    RollbackRetaining,
    Savepoint,
    ReleaseSavepoint,
    RollbackToSavepoint,
    StartTransaction,
    DelimiterChange,
    Option,
    Connect,
    Reconnect,
    CreateDatabase,
    DropDatabase,
    BatchStart,
    BatchExecute,
    Comment,
};

// "plain", "definition", "definition-with-body", ... (kvtool's names).
std::string_view statement_kind_name(StatementKind k) noexcept;
// The kinds that go to the server; the others the runner carries out itself
// or skips.
bool is_sent_kind(StatementKind k) noexcept;
// Definition statements run in a transaction of their own (with AutoDDL on).
bool is_definition_kind(StatementKind k) noexcept;

struct ScriptStatement {
    std::string text; // as cut: leading blanks dropped, not trimmed, delimiter not included
    StatementKind kind = StatementKind::Plain;

    // Where `text` lies in the script: byte offsets into the UTF-8 text, the
    // same in UTF-16 code units (the runner's character positions), 1-based
    // lines and 0-based columns in UTF-16 code units.
    size_t offset = 0, end = 0;
    size_t char_offset = 0, char_end = 0;
    size_t start_line = 1, start_column = 0, end_line = 1, end_column = 0;

    // Byte span of what ended the statement: the delimiter lexem, or the "/"
    // and the line break after it; empty at the end of the text.
    size_t delimiter_offset = 0, delimiter_length = 0;

    // True when the text trimmed of characters of code 32 or less is empty:
    // such a statement is not run.
    bool empty() const noexcept;
};

// The script's lines joined again: every line break (CR LF, a lone CR or a
// lone LF) becomes CR LF.
std::string crlf_line_breaks(std::string_view text);
// The text a run reads: line breaks as above, and the trailing characters of
// code 32 or less removed.
std::string prepare_script_text(std::string_view text);

class ScriptSplitter {
public:
    // Starts reading `text` (taken as it is: the caller prepares it) with
    // `delimiter` in force; a SET TERM inside lasts until the next Start.
    void Start(std::string_view text, std::string_view delimiter);
    // Reads the next statement into `out`, empty ones included. Returns false
    // (and leaves `out` alone) when the text is exhausted.
    bool Next(ScriptStatement& out);

    const std::string& CurrentDelimiter() const noexcept { return FDelimiter; }
    const std::string& Text() const noexcept { return FParser.Text(); }

private:
    // State of the statement being read.
    struct Reading {
        size_t lexem_no = 0; // lexems that are neither blank nor comment
        Keyword first = Keyword::None, second = Keyword::None;
        bool kind_set = false;
        bool has_body = false;
        bool in_body = false;
        int begin_count = 0;
        bool collecting_delimiter = false; // after SET TERM
        std::string new_delimiter;
        std::string_view previous; // last lexem that is neither blank nor comment
    };

    bool is_delimiter_lexem(const Lexem& l, const Reading& r) const;
    bool inside_body(const Reading& r) const { return r.in_body || r.begin_count >= 1; }
    void classify(const Lexem& l, Reading& r, ScriptStatement& st) const;
    size_t char_position(size_t byte_offset);
    size_t column_of(size_t byte_offset, size_t line_start);

    TFbParser FParser;
    std::string FInitialDelimiter;
    std::string FDelimiter;
    bool FDone = true;
    // Byte-to-UTF-16 cursor; positions asked for only move forward.
    size_t FCursorByte = 0, FCursorChar = 0;
    // Column cursor: the UTF-16 column of FColumnByte on the line that starts
    // at FColumnLine. Columns are asked for in text order, so a long line is
    // counted once rather than from its start for every statement on it.
    size_t FColumnLine = 0, FColumnByte = 0, FColumnChars = 0;
};

} // namespace kv
