// How the script runner cuts a script into statements and what kind each one
// is: the rules that decide which text reaches the server as one statement.
#include "db/db_query.h"
#include "db/script_splitter.h"
#include "platform/unicode.h"
#include "rtl/exception.h"
#include "workflow/upgrade_script.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace kv;

namespace {

struct Cut {
    std::string kind;
    std::string text;
    bool operator==(const Cut&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Cut& c) {
    return os << c.kind << " [" << c.text << "]";
}

std::vector<ScriptStatement> split_all(const std::string& script, const std::string& delimiter = ";") {
    ScriptSplitter s;
    s.Start(prepare_script_text(script), delimiter);
    std::vector<ScriptStatement> out;
    for (ScriptStatement st; s.Next(st);)
        if (!st.empty()) out.push_back(st);
    return out;
}

std::vector<Cut> cuts(const std::string& script) {
    std::vector<Cut> out;
    for (const auto& st : split_all(script))
        out.push_back({std::string(statement_kind_name(st.kind)), st.text});
    return out;
}

struct SplitCase {
    const char* name;
    std::string script;
    std::vector<Cut> expected;
};

const std::vector<SplitCase>& split_cases() {
    static const std::vector<SplitCase> cases = {
        {"delimiter in a string",
         "select ';' from t; select 2",
         {{"plain", "select ';' from t"}, {"plain", "select 2"}}},
        {"delimiter in a quoted identifier", "select \"a;b\" from t;", {{"plain", "select \"a;b\" from t"}}},
        {"delimiter in a line comment",
         "select 1 -- x;y\r\nfrom t;",
         {{"plain", "select 1 -- x;y\r\nfrom t"}}},
        {"delimiter in a block comment", "select /* ; */ 1;", {{"plain", "select /* ; */ 1"}}},
        {"trigger body with several delimiters and CASE",
         "CREATE OR ALTER TRIGGER T1 FOR T ACTIVE BEFORE INSERT POSITION 0 AS\r\nBEGIN\r\n"
         "  NEW.A = CASE WHEN NEW.B > 0 THEN 1 ELSE 2 END;\r\n  NEW.C = 1;\r\nEND;\r\nselect 1 from t;",
         {{"definition-with-body",
           "CREATE OR ALTER TRIGGER T1 FOR T ACTIVE BEFORE INSERT POSITION 0 AS\r\nBEGIN\r\n"
           "  NEW.A = CASE WHEN NEW.B > 0 THEN 1 ELSE 2 END;\r\n  NEW.C = 1;\r\nEND"},
          {"plain", "select 1 from t"}}},
        {"lower-case procedure with a declaration before begin",
         "create or alter procedure p as declare variable x int; begin x = case when 1 = 1 then 1 end; "
         "if (x = 1) then begin x = 2; end end; select 1 from t",
         {{"definition-with-body",
           "create or alter procedure p as declare variable x int; begin x = case when "
           "1 = 1 then 1 end; if (x = 1) then begin x = 2; end end"},
          {"plain", "select 1 from t"}}},
        {"SET TERM round trip",
         "SET TERM ^ ;\r\nCREATE PROCEDURE P AS BEGIN X = 1; END^\r\nSET TERM ; ^\r\nselect 1;",
         {{"delimiter-change", "SET TERM ^ "},
          {"definition", "CREATE PROCEDURE P AS BEGIN X = 1; END"},
          {"delimiter-change", "SET TERM ; "},
          {"plain", "select 1"}}},
        {"two-character delimiter",
         "set term !! ;\r\nselect 1 !!\r\nselect 2!!\r\nset term ; !!\r\nselect 3;",
         {{"delimiter-change", "set term !! "},
          {"plain", "select 1 "},
          {"plain", "select 2"},
          {"delimiter-change", "set term ; "},
          {"plain", "select 3"}}},
        {"RECREATE is cut at the first delimiter of its body",
         "RECREATE PROCEDURE P AS BEGIN X = 1; END;",
         {{"plain", "RECREATE PROCEDURE P AS BEGIN X = 1"}, {"plain", "END"}}},
        {"last statement without a delimiter",
         "select 1;\r\nselect 2",
         {{"plain", "select 1"}, {"plain", "select 2"}}},
        {"empty statements and trailing blanks", ";;select 1;;  ;  \r\n \t", {{"plain", "select 1"}}},
        {"comment after the last delimiter",
         "select 1; -- done",
         {{"plain", "select 1"}, {"comment", "-- done"}}},
        {"slash line ends a statement",
         "select 1\r\n/\r\nselect 2\r\n/",
         {{"plain", "select 1\r\n"}, {"plain", "select 2\r\n"}}},
        {"slash line inside a body",
         "create procedure p as begin x = 1;\r\n/\r\nend",
         {{"definition-with-body", "create procedure p as begin x = 1;\r\n"}, {"plain", "end"}}},
        {"slash with more on its line is text", "select 4\r\n/ 2;", {{"plain", "select 4\r\n/ 2"}}},
        {"slash not at the line start is text", "select 4\r\n /\r\n2;", {{"plain", "select 4\r\n /\r\n2"}}},
        {"EXECUTE BLOCK",
         "execute block as declare x int; begin x = 1; end; select 1 from t",
         {{"block-with-body", "execute block as declare x int; begin x = 1; end"},
          {"plain", "select 1 from t"}}},
        {"DELIMITER followed by more than the delimiter",
         "DELIMITER ;// select 1//",
         {{"plain", "DELIMITER ;// select 1//"}}},
        {"DELIMITER followed by the delimiter alone",
         "delimiter ;\r\nselect 1;",
         {{"plain", "delimiter "}, {"plain", "select 1"}}},
        {"lone line breaks become CR LF",
         "select 1\nfrom t;\rselect 2",
         {{"plain", "select 1\r\nfrom t"}, {"plain", "select 2"}}},
    };
    return cases;
}

} // namespace

TEST(ScriptSplitter, CutsStatements) {
    for (const auto& c : split_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cuts(c.script), c.expected);
    }
}

TEST(ScriptSplitter, Kinds) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"COMMIT", "commit"},
        {"commit work", "commit"},
        {"Commit Retain", "commit-retaining"},
        {"ROLLBACK", "rollback"},
        {"rollback retain", "rollback-retaining"},
        {"rollback to savepoint s1", "rollback-to-savepoint"},
        {"savepoint s1", "savepoint"},
        {"release savepoint s1", "release-savepoint"},
        {"set transaction read committed", "start-transaction"},
        {"set autoddl off", "option"},
        {"SET NAMES UTF8", "option"},
        {"set sql dialect 3", "option"},
        {"connect 'h:/db.fdb' user 'SYSDBA'", "connect"},
        {"reconnect", "reconnect"},
        {"create database 'x.fdb'", "create-database"},
        {"CREATE SCHEMA 'x.fdb'", "create-database"},
        {"drop database", "drop-database"},
        {"batch start", "batch-start"},
        {"batch execute", "batch-execute"},
        {"set generator g to 1", "definition"},
        {"grant select on t to public", "definition"},
        {"revoke select on t from public", "definition"},
        {"declare external function f", "definition"},
        {"drop table t", "definition"},
        {"CREATE OR ALTER EXCEPTION E 'x'", "definition"},
        {"create package p as begin end", "definition"},
        {"create or alter function f returns int as begin return 1; end", "definition-with-body"},
        {"alter trigger t as begin end", "definition-with-body"},
        {"select 1 from t", "plain"},
        {"execute procedure p", "plain"},
        {"recreate table t (a int)", "plain"},
        {"execute block as begin end", "block-with-body"},
        {"/* only */ -- comments", "comment"},
        {"-- c\r\nCOMMIT", "commit"},
        {"\"COMMIT\"", "plain"},
    };
    for (const auto& [script, kind] : table) {
        SCOPED_TRACE(script);
        const auto st = split_all(script);
        ASSERT_EQ(st.size(), 1u);
        EXPECT_EQ(statement_kind_name(st[0].kind), kind);
    }
}

TEST(ScriptSplitter, OffsetsCountUtf16UnitsFromTheFirstNonBlankCharacter) {
    // "-- ü" is four characters in five bytes.
    const auto st = split_all("  -- ü\r\n  select 1;\r\n\r\n/* b */ select 2;\r\n𝄞; x");
    ASSERT_EQ(st.size(), 4u);
    EXPECT_EQ(st[0].char_offset, 2u);
    EXPECT_EQ(st[0].offset, 2u);
    EXPECT_EQ(st[1].char_offset, 23u);
    EXPECT_EQ(st[1].offset, 24u);
    EXPECT_EQ(st[1].start_line, 4u);
    EXPECT_EQ(st[1].start_column, 0u);
    EXPECT_EQ(st[2].char_offset, 42u); // this character takes two units
    EXPECT_EQ(st[3].char_offset, 46u);
    EXPECT_EQ(st[3].start_column, 4u);
}

// Every line and column, checked against a count from the line's start: many
// statements share long lines, some span lines, and a two-character
// delimiter takes its first character back from the statement text.
TEST(ScriptSplitter, LinesAndColumnsOfStatementsSharingLongLines) {
    std::string script;
    for (int i = 0; i < 300; ++i)
        script += i % 7 == 0 ? "select 'ü𝄞',\r\n  " + std::to_string(i) + " from x; "
                             : "a" + std::to_string(i) + "ş;";
    script += "\r\nset term !! ;execute block as begin end!!ş!!\r\nset term ; !!x;y";
    const std::string text = prepare_script_text(script);
    auto line_and_column = [&](size_t at) {
        const size_t nl = text.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t line_start = nl == std::string::npos || at == 0 ? 0 : nl + 1;
        const size_t line = 1 + std::count(text.begin(), text.begin() + line_start, '\n');
        return std::pair(line, utf16_length(std::string_view(text).substr(line_start, at - line_start)));
    };
    const auto st = split_all(script);
    ASSERT_GT(st.size(), 300u);
    for (const auto& s : st) {
        SCOPED_TRACE(s.text);
        EXPECT_EQ(std::pair(s.start_line, s.start_column), line_and_column(s.offset));
        EXPECT_EQ(std::pair(s.end_line, s.end_column), line_and_column(s.end));
    }
}

TEST(ScriptSplitter, DelimiterChangeLastsUntilTheNextStart) {
    ScriptSplitter s;
    s.Start("set term ^ ;select 1^", ";");
    for (ScriptStatement st; s.Next(st);) {
    }
    EXPECT_EQ(s.CurrentDelimiter(), "^");
    s.Start("select 1^ select 2;", ";");
    ScriptStatement st;
    ASSERT_TRUE(s.Next(st));
    EXPECT_EQ(st.text, "select 1^ select 2");
}

TEST(ScriptSplitter, UnknownCharacterStopsBeforeItsStatement) {
    ScriptSplitter s;
    s.Start("select 1; select \x01;", ";");
    ScriptStatement st;
    ASSERT_TRUE(s.Next(st));
    EXPECT_EQ(st.text, "select 1");
    try {
        s.Next(st);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Parser: The unknown symbol $0001  '\x01'");
    }
}

TEST(ScriptSplitter, UpgradeScriptYieldsItsNineteenStatements) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"plain", "update firmabilgi set yil=2027"},
        {"definition-with-body", "CREATE OR ALTER TRIGGER UKOD_DUZELT"},
        {"definition", "CREATE OR ALTER EXCEPTION EX_GENEL_HATA"},
        {"definition-with-body", "CREATE OR ALTER TRIGGER CARI_TEMIZLE"},
        {"definition", "ALTER TABLE URUNLER ALTER COLUMN obrk2"},
        {"definition-with-body", "CREATE OR ALTER PROCEDURE SP_URUN_BILGI_GUNCELLE"},
        {"definition-with-body", "CREATE OR ALTER trigger uruntr"},
        {"definition-with-body", "CREATE OR ALTER procedure STOK_SAY"},
        {"definition", "CREATE TABLE EF_SERI"},
        {"definition", "CREATE TABLE EF_GIDEN"},
        {"definition", "CREATE TABLE EF_GELEN"},
        {"definition", "CREATE INDEX IDX_EF_GIDEN1"},
        {"definition", "CREATE INDEX IDX_EF_GELEN1"},
        {"definition", "CREATE TABLE FATURABILGI"},
        {"plain", "INSERT INTO FATURABILGI"},
        {"definition", "CREATE TABLE KAMPANYA_BILGI"},
        {"definition", "CREATE SEQUENCE GEN_KAMPANYA_BILGI_ID"},
        {"definition-with-body", "CREATE OR ALTER trigger silinen_ekle"},
        {"commit", "COMMIT"},
    };
    const std::string& script = upgrade_script();
    const auto st = split_all(script);
    ASSERT_EQ(st.size(), expected.size());
    int sent = 0;
    for (size_t i = 0; i < st.size(); ++i) {
        SCOPED_TRACE("statement " + std::to_string(i + 1));
        EXPECT_EQ(statement_kind_name(st[i].kind), expected[i].first);
        // A leading comment line belongs to the statement after it.
        const auto words = st[i].text.find(expected[i].second);
        ASSERT_NE(words, std::string::npos);
        EXPECT_TRUE(words == 0 || st[i].text.rfind("-- ", 0) == 0);
        EXPECT_EQ(script.substr(st[i].offset, st[i].text.size()), st[i].text);
        sent += is_sent_kind(st[i].kind);
        // The command the runner sends it through finds no parameter in it:
        // colons stand only in string literals and in bodies after CREATE.
        TDbSQL command;
        command.SetSQL(st[i].text);
        EXPECT_EQ(command.Params().Count(), 0u);
    }
    EXPECT_EQ(sent, 18);
    // Bodies reach the server whole, up to their last END.
    EXPECT_TRUE(st[7].text.ends_with("\r\n\r\n      SUSPEND;\r\n    end"));
    EXPECT_NE(st[7].text.find("SUM(CASE WHEN STADET > 0 THEN STADET ELSE 0 END)"), std::string::npos);
}
