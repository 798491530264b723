// What the provider connection asks the database: its SQL dialect after the
// attach, and the server's kind and version texts with the numbers read from
// them. See fb_connection.h.
#include "db/fb_connection.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kv {

void TFbConnection::read_dialect() {
    const char item = static_cast<char>(fb::isc_info_db_sql_dialect);
    char buf[32] = {};
    Check(FClient->Call(FClient->isc_database_info, FStatus, &FHandle, int16_t(1), &item, int16_t(sizeof buf),
                        buf),
          FStatus);
    if (static_cast<uint8_t>(buf[0]) != fb::isc_info_db_sql_dialect) return;
    int len = FClient->Call(FClient->isc_vax_integer, buf + 1, int16_t(2));
    int dialect = FClient->Call(FClient->isc_vax_integer, buf + 3, static_cast<int16_t>(len));
    if (dialect > 0 && dialect < FDialect) FDialect = dialect;
}

std::vector<std::string> TFbConnection::info_strings(uint8_t item) {
    const char request = static_cast<char>(item);
    char buf[512] = {};
    Check(FClient->Call(FClient->isc_database_info, FStatus, &FHandle, int16_t(1), &request,
                        int16_t(sizeof buf), buf),
          FStatus);
    std::vector<std::string> out;
    if (static_cast<uint8_t>(buf[0]) != item) return out;
    int len = FClient->Call(FClient->isc_vax_integer, buf + 1, int16_t(2));
    if (len <= 0 || len > static_cast<int>(sizeof buf) - 3) return out;
    const char* p = buf + 3;
    const char* end = p + len;
    int count = static_cast<uint8_t>(*p++);
    for (int i = 0; i < count && p < end; ++i) {
        size_t n = static_cast<uint8_t>(*p++);
        n = std::min<size_t>(n, static_cast<size_t>(end - p));
        out.emplace_back(p, n);
        p += n;
    }
    return out;
}

const std::string& TFbConnection::ServerVersionText() {
    if (!FVersionRead) {
        auto fb = info_strings(fb::isc_info_firebird_version);
        FIsFBServer = !fb.empty() && !fb[0].empty();
        if (FIsFBServer)
            FServerVersion = fb[0];
        else {
            auto v = info_strings(fb::isc_info_version);
            FServerVersion = v.empty() ? std::string() : v[0];
        }
        FVersionRead = true;
    }
    return FServerVersion;
}

bool TFbConnection::IsFBServer() {
    ServerVersionText();
    return FIsFBServer;
}

// "LI-V3.0.11.33637 Firebird 3.0": the number before the first "." (one or
// two digits) and the digit after it.
int TFbConnection::GetMajorServerVersion() {
    const std::string& v = ServerVersionText();
    size_t dot = v.find('.');
    if (dot == std::string::npos || dot == 0) return 0;
    size_t from = dot;
    while (from > 0 && from > dot - 2 && std::isdigit(static_cast<unsigned char>(v[from - 1])))
        --from;
    return std::atoi(v.substr(from, dot - from).c_str());
}

int TFbConnection::GetMinorServerVersion() {
    const std::string& v = ServerVersionText();
    size_t dot = v.find('.');
    if (dot == std::string::npos || dot + 1 >= v.size() ||
        !std::isdigit(static_cast<unsigned char>(v[dot + 1])))
        return 0;
    return v[dot + 1] - '0';
}

} // namespace kv
