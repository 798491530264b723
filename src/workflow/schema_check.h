// The 2027 schema check: does the site database hold everything the upgrade
// script makes? The objects expected are read from the script's own
// definition statements (workflow/upgrade_script.h), so the script and the
// check cannot drift apart: the triggers with their table and active state,
// the exception, the procedures, the tables with the columns and types their
// CREATE TABLE gives, the indexes with their table, the sequence, the column
// types an ALTER COLUMN sets, and the row the script's INSERT adds.
//
// The database step decides the year marker by it; kvtool check shows it.
#pragma once

#include "db/db_connection.h"

#include <string>
#include <vector>

namespace kv {

enum class SchemaObjectKind { Trigger, Exception, Procedure, Table, Column, Index, Sequence, Row };

// One object the script makes, as its statement states it. Names are as the
// database keeps unquoted names: upper case.
struct SchemaObject {
    SchemaObjectKind kind;
    std::string name;     // for a Row: the table
    std::string relation; // a trigger's or an index's table, a column's table
    bool active = true;   // triggers
    // Tables: each column's name and type text ("VARCHAR(12)", "NUMERIC(18,2)",
    // "BLOB SUB_TYPE TEXT"); a Column: its one name and type. A Row: its key
    // column and the key's value as the statement writes it.
    std::vector<std::pair<std::string, std::string>> columns;
};

// The objects of the upgrade script, in the order of the script. Built once.
const std::vector<SchemaObject>& upgrade_schema_objects();

// The script's default row of FATURABILGI (the Row object above).
const SchemaObject& invoice_settings_default_row();

// What the database lacks or holds otherwise than the script makes it, one
// text per object ("table EF_SERI: column BELGETURU missing, ..."); empty when
// the 2027 schema is complete. Reads the system tables through `c` and its
// default transaction, which it starts when needed and leaves as it is.
// Throws the database's error (a lost connection, for one).
std::vector<std::string> missing_2027_objects(TDbConnection& c);

// Whether the database holds `row` already (a row of its table with the key
// value). Throws the database's error; a missing table is no row.
bool holds_row(TDbConnection& c, const SchemaObject& row);

// Whether the statement text is an INSERT into `row`'s table.
bool inserts_into(const std::string& statement, const SchemaObject& row);

} // namespace kv
