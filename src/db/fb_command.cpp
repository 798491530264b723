// The provider statement: text processing, prepare, execute, fetch, and the
// conversion of column values. See fb_command.h.
#include "db/fb_command.h"

#include "db/db_errors.h"
#include "db/fb_connection.h"
#include "db/fb_transaction.h"
#include "db/parser.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace kv {
namespace {

std::string_view trim_controls(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32)
        --e;
    return s.substr(b, e - b);
}

// Step 3: "--" comments become block comments; "{" is refused.
std::string expand(std::string_view text) {
    if (text.find("--") == std::string_view::npos && text.find('{') == std::string_view::npos)
        return std::string(text);
    TFbParser p;
    p.SetText(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) {
        if (l.kind == LexemKind::Comment && l.text.starts_with("--") &&
            l.text.find("*/") == std::string_view::npos) {
            out += "/*";
            out += l.text.substr(2);
            out += " */";
        } else if (l.kind == LexemKind::Symbol && l.text == "{") {
            throw Exception("Unexpected character");
        } else {
            out += l.text;
        }
    }
    return out;
}

size_t xsqlda_size(int n) {
    return offsetof(fb::XSQLDA, sqlvar) + sizeof(fb::XSQLVAR) * static_cast<size_t>(n < 1 ? 1 : n);
}

// Days since 17 November 1858 (the client's date origin) to a civil date.
void decode_date(int32_t days, int& y, int& m, int& d) {
    int64_t z = static_cast<int64_t>(days) - 40587 + 719468; // days since 0000-03-01
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

std::string date_text(int32_t days) {
    int y, m, d;
    decode_date(days, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

std::string time_text(uint32_t t) { // 1/10000 s since midnight
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%04u", t / 36000000u, t / 600000u % 60u, t / 10000u % 60u,
                  t % 10000u);
    return buf;
}

} // namespace

ProcessedText process_statement_text(std::string_view text, bool scan_params) {
    std::string expanded = expand(trim_controls(text));
    ProcessedText r;
    if (!scan_params) {
        r.native = std::move(expanded);
        return r;
    }
    r.native.reserve(expanded.size());
    TFbParser p;
    p.SetText(expanded);
    bool markers = true;
    for (Lexem l = p.Next(); l.kind != LexemKind::End; l = p.Next()) {
        if (l.kind == LexemKind::Keyword) {
            switch (l.keyword) {
            case Keyword::BEGIN:
            case Keyword::CREATE:
            case Keyword::DROP:
            case Keyword::ALTER:
            case Keyword::DECLARE:
            case Keyword::GRANT:
            case Keyword::REVOKE:
                markers = false;
                break;
            default:
                break;
            }
        }
        if (!markers || !l.is(Symbol::Colon)) {
            r.native += l.text;
            continue;
        }
        Lexem name = p.NextWithoutKeywords();
        if (name.kind == LexemKind::Identifier || name.kind == LexemKind::Number) {
            std::string_view n = name.text;
            if (n.size() >= 2 && n.front() == '"' && n.back() == '"') n = n.substr(1, n.size() - 2);
            r.params.emplace_back(n);
            r.native += '?';
        } else if (name.kind == LexemKind::End) {
            break;
        }
    }
    return r;
}

TFbRecordSet::TFbRecordSet(int columns) : FArea(xsqlda_size(columns), '\0') {
    Area()->version = fb::SQLDA_VERSION1;
    Area()->sqln = static_cast<int16_t>(columns < 1 ? 1 : columns);
}

void TFbRecordSet::Bind() {
    fb::XSQLDA* a = Area();
    size_t total = 0;
    std::vector<size_t> offsets;
    for (int i = 0; i < a->sqld; ++i) {
        fb::XSQLVAR& v = a->sqlvar[i];
        int type = v.sqltype & ~1;
        if (type == fb::SQL_BLOB || type == fb::SQL_ARRAY || type == fb::SQL_QUAD)
            throw EDataAccessError("Unsupported field type");
        size_t size = static_cast<size_t>(v.sqllen) + (type == fb::SQL_VARYING ? 2 : 0);
        total = (total + 7) & ~size_t(7);
        offsets.push_back(total);
        total += size;
    }
    FData.assign(total + 8, '\0');
    FNulls.assign(static_cast<size_t>(a->sqld), 0);
    for (int i = 0; i < a->sqld; ++i) {
        a->sqlvar[i].sqldata = FData.data() + offsets[static_cast<size_t>(i)];
        a->sqlvar[i].sqlind = &FNulls[static_cast<size_t>(i)];
    }
}

std::vector<TFbFieldDesc> TFbRecordSet::Describe() const {
    const fb::XSQLDA* a = reinterpret_cast<const fb::XSQLDA*>(FArea.data());
    std::vector<TFbFieldDesc> out;
    for (int i = 0; i < a->sqld; ++i) {
        const fb::XSQLVAR& v = a->sqlvar[i];
        TFbFieldDesc d;
        d.name.assign(v.aliasname, static_cast<size_t>(std::clamp<int16_t>(v.aliasname_length, 0, 32)));
        d.sql_type = static_cast<int16_t>(v.sqltype & ~1);
        d.scale = v.sqlscale;
        d.sub_type = v.sqlsubtype;
        d.size = v.sqllen;
        d.nullable = (v.sqltype & 1) != 0;
        out.push_back(std::move(d));
    }
    return out;
}

Variant TFbRecordSet::Value(int column, const TFbConnection& connection) const {
    const fb::XSQLDA* a = reinterpret_cast<const fb::XSQLDA*>(FArea.data());
    const fb::XSQLVAR& v = a->sqlvar[column];
    if ((v.sqltype & 1) && *v.sqlind < 0) return {};
    const char* d = v.sqldata;
    auto scaled = [&](int64_t raw) {
        return v.sqlscale == 0 ? Variant::Int64(raw)
                               : Variant::Double(static_cast<double>(raw) * std::pow(10.0, v.sqlscale));
    };
    switch (v.sqltype & ~1) {
    case fb::SQL_SHORT: {
        int16_t x;
        std::memcpy(&x, d, sizeof x);
        return v.sqlscale == 0 ? Variant::SmallInt(x) : scaled(x);
    }
    case fb::SQL_LONG: {
        int32_t x;
        std::memcpy(&x, d, sizeof x);
        return v.sqlscale == 0 ? Variant::Integer(x) : scaled(x);
    }
    case fb::SQL_INT64: {
        int64_t x;
        std::memcpy(&x, d, sizeof x);
        return scaled(x);
    }
    case fb::SQL_FLOAT: {
        float x;
        std::memcpy(&x, d, sizeof x);
        return Variant::Double(x);
    }
    case fb::SQL_DOUBLE:
    case fb::SQL_D_FLOAT: {
        double x;
        std::memcpy(&x, d, sizeof x);
        return Variant::Double(x);
    }
    case fb::SQL_TEXT:
        return Variant::String(connection.Decode(std::string_view(d, static_cast<size_t>(v.sqllen))));
    case fb::SQL_VARYING: {
        uint16_t n;
        std::memcpy(&n, d, sizeof n);
        return Variant::String(
            connection.Decode(std::string_view(d + 2, std::min<size_t>(n, static_cast<size_t>(v.sqllen)))));
    }
    case fb::SQL_BOOLEAN:
        return Variant::Boolean(*d != 0);
    case fb::SQL_TYPE_DATE: {
        int32_t x;
        std::memcpy(&x, d, sizeof x);
        return Variant::String(date_text(x));
    }
    case fb::SQL_TYPE_TIME: {
        uint32_t x;
        std::memcpy(&x, d, sizeof x);
        return Variant::String(time_text(x));
    }
    case fb::SQL_TIMESTAMP: {
        int32_t day;
        uint32_t time;
        std::memcpy(&day, d, sizeof day);
        std::memcpy(&time, d + 4, sizeof time);
        return Variant::String(date_text(day) + " " + time_text(time));
    }
    default:
        return {};
    }
}

TFbCommand::TFbCommand(TFbConnection& connection) : FConnection(connection) {}

TFbCommand::~TFbCommand() {
    Unprepare();
}

void TFbCommand::SetText(std::string_view text, bool scan_params) {
    Unprepare();
    FText = process_statement_text(text, scan_params);
}

bool TFbCommand::ReturnsRows() const noexcept {
    return FType == fb::stSelect || FType == fb::stSelectForUpdate || FType == fb::stExecProcedure;
}

void TFbCommand::Prepare(TFbTransaction& transaction) {
    Unprepare();
    if (trim_controls(FText.native).empty()) throw EDataAccessError("SQL statement cannot be empty");
    TFbClient& c = FConnection.Client();
    try {
        FConnection.Check(c.Call(c.isc_dsql_alloc_statement2, FStatus, FConnection.DbHandle(), &FStatement),
                          FStatus);
        std::string text = FConnection.Encode(FText.native);
        FConnection.Check(c.Call(c.isc_dsql_prepare, FStatus, transaction.Handle(), &FStatement, uint16_t(0),
                                 text.c_str(), static_cast<uint16_t>(FConnection.SQLDialect()),
                                 static_cast<fb::XSQLDA*>(nullptr)),
                          FStatus);
        const char item = static_cast<char>(fb::isc_info_sql_stmt_type);
        char buf[8] = {};
        FConnection.Check(
            c.Call(c.isc_dsql_sql_info, FStatus, &FStatement, int16_t(1), &item, int16_t(sizeof buf), buf),
            FStatus);
        if (static_cast<uint8_t>(buf[0]) != fb::isc_info_sql_stmt_type)
            throw EDataAccessError("SQL information exception");
        int len = c.Call(c.isc_vax_integer, buf + 1, int16_t(2));
        FType = c.Call(c.isc_vax_integer, buf + 3, static_cast<int16_t>(std::clamp(len, 0, 4)));
        if (FType == fb::stGetSegment || FType == fb::stPutSegment || FType == fb::stStartTrans)
            throw EDataAccessError("Unsupported SQL type");
        if (ReturnsRows()) describe_output();
    } catch (...) {
        Unprepare();
        throw;
    }
}

void TFbCommand::describe_output() {
    TFbClient& c = FConnection.Client();
    const uint16_t dialect = static_cast<uint16_t>(FConnection.SQLDialect());
    FOutput = std::make_unique<TFbRecordSet>(20);
    FConnection.Check(c.Call(c.isc_dsql_describe, FStatus, &FStatement, dialect, FOutput->Area()), FStatus);
    if (FOutput->Area()->sqld > FOutput->Area()->sqln) {
        FOutput = std::make_unique<TFbRecordSet>(FOutput->Area()->sqld);
        FConnection.Check(c.Call(c.isc_dsql_describe, FStatus, &FStatement, dialect, FOutput->Area()),
                          FStatus);
    }
    FOutput->Bind();
    FFields = FOutput->Describe();
}

void TFbCommand::Unprepare() noexcept {
    CloseCursor();
    if (FStatement != 0) {
        TFbClient& c = FConnection.Client();
        // Freeing cannot fail in a way the caller could act on; a lost
        // connection still frees the client's handle.
        c.Call(c.isc_dsql_free_statement, FStatus, &FStatement, uint16_t(fb::DSQL_drop));
        FStatement = 0;
    }
    FOutput.reset();
    FFields.clear();
    FType = 0;
}

void TFbCommand::CloseCursor() noexcept {
    if (!FCursorOpen) return;
    FCursorOpen = false;
    if (FStatement == 0) return;
    TFbClient& c = FConnection.Client();
    fb::StatusVector ignored{};
    c.Call(c.isc_dsql_free_statement, ignored, &FStatement, uint16_t(fb::DSQL_close));
}

void TFbCommand::Execute(TFbTransaction& transaction, const std::vector<Variant>& params) {
    CloseCursor();
    TFbClient& c = FConnection.Client();
    const uint16_t dialect = static_cast<uint16_t>(FConnection.SQLDialect());

    // Input values go as text, 64-bit integers or doubles; the server converts.
    std::vector<char> in_area;
    std::vector<std::string> texts;
    std::vector<int64_t> ints;
    std::vector<double> doubles;
    std::vector<int16_t> nulls;
    fb::XSQLDA* in = nullptr;
    if (!FText.params.empty()) {
        size_t n = FText.params.size();
        in_area.assign(xsqlda_size(static_cast<int>(n)), '\0');
        in = reinterpret_cast<fb::XSQLDA*>(in_area.data());
        in->version = fb::SQLDA_VERSION1;
        in->sqln = in->sqld = static_cast<int16_t>(n);
        texts.resize(n);
        ints.resize(n);
        doubles.resize(n);
        nulls.assign(n, 0);
        for (size_t i = 0; i < n; ++i) {
            fb::XSQLVAR& v = in->sqlvar[i];
            const Variant value = i < params.size() ? params[i] : Variant();
            v.sqlind = &nulls[i];
            if (value.IsNull()) {
                nulls[i] = -1;
                v.sqltype = fb::SQL_TEXT + 1;
                v.sqldata = texts[i].data();
            } else if (value.IsInteger() || value.type() == Variant::Type::Boolean) {
                ints[i] = value.AsInt64();
                v.sqltype = fb::SQL_INT64 + 1;
                v.sqllen = sizeof(int64_t);
                v.sqldata = reinterpret_cast<char*>(&ints[i]);
            } else if (value.type() == Variant::Type::Double) {
                doubles[i] = value.AsDouble();
                v.sqltype = fb::SQL_DOUBLE + 1;
                v.sqllen = sizeof(double);
                v.sqldata = reinterpret_cast<char*>(&doubles[i]);
            } else {
                texts[i] = FConnection.Encode(value.AsString());
                v.sqltype = fb::SQL_TEXT + 1;
                v.sqllen = static_cast<int16_t>(std::min<size_t>(texts[i].size(), 32767));
                v.sqldata = texts[i].data();
            }
        }
    }

    switch (FType) {
    case fb::stSelect:
    case fb::stSelectForUpdate:
        FConnection.Check(c.Call(c.isc_dsql_execute2, FStatus, transaction.Handle(), &FStatement, dialect,
                                 static_cast<const fb::XSQLDA*>(in), static_cast<const fb::XSQLDA*>(nullptr)),
                          FStatus);
        FCursorOpen = true;
        if (FType == fb::stSelectForUpdate) {
            char name[32];
            std::snprintf(name, sizeof name, "C%u", static_cast<unsigned>(FStatement));
            FConnection.Check(c.Call(c.isc_dsql_set_cursor_name, FStatus, &FStatement,
                                     static_cast<const char*>(name), uint16_t(0)),
                              FStatus);
        }
        break;
    case fb::stExecProcedure:
        FConnection.Check(c.Call(c.isc_dsql_execute2, FStatus, transaction.Handle(), &FStatement, dialect,
                                 static_cast<const fb::XSQLDA*>(in),
                                 static_cast<const fb::XSQLDA*>(FOutput->Area())),
                          FStatus);
        break;
    default:
        FConnection.Check(c.Call(c.isc_dsql_execute, FStatus, transaction.Handle(), &FStatement, dialect,
                                 static_cast<const fb::XSQLDA*>(in)),
                          FStatus);
    }
}

bool TFbCommand::Fetch() {
    if (!FCursorOpen) return false;
    TFbClient& c = FConnection.Client();
    fb::ISC_STATUS r =
        c.Call(c.isc_dsql_fetch, FStatus, &FStatement, static_cast<uint16_t>(FConnection.SQLDialect()),
               static_cast<const fb::XSQLDA*>(FOutput->Area()));
    if (r == 0) return true;
    if (r == 100) {
        CloseCursor();
        return false;
    }
    FConnection.FbError(FStatus);
}

Variant TFbCommand::Value(int column) const {
    return FOutput->Value(column, FConnection);
}

int64_t TFbCommand::RowsAffected() {
    if (FStatement == 0) return 0;
    TFbClient& c = FConnection.Client();
    const char item = 23; // isc_info_sql_records
    char buf[64] = {};
    FConnection.Check(
        c.Call(c.isc_dsql_sql_info, FStatus, &FStatement, int16_t(1), &item, int16_t(sizeof buf), buf),
        FStatus);
    if (buf[0] != item) return 0;
    int64_t total = 0;
    const char* p = buf + 3;
    const char* end = buf + sizeof buf;
    while (p + 3 <= end && static_cast<uint8_t>(*p) != fb::isc_info_end) {
        uint8_t code = static_cast<uint8_t>(*p);
        int len = c.Call(c.isc_vax_integer, p + 1, int16_t(2));
        if (len < 0 || p + 3 + len > end) break;
        int64_t count = c.Call(c.isc_vax_integer, p + 3, static_cast<int16_t>(len));
        if (code == 14 || code == 15 || code == 16)
            total += count; // insert, update, delete counts (13: select)
        p += 3 + len;
    }
    return total;
}

} // namespace kv
