#!/usr/bin/env bash
# Signs a copy of setup.exe with a throwaway certificate made here, verifies
# it, runs the file checks and one Wine case on it, and checks that a signed
# copy changed afterwards no longer verifies. Usage: sign_test.sh PATH/setup.exe
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/../lib/check.sh"
. "$here/../wine/wine_env.sh"
exe=$1
work=$(mktemp -d)
trap 'wine_stop; rm -rf "$work"' EXIT

begin_case "a throwaway code-signing certificate"
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -subj "/CN=Vesk test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" \
  >/dev/null 2>&1 && ok || bad "openssl could not make the certificate"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/test.pfx" \
  -passout pass:only-for-tests >/dev/null 2>&1 && ok || bad "openssl could not make the PKCS#12 file"

begin_case "scripts/sign.sh signs with SHA-256"
mkdir -p "$work/disk"
cp "$exe" "$work/disk/setup.exe"
SIGN_PFX="$work/test.pfx" SIGN_PASSWORD=only-for-tests "$root/scripts/sign.sh" \
  "$work/disk/setup.exe" >/dev/null && ok || bad "sign.sh failed"
verify=$(osslsigncode verify -in "$work/disk/setup.exe" -CAfile "$work/cert.pem" 2>&1)
grep -q 'Signature verification: ok' <<<"$verify" && ok || bad "the signed copy does not verify: $verify"
grep -qi 'Message digest algorithm *: SHA256' <<<"$verify" && ok || bad "the digest is not SHA-256"
SIGN_PFX="$work/test.pfx" SIGN_PASSWORD=wrong "$root/scripts/sign.sh" "$work/disk/setup.exe" \
  >/dev/null 2>&1 && bad "signed with a wrong password" || ok

begin_case "the signed copy passes the file checks"
"$here/check_exe.sh" "$work/disk/setup.exe" > "$work/checks.log" 2>&1 && ok ||
  bad "file checks of the signed copy: $(grep FAIL "$work/checks.log")"

begin_case "a signed copy changed afterwards does not verify"
cp "$work/disk/setup.exe" "$work/tampered.exe"
printf 'X' | dd of="$work/tampered.exe" bs=1 seek=1100 conv=notrunc 2>/dev/null
osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/cert.pem" >/dev/null 2>&1 &&
  bad "the tampered copy verifies" || ok

begin_case "the signed copy runs under Wine"
wine_start
"$root/tools/make_sample_package.sh" "$work/disk" vesk1
wine_version setup.exe winxp
wine_run "$work/disk/setup.exe"
expect_eq "exit code" "$RUN_CODE" 0
expect_eq "message boxes" "$RUN_BOXES" \
  "setup: Driver included in vesk1.inf has successfully installed."
expect_same "$WIN/Application Data/Velmoran/vesk1.sys" "$work/disk/vesk1.sys"

summary "signing"
