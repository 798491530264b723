// The services API: attach, start a backup, read its output. See fb_service.h.
#include "db/fb_service.h"

#include <cstring>
#include <vector>

namespace kv {
namespace {

void add_short_item(std::string& spb, uint8_t tag, const std::string& value) {
    spb += static_cast<char>(tag);
    spb += static_cast<char>(value.size() & 0xff);
    spb += value.substr(0, 255);
}

void add_long_item(std::string& spb, uint8_t tag, const std::string& value) {
    spb += static_cast<char>(tag);
    spb += static_cast<char>(value.size() & 0xff);
    spb += static_cast<char>((value.size() >> 8) & 0xff);
    spb += value;
}

} // namespace

TFbService::TFbService(TFbConnection& connection, const std::string& server, const std::string& user,
                       const std::string& password)
    : FConnection(connection) {
    std::string spb{static_cast<char>(fb::isc_spb_version), static_cast<char>(fb::isc_spb_current_version)};
    add_short_item(spb, fb::isc_spb_user_name, user);
    add_short_item(spb, fb::isc_spb_password, password);
    if (!connection.Options().config_overrides.empty())
        add_short_item(spb, fb::isc_spb_config, connection.Options().config_overrides);
    const std::string name = FConnection.Encode(server.empty() ? "service_mgr" : server + ":service_mgr");
    const TFbClient& c = FConnection.Client();
    FConnection.Check(c.Call(c.isc_service_attach, FStatus, static_cast<uint16_t>(name.size()), name.c_str(),
                             &FHandle, static_cast<uint16_t>(spb.size()), spb.data()),
                      FStatus, false);
}

TFbService::~TFbService() {
    if (!FHandle) return;
    fb::StatusVector status{};
    const TFbClient& c = FConnection.Client();
    c.Call(c.isc_service_detach, status, &FHandle);
}

void TFbService::StartBackup(const std::string& database, const std::string& file) {
    std::string spb(1, static_cast<char>(fb::isc_action_svc_backup));
    add_long_item(spb, fb::isc_spb_dbname, FConnection.Encode(database));
    add_long_item(spb, fb::isc_spb_bkp_file, FConnection.Encode(file));
    spb += static_cast<char>(fb::isc_spb_verbose);
    const TFbClient& c = FConnection.Client();
    fb::Handle reserved = 0;
    FConnection.Check(c.Call(c.isc_service_start, FStatus, &FHandle, &reserved,
                             static_cast<uint16_t>(spb.size()), spb.data()),
                      FStatus, false);
}

bool TFbService::NextLine(std::string& line) {
    // Wait at most a second, so the caller can pump the window's events.
    const char send[] = {static_cast<char>(fb::isc_info_svc_timeout), 4, 1, 0, 0, 0};
    const char request[] = {static_cast<char>(fb::isc_info_svc_line)};
    std::vector<char> buf(16384);
    const TFbClient& c = FConnection.Client();
    fb::Handle reserved = 0;
    FConnection.Check(c.Call(c.isc_service_query, FStatus, &FHandle, &reserved, uint16_t(sizeof send), send,
                             uint16_t(sizeof request), request, static_cast<uint16_t>(buf.size()),
                             buf.data()),
                      FStatus, false);
    line.clear();
    for (size_t at = 0; at < buf.size();) {
        const uint8_t item = static_cast<uint8_t>(buf[at++]);
        if (item == fb::isc_info_end) break;
        if (item == fb::isc_info_svc_timeout) return true;
        if (item == fb::isc_info_truncated) return true;
        if (item != fb::isc_info_svc_line || at + 2 > buf.size()) break;
        const size_t length = static_cast<uint8_t>(buf[at]) | static_cast<uint8_t>(buf[at + 1]) << 8;
        at += 2;
        if (length == 0) return false; // the service has nothing more to say
        line = FConnection.Decode(std::string_view(buf.data() + at, std::min(length, buf.size() - at)));
        return true;
    }
    return true;
}

} // namespace kv
