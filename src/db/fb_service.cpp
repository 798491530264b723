// The services API: attach, start a service, read its output. See fb_service.h.
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

void add_int_item(std::string& spb, uint8_t tag, uint32_t value) {
    spb += static_cast<char>(tag);
    for (int shift = 0; shift < 32; shift += 8)
        spb += static_cast<char>((value >> shift) & 0xff);
}

void add_byte_item(std::string& spb, uint8_t tag, uint8_t value) {
    spb += static_cast<char>(tag);
    spb += static_cast<char>(value);
}

} // namespace

TFbService::TFbService(TFbConnection& connection, const std::string& server, const std::string& user,
                       const std::string& password)
    : FConnection(connection), FClient(TFbClientList::Get(connection.Options().client_library,
                                                          choose_client_library(connection.Database))) {
    std::string spb{static_cast<char>(fb::isc_spb_version), static_cast<char>(fb::isc_spb_current_version)};
    add_short_item(spb, fb::isc_spb_user_name, user);
    add_short_item(spb, fb::isc_spb_password, password);
    if (!connection.Options().config_overrides.empty())
        add_short_item(spb, fb::isc_spb_config, connection.Options().config_overrides);
    const std::string name = FConnection.Encode(server.empty() ? "service_mgr" : server + ":service_mgr");
    const TFbClient& c = *FClient;
    Check(c.Call(c.isc_service_attach, FStatus, static_cast<uint16_t>(name.size()), name.c_str(), &FHandle,
                 static_cast<uint16_t>(spb.size()), spb.data()));
}

TFbService::~TFbService() {
    if (!FHandle) return;
    fb::StatusVector status{};
    const TFbClient& c = *FClient;
    c.Call(c.isc_service_detach, status, &FHandle);
}

void TFbService::Check(fb::ISC_STATUS result) {
    if (result > 0)
        throw fb_status_error(*FClient, FStatus,
                              [this](std::string_view b) { return FConnection.Decode(b); });
}

void TFbService::Start(const std::string& spb) {
    const TFbClient& c = *FClient;
    fb::Handle reserved = 0;
    Check(c.Call(c.isc_service_start, FStatus, &FHandle, &reserved, static_cast<uint16_t>(spb.size()),
                 spb.data()));
}

void TFbService::StartBackup(const std::string& database, const std::string& file) {
    std::string spb(1, static_cast<char>(fb::isc_action_svc_backup));
    add_long_item(spb, fb::isc_spb_dbname, FConnection.Encode(database));
    add_long_item(spb, fb::isc_spb_bkp_file, FConnection.Encode(file));
    spb += static_cast<char>(fb::isc_spb_verbose);
    Start(spb);
}

void TFbService::StartRestore(const std::string& file, const std::string& database, bool replace) {
    std::string spb(1, static_cast<char>(fb::isc_action_svc_restore));
    add_long_item(spb, fb::isc_spb_bkp_file, FConnection.Encode(file));
    add_long_item(spb, fb::isc_spb_dbname, FConnection.Encode(database));
    add_int_item(spb, fb::isc_spb_options, replace ? fb::isc_spb_res_replace : fb::isc_spb_res_create);
    spb += static_cast<char>(fb::isc_spb_verbose);
    Start(spb);
}

void TFbService::ShutDown(const std::string& database, int seconds) {
    std::string spb(1, static_cast<char>(fb::isc_action_svc_properties));
    add_long_item(spb, fb::isc_spb_dbname, FConnection.Encode(database));
    add_byte_item(spb, fb::isc_spb_prp_shutdown_mode, fb::isc_spb_prp_sm_full);
    add_int_item(spb, fb::isc_spb_prp_attachments_shutdown, static_cast<uint32_t>(seconds));
    Start(spb);
    Finish();
}

void TFbService::BringOnline(const std::string& database) {
    std::string spb(1, static_cast<char>(fb::isc_action_svc_properties));
    add_long_item(spb, fb::isc_spb_dbname, FConnection.Encode(database));
    add_byte_item(spb, fb::isc_spb_prp_online_mode, fb::isc_spb_prp_sm_normal);
    Start(spb);
    Finish();
}

void TFbService::Finish() {
    for (std::string line; NextLine(line);) {
    }
}

bool TFbService::NextLine(std::string& line) {
    // Wait at most a second, so the caller can pump the window's events.
    const char send[] = {static_cast<char>(fb::isc_info_svc_timeout), 4, 1, 0, 0, 0};
    const char request[] = {static_cast<char>(fb::isc_info_svc_line)};
    std::vector<char> buf(16384);
    const TFbClient& c = *FClient;
    fb::Handle reserved = 0;
    Check(c.Call(c.isc_service_query, FStatus, &FHandle, &reserved, uint16_t(sizeof send), send,
                 uint16_t(sizeof request), request, static_cast<uint16_t>(buf.size()), buf.data()));
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
