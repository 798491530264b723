// The SQL lexer: one pass over the bytes of a UTF-8 text, one lexem per call.
// Every byte belongs to exactly one class, so the lexer never stalls: bytes
// above 127 are identifier characters (a multi-byte character stays inside
// one identifier), bytes below 33 are blanks or the unknown-symbol error.
#include "db/parser.h"

#include "rtl/exception.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace kv {
namespace {

enum class CharClass : uint8_t { Invalid, Blank, IdentStart, Digit, Symbol, SingleQuote, DoubleQuote };

constexpr std::array<CharClass, 256> make_classes() {
    std::array<CharClass, 256> t{};
    for (int c = 0; c < 256; ++c) {
        CharClass k = CharClass::Invalid;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            k = CharClass::Blank;
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '#' || c == '$' ||
                 c > 127)
            k = CharClass::IdentStart;
        else if (c >= '0' && c <= '9')
            k = CharClass::Digit;
        else if (c == '\'')
            k = CharClass::SingleQuote;
        else if (c == '"')
            k = CharClass::DoubleQuote;
        else if (c >= 33)
            k = CharClass::Symbol; // 33-47, 58-64, 91-94, 96, 123-127 minus the above
        t[c] = k;
    }
    return t;
}
constexpr auto kClass = make_classes();

inline CharClass class_of(char c) {
    return kClass[static_cast<unsigned char>(c)];
}
inline bool is_ident_char(char c) {
    CharClass k = class_of(c);
    return k == CharClass::IdentStart || k == CharClass::Digit;
}

Symbol symbol_code(char c) {
    switch (c) {
    case '*':
        return Symbol::Star;
    case ',':
        return Symbol::Comma;
    case '.':
        return Symbol::Dot;
    case '/':
        return Symbol::Slash;
    case ':':
        return Symbol::Colon;
    case ';':
        return Symbol::Semicolon;
    case '=':
        return Symbol::Equal;
    case '(':
        return Symbol::LParen;
    case ')':
        return Symbol::RParen;
    case '@':
        return Symbol::At;
    case '?':
        return Symbol::Question;
    default:
        return Symbol::Other;
    }
}

#define KW(w)                                                                                                \
    KeywordEntry {                                                                                           \
#w, Keyword::w                                                                                       \
    }
constexpr KeywordEntry kSqlWords[] = {
    KW(ALTER),   KW(AND),       KW(AS),       KW(BEGIN),   KW(BY),       KW(CASE),        KW(COMMIT),
    KW(CONNECT), KW(CREATE),    KW(DATABASE), KW(DECLARE), KW(DELETE),   KW(DROP),        KW(END),
    KW(EXECUTE), KW(FROM),      KW(FUNCTION), KW(GRANT),   KW(INSERT),   KW(INTO),        KW(NOT),
    KW(OR),      KW(PROCEDURE), KW(RELEASE),  KW(REVOKE),  KW(ROLLBACK), KW(SAVEPOINT),   KW(SCHEMA),
    KW(SELECT),  KW(SET),       KW(START),    KW(TABLE),   KW(TO),       KW(TRANSACTION), KW(TRIGGER),
    KW(UPDATE),  KW(VALUES),    KW(VIEW),     KW(WHERE),   KW(WORK),
};
constexpr KeywordEntry kFbWords[] = {
    KW(AUTODDL), KW(BATCH),     KW(BLOCK),  KW(DIALECT), KW(GENERATOR),
    KW(NAMES),   KW(RECONNECT), KW(RETAIN), KW(SQL),     KW(TERM),
};
#undef KW

std::vector<KeywordEntry> sorted(std::initializer_list<std::span<const KeywordEntry>> parts) {
    std::vector<KeywordEntry> v;
    for (auto p : parts)
        v.insert(v.end(), p.begin(), p.end());
    std::sort(v.begin(), v.end(),
              [](const KeywordEntry& a, const KeywordEntry& b) { return a.word < b.word; });
    return v;
}

const std::vector<KeywordEntry>& sql_keywords() {
    static const std::vector<KeywordEntry> v = sorted({kSqlWords});
    return v;
}
const std::vector<KeywordEntry>& fb_keywords() {
    static const std::vector<KeywordEntry> v = sorted({kSqlWords, kFbWords});
    return v;
}

constexpr size_t kLongestKeyword = 11; // TRANSACTION

[[noreturn]] void unknown_symbol(char c) {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", static_cast<unsigned char>(c));
    throw Exception(std::string("Parser: The unknown symbol $") + code + "  '" + c + "'");
}

} // namespace

std::string_view lexem_kind_name(LexemKind k) noexcept {
    static constexpr std::string_view names[] = {"end",        "blank",  "comment", "string",
                                                 "identifier", "number", "symbol",  "keyword"};
    return names[static_cast<size_t>(k)];
}

TParser::TParser(std::span<const KeywordEntry> keywords, std::string_view line_comment,
                 std::string_view block_open, std::string_view block_close)
    : FKeywords(keywords), FLineComment(line_comment), FBlockOpen(block_open), FBlockClose(block_close) {
    size_t i = 0;
    for (int letter = 0; letter <= 26; ++letter) {
        while (i < FKeywords.size() && FKeywords[i].word[0] - 'A' < letter)
            ++i;
        FBucket[letter] = i;
    }
}

void TParser::SetText(std::string_view text) {
    FText.assign(text);
    FPos = FLexemStart = TextPosition{};
}

Lexem TParser::Next() {
    return read(true);
}
Lexem TParser::NextWithoutKeywords() {
    return read(false);
}

void TParser::Back() noexcept {
    FPos = FLexemStart;
}

// Keywords are words of letters A-Z; the sorted list is searched only within
// the bucket of the word's first letter.
Keyword TParser::find_keyword(std::string_view word) const noexcept {
    if (word.size() < 2 || word.size() > kLongestKeyword) return Keyword::None;
    char buf[kLongestKeyword];
    for (size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c < 'A' || c > 'Z')
            return Keyword::None;
        buf[i] = c;
    }
    std::string_view up(buf, word.size());
    const int letter = buf[0] - 'A';
    for (size_t i = FBucket[letter]; i < FBucket[letter + 1]; ++i)
        if (FKeywords[i].word == up) return FKeywords[i].code;
    return Keyword::None;
}

// Up to and including the closing quote, or to the end of the text.
size_t TParser::scan_quoted(size_t from, char quote) const {
    size_t close = FText.find(quote, from + 1);
    return close == std::string::npos ? FText.size() : close + 1;
}

// Moves the position to `end`, counting the line breaks on the way.
void TParser::advance_over(size_t end) {
    const char* s = FText.data();
    for (size_t i = FPos.offset; i < end; ++i) {
        if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= FText.size() || s[i + 1] != '\n'))) {
            ++FPos.line;
            FPos.line_start = i + 1;
        }
    }
    FPos.offset = end;
}

Lexem TParser::read(bool keywords) {
    FLexemStart = FPos;
    const size_t start = FPos.offset, size = FText.size();
    const char* s = FText.data();
    Lexem lx;
    if (start >= size) return lx; // End

    auto opens = [&](std::string_view marker) {
        return !marker.empty() && s[start] == marker[0] &&
               std::string_view(s + start, size - start).starts_with(marker);
    };

    size_t end = start + 1;
    bool breaks = false; // whether the lexem can hold line breaks
    switch (class_of(s[start])) {
    case CharClass::Blank:
        lx.kind = LexemKind::Blank;
        while (end < size && class_of(s[end]) == CharClass::Blank)
            ++end;
        breaks = true;
        break;
    case CharClass::Invalid:
        unknown_symbol(s[start]);
    case CharClass::IdentStart: {
        while (end < size && is_ident_char(s[end]))
            ++end;
        std::string_view word(s + start, end - start);
        lx.keyword = keywords ? find_keyword(word) : Keyword::None;
        lx.kind = lx.keyword == Keyword::None ? LexemKind::Identifier : LexemKind::Keyword;
        break;
    }
    case CharClass::Digit:
        lx.kind = LexemKind::Number;
        while (end < size && class_of(s[end]) == CharClass::Digit)
            ++end;
        if (end + 1 < size && s[end] == '.' && class_of(s[end + 1]) == CharClass::Digit) {
            end += 2;
            while (end < size && class_of(s[end]) == CharClass::Digit)
                ++end;
        }
        break;
    case CharClass::SingleQuote:
        lx.kind = LexemKind::String;
        end = scan_quoted(start, '\'');
        breaks = true;
        break;
    case CharClass::DoubleQuote:
        lx.kind = LexemKind::Identifier;
        end = scan_quoted(start, '"');
        breaks = true;
        break;
    case CharClass::Symbol:
        // Comment openers begin with a symbol character and win over the symbol.
        if (opens(FLineComment)) {
            lx.kind = LexemKind::Comment;
            end = FText.find_first_of("\r\n", start + FLineComment.size());
            if (end == std::string::npos) end = size;
        } else if (opens(FBlockOpen)) {
            lx.kind = LexemKind::Comment;
            end = FText.find(FBlockClose, start + FBlockOpen.size());
            end = end == std::string::npos ? size : end + FBlockClose.size();
            breaks = true;
        } else {
            lx.kind = LexemKind::Symbol;
            lx.symbol = symbol_code(s[start]);
        }
        break;
    }
    lx.text = std::string_view(s + start, end - start);
    if (breaks)
        advance_over(end);
    else
        FPos.offset = end;
    return lx;
}

TSQLParser::TSQLParser() : TParser(sql_keywords(), "--", {}, {}) {}

TFbParser::TFbParser() : TSQLParser(fb_keywords(), "--", "/*", "*/") {}

} // namespace kv
