#!/usr/bin/env bash
# The release zip as scripts/package makes it: the two programs and the guide
# at its top level, and the programs as a site gets them (32-bit, system DLLs
# only: build_imports.sh).
#   build_package.sh SOURCE_DIR
set -uo pipefail
src=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$src/scripts/package" "$tmp/release.zip" >"$tmp/package.log" 2>&1 || {
  cat "$tmp/package.log"
  echo "FAIL: scripts/package failed"
  exit 1
}
listed=$(unzip -Z1 "$tmp/release.zip") || { echo "FAIL: not a readable zip"; exit 1; }
status=0
expected=(KVUpdate.exe kvtool.exe)
for g in "$src"/docs/guide*; do expected+=("$(basename "$g")"); done
for f in "${expected[@]}"; do
  grep -qx -- "$f/\?" <<<"$listed" || { echo "FAIL: $f is not in the zip"; status=1; }
done
mkdir "$tmp/x"
unzip -q "$tmp/release.zip" KVUpdate.exe kvtool.exe -d "$tmp/x" || { echo "FAIL: cannot extract the programs"; exit 1; }
cmp -s "$tmp/x/KVUpdate.exe" "$src/build/win32/bin/KVUpdate.exe" || { echo "FAIL: the zip's KVUpdate.exe is not the build's"; status=1; }
bash "$here/build_imports.sh" "$tmp/x/KVUpdate.exe" "$tmp/x/kvtool.exe" || status=1
exit $status
