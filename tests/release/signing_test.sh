#!/usr/bin/env bash
# The release's Authenticode signatures on a build's exes, with a throwaway CA made at test time
# (make-signer.sh). Each case is reported in a GoogleTest-style XML file, so scripts/count-results
# counts them one by one; a failing case prints what it saw.
#
#   signing_test.sh sign RESULTS WORK EXE...  signs the exes with scripts/sign-exes and checks the
#       signatures with osslsigncode on their own: verified, pinned to the signer, the printed
#       figures true, a flipped byte caught, the signature stripped back to the exe byte for byte,
#       scripts/check-pe on a PE32; then each refusal of bad input. Leaves the signed exes in
#       WORK/signed for the wine case.
#   signing_test.sh wine RESULTS WORK EXE     runs the unsigned and the signed exe under Wine in
#       the build's prefix and compares their exit codes, output and run logs.
set -euo pipefail
mode=$1 results=$2 work=$3
shift 3
root=$(cd "$(dirname "$0")/../.." && pwd)

cases=() failed=0
record() {  # name [what went wrong]
  if [ $# -gt 1 ]; then
    echo "FAILED $1: $2"
    cases+=("<testcase name=\"$1\"><failure/></testcase>")
    failed=$((failed + 1))
  else
    echo "passed $1"
    cases+=("<testcase name=\"$1\"/>")
  fi
}
finish() {
  mkdir -p "$(dirname "$results")"
  {
    echo '<?xml version="1.0"?>'
    echo "<testsuites tests=\"${#cases[@]}\" failures=\"$failed\" disabled=\"0\" errors=\"0\">"
    printf '  %s\n' "${cases[@]}"
    echo '</testsuites>'
  } >"$results"
  echo "$((${#cases[@]} - failed)) passed, $failed failed"
  [ "$failed" -eq 0 ]
}
field() { sed -n "s/^$1: //p" "$2"; }  # the value of a "name: value" line
# Counted, not grep -q, which would end objdump early with SIGPIPE and fail the pipeline.
is_pe32() { [ "$(i686-w64-mingw32-objdump -p "$1" 2>/dev/null | grep -c 'Magic[[:space:]]*010b')" -gt 0 ]; }

sign_cases() {
  local exes=("$@") certs=$work/certs pass='a pass phrase; with spaces'
  rm -rf "$work" && mkdir -p "$work"
  CACHESETUP_SIGN_PASS=$pass "$root/tests/release/make-signer.sh" "$certs"
  local ca=$certs/ca.pem
  fingerprint() { openssl x509 -in "$certs/signer.pem" -noout -fingerprint "-$1" | sed 's/^.*=//; s/://g'; }
  local sha1 sha256
  sha1=$(fingerprint sha1) sha256=$(fingerprint sha256)

  # Every program sign-exes starts goes through a shim that records its arguments.
  mkdir -p "$work/shims"
  for tool in osslsigncode openssl; do
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\nexec %s "$@"\n' "$work/arguments" \
      "$(command -v "$tool")" >"$work/shims/$tool"
    chmod +x "$work/shims/$tool"
  done
  local rc=0
  CACHESETUP_SIGN_PASS=$pass PATH=$work/shims:$PATH "$root/scripts/sign-exes" \
    --pkcs12 "$certs/signer.p12" --ca "$ca" --url https://cachesetup.example/test \
    --out "$work/signed" "${exes[@]}" >"$work/sign.out" 2>&1 || rc=$?
  cat "$work/sign.out"
  [ $rc -eq 0 ] && record signs_both_exes || record signs_both_exes "exit $rc"
  if grep -qF -- "$pass" "$work/arguments"; then
    record password_on_no_command_line "$(grep -F -- "$pass" "$work/arguments" | head -n 1)"
  elif ! grep -q -- '-readpass' "$work/arguments"; then
    record password_on_no_command_line "osslsigncode was not given -readpass: $(cat "$work/arguments")"
  else
    record password_on_no_command_line
  fi
  local printed
  printed="$(field 'thumbprint SHA-1' "$work/sign.out") $(field 'thumbprint SHA-256' "$work/sign.out")"
  [ "$printed" = "$sha1 $sha256" ] && record printed_thumbprints ||
    record printed_thumbprints "printed '$printed', the certificate's are '$sha1 $sha256'"

  local exe name signed
  for exe in "${exes[@]}"; do
    name=$(basename "$exe" .exe) signed=$work/signed/$(basename "$exe")
    if [ ! -f "$signed" ] || cmp -s "$exe" "$signed"; then
      record "${name}_signed" "no signed copy, or one the same as the unsigned exe: $signed"
      continue
    fi
    printed="$(field "$name.exe unsigned SHA-256" "$work/sign.out") $(field "$name.exe signed SHA-256" "$work/sign.out")"
    local actual
    actual="$(sha256sum "$exe" | cut -d' ' -f1) $(sha256sum "$signed" | cut -d' ' -f1)"
    [ "$printed" = "$actual" ] && record "${name}_printed_sha256" ||
      record "${name}_printed_sha256" "printed '$printed', the files' are '$actual'"

    # The signature as Windows' checks read it: SHA-256, the program's name and URL, this signer.
    rc=0
    osslsigncode verify -CAfile "$ca" -require-leaf-hash "sha256:$sha256" -in "$signed" \
      >"$work/verify.out" 2>&1 || rc=$?
    local missing=''
    for line in 'Signature verification: ok' 'Message digest algorithm  : SHA256' \
                "Text description: $name" 'URL description: https://cachesetup.example/test'; do
      grep -qF "$line" "$work/verify.out" || missing+=" '$line'"
    done
    [ $rc -eq 0 ] && [ -z "$missing" ] && record "${name}_verifies" ||
      record "${name}_verifies" "exit $rc, missing:$missing; osslsigncode printed: $(cat "$work/verify.out")"

    rm -f "$work/stripped.exe"  # osslsigncode writes no file over an existing one
    osslsigncode remove-signature -in "$signed" -out "$work/stripped.exe" >/dev/null 2>&1 || true
    cmp "$exe" "$work/stripped.exe" >"$work/cmp.out" 2>&1 && record "${name}_strips_to_unsigned" ||
      record "${name}_strips_to_unsigned" "$(cat "$work/cmp.out")"

    # One flipped byte anywhere the signature covers: in the code, midway, and the last byte
    # before the certificate table.
    local size offset
    size=$(stat -c %s "$exe")
    for offset in 4096 $((size / 2)) $((size - 1)); do
      cp "$signed" "$work/tampered.exe"
      printf "\\x$(printf %02x $((0x$(xxd -s "$offset" -l 1 -p "$signed") ^ 0xff)))" |
        dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
      rc=0
      osslsigncode verify -CAfile "$ca" -in "$work/tampered.exe" >"$work/verify.out" 2>&1 || rc=$?
      [ $rc -ne 0 ] && grep -q 'MISMATCH' "$work/verify.out" && record "${name}_byte_${offset}_flipped_fails" ||
        record "${name}_byte_${offset}_flipped_fails" "exit $rc; osslsigncode printed: $(cat "$work/verify.out")"
    done

    if is_pe32 "$signed"; then
      local console=()
      [ "$name" = cachesetup-capture ] && console=(--console)
      "$root/scripts/check-pe" "${console[@]}" "$signed" "$root" >"$work/check-pe.out" 2>&1 &&
        record "${name}_signed_check_pe" || record "${name}_signed_check_pe" "$(cat "$work/check-pe.out")"
    fi
  done

  # A key without a password: CACHESETUP_SIGN_PASS unset.
  openssl pkcs12 -export -inkey "$certs/signer.key" -in "$certs/signer.pem" -passout pass: \
    -out "$certs/no-password.p12"
  rc=0
  env -u CACHESETUP_SIGN_PASS "$root/scripts/sign-exes" --pkcs12 "$certs/no-password.p12" \
    --ca "$ca" --out "$work/no-password" "${exes[0]}" >"$work/out.txt" 2>&1 || rc=$?
  [ $rc -eq 0 ] && [ -f "$work/no-password/$(basename "${exes[0]}")" ] &&
    record signs_with_no_password || record signs_with_no_password "exit $rc: $(cat "$work/out.txt")"

  # Bad input: refused with a message naming what is wrong, and nothing written.
  refusal() {  # name, text the message must hold, password, sign-exes arguments...
    local name=$1 expect=$2 password=$3; shift 3
    rm -rf "$work/refused"
    rc=0
    CACHESETUP_SIGN_PASS=$password "$root/scripts/sign-exes" "$@" --out "$work/refused" "${exes[@]}" \
      >"$work/out.txt" 2>&1 || rc=$?
    if [ $rc -eq 0 ] || ! grep -qF -- "$expect" "$work/out.txt" || [ -e "$work/refused" ]; then
      record "refuses_$name" "exit $rc, wrote $work/refused: $([ -e "$work/refused" ] && echo yes || echo no), expected '$expect' in: $(cat "$work/out.txt")"
    else
      record "refuses_$name"
    fi
  }
  refusal missing_pkcs12 "$certs/missing.p12" "$pass" --pkcs12 "$certs/missing.p12" --ca "$ca"
  refusal wrong_password "with the password in CACHESETUP_SIGN_PASS" "not $pass" \
    --pkcs12 "$certs/signer.p12" --ca "$ca"
  refusal empty_password "with an empty password" '' --pkcs12 "$certs/signer.p12" --ca "$ca"
  refusal ca_that_did_not_issue "does not verify against the CA file $certs/other-ca.pem" "$pass" \
    --pkcs12 "$certs/signer.p12" --ca "$certs/other-ca.pem"
  refusal missing_ca "$certs/missing-ca.pem" "$pass" --pkcs12 "$certs/signer.p12" \
    --ca "$certs/missing-ca.pem"
  refusal certificate_not_for_code "is not for code signing" "$pass" \
    --pkcs12 "$certs/not-for-code.p12" --ca "$ca"
  refusal unreachable_time_stamp "time stamp server http://127.0.0.1:9/" "$pass" \
    --pkcs12 "$certs/signer.p12" --ca "$ca" --timestamp http://127.0.0.1:9/
}

wine_case() {
  local exe=$1 signed=$work/signed/$(basename "$1")
  if [ ! -f "$signed" ] || cmp -s "$exe" "$signed"; then
    record signed_runs_as_unsigned "no signed copy of $exe in $work/signed (the signing case makes it)"
    return
  fi
  if is_pe32 "$exe" && ! "$root/scripts/wine-can-run-32bit"; then
    echo "skipped: Wine cannot run 32-bit programs here (scripts/wine-can-run-32bit)"
    exit 77
  fi
  local prefix
  prefix=$(dirname "$exe")/wineprefix
  local log=$prefix/drive_c/windows/temp/TempProc.log
  run() {  # exe out: the exit code, what it printed and the run log's texts without time stamps
    rm -f "$log"
    local rc=0
    WINEPREFIX=$prefix "$root/scripts/wine-run" "$1" >"$2.out" 2>&1 || rc=$?
    echo "exit code $rc" >>"$2.out"
    { tr -d '\r' <"$log" | cut -f 2-; } >"$2.log" 2>/dev/null || true
    rm -f "$log"
  }
  run "$exe" "$work/unsigned"
  run "$signed" "$work/signed-run"
  echo "unsigned: $(cat "$work/unsigned.out")"
  echo "unsigned run log: $(cat "$work/unsigned.log")"
  # Both must have run to the product's end on Wine (no recovery disk, exit 1), not both failed
  # to start.
  if ! grep -qx 'exit code 1' "$work/unsigned.out" ||
     [ "$(head -n 1 "$work/unsigned.log")" != 'Detect BIOS support feature...' ]; then
    record signed_runs_as_unsigned "the unsigned exe did not run to its end under Wine"
  elif ! diff "$work/unsigned.out" "$work/signed-run.out" >"$work/diff.out" ||
       ! diff "$work/unsigned.log" "$work/signed-run.log" >>"$work/diff.out"; then
    record signed_runs_as_unsigned "unsigned (<) and signed (>) differ: $(cat "$work/diff.out")"
  else
    record signed_runs_as_unsigned
  fi
}

case $mode in
  sign) sign_cases "$@" ;;
  wine) wine_case "$1" ;;
  *) echo "usage: signing_test.sh sign|wine RESULTS WORK EXE..." >&2; exit 2 ;;
esac
finish
