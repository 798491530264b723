/* Test equipment, never shipped: a Firebird client for Windows programs under
 * Wine. Built with winegcc as a Winelib DLL and deployed as fbclient.dll (or
 * gds32.dll) beside the program, it forwards every client call the updater
 * resolves to the Linux client library, libfbclient.so.2.
 *
 * Two things are not plain forwarding:
 * - Wine sets the process locale from LANG, and under a Turkish locale the
 *   Linux client folds "i" in its own configuration keys the Turkish way and
 *   rejects them, so every attach fails. Each call runs with the calling
 *   thread switched to the C locale.
 * - A database named by a Windows path alone ("C:\Kuvento\KUVENTO.FDB", the
 *   local attach of small sites) means nothing to the Linux client, which
 *   would read "C" as a host name. Such a path is turned into the Unix path
 *   Wine maps it to, so the embedded engine opens the file itself.
 * The same holds for the database and the backup file that a service request
 * names (the backup of a local database is made by the embedded engine).
 * Handles, status vectors and SQL descriptors have the same layout on both
 * sides (no `long` crosses), so everything else passes through unchanged. */
#include <stdarg.h>
#include <windef.h>
#include <winbase.h>
#include <winnls.h>

#include <dlfcn.h>
#include <locale.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef intptr_t ISC_STATUS;
typedef int32_t ISC_LONG;
typedef uint32_t FB_HANDLE;

static void *client;
static locale_t c_locale;

#define ENTRY(ret, name, params) static ret (*p_##name) params;
#define CLIENT_CALLS(X)                                                                                      \
    X(ISC_STATUS, isc_attach_database, (ISC_STATUS *, short, const char *, FB_HANDLE *, short, const char *)) \
    X(ISC_STATUS, isc_detach_database, (ISC_STATUS *, FB_HANDLE *))                                          \
    X(ISC_STATUS, isc_database_info, (ISC_STATUS *, FB_HANDLE *, short, const char *, short, char *))        \
    X(ISC_STATUS, isc_start_multiple, (ISC_STATUS *, FB_HANDLE *, short, void *))                            \
    X(ISC_STATUS, isc_commit_transaction, (ISC_STATUS *, FB_HANDLE *))                                       \
    X(ISC_STATUS, isc_commit_retaining, (ISC_STATUS *, FB_HANDLE *))                                         \
    X(ISC_STATUS, isc_rollback_transaction, (ISC_STATUS *, FB_HANDLE *))                                     \
    X(ISC_STATUS, isc_rollback_retaining, (ISC_STATUS *, FB_HANDLE *))                                       \
    X(ISC_STATUS, isc_dsql_alloc_statement2, (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *))                       \
    X(ISC_STATUS, isc_dsql_prepare,                                                                          \
      (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const char *, unsigned short, void *))        \
    X(ISC_STATUS, isc_dsql_sql_info, (ISC_STATUS *, FB_HANDLE *, short, const char *, short, char *))        \
    X(ISC_STATUS, isc_dsql_describe, (ISC_STATUS *, FB_HANDLE *, unsigned short, void *))                    \
    X(ISC_STATUS, isc_dsql_describe_bind, (ISC_STATUS *, FB_HANDLE *, unsigned short, void *))               \
    X(ISC_STATUS, isc_dsql_execute, (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const void *))  \
    X(ISC_STATUS, isc_dsql_execute2,                                                                         \
      (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const void *, const void *))                  \
    X(ISC_STATUS, isc_dsql_execute_immediate,                                                                \
      (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const char *, unsigned short, const void *))  \
    X(ISC_STATUS, isc_dsql_fetch, (ISC_STATUS *, FB_HANDLE *, unsigned short, const void *))                 \
    X(ISC_STATUS, isc_dsql_free_statement, (ISC_STATUS *, FB_HANDLE *, unsigned short))                      \
    X(ISC_STATUS, isc_dsql_set_cursor_name, (ISC_STATUS *, FB_HANDLE *, const char *, unsigned short))       \
    X(ISC_STATUS, isc_interprete, (char *, const ISC_STATUS **))                                             \
    X(void, isc_sql_interprete, (short, char *, short))                                                      \
    X(ISC_LONG, isc_sqlcode, (const ISC_STATUS *))                                                           \
    X(void, fb_sqlstate, (char *, const ISC_STATUS *))                                                       \
    X(ISC_LONG, isc_vax_integer, (const char *, short))                                                      \
    X(void, isc_get_client_version, (char *))                                                                \
    X(int, isc_get_client_major_version, (void))                                                             \
    X(int, isc_get_client_minor_version, (void))                                                             \
    X(int, fb_shutdown, (unsigned int, int))                                                                 \
    X(ISC_STATUS, isc_service_attach,                                                                        \
      (ISC_STATUS *, unsigned short, const char *, FB_HANDLE *, unsigned short, const char *))               \
    X(ISC_STATUS, isc_service_detach, (ISC_STATUS *, FB_HANDLE *))                                           \
    X(ISC_STATUS, isc_service_start, (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const char *)) \
    X(ISC_STATUS, isc_service_query,                                                                         \
      (ISC_STATUS *, FB_HANDLE *, FB_HANDLE *, unsigned short, const char *, unsigned short, const char *,    \
       unsigned short, char *))
CLIENT_CALLS(ENTRY)

/* Loads the Linux client and resolves every call; a missing one fails the
 * DLL's load, so the program meets a client library that cannot be loaded
 * rather than a crash later. */
static BOOL load_client(void)
{
    client = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!client)
    {
        fprintf(stderr, "fbbridge: %s\n", dlerror());
        return FALSE;
    }
#define RESOLVE(ret, name, params)                                          \
    if (!(*(void **)&p_##name = dlsym(client, #name)))                      \
    {                                                                       \
        fprintf(stderr, "fbbridge: libfbclient.so.2 lacks %s\n", #name);   \
        return FALSE;                                                       \
    }
    CLIENT_CALLS(RESOLVE)
    c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return c_locale != (locale_t)0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void *reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) return load_client();
    return TRUE;
}

/* The call runs in the C locale; the caller's locale is back before it returns. */
#define IN_C_LOCALE(call)                     \
    locale_t saved = uselocale(c_locale);     \
    call;                                     \
    uselocale(saved)

#define FORWARD(ret, fn, name, params, args)  \
    ret WINAPI fn params                      \
    {                                         \
        ret r;                                \
        IN_C_LOCALE(r = p_##name args);       \
        return r;                             \
    }
#define FORWARD_VOID(fn, name, params, args)  \
    void WINAPI fn params                     \
    {                                         \
        IN_C_LOCALE(p_##name args);           \
    }

/* Whether the database parameter block asks for file names in UTF-8. */
static BOOL dpb_utf8_filename(short length, const char *dpb)
{
    const unsigned char *p = (const unsigned char *)dpb;
    int at = 1; /* the version byte */
    while (dpb && at + 1 < length)
    {
        if (p[at] == 77 /* isc_dpb_utf8_filename */) return TRUE;
        at += 2 + p[at + 1];
    }
    return FALSE;
}

/* "C:\..." or "C:/...": a path on a drive, no server named. */
static BOOL is_drive_path(const char *name, size_t length)
{
    return length > 2 && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')) &&
           name[1] == ':' && (name[2] == '\\' || name[2] == '/');
}

/* The Unix path Wine maps a Windows path to, allocated on the process heap,
 * or NULL when Wine cannot map its drive. Wine maps only paths whose folders
 * exist; for any other the drive's root is mapped and the rest appended, so
 * the engine reports the missing file as it would on Windows. */
static char *unix_path(const char *name, size_t length, BOOL utf8)
{
    UINT cp = utf8 ? CP_UTF8 : CP_ACP;
    int n = MultiByteToWideChar(cp, 0, name, (int)length, NULL, 0);
    WCHAR *wide = HeapAlloc(GetProcessHeap(), 0, (n + 1) * sizeof(WCHAR));
    WCHAR root[4] = {0, ':', '\\', 0};
    char *unix_name, *unix_root, *p;
    size_t root_length;
    if (!wide) return NULL;
    MultiByteToWideChar(cp, 0, name, (int)length, wide, n);
    wide[n] = 0;
    unix_name = wine_get_unix_file_name(wide);
    HeapFree(GetProcessHeap(), 0, wide);
    if (unix_name) return unix_name;

    root[0] = (WCHAR)name[0];
    if (!(unix_root = wine_get_unix_file_name(root))) return NULL;
    root_length = strlen(unix_root);
    while (root_length && unix_root[root_length - 1] == '/') --root_length;
    unix_name = HeapAlloc(GetProcessHeap(), 0, root_length + length);
    if (unix_name)
    {
        memcpy(unix_name, unix_root, root_length);
        memcpy(unix_name + root_length, name + 2, length - 2); /* from the separator after "X:" */
        unix_name[root_length + length - 2] = 0;
        for (p = unix_name + root_length; *p; ++p)
            if (*p == '\\') *p = '/';
    }
    HeapFree(GetProcessHeap(), 0, unix_root);
    return unix_name;
}

ISC_STATUS WINAPI fbb_attach_database(ISC_STATUS *status, short name_length, const char *name, FB_HANDLE *db,
                                      short dpb_length, const char *dpb)
{
    size_t length = name_length ? (size_t)(unsigned short)name_length : strlen(name);
    char *mapped = is_drive_path(name, length) ? unix_path(name, length, dpb_utf8_filename(dpb_length, dpb)) : NULL;
    ISC_STATUS r;
    if (mapped)
    {
        IN_C_LOCALE(r = p_isc_attach_database(status, 0, mapped, db, dpb_length, dpb));
        HeapFree(GetProcessHeap(), 0, mapped);
        return r;
    }
    IN_C_LOCALE(r = p_isc_attach_database(status, name_length, name, db, dpb_length, dpb));
    return r;
}

FORWARD(ISC_STATUS, fbb_detach_database, isc_detach_database, (ISC_STATUS * s, FB_HANDLE * db), (s, db))
FORWARD(ISC_STATUS, fbb_database_info, isc_database_info,
        (ISC_STATUS * s, FB_HANDLE * db, short il, const char *items, short bl, char *buf),
        (s, db, il, items, bl, buf))
FORWARD(ISC_STATUS, fbb_start_multiple, isc_start_multiple, (ISC_STATUS * s, FB_HANDLE * tr, short n, void *teb),
        (s, tr, n, teb))
FORWARD(ISC_STATUS, fbb_commit_transaction, isc_commit_transaction, (ISC_STATUS * s, FB_HANDLE * tr), (s, tr))
FORWARD(ISC_STATUS, fbb_commit_retaining, isc_commit_retaining, (ISC_STATUS * s, FB_HANDLE * tr), (s, tr))
FORWARD(ISC_STATUS, fbb_rollback_transaction, isc_rollback_transaction, (ISC_STATUS * s, FB_HANDLE * tr), (s, tr))
FORWARD(ISC_STATUS, fbb_rollback_retaining, isc_rollback_retaining, (ISC_STATUS * s, FB_HANDLE * tr), (s, tr))
FORWARD(ISC_STATUS, fbb_dsql_alloc_statement2, isc_dsql_alloc_statement2,
        (ISC_STATUS * s, FB_HANDLE * db, FB_HANDLE * st), (s, db, st))
FORWARD(ISC_STATUS, fbb_dsql_prepare, isc_dsql_prepare,
        (ISC_STATUS * s, FB_HANDLE * tr, FB_HANDLE * st, unsigned short len, const char *sql, unsigned short dialect,
         void *da),
        (s, tr, st, len, sql, dialect, da))
FORWARD(ISC_STATUS, fbb_dsql_sql_info, isc_dsql_sql_info,
        (ISC_STATUS * s, FB_HANDLE * st, short il, const char *items, short bl, char *buf),
        (s, st, il, items, bl, buf))
FORWARD(ISC_STATUS, fbb_dsql_describe, isc_dsql_describe,
        (ISC_STATUS * s, FB_HANDLE * st, unsigned short v, void *da), (s, st, v, da))
FORWARD(ISC_STATUS, fbb_dsql_describe_bind, isc_dsql_describe_bind,
        (ISC_STATUS * s, FB_HANDLE * st, unsigned short v, void *da), (s, st, v, da))
FORWARD(ISC_STATUS, fbb_dsql_execute, isc_dsql_execute,
        (ISC_STATUS * s, FB_HANDLE * tr, FB_HANDLE * st, unsigned short v, const void *da), (s, tr, st, v, da))
FORWARD(ISC_STATUS, fbb_dsql_execute2, isc_dsql_execute2,
        (ISC_STATUS * s, FB_HANDLE * tr, FB_HANDLE * st, unsigned short v, const void *in, const void *out),
        (s, tr, st, v, in, out))
FORWARD(ISC_STATUS, fbb_dsql_execute_immediate, isc_dsql_execute_immediate,
        (ISC_STATUS * s, FB_HANDLE * db, FB_HANDLE * tr, unsigned short len, const char *sql, unsigned short dialect,
         const void *da),
        (s, db, tr, len, sql, dialect, da))
FORWARD(ISC_STATUS, fbb_dsql_fetch, isc_dsql_fetch, (ISC_STATUS * s, FB_HANDLE * st, unsigned short v, const void *da),
        (s, st, v, da))
FORWARD(ISC_STATUS, fbb_dsql_free_statement, isc_dsql_free_statement,
        (ISC_STATUS * s, FB_HANDLE * st, unsigned short option), (s, st, option))
FORWARD(ISC_STATUS, fbb_dsql_set_cursor_name, isc_dsql_set_cursor_name,
        (ISC_STATUS * s, FB_HANDLE * st, const char *cursor, unsigned short type), (s, st, cursor, type))
FORWARD(ISC_STATUS, fbb_interprete, isc_interprete, (char *buf, const ISC_STATUS **vector), (buf, vector))
FORWARD_VOID(fbb_sql_interprete, isc_sql_interprete, (short code, char *buf, short len), (code, buf, len))
FORWARD(ISC_LONG, fbb_sqlcode, isc_sqlcode, (const ISC_STATUS *s), (s))
FORWARD_VOID(fbb_sqlstate, fb_sqlstate, (char *state, const ISC_STATUS *s), (state, s))
FORWARD(ISC_LONG, fbb_vax_integer, isc_vax_integer, (const char *p, short len), (p, len))
FORWARD_VOID(fbb_get_client_version, isc_get_client_version, (char *buf), (buf))
FORWARD(int, fbb_get_client_major_version, isc_get_client_major_version, (void), ())
FORWARD(int, fbb_get_client_minor_version, isc_get_client_minor_version, (void), ())
FORWARD(int, fbb_shutdown, fb_shutdown, (unsigned int timeout, int reason), (timeout, reason))

FORWARD(ISC_STATUS, fbb_service_attach, isc_service_attach,
        (ISC_STATUS * s, unsigned short nl, const char *name, FB_HANDLE *svc, unsigned short sl, const char *spb),
        (s, nl, name, svc, sl, spb))
FORWARD(ISC_STATUS, fbb_service_detach, isc_service_detach, (ISC_STATUS * s, FB_HANDLE *svc), (s, svc))
FORWARD(ISC_STATUS, fbb_service_query, isc_service_query,
        (ISC_STATUS * s, FB_HANDLE *svc, FB_HANDLE *reserved, unsigned short sl, const char *send,
         unsigned short rl, const char *request, unsigned short bl, char *buf),
        (s, svc, reserved, sl, send, rl, request, bl, buf))

/* A service request with its file names (isc_spb_dbname 106, isc_spb_bkp_file
 * 5: two length bytes and the name) mapped as for an attach. Other items are
 * copied as they are: isc_spb_verbose (107) has no value, isc_spb_options
 * (108) four bytes. A request the bridge cannot read goes through unchanged. */
ISC_STATUS WINAPI fbb_service_start(ISC_STATUS *status, FB_HANDLE *svc, FB_HANDLE *reserved, unsigned short length,
                                    const char *spb)
{
    char *out = HeapAlloc(GetProcessHeap(), 0, (size_t)length + 8192);
    size_t at = 1, used = 1;
    unsigned short out_length = length;
    ISC_STATUS r;
    if (!out || !length) goto unchanged;
    out[0] = spb[0];
    while (at < length)
    {
        unsigned char tag = (unsigned char)spb[at];
        if (tag == 106 || tag == 5)
        {
            size_t n, m;
            char *mapped;
            if (at + 3 > length) goto unchanged;
            n = (unsigned char)spb[at + 1] | (size_t)(unsigned char)spb[at + 2] << 8;
            if (at + 3 + n > length) goto unchanged;
            mapped = is_drive_path(spb + at + 3, n) ? unix_path(spb + at + 3, n, FALSE) : NULL;
            m = mapped ? strlen(mapped) : n;
            if (used + 3 + m > (size_t)length + 8192 || m > 65535)
            {
                if (mapped) HeapFree(GetProcessHeap(), 0, mapped);
                goto unchanged;
            }
            out[used] = (char)tag;
            out[used + 1] = (char)(m & 0xff);
            out[used + 2] = (char)(m >> 8);
            memcpy(out + used + 3, mapped ? mapped : spb + at + 3, m);
            if (mapped) HeapFree(GetProcessHeap(), 0, mapped);
            used += 3 + m;
            at += 3 + n;
        }
        else if (tag == 107)
        {
            out[used++] = spb[at++];
        }
        else if (tag == 108)
        {
            if (at + 5 > length) goto unchanged;
            memcpy(out + used, spb + at, 5);
            used += 5;
            at += 5;
        }
        else
            goto unchanged;
    }
    if (used > 65535) goto unchanged;
    out_length = (unsigned short)used;
    IN_C_LOCALE(r = p_isc_service_start(status, svc, reserved, out_length, out));
    HeapFree(GetProcessHeap(), 0, out);
    return r;
unchanged:
    if (out) HeapFree(GetProcessHeap(), 0, out);
    {
        IN_C_LOCALE(r = p_isc_service_start(status, svc, reserved, length, spb));
    }
    return r;
}
