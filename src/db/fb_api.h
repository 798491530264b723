// Our own declarations of the parts of the Firebird client API we call: the
// handle, status and SQL descriptor types, the constants, and the function
// types the binding resolves by name. The client library is loaded at run
// time, so no vendor header is needed to build on any target.
#pragma once

#include "platform/library.h"

#include <cstdint>

namespace kv::fb {

using ISC_STATUS = intptr_t;      // one status vector cell
constexpr int kStatusLength = 20; // cells in a status vector
using StatusVector = ISC_STATUS[kStatusLength];
using ISC_LONG = int32_t;
using Handle = uint32_t; // database, transaction and statement handles (32 bits on every target)

// One SQL column or parameter, as the client library lays it out.
struct XSQLVAR {
    int16_t sqltype;
    int16_t sqlscale;
    int16_t sqlsubtype;
    int16_t sqllen;
    char* sqldata;
    int16_t* sqlind;
    int16_t sqlname_length;
    char sqlname[32];
    int16_t relname_length;
    char relname[32];
    int16_t ownname_length;
    char ownname[32];
    int16_t aliasname_length;
    char aliasname[32];
};

struct XSQLDA {
    int16_t version;
    char sqldaid[8];
    ISC_LONG sqldabc;
    int16_t sqln; // entries allocated
    int16_t sqld; // entries used by the statement
    XSQLVAR sqlvar[1];
};
constexpr int16_t SQLDA_VERSION1 = 1;

// One element of isc_start_multiple's array.
struct TransactionBlock {
    Handle* db;
    ISC_LONG tpb_length;
    const char* tpb;
};

// SQL types (the low bit of sqltype says "nullable").
enum : int16_t {
    SQL_TEXT = 452,
    SQL_VARYING = 448,
    SQL_SHORT = 500,
    SQL_LONG = 496,
    SQL_FLOAT = 482,
    SQL_DOUBLE = 480,
    SQL_D_FLOAT = 530,
    SQL_TIMESTAMP = 510,
    SQL_BLOB = 520,
    SQL_ARRAY = 540,
    SQL_QUAD = 550,
    SQL_TYPE_TIME = 560,
    SQL_TYPE_DATE = 570,
    SQL_INT64 = 580,
    SQL_BOOLEAN = 32764,
    SQL_NULL = 32766,
};

// Parameter buffer and information items.
enum : uint8_t {
    isc_dpb_version1 = 1,
    isc_dpb_user_name = 28,
    isc_dpb_password = 29,
    isc_dpb_lc_ctype = 48,
    isc_dpb_sql_role_name = 60,
    isc_dpb_sql_dialect = 63,
    isc_dpb_no_db_triggers = 72,
    isc_dpb_trusted_auth = 73,
    isc_dpb_utf8_filename = 77,
    isc_dpb_config = 87,

    isc_tpb_version3 = 3,
    isc_tpb_consistency = 1,
    isc_tpb_concurrency = 2,
    isc_tpb_wait = 6,
    isc_tpb_nowait = 7,
    isc_tpb_read = 8,
    isc_tpb_write = 9,
    isc_tpb_read_committed = 15,
    isc_tpb_rec_version = 17,
    isc_tpb_read_consistency = 22,

    isc_info_end = 1,
    isc_info_truncated = 2,
    isc_info_version = 12,
    isc_info_sql_stmt_type = 21,
    isc_info_db_sql_dialect = 62,
    isc_info_firebird_version = 103,
};

enum : uint16_t { DSQL_close = 1, DSQL_drop = 2 };

// Primary error codes (the status vector's second cell) after which the
// attachment is gone.
enum : int64_t {
    isc_shutdown = 335544528,           // database shut down
    isc_conn_lost = 335544648,          // connection lost to the pipe server
    isc_network_error = 335544721,      // unable to complete the network request
    isc_net_read_err = 335544726,       // error reading from the connection
    isc_net_write_err = 335544727,      // error writing to the connection
    isc_lost_db_connection = 335544741, // connection lost to the database
    isc_att_shutdown = 335544856,       // attachment shut down
};

// Service parameter buffer and service information items.
enum : uint8_t {
    isc_spb_version = 2,
    isc_spb_current_version = 2,
    isc_spb_user_name = isc_dpb_user_name,
    isc_spb_password = isc_dpb_password,
    isc_spb_config = 123,

    isc_action_svc_backup = 1,
    isc_spb_dbname = 106,
    isc_spb_verbose = 107,
    isc_spb_bkp_file = 5,

    isc_action_svc_restore = 2,
    isc_action_svc_properties = 8,
    isc_spb_options = 108,
    isc_spb_prp_attachments_shutdown = 42,
    isc_spb_prp_shutdown_mode = 44,
    isc_spb_prp_online_mode = 45,
    isc_spb_prp_sm_normal = 0,
    isc_spb_prp_sm_full = 3,

    isc_info_svc_line = 62,
    isc_info_svc_timeout = 64,
};

// isc_spb_options of a restore.
enum : uint32_t {
    isc_spb_res_replace = 0x1000,
    isc_spb_res_create = 0x2000,
};

// isc_info_sql_stmt_type answers.
enum StatementType : int {
    stSelect = 1,
    stInsert = 2,
    stUpdate = 3,
    stDelete = 4,
    stDDL = 5,
    stGetSegment = 6,
    stPutSegment = 7,
    stExecProcedure = 8,
    stStartTrans = 9,
    stCommit = 10,
    stRollback = 11,
    stSelectForUpdate = 12,
    stSetGenerator = 13,
    stSavepoint = 14,
};

// Entry points.
using isc_attach_database_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, int16_t, const char*, Handle*, int16_t,
                                                      const char*);
using isc_detach_database_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*);
using isc_database_info_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, int16_t, const char*, int16_t,
                                                    char*);
using isc_start_multiple_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, int16_t, TransactionBlock*);
using isc_transaction_op_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*);
using isc_dsql_alloc_statement2_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*);
using isc_dsql_prepare_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t, const char*,
                                                   uint16_t, XSQLDA*);
using isc_dsql_sql_info_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, int16_t, const char*, int16_t,
                                                    char*);
using isc_dsql_describe_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, uint16_t, XSQLDA*);
using isc_dsql_execute_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t, const XSQLDA*);
using isc_dsql_execute2_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t, const XSQLDA*,
                                                    const XSQLDA*);
using isc_dsql_execute_immediate_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t,
                                                             const char*, uint16_t, const XSQLDA*);
using isc_dsql_fetch_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, uint16_t, const XSQLDA*);
using isc_dsql_free_statement_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, uint16_t);
using isc_dsql_set_cursor_name_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, const char*, uint16_t);
using isc_sqlcode_t = ISC_LONG(KV_STDCALL*)(const ISC_STATUS*);
using isc_sql_interprete_t = void(KV_STDCALL*)(int16_t, char*, int16_t);
using isc_interprete_t = ISC_STATUS(KV_STDCALL*)(char*, const ISC_STATUS**);
using fb_sqlstate_t = void(KV_STDCALL*)(char*, const ISC_STATUS*);
using isc_vax_integer_t = ISC_LONG(KV_STDCALL*)(const char*, int16_t);
using isc_get_client_version_t = void(KV_STDCALL*)(char*);
using isc_get_client_number_t = int(KV_STDCALL*)();
using fb_shutdown_t = int(KV_STDCALL*)(unsigned timeout_ms, int reason); // 0 on success
using isc_service_attach_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, uint16_t, const char*, Handle*, uint16_t,
                                                     const char*);
using isc_service_detach_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*);
using isc_service_start_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t, const char*);
using isc_service_query_t = ISC_STATUS(KV_STDCALL*)(ISC_STATUS*, Handle*, Handle*, uint16_t, const char*,
                                                    uint16_t, const char*, uint16_t, char*);

} // namespace kv::fb
