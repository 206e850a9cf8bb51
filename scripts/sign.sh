#!/usr/bin/env bash
# Signs setup.exe in place with Authenticode (osslsigncode).
# Usage: SIGN_PFX=cert.pfx SIGN_PASSWORD=... [SIGN_TIMESTAMP_URL=http://...] sign.sh EXE
#
# Two signatures: a SHA-1 file digest first, and a SHA-256 one nested in it.
# Windows XP (SP3 included) and Vista validate no SHA-256 file digest in user
# mode and read only the first signature; 7 and later read the nested one and
# no longer trust new SHA-1 ones. (XP SP3's SHA-2 support is for certificates:
# the certificate and its chain may be SHA-256.) With a URL each signature is
# timestamped: the SHA-1 one the classic Authenticode way, which XP
# understands, the SHA-256 one by RFC 3161; the server must answer both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: SIGN_PFX=FILE SIGN_PASSWORD=... sign.sh EXE" >&2; exit 2; }
exe=$1
[ -n "${SIGN_PFX:-}" ] || { echo "sign.sh: SIGN_PFX must name the PKCS#12 certificate" >&2; exit 2; }
[ -f "$SIGN_PFX" ] || { echo "sign.sh: no such certificate: $SIGN_PFX" >&2; exit 2; }
"$root/scripts/deps.sh" sign

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a private file, not the command line others can read.
(umask 077 && printf '%s' "${SIGN_PASSWORD:-}" > "$work/password")
common=(-pkcs12 "$SIGN_PFX" -readpass "$work/password" -n "Vesk USB driver setup")
first=(sign "${common[@]}" -h sha1 -in "$exe" -out "$work/sha1.exe")
nested=(sign "${common[@]}" -nest -h sha256 -in "$work/sha1.exe" -out "$work/signed.exe")
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
  first+=(-t "$SIGN_TIMESTAMP_URL")
  nested+=(-ts "$SIGN_TIMESTAMP_URL")
fi
osslsigncode "${first[@]}" >/dev/null
osslsigncode "${nested[@]}" >/dev/null
cat "$work/signed.exe" > "$exe"
echo "signed: $exe"
