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

std::string_view keyword_text(Keyword k) noexcept {
    for (const auto& e : fb_keywords())
        if (e.code == k) return e.word;
    return {};
}

std::string_view lexem_kind_name(LexemKind k) noexcept {
    static constexpr std::string_view names[] = {"end",        "blank",  "comment", "string",
                                                 "identifier", "number", "symbol",  "keyword"};
    return names[static_cast<size_t>(k)];
}

TParser::TParser(std::span<const KeywordEntry> keywords, std::string_view line_comment,
                 std::string_view block_open, std::string_view block_close)
    : FKeywords(keywords), FLineComment(line_comment), FBlockOpen(block_open), FBlockClose(block_close) {}

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

Keyword TParser::find_keyword(std::string_view word) const noexcept {
    if (word.size() > kLongestKeyword) return Keyword::None;
    char buf[kLongestKeyword];
    for (size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        buf[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    std::string_view up(buf, word.size());
    auto it = std::lower_bound(FKeywords.begin(), FKeywords.end(), up,
                               [](const KeywordEntry& e, std::string_view w) { return e.word < w; });
    return (it != FKeywords.end() && it->word == up) ? it->code : Keyword::None;
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
        return !marker.empty() && std::string_view(s + start, size - start).starts_with(marker);
    };

    size_t end = start + 1;
    CharClass cls = class_of(s[start]);
    if (cls == CharClass::Blank) {
        lx.kind = LexemKind::Blank;
        while (end < size && class_of(s[end]) == CharClass::Blank)
            ++end;
    } else if (cls == CharClass::Invalid) {
        unknown_symbol(s[start]);
    } else if (opens(FLineComment)) {
        lx.kind = LexemKind::Comment;
        end = FText.find_first_of("\r\n", start + FLineComment.size());
        if (end == std::string::npos) end = size;
    } else if (opens(FBlockOpen)) {
        lx.kind = LexemKind::Comment;
        end = FText.find(FBlockClose, start + FBlockOpen.size());
        end = end == std::string::npos ? size : end + FBlockClose.size();
    } else if (cls == CharClass::IdentStart) {
        while (end < size && is_ident_char(s[end]))
            ++end;
        std::string_view word(s + start, end - start);
        lx.keyword = keywords ? find_keyword(word) : Keyword::None;
        lx.kind = lx.keyword == Keyword::None ? LexemKind::Identifier : LexemKind::Keyword;
    } else if (cls == CharClass::Digit) {
        lx.kind = LexemKind::Number;
        while (end < size && class_of(s[end]) == CharClass::Digit)
            ++end;
        if (end + 1 < size && s[end] == '.' && class_of(s[end + 1]) == CharClass::Digit) {
            end += 2;
            while (end < size && class_of(s[end]) == CharClass::Digit)
                ++end;
        }
    } else if (cls == CharClass::SingleQuote) {
        lx.kind = LexemKind::String;
        end = scan_quoted(start, '\'');
    } else if (cls == CharClass::DoubleQuote) {
        lx.kind = LexemKind::Identifier;
        end = scan_quoted(start, '"');
    } else {
        lx.kind = LexemKind::Symbol;
        lx.symbol = symbol_code(s[start]);
    }
    lx.text = std::string_view(s + start, end - start);
    if (lx.kind == LexemKind::Blank || lx.kind == LexemKind::Comment || lx.kind == LexemKind::String ||
        s[start] == '"')
        advance_over(end); // only these can hold line breaks
    else
        FPos.offset = end;
    return lx;
}

TSQLParser::TSQLParser() : TParser(sql_keywords(), "--", {}, {}) {}

TFbParser::TFbParser() : TSQLParser(fb_keywords(), "--", "/*", "*/") {}

} // namespace kv
