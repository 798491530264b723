// The site database as the updater and kvtool reach it: the connection set up
// like the updater's ibdb1, and the year marker that decides whether the
// database step upgrades. One home for both, so that the step, the pre-flight
// check and kvtool ask the same question the same way.
#pragma once

#include "db/db_connection.h"
#include "db/db_query.h"
#include "db/db_transaction.h"
#include "rtl/variant.h"

#include <string>
#include <vector>

namespace kv {

// The year the upgrade brings a database to, and the query whose first row's
// yil is the marker.
inline constexpr int kUpgradeYear = 2027;
inline constexpr const char* kYearMarkerQuery = "Select yil from firmabilgi";

// Provider "InterBase", the built-in user and password, no login prompt,
// `t` as the default transaction. An empty `client_library` leaves the
// connection's own choice. Server and database are the caller's.
void configure_site_connection(TDbConnection& c, TDbTransaction& t, const std::string& client_library = {});

// Opens the year query on `q` (which starts its transaction implicitly; it
// stays active) and returns yil of the first row, null when there is none.
// Throws the database's error.
Variant read_year_marker(TDbQuery& q);

// The other attachments to the database of `q`'s connection (open), one text
// each: "host, program (login)", "this machine" for what the engine does not
// know (an embedded attach). The engine's own (garbage collector, cache
// writer) are left out: they hold nothing. Leaves `q` closed; throws the
// database's error.
std::vector<std::string> other_attachments(TDbQuery& q);

// The marker as text: "null", the number ("2026"), or a text column's value
// as it is. Names the backup file of a marker.
std::string marker_text(const Variant& marker);
// The marker as an SQL literal, to write it back: null, the number, or a
// quoted text.
std::string marker_literal(const Variant& marker);

// Whether the marker counts as set: the number 2027. Null (no row, or a null
// column) does not count.
inline bool marker_is_upgraded(const Variant& marker) {
    return marker == kUpgradeYear;
}

} // namespace kv
