#!/usr/bin/env bash
# scripts/package signs both programs with Authenticode when it is given a
# certificate: a throwaway self-signed code-signing certificate, as PEM files
# and as a password-protected PKCS#12 bundle, and each signature checked by
# osslsigncode against that certificate. Without one the programs stay
# unsigned and the script says so.
#   build_package_signed.sh SOURCE_DIR
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KV Update test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" 2>"$tmp/openssl.log" || { cat "$tmp/openssl.log"; exit 1; }
printf 'bundle-secret\n' >"$tmp/pass"
openssl pkcs12 -export -in "$tmp/cert.pem" -inkey "$tmp/key.pem" -passout "file:$tmp/pass" \
  -out "$tmp/signer.pfx" || exit 1

# package NAME ARGS...: runs scripts/package into $tmp/NAME.zip and unpacks its programs into $tmp/NAME/.
package() {
  local name=$1
  shift
  if ! "$src/scripts/package" "$@" "$tmp/$name.zip" >"$tmp/$name.log" 2>&1; then
    cat "$tmp/$name.log"
    fail "$name: scripts/package failed"
    return 1
  fi
  mkdir "$tmp/$name"
  unzip -q "$tmp/$name.zip" KVUpdate.exe kvtool.exe -d "$tmp/$name" || { fail "$name: no programs in the zip"; return 1; }
}

for way in pem pfx; do
  case $way in
    pem) package pem --cert "$tmp/cert.pem" --key "$tmp/key.pem" || continue ;;
    pfx) package pfx --cert "$tmp/signer.pfx" --pass-file "$tmp/pass" || continue ;;
  esac
  for exe in KVUpdate.exe kvtool.exe; do
    out=$(osslsigncode verify -CAfile "$tmp/cert.pem" -in "$tmp/$way/$exe" 2>&1) ||
      { echo "$out"; fail "$way: $exe does not verify"; continue; }
    grep -q "Signature verification: ok" <<<"$out" || { echo "$out"; fail "$way: $exe: no verified signature"; }
    grep -q "KV Update test signer" <<<"$out" || fail "$way: $exe is not signed by the test certificate"
    grep -q "Text description: KV Update 2027" <<<"$out" || fail "$way: $exe's signature does not name the product"
  done
  bash "$(dirname "$0")/build_imports.sh" "$tmp/$way/KVUpdate.exe" "$tmp/$way/kvtool.exe" >/dev/null ||
    fail "$way: the signed programs are not the deployable 32-bit ones"
done

if package unsigned; then
  grep -q "NOT signed" "$tmp/unsigned.log" || fail "an unsigned package does not say so"
  for exe in KVUpdate.exe kvtool.exe; do
    osslsigncode extract-signature -in "$tmp/unsigned/$exe" -out "$tmp/unsigned/$exe.sig" >/dev/null 2>&1 &&
      fail "unsigned: $exe carries a signature"
  done
fi

"$src/scripts/package" --key "$tmp/key.pem" "$tmp/nocert.zip" >/dev/null 2>&1 && fail "--key without --cert was accepted"
[ ! -e "$tmp/nocert.zip" ] || fail "a zip was made for a refused command line"
exit $status
