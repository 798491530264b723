// The SQL lexer of the Firebird provider. It cuts a statement or a whole
// script into lexems so that the provider command can find parameters and
// rebuild the text it sends, and the script runner can cut a script into
// statements. Three layers: TParser (the general machine), TSQLParser (SQL
// keywords and "--" comments) and TFbParser (the provider's own keywords and
// "/* */" comments). Use TFbParser.
//
// Every lexem keeps its exact source text, blanks and comments included and
// with quotes and letter case as written, so concatenating the texts of all
// lexems up to the end gives the input back. Nothing is skipped.
//
// Positions: offsets are 0-based byte offsets into the UTF-8 text; lines are
// counted from 1; columns are 0-based byte offsets from the start of their
// line. CR LF, a lone CR and a lone LF each count as one line break, wherever
// they stand (blanks, block comments, strings, quoted identifiers).
//
// Usage:
//     TFbParser p;
//     p.SetText(sql);
//     for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) ...
//
// Errors: Next() raises kv::Exception "Parser: The unknown symbol $0001  '\x01'"
// for a character of code below 33 that is not a blank and stands outside a
// string, quoted identifier or comment. The position is then left before that
// character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kv {

enum class LexemKind : uint8_t { End, Blank, Comment, String, Identifier, Number, Symbol, Keyword };

// The symbols with codes of their own; every other symbol character is Other.
enum class Symbol : uint8_t {
    Other,
    Star,      // *
    Comma,     // ,
    Dot,       // .
    Slash,     // /
    Colon,     // :
    Semicolon, // ;
    Equal,     // =
    LParen,    // (
    RParen,    // )
    At,        // @
    Question,  // ?
};

// The keyword list. The words the provider command and the script runner act
// on, plus common SQL words that only keep their own code. USER, PASSWORD and
// ROLE are deliberately not keywords: CONNECT takes them as identifiers.
enum class Keyword : uint8_t {
    None,
    // SQL words
    ALTER,
    AND,
    AS,
    BEGIN,
    BY,
    CASE,
    COMMIT,
    CONNECT,
    CREATE,
    DATABASE,
    DECLARE,
    DELETE,
    DROP,
    END,
    EXECUTE,
    FROM,
    FUNCTION,
    GRANT,
    INSERT,
    INTO,
    NOT,
    OR,
    PROCEDURE,
    RELEASE,
    REVOKE,
    ROLLBACK,
    SAVEPOINT,
    SCHEMA,
    SELECT,
    SET,
    START,
    TABLE,
    TO,
    TRANSACTION,
    TRIGGER,
    UPDATE,
    VALUES,
    VIEW,
    WHERE,
    WORK,
    // provider words
    AUTODDL,
    BATCH,
    BLOCK,
    DIALECT,
    GENERATOR,
    NAMES,
    RECONNECT,
    RETAIN,
    SQL,
    TERM,
};

// "end", "blank", "comment", "string", "identifier", "number", "symbol", "keyword".
std::string_view lexem_kind_name(LexemKind k) noexcept;

struct Lexem {
    LexemKind kind = LexemKind::End;
    std::string_view text;           // exact source text; a view into the parser's copy of the text
    Symbol symbol = Symbol::Other;   // meaningful for LexemKind::Symbol
    Keyword keyword = Keyword::None; // meaningful for LexemKind::Keyword

    bool is(Keyword k) const noexcept { return kind == LexemKind::Keyword && keyword == k; }
    bool is(Symbol s) const noexcept { return kind == LexemKind::Symbol && symbol == s; }
    // Blanks and comments: what statement logic usually looks past.
    bool is_space() const noexcept { return kind == LexemKind::Blank || kind == LexemKind::Comment; }
};

// A place in the text.
struct TextPosition {
    size_t offset = 0;     // 0-based byte offset
    size_t line = 1;       // 1-based
    size_t line_start = 0; // offset of the first character of that line
    size_t column() const noexcept { return offset - line_start; }
};

struct KeywordEntry {
    std::string_view word; // upper case
    Keyword code;
};

class TParser {
public:
    // Takes a copy of `text` and moves to its beginning.
    void SetText(std::string_view text);
    const std::string& Text() const noexcept { return FText; }

    // The next lexem. At the end of the text it returns End (again on every
    // further call). Identifiers found in the keyword list come back as
    // LexemKind::Keyword.
    Lexem Next();
    // The same without keyword recognition: a keyword's word comes back as an
    // identifier (used for the name after a parameter colon).
    Lexem NextWithoutKeywords();
    // Steps back over the lexem last read, so that the next call returns it
    // again. Only one step is kept: a second Back() without a Next() between
    // does nothing more.
    void Back() noexcept;

    // The position just after the lexem last read.
    size_t CurrentOffset() const noexcept { return FPos.offset; }
    size_t CurrentLine() const noexcept { return FPos.line; }
    size_t CurrentColumn() const noexcept { return FPos.column(); }
    // Where the lexem last read starts.
    size_t LexemOffset() const noexcept { return FLexemStart.offset; }
    size_t LexemLine() const noexcept { return FLexemStart.line; }
    size_t LexemColumn() const noexcept { return FLexemStart.column(); }

protected:
    // `keywords`: upper-case words of letters A-Z, sorted, outliving the
    // parser. Comment markers must begin with a symbol character.
    TParser(std::span<const KeywordEntry> keywords, std::string_view line_comment,
            std::string_view block_open, std::string_view block_close);

private:
    Lexem read(bool keywords);
    size_t scan_quoted(size_t from, char quote) const;
    Keyword find_keyword(std::string_view word) const noexcept;
    void advance_over(size_t end);

    std::span<const KeywordEntry> FKeywords;
    size_t FBucket[27] = {}; // FKeywords[FBucket[l]..FBucket[l+1]) start with letter l
    std::string_view FLineComment, FBlockOpen, FBlockClose;
    std::string FText;
    TextPosition FPos, FLexemStart;
};

// SQL character classes, symbols and keywords, and "--" line comments.
class TSQLParser : public TParser {
public:
    TSQLParser();

protected:
    using TParser::TParser;
};

// The Firebird provider's lexer: SQL plus the provider's keywords and "/* */"
// block comments (which do not nest).
class TFbParser : public TSQLParser {
public:
    TFbParser();
};

} // namespace kv
