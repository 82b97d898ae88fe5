#!/usr/bin/env bash
# Makes a throwaway code-signing identity in OUT for the signing tests and for trying
# `scripts/release --sign` by hand: a CA valid for two days (ca.pem), a code-signing certificate
# it issued, valid for one day, with its key in signer.p12 (the password from
# CACHESETUP_SIGN_PASS, empty when unset) and its certificate in signer.pem; and, for the
# refusals, other-ca.pem (a CA that issued nothing here) and not-for-code.p12 (a certificate of
# the same CA for web servers, same password). No key made here is ever committed.
# Usage: tests/release/make-signer.sh OUT
set -euo pipefail
out=${1:?usage: make-signer.sh OUT}
mkdir -p "$out"
cd "$out"
umask 077
export CACHESETUP_SIGN_PASS=${CACHESETUP_SIGN_PASS:-}

ca() {  # name subject
  openssl req -x509 -newkey rsa:2048 -noenc -keyout "$1.key" -out "$1.pem" -days 2 -subj "$2" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2>/dev/null
}
leaf() {  # name subject extended-key-usage
  openssl req -newkey rsa:2048 -noenc -keyout "$1.key" -out "$1.csr" -subj "$2" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$3" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem \
    -passout env:CACHESETUP_SIGN_PASS -out "$1.p12"
  rm -f "$1.csr" "$1.ext"
}
ca ca "/CN=cachesetup throwaway test CA"
ca other-ca "/CN=another throwaway CA"
leaf signer "/O=cachesetup tests/CN=cachesetup throwaway signer" codeSigning
leaf not-for-code "/CN=cachesetup throwaway web server" serverAuth
rm -f ca.srl
chmod a+r ./*.pem
