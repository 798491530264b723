#!/usr/bin/env bash
# KVUpdate.exe's real window under Wine, read and driven from outside.
#   window_test.sh no-settings LOADER EXE PROBE SHOTS
#     started in a folder without kvayarlar.ini: the notice box, the end once
#     it is closed, the "update" folder created
#   window_test.sh site LOADER EXE PROBE SHOTS HOST
#     started in a site folder: the three settings lines, the panel hidden
#     until the access code is typed with Enter
#   window_test.sh update LOADER EXE PROBE SHOTS FAKE_PROGRAM
#     the whole update from "Güncelleme Başla" in a site with the product's
#     programs running: what Wine can do is done for real, and the package
#     step ends where Windows' 7z.dll is missing, before any download
# LOADER is the Wine loader of the exe's kind (scripts/wine32 for the 32-bit
# deployable); READY_SECONDS bounds the wait for the first window (the
# emulated 32-bit Wine is slow).
set -uo pipefail
# Under emulation Wine has been seen, rarely, never to show the first window
# right after its prefix was prepared: a run whose window never appeared
# (status 3) is tried once more.
if [ -z "${KV_ATTEMPT:-}" ]; then
  KV_ATTEMPT=1 bash "$0" "$@"
  rc=$?
  if [ $rc = 3 ]; then
    echo "the window never appeared: trying once more"
    KV_ATTEMPT=2 bash "$0" "$@"
    rc=$?
  fi
  exit $rc
fi
case_name=$1 loader=$2 exe=$3
PROBE=$4 SHOTS=$5
LABEL=$case_name-$(basename "$(dirname "$exe")")
. "$(dirname "$0")/harness.sh"
# 32-bit Wine lives in a root of its own with a prefix of its own, and the
# probe must ask that Wine's server for the windows.
if [ "$(basename "$loader")" = wine32 ]; then
  [ -n "${KV_WINE32_PREFIX:-}" ] || die "KV_WINE32_PREFIX names no 32-bit Wine prefix (scripts/test makes one)"
  export WINEPREFIX=$KV_WINE32_PREFIX
  probe_loader=$loader
fi
need_peers
[ -f "$exe" ] || die "$exe is missing (scripts/test builds it)"
ready=${READY_SECONDS:-60}

# The first window: a timeout here is status 3 (see the top).
wait_ready() { # description condition
  local end=$((SECONDS + ready))
  while :; do
    snap
    "$2" && return 0
    if [ $SECONDS -ge $end ]; then
      echo "FAIL: $1 did not appear within $ready s" >&2
      shot never-ready
      exit 3
    fi
    kill -0 "$app_pid" 2>/dev/null || die "the program ended before $1 appeared (log: $(cat "$scratch/app.log"))"
    sleep 0.3
  done
}

notice='Ayar dosyası okunamadı.'
access_code=7

notice_shown() { [ -n "$(window_holding "$notice")" ]; }

without_settings() {
  local site=$scratch/site
  mkdir -p "$site"
  start_app "$loader" "$exe" "$site"
  wait_ready "the notice box" notice_shown
  shot notice
  local box title
  IFS=$'\t' read -r box title <<<"$(window_holding "$notice")"
  [ "$title" = Kvupdate ] || die "notice box title is '$title', expected 'Kvupdate'"
  [ -d "$site/update" ] || die "the update folder was not created before the notice"
  local ok
  ok=$(buttons_in "$box")
  [ "$(wc -w <<<"$ok")" = 1 ] || die "the notice box should have one button, has: $ok"
  probe click "$ok"
  wait_exit 30
  [ "$exit_status" = 0 ] || die "exit status $exit_status after the notice"
  [ -d "$site/update" ] || die "the update folder is gone"
  [ ! -e "$site/kvayarlar.ini" ] || die "kvayarlar.ini was created"
}

main_window_shown() { [ -n "$(window_titled 'KV Update 2027')" ]; }
# visible and enabled flags of the control with the given text, as "V E"
flags() { control "$1" | cut -f6,7 --output-delimiter=' '; }
panel_open() { [ "$(flags 'Güncelleme Başla')" = '1 1' ]; }

in_site() {
  local host=$1 site=$scratch/site
  mkdir -p "$site"
  # Written as a Turkish site writes it: Windows-1254, CRLF line ends.
  printf '[BAGLANTI]\r\nSUNUCU_IP=localhost\r\nUYGULAMA_ADRES=C:\\Kuvento Şube\r\nDB_ADRES=C:\\Kuvento\\KUVENTO.FDB\r\nRAPOR_ADRES=C:\\Kuvento\\Rapor\r\n' |
    iconv -f UTF-8 -t CP1254 >"$site/kvayarlar.ini"
  start_app "$loader" "$exe" "$site"
  wait_ready "the main window" main_window_shown
  shot locked
  local line
  for line in "http://$host/2027/" localhost 'C:\Kuvento Şube'; do
    [ "$(flags "$line")" = '1 1' ] || die "settings line '$line' is not shown"
  done
  [ "$(flags 'Güncelleme Başla' | cut -d' ' -f1)" = 0 ] || die "the update panel is visible before the access code"
  probe keys "$(window_titled 'KV Update 2027')" "$access_code" '{Enter}'
  wait_for 30 "the update panel" panel_open
  shot unlocked
  [ "$(flags 'SQL Çalıştır')" = '1 0' ] || die "'SQL Çalıştır' should be shown disabled"
  [ "$(flags 'Dosyaları İndir')" = '1 0' ] || die "'Dosyaları İndir' should be shown disabled"
  probe close "$(window_titled 'KV Update 2027')"
  wait_exit 30
  [ "$exit_status" = 0 ] || die "exit status $exit_status after closing the window"
}

products=(kuvento.exe telvano.exe kvbck.exe dorvika.exe)
settings_files=(baglanti.txt instagram.txt inpos.txt kagit.txt menu.txt saat.txt yazici.txt)
declare -A program_pid

# Starts a copy of the stand-in program under NAME in the site; waits until it runs.
start_product() { # fake site name
  cp "$1" "$2/$3"
  (cd "$2" && KV_FAKE_PROGRAM_LOG=$scratch/programs.log exec "$wine64" "$3") >/dev/null 2>&1 &
  program_pid[$3]=$!
  local end=$((SECONDS + 30))
  until grep -qs "^start $3 " "$scratch/programs.log"; do
    [ $SECONDS -lt $end ] || die "$3 did not start"
    sleep 0.2
  done
}
stop_products() {
  local p
  for p in "${program_pid[@]}"; do
    kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
}

error_shown() {
  [ -n "$(window_holding 'Error loading library 7z.dll.')" ] && return 0
  # Any other box of the updater here is a wrong outcome: say which at once.
  local other
  other=$(window_titled Kvupdate)
  [ -z "$other" ] || die "another box appeared instead: $(W=$other awk -F'\t' '$1 == "control" && $3 == ENVIRON["W"] && $5 != "" { printf "[%s] ", $5 }' "$scratch/state")"
  return 1
}

whole_update() {
  local fake=$1 site=$scratch/site f
  mkdir -p "$site/update/eski"
  printf '[BAGLANTI]\r\nSUNUCU_IP=localhost\r\nUYGULAMA_ADRES=C:\\Kuvento\r\nDB_ADRES=C:\\Kuvento\\KUVENTO.FDB\r\n' >"$site/kvayarlar.ini"
  for f in "${settings_files[@]}"; do echo "$f" >"$site/$f"; done
  chmod a-w "$site/menu.txt" # read-only for Windows: it must stay
  echo old >"$site/update/eski.rar"
  echo old >"$site/update/eski/kuvento.exe"
  trap 'stop_products; finish' EXIT
  for f in "${products[@]}" kuventoCMX.exe; do start_product "$fake" "$site" "$f"; done

  start_app "$loader" "$exe" "$site"
  wait_ready "the main window" main_window_shown
  probe keys "$(window_titled 'KV Update 2027')" "$access_code" '{Enter}'
  wait_for 30 "the update panel" panel_open
  probe click "$(control 'Güncelleme Başla' | cut -f2)"
  wait_for 60 "the error box of the package step" error_shown
  shot error
  local box title
  IFS=$'\t' read -r box title <<<"$(window_holding 'Error loading library 7z.dll.')"
  [ "$title" = Kvupdate ] || die "error box title is '$title', expected 'Kvupdate'"

  for f in "${products[@]}"; do
    ! kill -0 "${program_pid[$f]}" 2>/dev/null || die "$f is still running"
  done
  kill -0 "${program_pid[kuventoCMX.exe]}" 2>/dev/null || die "kuventoCMX.exe was stopped, it is not one of the four"
  for f in "${settings_files[@]}"; do
    if [ "$f" = menu.txt ]; then
      [ -f "$site/$f" ] || die "the read-only menu.txt was deleted"
    else
      [ ! -e "$site/$f" ] || die "$f was not deleted"
    fi
  done
  [ -d "$site/update" ] || die "the update folder was not created again"
  [ -z "$(ls -A "$site/update")" ] || die "the update folder was not emptied: $(ls -A "$site/update")"
  [ ! -e "$site/logo1024.png" ] || die "something was downloaded before the archive library was loaded"

  probe click "$(buttons_in "$box")"
  wait_for 30 "the window after the error box" error_closed
  shot after-error
  [ "$(flags 'Güncelleme Başla')" = '1 0' ] || die "'Güncelleme Başla' should be disabled after the update ran"
  [ "$(flags 'SQL Çalıştır')" = '1 1' ] || die "'SQL Çalıştır' should be enabled after the error"
  [ "$(flags 'Dosyaları İndir')" = '1 1' ] || die "'Dosyaları İndir' should be enabled after the error"
  probe close "$(window_titled 'KV Update 2027')"
  wait_exit 30
  [ "$exit_status" = 0 ] || die "exit status $exit_status after closing the window"
}
error_closed() { ! error_shown; }

case $case_name in
no-settings) without_settings ;;
site) in_site "$6" ;;
update) whole_update "$6" ;;
*) die "unknown case $case_name" ;;
esac
echo "PASS: $LABEL"
