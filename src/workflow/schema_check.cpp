// The 2027 schema check. The expected objects come from reading the upgrade
// script's statements (cut by the script runner's own splitter, lexed by its
// lexer); the database's side comes from its system tables. See
// schema_check.h.
#include "workflow/schema_check.h"

#include "db/db_query.h"
#include "db/parser.h"
#include "db/script_splitter.h"
#include "rtl/exception.h"
#include "rtl/text.h"
#include "workflow/upgrade_script.h"

#include <map>

namespace kv {
namespace {

// The statement's words and symbols, blanks and comments left out;
// identifiers and keywords in upper case, strings as written.
std::vector<std::string> words_of(const std::string& statement) {
    TFbParser parser;
    parser.SetText(statement);
    std::vector<std::string> words;
    for (Lexem l = parser.Next(); l.kind != LexemKind::End; l = parser.Next()) {
        if (l.is_space()) continue;
        words.push_back(l.kind == LexemKind::String ? std::string(l.text) : ascii_upper(l.text));
    }
    return words;
}

bool starts_with(const std::vector<std::string>& w, std::initializer_list<const char*> head) {
    size_t i = 0;
    for (const char* h : head)
        if (i >= w.size() || w[i++] != h) return false;
    return true;
}

bool ends_a_type(const std::string& word) {
    for (const char* stop : {"DEFAULT", "NOT", "NULL", "CHARACTER", "COLLATE", "CHECK", "CONSTRAINT",
                             "PRIMARY", "UNIQUE", "REFERENCES", ",", ")", ";"})
        if (word == stop) return true;
    return false;
}

// The type that starts at w[i], in the form the database's side is written
// in (see type_in_database): "VARCHAR(12)", "NUMERIC(18,2)", "BLOB SUB_TYPE
// TEXT". Moves i past it.
std::string type_at(const std::vector<std::string>& w, size_t& i) {
    std::string type;
    if (i < w.size()) type = w[i++] == "INT" ? "INTEGER" : w[i - 1];
    if (i < w.size() && w[i] == "(") {
        std::string args;
        for (++i; i < w.size() && w[i] != ")"; ++i)
            args += w[i];
        ++i;
        if ((type == "NUMERIC" || type == "DECIMAL") && args.find(',') == std::string::npos) args += ",0";
        type += "(" + args + ")";
    }
    if (type == "BLOB") {
        std::string sub = "BINARY";
        if (i + 1 < w.size() && w[i] == "SUB_TYPE") {
            sub = w[i + 1] == "1" ? "TEXT" : w[i + 1] == "0" ? "BINARY" : w[i + 1];
            i += 2;
        }
        type += " SUB_TYPE " + sub;
    }
    while (i < w.size() && !ends_a_type(w[i]))
        type += " " + w[i++];
    return type;
}

// The columns of a CREATE TABLE's list, which starts after the "(" at w[i];
// table constraints are left out.
std::vector<std::pair<std::string, std::string>> columns_at(const std::vector<std::string>& w, size_t i) {
    std::vector<std::pair<std::string, std::string>> columns;
    while (i < w.size() && w[i] != ")") {
        const bool constraint = w[i] == "CONSTRAINT" || w[i] == "PRIMARY" || w[i] == "UNIQUE" ||
                                w[i] == "CHECK" || w[i] == "FOREIGN";
        if (!constraint) {
            const std::string name = w[i++];
            columns.emplace_back(name, type_at(w, i));
        }
        // The rest of the item, parentheses and all, up to the comma that ends it.
        for (int depth = 0; i < w.size(); ++i) {
            if (w[i] == "(") ++depth;
            if (w[i] == ")" && depth-- == 0) break;
            if (w[i] == "," && depth == 0) {
                ++i;
                break;
            }
        }
    }
    return columns;
}

std::vector<SchemaObject> objects_of_script() {
    std::vector<SchemaObject> objects;
    ScriptSplitter splitter;
    splitter.Start(prepare_script_text(upgrade_script()), ";");
    for (ScriptStatement st; splitter.Next(st);) {
        if (st.empty()) continue;
        const std::vector<std::string> w = words_of(st.text);
        using K = SchemaObjectKind;
        if (starts_with(w, {"CREATE", "OR", "ALTER", "TRIGGER"}) && w.size() > 8 && w[5] == "FOR") {
            objects.push_back({K::Trigger, w[4], w[6], w[7] == "ACTIVE", {}});
        } else if (starts_with(w, {"CREATE", "OR", "ALTER", "EXCEPTION"}) && w.size() > 4) {
            objects.push_back({K::Exception, w[4], {}, true, {}});
        } else if (starts_with(w, {"CREATE", "OR", "ALTER", "PROCEDURE"}) && w.size() > 4) {
            objects.push_back({K::Procedure, w[4], {}, true, {}});
        } else if (starts_with(w, {"CREATE", "TABLE"}) && w.size() > 4 && w[3] == "(") {
            objects.push_back({K::Table, w[2], {}, true, columns_at(w, 4)});
        } else if (starts_with(w, {"ALTER", "TABLE"}) && w.size() > 7 && w[3] == "ALTER" &&
                   w[4] == "COLUMN" && w[6] == "TYPE") {
            size_t at = 7;
            objects.push_back({K::Column, w[2] + "." + w[5], w[2], true, {{w[5], type_at(w, at)}}});
        } else if (starts_with(w, {"CREATE", "INDEX"}) && w.size() > 4 && w[3] == "ON") {
            objects.push_back({K::Index, w[2], w[4], true, {}});
        } else if ((starts_with(w, {"CREATE", "SEQUENCE"}) || starts_with(w, {"CREATE", "GENERATOR"})) &&
                   w.size() > 2) {
            objects.push_back({K::Sequence, w[2], {}, true, {}});
        } else if (starts_with(w, {"INSERT", "INTO"}) && w.size() > 4 && w[3] == "(") {
            // The row is known by its first column's value.
            size_t values = 4;
            while (values < w.size() && w[values] != "VALUES")
                ++values;
            if (values + 2 < w.size()) objects.push_back({K::Row, w[2], {}, true, {{w[4], w[values + 2]}}});
        }
    }
    return objects;
}

// "'text'" as an SQL string literal.
std::string literal(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

// Every row of `sql`, its values trimmed of the blanks the system tables pad
// names with.
std::vector<std::vector<Variant>> rows_of(TDbConnection& c, const std::string& sql) {
    TDbQuery q;
    q.SetConnection(&c);
    q.SetSQL(sql);
    q.Open();
    std::vector<std::vector<Variant>> rows;
    for (; !q.Eof(); q.Next()) {
        std::vector<Variant> row;
        for (int i = 0; i < q.FieldCount(); ++i) {
            Variant v = q.Fields(i).AsVariant();
            row.push_back(v.type() == Variant::Type::String ? Variant::String(trim(v.AsString())) : v);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// A column's type from RDB$FIELDS, written as type_at writes the script's.
std::string type_in_database(const std::vector<Variant>& f) {
    const int64_t type = f[1].AsInt64(), sub = f[2].AsInt64(), length = f[3].AsInt64();
    const int64_t precision = f[4].AsInt64(), scale = -f[5].AsInt64();
    if ((type == 7 || type == 8 || type == 16) && (sub == 1 || sub == 2))
        return std::string(sub == 1 ? "NUMERIC(" : "DECIMAL(") + std::to_string(precision) + "," +
               std::to_string(scale) + ")";
    switch (type) {
    case 7:
        return "SMALLINT";
    case 8:
        return "INTEGER";
    case 16:
        return "BIGINT";
    case 10:
        return "FLOAT";
    case 27:
        return "DOUBLE PRECISION";
    case 12:
        return "DATE";
    case 13:
        return "TIME";
    case 35:
        return "TIMESTAMP";
    case 23:
        return "BOOLEAN";
    case 14:
        return "CHAR(" + std::to_string(length) + ")";
    case 37:
        return "VARCHAR(" + std::to_string(length) + ")";
    case 261:
        return "BLOB SUB_TYPE " + (sub == 1   ? std::string("TEXT")
                                   : sub == 0 ? "BINARY"
                                              : std::to_string(sub));
    default:
        return "type " + std::to_string(type);
    }
}

std::map<std::string, std::string> columns_in_database(TDbConnection& c, const std::string& table) {
    std::map<std::string, std::string> columns;
    for (const auto& f :
         rows_of(c, "select rf.rdb$field_name, f.rdb$field_type, f.rdb$field_sub_type, "
                    "f.rdb$character_length, f.rdb$field_precision, f.rdb$field_scale "
                    "from rdb$relation_fields rf join rdb$fields f "
                    "on f.rdb$field_name = rf.rdb$field_source where rf.rdb$relation_name = " +
                        literal(table)))
        columns[f[0].AsString()] = type_in_database(f);
    return columns;
}

// What differs between the columns the script gives and the database's.
std::vector<std::string> column_differences(const std::vector<std::pair<std::string, std::string>>& expected,
                                            const std::map<std::string, std::string>& present) {
    std::vector<std::string> out;
    for (const auto& [name, type] : expected) {
        const auto found = present.find(name);
        if (found == present.end())
            out.push_back("column " + name + " missing");
        else if (found->second != type)
            out.push_back("column " + name + " is " + found->second + ", not " + type);
    }
    return out;
}

std::string joined_texts(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

// The object's difference, or empty when the database holds it as the script makes it.
std::string difference(TDbConnection& c, const SchemaObject& o) {
    using K = SchemaObjectKind;
    const std::string name = literal(o.name);
    switch (o.kind) {
    case K::Trigger: {
        const auto rows = rows_of(c, "select rdb$relation_name, coalesce(rdb$trigger_inactive, 0) "
                                     "from rdb$triggers where rdb$trigger_name = " +
                                         name);
        if (rows.empty()) return "trigger " + o.name + " missing";
        std::vector<std::string> wrong;
        if (rows[0][0].AsString() != o.relation)
            wrong.push_back("on " + rows[0][0].AsString() + ", not " + o.relation);
        if ((rows[0][1].AsInt64() == 0) != o.active) wrong.push_back(o.active ? "inactive" : "active");
        return wrong.empty() ? "" : "trigger " + o.name + ": " + joined_texts(wrong);
    }
    case K::Exception:
        return rows_of(c, "select 1 from rdb$exceptions where rdb$exception_name = " + name).empty()
                   ? "exception " + o.name + " missing"
                   : "";
    case K::Procedure:
        return rows_of(c, "select 1 from rdb$procedures where rdb$procedure_name = " + name).empty()
                   ? "procedure " + o.name + " missing"
                   : "";
    case K::Sequence:
        return rows_of(c, "select 1 from rdb$generators where rdb$generator_name = " + name).empty()
                   ? "sequence " + o.name + " missing"
                   : "";
    case K::Index: {
        const auto rows =
            rows_of(c, "select rdb$relation_name from rdb$indices where rdb$index_name = " + name);
        if (rows.empty()) return "index " + o.name + " missing";
        if (rows[0][0].AsString() != o.relation)
            return "index " + o.name + ": on " + rows[0][0].AsString() + ", not " + o.relation;
        return "";
    }
    case K::Table: {
        if (rows_of(c, "select 1 from rdb$relations where rdb$relation_name = " + name).empty())
            return "table " + o.name + " missing";
        const auto wrong = column_differences(o.columns, columns_in_database(c, o.name));
        return wrong.empty() ? "" : "table " + o.name + ": " + joined_texts(wrong);
    }
    case K::Column: {
        const auto wrong = column_differences(o.columns, columns_in_database(c, o.relation));
        return wrong.empty() ? "" : "table " + o.relation + ": " + joined_texts(wrong);
    }
    case K::Row:
        return holds_row(c, o) ? ""
                               : "row of " + o.name + " with " + o.columns[0].first + " " +
                                     o.columns[0].second + " missing";
    }
    return "";
}

} // namespace

const std::vector<SchemaObject>& upgrade_schema_objects() {
    static const std::vector<SchemaObject> objects = objects_of_script();
    return objects;
}

const SchemaObject& invoice_settings_default_row() {
    for (const SchemaObject& o : upgrade_schema_objects())
        if (o.kind == SchemaObjectKind::Row && o.name == "FATURABILGI") return o;
    throw Exception("The upgrade script has no default row of FATURABILGI");
}

bool holds_row(TDbConnection& c, const SchemaObject& row) {
    if (rows_of(c, "select 1 from rdb$relations where rdb$relation_name = " + literal(row.name)).empty())
        return false;
    return !rows_of(c, "select first 1 1 from " + row.name + " where " + row.columns[0].first + " = " +
                           row.columns[0].second)
                .empty();
}

bool inserts_into(const std::string& statement, const SchemaObject& row) {
    const std::vector<std::string> w = words_of(statement);
    return starts_with(w, {"INSERT", "INTO"}) && w.size() > 2 && w[2] == row.name;
}

std::vector<std::string> missing_2027_objects(TDbConnection& c) {
    std::vector<std::string> missing;
    for (const SchemaObject& o : upgrade_schema_objects())
        if (std::string d = difference(c, o); !d.empty()) missing.push_back(std::move(d));
    return missing;
}

} // namespace kv
