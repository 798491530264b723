// The statements the script runner carries out itself, and the transaction
// of definition statements. Each handler reads the statement's words again
// from its start; the kind was already decided by the splitter.
#include "db/fb_script_processor.h"

#include "db/script.h"
#include "platform/unicode.h"
#include "rtl/text.h"

namespace kv {

// --- StatementWords ---

StatementWords::StatementWords(const std::string& sql) : FSQL(sql) {
    FParser.SetText(sql);
}

Lexem StatementWords::Next() {
    for (;;) {
        const Lexem l = FParser.Next();
        if (!l.is_space()) return l;
    }
}

void StatementWords::Invalid() const {
    const size_t position = utf16_length(std::string_view(FSQL).substr(0, FParser.LexemOffset())) + 1;
    const std::string_view text =
        std::string_view(FSQL).substr(FParser.LexemOffset(), FParser.CurrentOffset() - FParser.LexemOffset());
    throw Exception("Invalid lexem \"" + std::string(text) + "\" at position " + std::to_string(position) +
                    " in statement:\r\n" + FSQL);
}

std::string StatementWords::Value(const Lexem& l) {
    if (l.kind == LexemKind::String) {
        // The lexer ends a string at every quote, so 'a''b' arrives as the
        // lexems 'a' and 'b' back to back: each pair of them stands for one
        // quote inside the value.
        std::string value(l.text.substr(1, l.text.size() >= 2 ? l.text.size() - 2 : 0));
        for (;;) {
            const Lexem n = FParser.Next();
            if (n.kind != LexemKind::String) {
                FParser.Back();
                return value;
            }
            value += '\'';
            value += n.text.substr(1, n.text.size() >= 2 ? n.text.size() - 2 : 0);
        }
    }
    if (l.kind == LexemKind::Identifier) {
        if (l.text.size() >= 2 && l.text.front() == '"' && l.text.back() == '"')
            return std::string(l.text.substr(1, l.text.size() - 2));
        return std::string(l.text);
    }
    Invalid();
}

// --- TCustomFbScriptProcessor ---

namespace {

bool option_is_true(const std::map<std::string, std::string>& options, const std::string& name) {
    auto it = options.find(name);
    return it == options.end() || same_text_ascii_fold(it->second, "True");
}

// A database string that names a server: a ":" outside square brackets not
// followed by "\", a leading "\\", or an "@".
bool names_server(const std::string& database) {
    if (database.rfind("\\\\", 0) == 0 || database.find('@') != std::string::npos) return true;
    int brackets = 0;
    for (size_t i = 0; i < database.size(); ++i) {
        const char c = database[i];
        if (c == '[') ++brackets;
        if (c == ']' && brackets > 0) --brackets;
        if (c == ':' && brackets == 0 && (i + 1 >= database.size() || database[i + 1] != '\\')) return true;
    }
    return false;
}

// Closes the connection, changes it, and opens it again when it was open.
template <class F> void reconfigure(TDbConnection& c, F&& change) {
    const bool was_open = c.Connected();
    c.Close();
    change();
    if (was_open) c.Open();
}

std::string not_supported(std::string_view what) {
    return std::string(what) + " is not supported by the script runner";
}

} // namespace

void TCustomFbScriptProcessor::Start(std::string_view text, std::string_view delimiter) {
    FAutoDDL = option_is_true(FOwner.SpecificOptions, "InterBase.AutoDDL");
    FSplitter.Start(text, delimiter);
    FReading = true;
}

bool TCustomFbScriptProcessor::ReadStatement(ScriptStatement& st) {
    while (FReading) {
        if (!FSplitter.Next(st)) {
            FReading = false;
            break;
        }
        if (!st.empty()) return true;
    }
    return false;
}

bool TCustomFbScriptProcessor::UsesDdlTransaction(StatementKind kind) const noexcept {
    return FAutoDDL && is_definition_kind(kind);
}

std::string TCustomFbScriptProcessor::savepoint_name(const std::string& sql) {
    StatementWords words(sql);
    Lexem l = words.Next();
    while (!l.is(Keyword::SAVEPOINT)) {
        if (l.kind == LexemKind::End) words.Invalid();
        l = words.Next();
    }
    const Lexem name = words.Next();
    if (name.kind != LexemKind::Identifier) words.Invalid();
    return std::string(name.text);
}

void TCustomFbScriptProcessor::set_option(const std::string& sql) {
    StatementWords words(sql);
    words.Next(); // SET
    const Lexem option = words.Next();
    TDbConnection& c = *FOwner.Connection();
    if (option.is(Keyword::AUTODDL)) {
        const Lexem value = words.Next();
        FAutoDDL = same_text_ascii_fold(value.text, "ON");
        FOwner.SpecificOptions["InterBase.AutoDDL"] = FAutoDDL ? "True" : "False";
    } else if (option.is(Keyword::NAMES)) {
        const std::string charset(words.Next().text);
        reconfigure(c, [&] {
            FbConnectionOptions o = c.Options();
            o.charset = charset;
            c.SetOptions(o);
        });
    } else {
        words.Next(); // DIALECT
        const Lexem value = words.Next();
        if (value.kind != LexemKind::Number || value.text.find('.') != std::string_view::npos ||
            value.text.size() > 9)
            words.Invalid();
        const int dialect = std::stoi(std::string(value.text));
        reconfigure(c, [&] {
            FbConnectionOptions o = c.Options();
            o.sql_dialect = dialect;
            c.SetOptions(o);
        });
    }
}

void TCustomFbScriptProcessor::connect(const std::string& sql) {
    StatementWords words(sql);
    words.Next(); // CONNECT
    const std::string database = words.Value(words.Next());
    std::string user, password, role;
    for (Lexem word = words.Next(); word.kind != LexemKind::End; word = words.Next()) {
        if (word.kind != LexemKind::Identifier) words.Invalid();
        const std::string value = words.Value(words.Next());
        if (same_text_ascii_fold(word.text, "USER")) user = value;
        if (same_text_ascii_fold(word.text, "PASSWORD")) password = value;
        if (same_text_ascii_fold(word.text, "ROLE")) role = value;
    }
    TDbConnection& c = *FOwner.Connection();
    c.Close();
    c.SetUsername(user);
    c.SetPassword(password);
    c.SetDatabase(database);
    FbConnectionOptions o = c.Options();
    if (names_server(database)) {
        c.SetServer("");
        o.protocol = "_TCP";
    }
    o.role = role;
    c.SetOptions(o);
    c.Open();
}

bool TCustomFbScriptProcessor::ExecuteOwn(StatementKind kind, const std::string& sql) {
    switch (kind) {
    case StatementKind::Plain:
    case StatementKind::Definition:
    case StatementKind::DefinitionWithBody:
    case StatementKind::BlockWithBody:
        return false;
    case StatementKind::Comment:
    case StatementKind::DelimiterChange:
        return true;
    default:
        break;
    }
    TDbConnection& c = *FOwner.Connection();
    switch (kind) {
    case StatementKind::Commit: {
        TDbTransaction& t = FOwner.ScriptTransaction();
        if (!t.Active()) t.StartTransaction();
        t.Commit();
        break;
    }
    case StatementKind::CommitRetaining:
        FOwner.ScriptTransaction().CommitRetaining();
        break;
    case StatementKind::Rollback: {
        TDbTransaction& t = FOwner.ScriptTransaction();
        if (!t.Active()) t.StartTransaction();
        t.Rollback();
        break;
    }
    case StatementKind::RollbackRetaining:
        FOwner.ScriptTransaction().RollbackRetaining();
        break;
    case StatementKind::Savepoint:
        FOwner.ScriptTransaction().Savepoint(savepoint_name(sql));
        break;
    case StatementKind::ReleaseSavepoint:
        FOwner.ScriptTransaction().ReleaseSavepoint(savepoint_name(sql));
        break;
    case StatementKind::RollbackToSavepoint:
        FOwner.ScriptTransaction().RollbackToSavepoint(savepoint_name(sql));
        break;
    case StatementKind::StartTransaction:
        FOwner.ScriptTransaction().StartTransaction();
        break;
    case StatementKind::Option:
        set_option(sql);
        break;
    case StatementKind::Connect:
        connect(sql);
        break;
    case StatementKind::Reconnect:
        c.Close();
        c.Open();
        break;
    case StatementKind::CreateDatabase:
        throw Exception(not_supported("CREATE DATABASE"));
    case StatementKind::DropDatabase:
        throw Exception(not_supported("DROP DATABASE"));
    case StatementKind::BatchStart:
    case StatementKind::BatchExecute:
        throw Exception(not_supported("BATCH"));
    default:
        break;
    }
    return true;
}

// --- TDbFbScriptProcessor ---

TDbTransaction& TDbFbScriptProcessor::DdlTransaction() {
    TDbConnection* c = FOwner.Connection();
    if (!FDdlTransaction) FDdlTransaction = c->CreateTransaction();
    if (FDdlTransaction->DefaultConnection() != c) FDdlTransaction->SetDefaultConnection(c);
    return *FDdlTransaction;
}

} // namespace kv
