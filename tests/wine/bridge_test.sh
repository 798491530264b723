#!/usr/bin/env bash
# The Firebird client bridge as the Windows kvtool.exe meets it under Wine in
# the Turkish locale: a WIN1254 database on the network server read with its
# Turkish text intact, the same database opened by a Windows path alone (the
# local attach of small sites, through the embedded engine), the bridge found
# as gds32.dll when no fbclient.dll is there, the server's own error text, and
# no client library taken from the current folder.
#   bridge_test.sh KVTOOL BRIDGE
set -uo pipefail
kvtool=$1 bridge=$2
wine64=/usr/lib/wine/wine64
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] ||
  fail "WINEPREFIX does not name a prepared Wine prefix (scripts/test makes one)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 777 "$scratch" # the server (user firebird) creates the database here
db=$scratch/KUVENTO.FDB
# isql itself misreads its switches under a Turkish locale: it runs in C.
printf "create database 'localhost:%s' user 'SYSDBA' password 'masterkey' default character set WIN1254;\ncreate table firmabilgi (unvan varchar(40));\ninsert into firmabilgi values ('Şişli Ğüzel İçecek ı');\ncommit;\n" "$db" >"$scratch/create.sql"
LANG=C.UTF-8 LC_ALL=C.UTF-8 isql-fb -q -ch UTF8 -i "$scratch/create.sql" >"$scratch/isql.log" 2>&1 ||
  fail "could not create the database: $(cat "$scratch/isql.log")"

mkdir "$scratch/program"
cp "$kvtool" "$scratch/program/kvtool.exe"
run_kvtool() { (cd "$scratch/program" && env -u LC_ALL LANG=tr_TR.UTF-8 "$wine64" kvtool.exe "$@" </dev/null 2>&1); }
expect() { # description expected actual
  [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

cp "$bridge" "$scratch/program/fbclient.dll"
row='{"UNVAN":"Şişli Ğüzel İçecek ı"}'
expect "network server" "$row" "$(run_kvtool query --server localhost "$db" 'select unvan from firmabilgi')"

windows_path="Z:${db//\//\\}"
expect "local attach by a Windows path" '{"PROTOCOL":null}' \
  "$(run_kvtool query "$windows_path" 'select mon$remote_protocol as protocol from mon$attachments where mon$attachment_id = current_connection')"
expect "local attach reads the rows" "$row" "$(run_kvtool query "$windows_path" 'select unvan from firmabilgi')"
out=$(run_kvtool query "Z:\\yok\\YOK.FDB" 'select 1 from rdb$database')
[[ $out == *'I/O error during "open" operation for file "/yok/YOK.FDB"'* ]] ||
  fail "a missing local database: expected the engine's I/O error on the mapped path, got: $out"

mv "$scratch/program/fbclient.dll" "$scratch/program/gds32.dll"
expect "bridge as gds32.dll" "$row" "$(run_kvtool query --server localhost "$db" 'select unvan from firmabilgi')"

out=$(run_kvtool query --server localhost "$db" 'select * from yok')
[[ $out == *'Table unknown'*'YOK'* ]] || fail "the server's error text did not come through: $out"

rm "$scratch/program/gds32.dll"
out=$(run_kvtool query --server localhost "$db" 'select 1 from rdb$database')
[[ $out == *'Cannot load client library'* ]] || fail "without the bridge: $out"

# A client library in the folder the program is started from, when that is
# not the program's own, is never loaded: only the program's folder and the
# system folder are searched.
mkdir "$scratch/elsewhere"
cp "$bridge" "$scratch/elsewhere/fbclient.dll"
out=$(cd "$scratch/elsewhere" && env -u LC_ALL LANG=tr_TR.UTF-8 "$wine64" ../program/kvtool.exe query --server localhost "$db" 'select 1 from rdb$database' </dev/null 2>&1)
[[ $out == *'Cannot load client library'* ]] || fail "a library in the current folder was loaded: $out"
echo "PASS: bridge"
