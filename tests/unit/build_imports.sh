#!/usr/bin/env bash
# The deployable Windows programs are 32-bit and fully static: a site gets one
# exe with no runtime DLLs beside it, so each may import Windows system DLLs
# only (never the compiler's runtime, and never fbclient or 7z, which are
# loaded at run time by name).
#   build_imports.sh EXE...
set -uo pipefail
declare -A system_dll
for d in advapi32 bcrypt comctl32 comdlg32 crypt32 dnsapi dwmapi gdi32 imm32 iphlpapi kernel32 msvcrt mswsock \
  ntdll ole32 oleaut32 rpcrt4 secur32 setupapi shcore shell32 shlwapi user32 userenv uxtheme version winhttp \
  wininet winmm ws2_32; do
  system_dll[$d]=1
done
status=0
for exe in "$@"; do
  [ -f "$exe" ] || { echo "FAIL: $exe is missing (build the win32 preset)"; status=1; continue; }
  dump=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAIL: objdump cannot read $exe"; status=1; continue; }
  [[ $dump == *"file format pei-i386"* ]] || { echo "FAIL: $exe is not a 32-bit Windows program"; status=1; }
  [[ $dump =~ Magic[[:space:]]+010b ]] || { echo "FAIL: $exe is not PE32"; status=1; }
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
  [ -n "$dlls" ] || { echo "FAIL: $exe imports nothing (not a PE import table?)"; status=1; }
  for d in $dlls; do
    [ -n "${system_dll[$d]:-}" ] || { echo "FAIL: $exe imports $d.dll, not a Windows system DLL"; status=1; }
  done
  echo "$exe imports:" $dlls
done
exit $status
