// The query and command components. See db_query.h.
#include "db/db_query.h"

#include "rtl/in_any_case.h"
#include "rtl/text.h"

namespace kv {
namespace {

TDbConnection& connected(TDbConnection* c) {
    if (!c) throw EDatabaseError("Connection is not defined");
    if (!c->Connected()) c->Open(); // implicit connect
    return *c;
}

TDbTransaction& transaction_for(TDbTransaction* own, TDbConnection& c) {
    return own ? *own : c.UsedTransaction();
}

} // namespace

bool TDbParams::SetValue(const std::string& name, Variant value) {
    bool found = false;
    for (size_t i = 0; i < FNames.size(); ++i)
        if (same_text_ascii_fold(FNames[i], name)) {
            FValues[i] = value;
            found = true;
        }
    return found;
}

void TDbParams::Reset(const std::vector<std::string>& names) {
    std::vector<Variant> values(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        for (size_t j = 0; j < FNames.size(); ++j)
            if (same_text_ascii_fold(FNames[j], names[i])) values[i] = FValues[j];
    FNames = names;
    FValues = std::move(values);
}

Variant TDbField::AsVariant() const {
    return FQuery.value(FIndex);
}

TDbQuery::TDbQuery(std::string name) : Name(std::move(name)) {}

TDbQuery::~TDbQuery() {
    Close();
    SetConnection(nullptr);
}

void TDbQuery::SetConnection(TDbConnection* c) {
    if (c == FConnection) return;
    Close();
    if (FConnection) FConnection->RemoveUser(this);
    FConnection = c;
    if (c) c->AddUser(this);
}

void TDbQuery::SetTransaction(TDbTransaction* t) {
    if (t == FTransaction) return;
    Close();
    FTransaction = t;
}

void TDbQuery::SetSQL(std::string text) {
    Close();
    FSQL = std::move(text);
    FParams.Reset(process_statement_text(FSQL).params);
}

TDbTransaction& TDbQuery::used_transaction() {
    return transaction_for(FTransaction, *FConnection);
}

void TDbQuery::Open() {
    if (FActive) return;
    TDbConnection& c = connected(FConnection);
    TDbTransaction& t = used_transaction();
    t.BeginUse();
    in_any_case(
        [&] {
            try {
                FCommand = std::make_unique<TFbCommand>(c.Provider());
                c.Wrap([&] {
                    FCommand->SetText(FSQL);
                    FCommand->Prepare(t.Provider());
                    for (size_t i = 0; i < FCommand->Fields().size(); ++i)
                        FFields.emplace_back(new TDbField(*this, static_cast<int>(i), FCommand->Fields()[i]));
                    FCommand->Execute(t.Provider(), FParams.Values());
                });
                if (!FCommand->IsSelect()) t.AfterExecute(c.AutoCommit && AutoCommit);
                FUsing = &t;
                t.AddUser(this);
                FActive = true;
                if (FCommand->ReturnsRows() && !FCommand->CursorOpen()) {
                    // an executed procedure: its one row of results
                    for (int i = 0; i < FieldCount(); ++i)
                        FRows.push_back(FCommand->Value(i));
                    FRowCount = 1;
                } else {
                    fetch_block();
                }
            } catch (...) {
                Close();
                throw;
            }
        },
        [&] { t.EndUse(); });
}

void TDbQuery::fetch_block() {
    if (!FCommand || !FCommand->CursorOpen()) return;
    TDbConnection& c = *FConnection;
    const int n = FieldCount();
    if (UniDirectional) {
        FRows.clear();
        FRowBase = FRowCount;
    }
    c.Wrap([&] {
        for (int i = 0; i < FetchRows && FCommand->Fetch(); ++i) {
            for (int col = 0; col < n; ++col)
                FRows.push_back(FCommand->Value(col));
            ++FRowCount;
        }
    });
}

void TDbQuery::Next() {
    if (FRecNo < FRowCount) ++FRecNo;
    if (FRecNo >= FRowCount) fetch_block();
}

void TDbQuery::Close() noexcept {
    if (FUsing) FUsing->RemoveUser(this);
    FUsing = nullptr;
    FCommand.reset(); // closes the cursor and frees the statement
    FFields.clear();
    FRows.clear();
    FRowBase = 0;
    FRowCount = 0;
    FRecNo = 0;
    FActive = false;
}

TDbField* TDbQuery::FindField(const std::string& name) {
    for (auto& f : FFields)
        if (same_text_ascii_fold(f->FieldName(), name)) return f.get();
    return nullptr;
}

TDbField& TDbQuery::FieldByName(const std::string& name) {
    if (TDbField* f = FindField(name)) return *f;
    throw EDatabaseError(Name + ": Field '" + name + "' not found");
}

Variant TDbQuery::value(int column) const {
    if (!FActive || FRecNo >= FRowCount) return {};
    return FRows[static_cast<size_t>(FRecNo - FRowBase) * FFields.size() + static_cast<size_t>(column)];
}

TDbSQL::TDbSQL(std::string name) : Name(std::move(name)) {}

TDbSQL::~TDbSQL() = default;

void TDbSQL::SetConnection(TDbConnection* c) {
    FConnection = c;
}

void TDbSQL::SetTransaction(TDbTransaction* t) {
    FTransaction = t;
}

void TDbSQL::SetSQL(std::string text) {
    FSQL = std::move(text);
    FText = process_statement_text(FSQL, ParamCheck);
    FParams.Reset(FText.params);
}

void TDbSQL::Execute() {
    TDbConnection& c = connected(FConnection);
    TDbTransaction& t = transaction_for(FTransaction, c);
    FRowsAffected = 0;
    FStatementType = 0;
    t.BeginUse();
    in_any_case(
        [&] {
            bool select = false;
            {
                TFbCommand cmd(c.Provider());
                c.Wrap([&] {
                    cmd.SetText(FSQL, ParamCheck);
                    cmd.Prepare(t.Provider());
                    FStatementType = cmd.StatementType();
                    cmd.Execute(t.Provider(), FParams.Values());
                    select = cmd.IsSelect();
                    if (!select) FRowsAffected = cmd.RowsAffected();
                });
            }
            if (!select) t.AfterExecute(c.AutoCommit && AutoCommit);
        },
        [&] { t.EndUse(); });
}

} // namespace kv
