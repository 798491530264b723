// The SQL lexer: how texts are cut, keyword and symbol codes, positions, the
// unknown-character error, and that the lexem texts always give the input back.
#include "db/parser.h"
#include "rtl/exception.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace kv;

namespace {

std::string describe(std::string_view text) {
    TFbParser p;
    p.SetText(text);
    std::string out;
    for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) {
        if (!out.empty()) out += " ";
        out += std::string(lexem_kind_name(l.kind)) + "[" + std::string(l.text) + "]";
    }
    return out;
}

} // namespace

TEST(Lexer, CutsTextsIntoLexems) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"a--b c\nd", "identifier[a] comment[--b c] blank[\n] identifier[d]"},
        {"a-b", "identifier[a] symbol[-] identifier[b]"},
        {"x -- tail", "identifier[x] blank[ ] comment[-- tail]"},
        {"--\r\n", "comment[--] blank[\r\n]"},
        {"a/*c*/b", "identifier[a] comment[/*c*/] identifier[b]"},
        {"/* a /* b */ c */", "comment[/* a /* b */] blank[ ] identifier[c] blank[ ] symbol[*] symbol[/]"},
        {"/*/ */x", "comment[/*/ */] identifier[x]"},
        {"a/b", "identifier[a] symbol[/] identifier[b]"},
        {"/* never closed\n;", "comment[/* never closed\n;]"},
        {"'never closed\n;", "string['never closed\n;]"},
        {"'it''s'", "string['it'] string['s']"},
        {"'a;--b/*'", "string['a;--b/*']"},
        {"\"My Col\".x", "identifier[\"My Col\"] symbol[.] identifier[x]"},
        {"\"open", "identifier[\"open]"},
        {"123 1.25 1.x 1.2.3",
         "number[123] blank[ ] number[1.25] blank[ ] number[1] symbol[.] identifier[x] blank[ ] "
         "number[1.2] symbol[.] number[3]"},
        {"-5 +1e3", "symbol[-] number[5] blank[ ] symbol[+] number[1] identifier[e3]"},
        {".5", "symbol[.] number[5]"},
        {"_a#$9 \xC3\xA7"
         "ay",
         "identifier[_a#$9] blank[ ] identifier[\xC3\xA7"
         "ay]"},
        {"begin Begin BEGIN \"BEGIN\" beginx", "keyword[begin] blank[ ] keyword[Begin] blank[ ] "
                                               "keyword[BEGIN] blank[ ] identifier[\"BEGIN\"] blank[ ] "
                                               "identifier[beginx]"},
        {"set TERM ^ ;", "keyword[set] blank[ ] keyword[TERM] blank[ ] symbol[^] blank[ ] symbol[;]"},
        {"user password role", "identifier[user] blank[ ] identifier[password] blank[ ] identifier[role]"},
        {"\t\r\n \n", "blank[\t\r\n \n]"},
        {"[]{}~`|\\\x7F", "symbol[[] symbol[]] symbol[{] symbol[}] symbol[~] symbol[`] symbol[|] symbol[\\] "
                          "symbol[\x7F]"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(c.text), c.expected) << "input: " << c.text;
}

TEST(Lexer, SymbolAndKeywordCodes) {
    TFbParser p;
    p.SetText("*,./:;=()@?!<select Transaction autoddl x");
    const Symbol symbols[] = {Symbol::Star,      Symbol::Comma, Symbol::Dot,    Symbol::Slash,  Symbol::Colon,
                              Symbol::Semicolon, Symbol::Equal, Symbol::LParen, Symbol::RParen, Symbol::At,
                              Symbol::Question,  Symbol::Other, Symbol::Other};
    for (Symbol s : symbols)
        EXPECT_TRUE(p.Next().is(s));
    EXPECT_TRUE(p.Next().is(Keyword::SELECT));
    p.Next();
    EXPECT_TRUE(p.Next().is(Keyword::TRANSACTION));
    p.Next();
    EXPECT_TRUE(p.Next().is(Keyword::AUTODDL));
    p.Next();
    EXPECT_EQ(p.Next().kind, LexemKind::Identifier);
    EXPECT_EQ(p.Next().kind, LexemKind::End);
    EXPECT_EQ(p.Next().kind, LexemKind::End);
}

TEST(Lexer, ProviderWordsAndBlockCommentsBelongToTheFirebirdLayer) {
    TSQLParser sql;
    sql.SetText("term /*x*/");
    EXPECT_EQ(sql.Next().kind, LexemKind::Identifier);
    sql.Next();
    EXPECT_TRUE(sql.Next().is(Symbol::Slash));
}

TEST(Lexer, NameAfterAColonCanBeReadWithoutKeywords) {
    TFbParser p;
    p.SetText(":select");
    p.Next();
    Lexem l = p.NextWithoutKeywords();
    EXPECT_EQ(l.kind, LexemKind::Identifier);
    EXPECT_EQ(l.text, "select");
}

TEST(Lexer, UnknownCharacterOutsideStringsAndComments) {
    for (std::string text : {std::string("select \x01"), std::string("a\x0B"), std::string("x\0y", 3)}) {
        TFbParser p;
        p.SetText(text);
        char bad = text.back() == 'y' ? '\0' : text.back();
        try {
            while (p.Next().kind != LexemKind::End) {
            }
            ADD_FAILURE() << "no error for " << text;
        } catch (const Exception& e) {
            char code[8];
            std::snprintf(code, sizeof code, "%04X", static_cast<unsigned char>(bad));
            EXPECT_EQ(e.Message(), std::string("Parser: The unknown symbol $") + code + "  '" + bad + "'");
            EXPECT_STREQ(e.ClassName(), "Exception");
            EXPECT_EQ(p.CurrentOffset(), text.find(bad)) << "the position stays before the character";
        }
    }
    EXPECT_EQ(describe("'\x01' /*\x02*/ --\x03"),
              "string['\x01'] blank[ ] comment[/*\x02*/] blank[ ] comment[--\x03]");
}

TEST(Lexer, LinesAndColumns) {
    // CR LF, a lone CR and a lone LF are one break each, also inside comments and strings.
    TFbParser p;
    p.SetText("a\r\nb\rc\nd /*\r\n*/ e 'x\ny' f");
    struct Expect {
        std::string text;
        size_t line, column, offset;
    } idents[] = {{"a", 1, 0, 0}, {"b", 2, 0, 3},  {"c", 3, 0, 5},
                  {"d", 4, 0, 7}, {"e", 5, 3, 16}, {"f", 6, 3, 24}};
    size_t i = 0;
    for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) {
        if (l.kind != LexemKind::Identifier) continue;
        ASSERT_LT(i, std::size(idents));
        EXPECT_EQ(l.text, idents[i].text);
        EXPECT_EQ(p.LexemLine(), idents[i].line) << l.text;
        EXPECT_EQ(p.LexemColumn(), idents[i].column) << l.text;
        EXPECT_EQ(p.LexemOffset(), idents[i].offset) << l.text;
        EXPECT_EQ(p.CurrentOffset(), idents[i].offset + 1);
        EXPECT_EQ(p.CurrentColumn(), idents[i].column + 1);
        ++i;
    }
    EXPECT_EQ(i, std::size(idents));
}

TEST(Lexer, BackReturnsTheSameLexemAgain) {
    TFbParser p;
    p.SetText("a\nbegin c");
    p.Next();
    p.Next();
    Lexem first = p.Next();
    p.Back();
    p.Back(); // only one step is kept
    EXPECT_EQ(p.CurrentOffset(), 2u);
    EXPECT_EQ(p.CurrentLine(), 2u);
    Lexem again = p.Next();
    EXPECT_TRUE(again.is(Keyword::BEGIN));
    EXPECT_EQ(again.text, first.text);
    EXPECT_EQ(p.Next().kind, LexemKind::Blank);
}

TEST(Lexer, LexemTextsGiveTheInputBack) {
    // Random texts over an alphabet rich in the characters that start or end lexems.
    const std::string alphabet = "ab_Z09.-/*'\"\r\n \t;:(){}#$\xC3\xA7@?=^|";
    std::mt19937 rng(2027);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        size_t len = rng() % 40;
        for (size_t i = 0; i < len; ++i)
            text += alphabet[rng() % alphabet.size()];
        TFbParser p;
        p.SetText(text);
        std::string back;
        size_t count = 0;
        for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) {
            ASSERT_FALSE(l.text.empty());
            ASSERT_EQ(p.LexemOffset(), back.size());
            back += l.text;
            ASSERT_LE(++count, text.size());
        }
        ASSERT_EQ(back, text);
    }
}
