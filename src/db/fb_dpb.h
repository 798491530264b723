// The pure builders of an attach: the attach string the client library takes
// for server, port, protocol and database, and the database parameter buffer
// (DPB) for the user, the options and the "Params" lines. They call nothing.
#pragma once

#include "db/fb_client.h"

#include <string>
#include <vector>

namespace kv {

struct AttachStringParams {
    std::string server;
    std::string port = "3050";           // as text
    std::string protocol = "_TCP";       // _TCP, _NetBEUI, _SPX, _Local
    std::string ip_version = "ivIPBoth"; // ivIPv4, ivIPv6, ivIPBoth
    std::string ssl;                     // the SSL text (empty: SSL unused)
    bool fb3_client = true;              // Firebird 3.0 or later client
    std::string database;
};
std::string fb_attach_string(const AttachStringParams& p);

struct DpbParams {
    std::string user_name, password, charset, role, config_overrides;
    std::vector<std::string> params; // "name=value" lines
    bool use_unicode = false, trusted_auth = false, no_db_triggers = false, wire_compression = false;
    int sql_dialect = 3;
    int client_version = kClientFirebird3;
    bool client_is_firebird = true;
    bool operator==(const DpbParams&) const = default;
};
// Raises Exception "Unknown DPB constant (name)" for an unknown "Params" name.
std::string fb_build_dpb(const DpbParams& p);

} // namespace kv
