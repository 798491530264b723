// The provider transaction: parameter buffer and client calls. See
// fb_transaction.h.
#include "db/fb_transaction.h"

#include "db/fb_connection.h"
#include "rtl/exception.h"
#include "rtl/text.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace kv {
namespace {

enum class TpbKind { Flag, Integer, Text };
struct TpbName {
    const char* name;
    TpbKind kind;
    uint8_t code;
};

// The isc_tpb_ names with their codes; "wait_time" is InterBase's name for
// the lock timeout and is mapped by server kind below.
constexpr TpbName kTpbNames[] = {
    {"consistency", TpbKind::Flag, 1},
    {"concurrency", TpbKind::Flag, 2},
    {"shared", TpbKind::Flag, 3},
    {"protected", TpbKind::Flag, 4},
    {"exclusive", TpbKind::Flag, 5},
    {"wait", TpbKind::Flag, 6},
    {"nowait", TpbKind::Flag, 7},
    {"read", TpbKind::Flag, 8},
    {"write", TpbKind::Flag, 9},
    {"lock_read", TpbKind::Text, 10},
    {"lock_write", TpbKind::Text, 11},
    {"verb_time", TpbKind::Flag, 12},
    {"commit_time", TpbKind::Flag, 13},
    {"ignore_limbo", TpbKind::Flag, 14},
    {"read_committed", TpbKind::Flag, 15},
    {"autocommit", TpbKind::Flag, 16},
    {"rec_version", TpbKind::Flag, 17},
    {"no_rec_version", TpbKind::Flag, 18},
    {"restart_requests", TpbKind::Flag, 19},
    {"no_auto_undo", TpbKind::Flag, 20},
    {"lock_timeout", TpbKind::Integer, 21},
    {"read_consistency", TpbKind::Flag, 22},
    {"at_snapshot_number", TpbKind::Integer, 23},
    {"auto_release_temp_blobid", TpbKind::Flag, 24},
};

} // namespace

std::string fb_build_tpb(const TpbParams& p) {
    std::string b(1, static_cast<char>(fb::isc_tpb_version3));
    std::set<uint8_t> written;
    auto flag = [&](uint8_t code) {
        written.insert(code);
        b += static_cast<char>(code);
    };
    if (p.isolation != TDbIsolationLevel::ilCustom) {
        switch (p.isolation) {
        case TDbIsolationLevel::ilReadCommitted:
            flag(fb::isc_tpb_read_committed);
            flag(p.server_is_firebird && p.server_major >= 4 && p.use_read_consistency
                     ? fb::isc_tpb_read_consistency
                     : fb::isc_tpb_rec_version);
            break;
        case TDbIsolationLevel::ilRepeatableRead:
        case TDbIsolationLevel::ilSnapshot:
            flag(fb::isc_tpb_concurrency);
            break;
        case TDbIsolationLevel::ilIsolated:
            flag(fb::isc_tpb_consistency);
            break;
        case TDbIsolationLevel::ilReadUnCommitted:
            throw Exception("Unsupported transaction isolation level");
        case TDbIsolationLevel::ilCustom:
            break;
        }
        flag(p.wait_mode ? fb::isc_tpb_wait : fb::isc_tpb_nowait);
        flag(p.read_only ? fb::isc_tpb_read : fb::isc_tpb_write);
    }
    std::vector<std::string> lines = p.params;
    if (p.lock_timeout != 0 && p.wait_mode) {
        if (p.server_is_firebird && p.server_major >= 2)
            lines.insert(lines.begin(), "lock_timeout=" + std::to_string(p.lock_timeout));
        else if (!p.server_is_firebird && p.server_major >= 13)
            lines.insert(lines.begin(), "wait_time=" + std::to_string(p.lock_timeout));
    }
    for (const std::string& line : lines) {
        size_t eq = line.find('=');
        std::string name = ascii_lower(trim(line.substr(0, eq)));
        std::string value = eq == std::string::npos ? std::string() : trim(line.substr(eq + 1));
        if (name.empty()) continue;
        if (name == "wait_time" && p.server_is_firebird) name = "lock_timeout";
        const TpbName* d = nullptr;
        for (const TpbName& n : kTpbNames)
            if (name == n.name) d = &n;
        if (!d) throw Exception("Unknown TPB constant (" + name + ")");
        if (written.count(d->code)) continue;
        written.insert(d->code);
        b += static_cast<char>(d->code);
        if (d->kind == TpbKind::Flag) continue;
        std::string bytes = value;
        if (d->kind == TpbKind::Integer) {
            uint32_t v = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
            int n = v < 256 ? 1 : v < 65536 ? 2 : 4;
            bytes.clear();
            for (int i = 0; i < n; ++i)
                bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
        b += static_cast<char>(std::min<size_t>(bytes.size(), 255));
        b.append(bytes.substr(0, 255));
    }
    return b;
}

void TFbTransaction::AddConnection(TFbConnection* c) {
    if (std::find(FConnections.begin(), FConnections.end(), c) == FConnections.end())
        FConnections.push_back(c);
}

void TFbTransaction::RemoveConnection(TFbConnection* c) {
    std::erase(FConnections, c);
}

TFbConnection& TFbTransaction::Connection() const {
    if (FConnections.empty()) throw Exception("There are no connections in the transaction");
    return *FConnections.front();
}

void TFbTransaction::StartTransaction() {
    if (Active()) throw Exception("Can't perform operation on active transaction");
    if (FConnections.empty()) throw Exception("There are no connections in the transaction");
    std::vector<std::string> tpbs;
    std::vector<fb::TransactionBlock> blocks;
    tpbs.reserve(FConnections.size());
    for (TFbConnection* c : FConnections) {
        if (!c->IsConnected()) throw Exception("Can't start transaction with closed connection");
        TpbParams p;
        p.isolation = IsolationLevel;
        p.read_only = ReadOnly;
        p.wait_mode = WaitMode;
        p.lock_timeout = LockTimeout;
        p.params = Params;
        p.server_is_firebird = c->IsFBServer();
        p.server_major = c->GetMajorServerVersion();
        tpbs.push_back(fb_build_tpb(p));
    }
    for (size_t i = 0; i < FConnections.size(); ++i)
        blocks.push_back(
            {FConnections[i]->DbHandle(), static_cast<fb::ISC_LONG>(tpbs[i].size()), tpbs[i].data()});
    TFbConnection& c = Connection();
    fb::ISC_STATUS r = c.Client().Call(c.Client().isc_start_multiple, FStatus, &FHandle,
                                       static_cast<int16_t>(blocks.size()), blocks.data());
    if (r > 0) {
        FHandle = 0;
        c.FbError(FStatus);
    }
}

void TFbTransaction::Commit() {
    TFbConnection& c = Connection();
    fb::ISC_STATUS r = c.Client().Call(c.Client().isc_commit_transaction, FStatus, &FHandle);
    if (r > 0) {
        // The transaction is still live after a failed commit: undo it so
        // that it ends either way, and let the commit's error go on.
        fb::StatusVector ignored{};
        if (c.Client().Call(c.Client().isc_rollback_transaction, ignored, &FHandle) > 0) FHandle = 0;
        try {
            c.FbError(FStatus);
        } catch (...) {
            FHandle = 0;
            throw;
        }
    }
    FHandle = 0;
}

void TFbTransaction::CommitRetaining() {
    TFbConnection& c = Connection();
    c.Check(c.Client().Call(c.Client().isc_commit_retaining, FStatus, &FHandle), FStatus);
}

void TFbTransaction::Rollback() {
    TFbConnection& c = Connection();
    fb::ISC_STATUS r = c.Client().Call(c.Client().isc_rollback_transaction, FStatus, &FHandle);
    FHandle = 0;
    c.Check(r, FStatus);
}

void TFbTransaction::RollbackRetaining() {
    TFbConnection& c = Connection();
    c.Check(c.Client().Call(c.Client().isc_rollback_retaining, FStatus, &FHandle), FStatus);
}

void TFbTransaction::ExecuteImmediate(const std::string& sql) {
    TFbConnection& c = Connection();
    std::string text = c.Encode(sql);
    c.Check(c.Client().Call(c.Client().isc_dsql_execute_immediate, FStatus, c.DbHandle(), &FHandle,
                            uint16_t(0), text.c_str(), static_cast<uint16_t>(c.SQLDialect()),
                            static_cast<const fb::XSQLDA*>(nullptr)),
            FStatus);
}

} // namespace kv
