#!/usr/bin/env bash
# Signs setup.exe in place with Authenticode (osslsigncode).
# Usage: SIGN_PFX=cert.pfx SIGN_PASSWORD=... [SIGN_TIMESTAMP_URL=http://...] sign.sh EXE
#
# One SHA-256 signature: Windows XP SP3 verifies SHA-256 Authenticode
# signatures in user mode, and so do Vista to 11, which no longer trust new
# SHA-1 ones; XP reads only the first signature, so a nested SHA-1 one would
# add nothing there (XP SP2 and Windows 2000 know no SHA-2 at all). The
# certificate must be a code-signing certificate; its chain should be SHA-256.
# The timestamp is the classic Authenticode one, which XP understands too.
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
args=(sign -pkcs12 "$SIGN_PFX" -readpass "$work/password" -h sha256
      -n "Vesk USB driver setup" -in "$exe" -out "$work/signed.exe")
[ -z "${SIGN_TIMESTAMP_URL:-}" ] || args+=(-t "$SIGN_TIMESTAMP_URL")
osslsigncode "${args[@]}" >/dev/null
cat "$work/signed.exe" > "$exe"
echo "signed: $exe"
